// The safe write's system calls on Windows. Every path handed to the system is a verbatim one
// ("\\?\C:\..." or "\\?\UNC\server\share\..."), so that paths past MAX_PATH, names ending in a
// dot or a space, and names such as NUL.txt or con.txt reach the file on the disk, never a
// device. Identity comes from the open handle, never from the C runtime's stat.
#include "nativefiles.h"

#include "fileerror.h"
#include "win32files.h"
#include "win32names.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>

using namespace win32files;
using namespace win32names;

namespace {

// A held script: others may read it, and it may be renamed (ReplaceFileW renames it to the
// backup name), but nobody else may write it, and nobody holding it for writing lets us in.
constexpr DWORD kShareHeld = FILE_SHARE_READ | FILE_SHARE_DELETE;
// What a user may set on a file, and what ReplaceFileW is meant to carry over (Wine's does not).
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

struct Runner
{
    std::string user;  // the token's user
    std::string owner; // the owner it gives new files: an administrator's is Administrators
};

using LocalMemory = std::unique_ptr<void, decltype(&LocalFree)>;

std::string sidText(PSID sid)
{
    LPWSTR text = nullptr;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, &text))
        return {};
    const LocalMemory owned(text, LocalFree);
    return fromWide(text);
}

std::string tokenSid(HANDLE token, TOKEN_INFORMATION_CLASS what)
{
    alignas(TOKEN_USER) unsigned char buffer[256];
    DWORD size = 0;
    if (!GetTokenInformation(token, what, buffer, sizeof buffer, &size))
        return {};
    return sidText(what == TokenUser ? reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid
                                     : reinterpret_cast<TOKEN_OWNER *>(buffer)->Owner);
}

Runner findRunner()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    const NativeFile owned = adopt(token);
    return {tokenSid(token, TokenUser), tokenSid(token, TokenOwner)};
}

const Runner &runner()
{
    static const Runner known = findRunner();
    return known;
}

// The owner's SID as text; empty where the file system keeps no owners (FAT).
std::string ownerOf(HANDLE file)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                        nullptr, nullptr, nullptr, &descriptor);
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION)
        return {};
    if (error != ERROR_SUCCESS)
        fail(error);
    const LocalMemory owned(descriptor, LocalFree);
    return sidText(owner);
}

// SYSTEM, Administrators and TrustedInstaller: what Windows itself owns.
constexpr std::array<std::string_view, 3> kSystemOwners = {
    "S-1-5-18", "S-1-5-32-544", "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};

void restoreFromBackup(const NativeFolder &folder, const std::string &scriptName,
                       const std::string &backupName, const FileIdentity &script)
{
    if (nativefiles::identityAt(folder, scriptName, false))
        return;
    const auto backup = nativefiles::identityAt(folder, backupName, false);
    if (backup && sameFile(*backup, script))
        nativefiles::renameNoReplace(folder, backupName, scriptName);
}

} // namespace

bool NativeFile::close()
{
    const std::intptr_t handle = release();
    return handle == -1 || CloseHandle(reinterpret_cast<HANDLE>(handle));
}

