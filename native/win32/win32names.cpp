#include "win32names.h"

#include "fileerror.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>

namespace win32names {

namespace {

const std::wstring kVerbatim = L"\\\\?\\";
const std::wstring kDevice = L"\\\\.\\";
const std::wstring kVerbatimUnc = L"\\\\?\\UNC\\";

[[noreturn]] void failLast()
{
    throw FileError::fromWin32(GetLastError());
}

} // namespace

std::wstring toWide(const std::string &utf8)
{
    if (utf8.empty())
        return {};
    const auto size = static_cast<int>(utf8.size());
    const int length =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (length <= 0 || utf8.find('\0') != std::string::npos)
        throw FileError::accessError();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), length);
    return wide;
}

std::optional<std::string> tryFromWide(const std::wstring &wide)
{
    if (wide.empty())
        return std::string();
    const auto size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size,
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::nullopt;
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, utf8.data(), length,
                        nullptr, nullptr);
    return utf8;
}

std::string fromWide(const std::wstring &wide)
{
    std::optional<std::string> utf8 = tryFromWide(wide);
    if (!utf8)
        throw FileError::accessError();
    return *utf8;
}

std::wstring fullPath(const std::wstring &path)
{
    if (path.starts_with(kVerbatim) || path.starts_with(kDevice))
        return path;
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0)
            failLast();
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);
    }
}

std::wstring verbatim(const std::wstring &fullPath)
{
    if (fullPath.starts_with(kVerbatim) || fullPath.starts_with(kDevice))
        return fullPath;
    if (fullPath.starts_with(L"\\\\"))
        return kVerbatimUnc + fullPath.substr(2);
    return kVerbatim + fullPath;
}

std::wstring entryPath(const std::string &folder, const std::string &name)
{
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of("\\/:") != std::string::npos)
        throw FileError::accessError();
    std::wstring path = verbatim(toWide(folder));
    if (!path.ends_with(L'\\'))
        path += L'\\';
    return path + toWide(name);
}

std::wstring finalPath(HANDLE file)
{
    constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()), kFlags);
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length);
    }
}

std::wstring plainPath(const std::wstring &verbatimPath)
{
    if (verbatimPath.starts_with(kVerbatimUnc))
        return L"\\\\" + verbatimPath.substr(kVerbatimUnc.size());
    if (verbatimPath.starts_with(kVerbatim) && verbatimPath.size() > kVerbatim.size() + 1 &&
        verbatimPath[kVerbatim.size() + 1] == L':')
        return verbatimPath.substr(kVerbatim.size());
    return verbatimPath;
}

std::pair<std::string, std::string> splitPath(const std::wstring &path)
{
    const std::size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        throw FileError::accessError();
    std::wstring folder = path.substr(0, slash);
    // "C:" alone is the drive's current folder, and "\\?\Volume{...}" the volume itself.
    const std::size_t rest = folder.starts_with(kVerbatim) ? kVerbatim.size() : 0;
    if (folder.find(L'\\', rest) == std::wstring::npos)
        folder += L'\\';
    return {fromWide(folder), fromWide(path.substr(slash + 1))};
}

std::size_t rootLength(const std::wstring &verbatimPath)
{
    std::size_t end = kVerbatim.size();
    if (verbatimPath.starts_with(kVerbatimUnc)) { // the server, then the share
        end = verbatimPath.find(L'\\', kVerbatimUnc.size());
        if (end != std::wstring::npos)
            end = verbatimPath.find(L'\\', end + 1);
    } else {
        end = verbatimPath.find(L'\\', end); // past "C:" or "Volume{...}"
    }
    return std::min(end, verbatimPath.size());
}

std::wstring localAppData()
{
    // The variable first, as $XDG_STATE_HOME is on POSIX: the user may point it elsewhere.
    std::wstring variable(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", variable.data(),
                                                     static_cast<DWORD>(variable.size()));
        if (length < variable.size()) {
            variable.resize(length);
            break;
        }
        variable.resize(length);
    }
    if (variable.size() >= 3 && variable[1] == L':' && variable[2] == L'\\')
        return variable;
    if (variable.starts_with(L"\\\\"))
        return variable;
    PWSTR path = nullptr;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path);
    const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(path, CoTaskMemFree);
    return SUCCEEDED(result) && path != nullptr ? std::wstring(path) : std::wstring();
}

void forEachEntry(const std::wstring &verbatimFolder,
                  const std::function<void(const WIN32_FIND_DATAW &)> &visit)
{
    WIN32_FIND_DATAW entry{};
    const std::wstring pattern = verbatimFolder + (verbatimFolder.ends_with(L'\\') ? L"*" : L"\\*");
    const HANDLE found =
        FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr,
                         FIND_FIRST_EX_LARGE_FETCH);
    if (found == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND)
            return; // a root folder with nothing in it has no "." either
        failLast();
    }
    const std::unique_ptr<void, decltype(&FindClose)> search(found, FindClose);
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            visit(entry);
    } while (FindNextFileW(found, &entry));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        failLast();
}

} // namespace win32names
