#include "nativefolder.h"

#include "fileerror.h"

#include <QDir>

#include <windows.h>

#include <cerrno>
#include <memory>

namespace NativeFolder {

namespace {

// Names cross the seam here and nowhere else: UTF-16 for the system, UTF-8 for the program,
// never the ANSI code page, which would lose every name outside it.
std::wstring wide(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    std::wstring text(
        static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)),
        L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), static_cast<int>(text.size()));
    return text;
}

std::string narrow(std::wstring_view utf16)
{
    if (utf16.empty())
        return {};
    const int size = static_cast<int>(utf16.size());
    std::string text(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size,
                                                                  nullptr, 0, nullptr, nullptr)),
                     '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, text.data(), static_cast<int>(text.size()),
                        nullptr, nullptr);
    return text;
}

// A full path with the "\\?\" prefix, so that folders deeper than MAX_PATH still list; the
// prefix turns off the system's own clean-up, so the separators are made native first.
std::wstring systemPath(const std::string &path)
{
    std::wstring text = wide(path);
    for (wchar_t &character : text) {
        if (character == L'/')
            character = L'\\';
    }
    const bool drivePath = text.size() >= 3 && text[1] == L':' && text[2] == L'\\';
    const bool networkPath = text.size() >= 2 && text[0] == L'\\' && text[1] == L'\\';
    if (drivePath)
        return L"\\\\?\\" + text;
    if (networkPath && text.rfind(L"\\\\?\\", 0) != 0)
        return L"\\\\?\\UNC\\" + text.substr(2);
    return text;
}

FileError listingError(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_NAME:
        return FileError::pathNotFound();
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return FileError::fromErrno(EACCES);
    // A drive with no medium, or one that went away while it was listed.
    case ERROR_NOT_READY:
    case ERROR_INVALID_DRIVE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NO_MEDIA_IN_DRIVE:
    case ERROR_UNRECOGNIZED_VOLUME:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_NETNAME_DELETED:
        return FileError::deviceUnavailable();
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
        return FileError::fromErrno(EIO);
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return FileError::outOfMemory();
    default:
        return FileError::accessError();
    }
}

struct FindCloser
{
    void operator()(HANDLE search) const { FindClose(search); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

bool hasKind(const WIN32_FIND_DATAW &entry, Kind kind)
{
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return kind == Kind::Folder;
    return kind == Kind::OrdinaryFile && (entry.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
}

} // namespace

std::vector<std::string> list(const std::string &folder, Kind kind,
                              const std::function<bool(std::string_view)> &wanted)
{
    std::wstring pattern = systemPath(folder);
    if (!pattern.empty() && pattern.back() != L'\\')
        pattern += L'\\';
    // Every name, matched by the program itself: the system's own "*.txt" would also match
    // "a.txt1" through its short name "A~1.TXT".
    pattern += L'*';
    WIN32_FIND_DATAW entry = {};
    FindHandle search(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    std::vector<std::string> names;
    if (search.get() == INVALID_HANDLE_VALUE) {
        search.release();
        const DWORD error = GetLastError();
        // A drive's root has no "." entry: an empty one matches nothing.
        if (error == ERROR_FILE_NOT_FOUND)
            return names;
        throw listingError(error);
    }
    do {
        const std::wstring_view wideName(entry.cFileName);
        if (wideName == L"." || wideName == L"..")
            continue;
        if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0)
            continue;
        std::string name = narrow(wideName);
        if (wanted(name) && hasKind(entry, kind))
            names.push_back(std::move(name));
    } while (FindNextFileW(search.get(), &entry));
    if (const DWORD error = GetLastError(); error != ERROR_NO_MORE_FILES)
        throw listingError(error);
    return names;
}

std::string workingFolder()
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (size == 0)
            throw listingError(GetLastError());
        // Too small, the size includes the closing null; otherwise it does not.
        if (size < buffer.size()) {
            buffer.resize(size);
            return narrow(buffer);
        }
        buffer.resize(size);
    }
}

bool isGone(const std::string &path)
{
    if (GetFileAttributesW(systemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool isSeparator(char character)
{
    return character == '\\' || character == '/';
}

bool sameSpelling(std::string_view a, std::string_view b)
{
    const std::wstring wideA = wide(a);
    const std::wstring wideB = wide(b);
    // The file system's own rule: case-blind by the system's upper-case table, no locale.
    return CompareStringOrdinal(wideA.data(), static_cast<int>(wideA.size()), wideB.data(),
                                static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}

std::string fromQtPath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdString();
}

QString toQtPath(const std::string &nativePath)
{
    return QDir::fromNativeSeparators(QString::fromStdString(nativePath));
}

} // namespace NativeFolder