namespace nativefiles {

NativeFolder openFolder(const std::string &path)
{
    if (path.empty())
        throw FileError::pathNotFound();
    const std::wstring full = fullPath(toWide(path));
    NativeFile folder = open(verbatim(full), kFolderAccess, kShareFolder, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS);
    if (!folder) {
        const DWORD error = GetLastError();
        if (missing(error))
            throw FileError::pathNotFound();
        fail(error);
    }
    if (identityOf(folder).kind != FileIdentity::Kind::Folder)
        throw FileError::pathNotFound();
    return {std::move(folder), fromWide(full)};
}

std::optional<NativeFolder> openFolderNoLinks(const std::string &path)
{
    std::optional<NativeFolder> folder;
    try {
        folder = openFolder(path); // held from here, nothing on its way can be renamed
    } catch (const FileError &error) {
        if (error.number() == FileError::pathNotFound().number())
            return std::nullopt;
        throw;
    }
    // Each folder on the way, looked at without following it: no link or junction among them.
    const std::wstring full = verbatim(toWide(folder->path));
    for (std::size_t end = rootLength(full); end < full.size();) {
        end = std::min(full.find(L'\\', end + 1), full.size());
        const NativeFile part = openMetadata(full.substr(0, end), false);
        if (!part)
            failLast();
        if (identityOf(part).kind != FileIdentity::Kind::Folder)
            return std::nullopt;
    }
    return folder;
}

void flushFolder(const NativeFolder &folder)
{
    // Undocumented for folders, but NTFS commits the folder's entries; a folder we may not
    // write holds no name of ours.
    NativeFile writable = open(verbatim(toWide(folder.path)), GENERIC_WRITE, kShareAll,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (!writable) {
        if (GetLastError() == ERROR_ACCESS_DENIED)
            return;
        failLast();
    }
    if (!FlushFileBuffers(native(writable))) {
        const DWORD error = GetLastError();
        if (error != ERROR_INVALID_FUNCTION && error != ERROR_INVALID_PARAMETER &&
            error != ERROR_NOT_SUPPORTED)
            fail(error);
    }
}

FileIdentity identityOf(const NativeFile &file)
{
    const HANDLE handle = native(file);
    FileIdentity identity;
    if (GetFileType(handle) != FILE_TYPE_DISK)
        return identity; // Kind::Other
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
    check(GetFileInformationByHandle(handle, &info));
    check(GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic));
    identity.volume = info.dwVolumeSerialNumber;
    identity.fileLow = join(info.nFileIndexHigh, info.nFileIndexLow);
    // ReFS ids are 128 bits, and the 64-bit index is not unique there.
    FILE_ID_INFO id{};
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
        static_assert(sizeof id.FileId.Identifier == 2 * sizeof(std::uint64_t));
        identity.volume = id.VolumeSerialNumber;
        std::memcpy(&identity.fileLow, id.FileId.Identifier, sizeof identity.fileLow);
        std::memcpy(&identity.fileHigh, id.FileId.Identifier + sizeof identity.fileLow,
                    sizeof identity.fileHigh);
    }
    identity.size = join(info.nFileSizeHigh, info.nFileSizeLow);
    identity.modified = basic.LastWriteTime.QuadPart;
    identity.changed = basic.ChangeTime.QuadPart;
    identity.links = info.nNumberOfLinks;
    identity.attributes = info.dwFileAttributes & kSettableAttributes;
    identity.readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    identity.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                        ? FileIdentity::Kind::Folder
                        : FileIdentity::Kind::Regular;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // Only links are links: deduplicated and cloud files are reparse points too.
        FILE_ATTRIBUTE_TAG_INFO tag{};
        check(GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag));
        if (tag.ReparseTag == IO_REPARSE_TAG_SYMLINK ||
            tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT)
            identity.kind = FileIdentity::Kind::Link;
    }
    identity.owner = ownerOf(handle);
    const Runner &us = runner();
    // A file system without owners (FAT) is everybody's, as vfat's files are the mounting
    // user's on POSIX.
    identity.ownedByRunner = identity.owner.empty() ||
                             (!us.user.empty() && identity.owner == us.user) ||
                             (!us.owner.empty() && identity.owner == us.owner);
    identity.ownedBySystem = std::find(kSystemOwners.begin(), kSystemOwners.end(),
                                       identity.owner) != kSystemOwners.end();
    return identity;
}

std::optional<FileIdentity> identityAt(const NativeFolder &folder, const std::string &name,
                                       bool followLinks)
{
    const NativeFile file = openMetadata(entryPath(folder.path, name), followLinks);
    if (!file) {
        if (missing(GetLastError()))
            return std::nullopt;
        failLast();
    }
    return identityOf(file);
}

