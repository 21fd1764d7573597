// The run's private place and record on Windows: %LOCALAPPDATA%\Dovezurad, and a record that
// shows its run alive by being held open, shared with no reader or writer, while the run lives.
#include "nativefiles.h"

#include "fileerror.h"
#include "recordbytes.h"
#include "win32files.h"
#include "win32names.h"

#include <windows.h>

#include <bcrypt.h>

using namespace win32files;
using namespace win32names;

namespace nativefiles {

std::vector<std::string> privateFolderCandidates()
{
    const std::wstring base = localAppData();
    if (base.empty())
        return {};
    return {fromWide(base) + "\\Dovezurad"};
}

std::optional<NativeFolder> openPrivateFolder(const std::string &path, bool create)
{
    const std::wstring full = fullPath(toWide(path));
    // Made inside the user's own local application data, it inherits that folder's access:
    // the user, SYSTEM and Administrators.
    if (create && !CreateDirectoryW(verbatim(full).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS)
        return std::nullopt;
    NativeFile folder = open(verbatim(full), kFolderAccess, kShareFolder, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (!folder || identityOf(folder).kind != FileIdentity::Kind::Folder)
        return std::nullopt;
    return NativeFolder{std::move(folder), fromWide(full)};
}

NativeFile createLockedRecord(const NativeFolder &folder, const std::string &name)
{
    // Unshared but for deletion: every other open fails with a sharing violation until the
    // handle is closed, by us or by the system when the run dies.
    NativeFile record = open(entryPath(folder.path, name), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_DELETE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (!record)
        failLast();
    return record;
}

void removeUnfinishedRecords(const NativeFolder &) {} // a record is made held, and named at once

NativeFile takeDeadRecord(const NativeFolder &folder, const std::string &name)
{
    NativeFile record = open(entryPath(folder.path, name), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_DELETE, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!record) {
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && !missing(error))
            fail(error);
    }
    return record;
}

std::vector<std::string> namesEndingWith(const NativeFolder &folder, const std::string &suffix)
{
    std::vector<std::string> names;
    forEachEntry(verbatim(toWide(folder.path)), [&](const WIN32_FIND_DATAW &entry) {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            return;
        // A name UTF-8 cannot spell (a lone surrogate) is nobody's record.
        const std::optional<std::string> name = tryFromWide(entry.cFileName);
        if (name && name->size() > suffix.size() && name->ends_with(suffix))
            names.push_back(*name);
    });
    return names;
}

std::vector<std::string> namesIn(const NativeFolder &folder, bool folders)
{
    std::vector<std::string> names;
    forEachEntry(verbatim(toWide(folder.path)), [&](const WIN32_FIND_DATAW &entry) {
        const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                              (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        const std::optional<std::string> name = tryFromWide(entry.cFileName);
        if (name && isFolder == folders)
            names.push_back(*name);
    });
    return names;
}

std::string randomToken()
{
    unsigned char bytes[8];
    const NTSTATUS status =
        BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0)
        throw FileError::accessError();
    return recordbytes::hexDigits(bytes, sizeof bytes);
}

std::size_t openFileRoom()
{
    return std::size_t{1} << 16; // no per-process limit short of 2^24 handles
}

std::size_t allowOpenFiles(std::size_t)
{
    return openFileRoom();
}

void ignoreFileSizeSignal() {}

} // namespace nativefiles
