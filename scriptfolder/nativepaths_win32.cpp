#include "nativepaths.h"

#include "fileerror.h"
#include "win32names.h"

#include <QDir>

#include <windows.h>

#include <memory>
#include <optional>

namespace NativePaths {

namespace {

// The full path with the "\\?\" prefix, so that folders deeper than MAX_PATH still list; the
// prefix turns off the system's own clean-up, so the path is made full and native first.
std::wstring systemPath(const std::string &path)
{
    return win32names::verbatim(win32names::fullPath(win32names::toWide(path)));
}

// The safe write's table, but a folder that is not there is a path not found whatever part of it
// is missing.
FileError listingError(DWORD error)
{
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_INVALID_NAME)
        return FileError::pathNotFound();
    return FileError::fromWin32(error);
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
        // A name UTF-8 cannot spell (NTFS allows a lone surrogate) could not be opened again.
        std::optional<std::string> name = win32names::tryFromWide(std::wstring(wideName));
        if (name && wanted(*name) && hasKind(entry, kind))
            names.push_back(std::move(*name));
    } while (FindNextFileW(search.get(), &entry));
    if (const DWORD error = GetLastError(); error != ERROR_NO_MORE_FILES)
        throw listingError(error);
    return names;
}

std::vector<std::string> list(const NativeFolder &folder, Kind kind,
                              const std::function<bool(std::string_view)> &wanted)
{
    // Held without delete sharing: its path leads to it for as long as it is open.
    return list(folder.path, kind, wanted);
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
            return win32names::fromWide(buffer);
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
    const std::wstring wideA = win32names::toWide(std::string(a));
    const std::wstring wideB = win32names::toWide(std::string(b));
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

} // namespace NativePaths