NativeFile openScript(const NativeFolder &folder, const std::string &name)
{
    const std::wstring path = entryPath(folder.path, name);
    {
        const NativeFile seen = openMetadata(path, true);
        if (!seen)
            failLast(); // 53, or 76 when the folder is gone
        const FileIdentity identity = identityOf(seen);
        // A script marked read-only stays so, even for a user the system would let write it
        // (an administrator, or root under Wine).
        if (identity.kind != FileIdentity::Kind::Regular || identity.readOnly)
            throw FileError::accessError();
    }
    NativeFile script =
        open(path, GENERIC_READ | GENERIC_WRITE, kShareHeld, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (!script)
        failLast(); // 32 from another writer or run: 70
    return script;
}

bool tryLock(const NativeFile &)
{
    return true;
}

bool mayWrite(const NativeFolder &, const std::string &)
{
    return true;
}

std::pair<std::string, std::string> locationOf(const NativeFile &file)
{
    std::wstring path = finalPath(native(file));
    if (path.empty())
        failLast();
    return splitPath(plainPath(path));
}

std::size_t readAt(const NativeFile &file, std::uint64_t offset, unsigned char *data,
                   std::size_t size)
{
    std::size_t got = 0;
    while (got < size) {
        const std::uint64_t at = offset + got;
        OVERLAPPED overlapped{};
        overlapped.Offset = static_cast<DWORD>(at);
        overlapped.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD n = 0;
        if (!ReadFile(native(file), data + got,
                      static_cast<DWORD>(std::min(size - got, kMostAtOnce)), &n, &overlapped)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            failLast();
        }
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

void writeAt(const NativeFile &file, std::uint64_t offset, const unsigned char *data,
             std::size_t size)
{
    writeAll(native(file), offset, data, size);
}

void setLength(const NativeFile &file, std::uint64_t length)
{
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    check(SetFileInformationByHandle(native(file), FileEndOfFileInfo, &end, sizeof end));
}

bool punchHole(const NativeFile &file, std::uint64_t offset, std::uint64_t length)
{
    FILE_SET_SPARSE_BUFFER sparse{};
    sparse.SetSparse = TRUE;
    FILE_ZERO_DATA_INFORMATION zero{};
    zero.FileOffset.QuadPart = static_cast<LONGLONG>(offset);
    zero.BeyondFinalZero.QuadPart = static_cast<LONGLONG>(offset + length);
    DWORD ignored = 0;
    if (!DeviceIoControl(native(file), FSCTL_SET_SPARSE, &sparse, sizeof sparse, nullptr, 0,
                         &ignored, nullptr))
        return false; // FAT and others keep no holes
    check(DeviceIoControl(native(file), FSCTL_SET_ZERO_DATA, &zero, sizeof zero, nullptr, 0,
                          &ignored, nullptr));
    return true;
}

NativeFile createUnnamed(const NativeFolder &)
{
    return {}; // Windows has no unnamed files
}

NativeFile createExclusive(const NativeFolder &folder, const std::string &name)
{
    // Shared for deletion only, so that whoever removes its name may do so while it is open.
    NativeFile made = open(entryPath(folder.path, name), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_DELETE, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN);
    if (!made && GetLastError() != ERROR_ACCESS_DENIED)
        failLast(); // 80 when the name exists: 75
    return made;
}

bool giveIdentity(const NativeFile &made, const NativeFile &script)
{
    // ReplaceFileW keeps the script's ACL, named streams and creation time, but the result has
    // the new file's owner.
    const std::string scriptOwner = ownerOf(native(script));
    const std::string madeOwner = ownerOf(native(made));
    if (!scriptOwner.empty() && !madeOwner.empty() && scriptOwner != madeOwner)
        return false;
    FILE_BASIC_INFO basic{};
    check(GetFileInformationByHandleEx(native(script), FileBasicInfo, &basic, sizeof basic));
    if (basic.FileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) {
        // Written with its zero blocks skipped, the new text then keeps the script's holes; where
        // the file system cannot, it is written whole, which is still the same text.
        FILE_SET_SPARSE_BUFFER sparse{};
        sparse.SetSparse = TRUE;
        DWORD ignored = 0;
        DeviceIoControl(native(made), FSCTL_SET_SPARSE, &sparse, sizeof sparse, nullptr, 0,
                        &ignored, nullptr);
    }
    return true;
}

void nameUnnamed(const NativeFile &, const NativeFolder &, const std::string &)
{
    throw FileError::accessError(); // createUnnamed() never makes one here
}

NativeFile openForWriting(const NativeFolder &folder, const std::string &name,
                          const NativeFile &held)
{
    const auto named = identityAt(folder, name, false);
    if (!named || !sameFile(*named, identityOf(held)))
        throw FileError::heldByAnotherProgram();
    HANDLE copy = nullptr;
    check(DuplicateHandle(GetCurrentProcess(), native(held), GetCurrentProcess(), &copy, 0, FALSE,
                          DUPLICATE_SAME_ACCESS));
    return adopt(copy);
}

void flushData(const NativeFile &file)
{
    check(FlushFileBuffers(native(file)));
}

// The cache manager holds back a writer whose unwritten data pile up and writes them out within
// a second or so; there is no range to start or wait for.
void startWriteBack(const NativeFile &, std::uint64_t, std::uint64_t) {}

void waitWriteBack(const NativeFile &, std::uint64_t, std::uint64_t) {}

bool flushFileSystemOf(const NativeFile &)
{
    return false;
}

void waitWritten(const NativeFile &file)
{
    flushData(file);
}

bool replace(const NativeFolder &folder, NativeFile &made, const std::string &newName,
             NativeFile &heldScript, const std::string &scriptName, const std::string &backupName)
{
    const FileIdentity script = identityOf(heldScript);
    FILE_BASIC_INFO basic{}; // zero times: left as they are
    basic.FileAttributes = script.attributes != 0 ? script.attributes : FILE_ATTRIBUTE_NORMAL;
    check(SetFileInformationByHandle(native(made), FileBasicInfo, &basic, sizeof basic));
    const FileIdentity madeIdentity = identityOf(made);
    if (!made.close())
        failLast();
    const auto named = identityAt(folder, newName, false);
    if (!named || !sameFile(*named, madeIdentity))
        throw FileError::heldByAnotherProgram();

    const std::wstring scriptPath = entryPath(folder.path, scriptName);
    const std::wstring backupPath = entryPath(folder.path, backupName);
    if (!ReplaceFileW(scriptPath.c_str(), entryPath(folder.path, newName).c_str(),
                      backupPath.c_str(), 0, nullptr, nullptr)) {
        const DWORD error = GetLastError();
        // 1177 says the script was left under the backup name; whatever else failed, no script
        // is left there.
        restoreFromBackup(folder, scriptName, backupName, script);
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
            error == ERROR_UNABLE_TO_REMOVE_REPLACED)
            return false;
        fail(error);
    }
    // The old file stays open through heldScript, and goes with it; where it cannot be removed
    // now, the run's record names it for the sweep.
    DeleteFileW(backupPath.c_str());
    return true;
}

void removeName(const NativeFolder &folder, const std::string &name)
{
    if (!DeleteFileW(entryPath(folder.path, name).c_str()) && !missing(GetLastError()))
        failLast();
}

void renameNoReplace(const NativeFolder &folder, const std::string &from, const std::string &to)
{
    check(MoveFileExW(entryPath(folder.path, from).c_str(), entryPath(folder.path, to).c_str(), 0));
}

} // namespace nativefiles
