#pragma once

// What the Windows mechanism's files share: handles held by NativeFile, Win32 errors thrown as
// the program's, and how files are opened.
#include "fileerror.h"
#include "nativefiles.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace win32files {

[[noreturn]] inline void fail(DWORD error)
{
    throw FileError::fromWin32(error);
}

[[noreturn]] inline void failLast()
{
    fail(GetLastError());
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A folder in use: it cannot be renamed or removed under us, which is what keeps its path
// leading to the same folder while the calls go by path.
constexpr DWORD kShareFolder = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

inline HANDLE native(const NativeFile &file)
{
    return reinterpret_cast<HANDLE>(file.handle());
}

inline NativeFile adopt(HANDLE handle)
{
    return NativeFile(reinterpret_cast<std::intptr_t>(handle));
}

inline NativeFile open(const std::wstring &path, DWORD access, DWORD share, DWORD disposition,
                       DWORD flags)
{
    return adopt(CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr));
}

// The file or folder itself, for its identity only: reading its attributes neither blocks nor
// acts on a device.
inline NativeFile openMetadata(const std::wstring &path, bool followLinks)
{
    return open(path, FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE, kShareAll, OPEN_EXISTING,
                FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT));
}

inline bool missing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

inline void check(BOOL done)
{
    if (!done)
        failLast();
}

inline std::uint64_t join(DWORD high, DWORD low)
{
    return (std::uint64_t{high} << 32) | low;
}

// What a file is, told by its attributes alone: cheaper than its identity.
struct FileKind
{
    FileIdentity::Kind kind = FileIdentity::Kind::Other;
    bool readOnly = false;
};

// nullopt for anything that is not on a disk.
std::optional<FileKind> kindOf(HANDLE handle);
FileIdentity::Kind kindOf(const NativeFile &file); // Other for anything not on a disk

// The user this process runs as, as an SDDL SID string; empty when the token cannot tell.
std::string runnerSid();

// The most one call reads or writes.
constexpr std::size_t kMostAtOnce = std::size_t{1} << 30;

} // namespace win32files
