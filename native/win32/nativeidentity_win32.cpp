// Identity on Windows, from the open handle, never from the C runtime's stat (whose inode is 0
// there): the file id, times, links, attributes and owner; and what a new file must be to take
// a script's place.
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

FileKind kindFrom(HANDLE handle, DWORD attributes)
{
    FileKind kind;
    kind.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    kind.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileIdentity::Kind::Folder
                                                        : FileIdentity::Kind::Regular;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // Only links are links: deduplicated and cloud files are reparse points too.
        FILE_ATTRIBUTE_TAG_INFO tag{};
        check(GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag));
        if (tag.ReparseTag == IO_REPARSE_TAG_SYMLINK ||
            tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT)
            kind.kind = FileIdentity::Kind::Link;
    }
    return kind;
}

// The 128-bit file id (ReFS ids are 128 bits, and the 64-bit index is not unique there), or
// the volume serial and the file index where the file system has no such id.
FileKey keyOf(HANDLE handle)
{
    FileKey key;
    FILE_ID_INFO id{};
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
        static_assert(sizeof id.FileId.Identifier == 2 * sizeof(std::uint64_t));
        key.volume = id.VolumeSerialNumber;
        std::memcpy(&key.fileLow, id.FileId.Identifier, sizeof key.fileLow);
        std::memcpy(&key.fileHigh, id.FileId.Identifier + sizeof key.fileLow, sizeof key.fileHigh);
        return key;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    check(GetFileInformationByHandle(handle, &info));
    key.volume = info.dwVolumeSerialNumber;
    key.fileLow = join(info.nFileIndexHigh, info.nFileIndexLow);
    return key;
}

} // namespace

std::optional<FileKind> win32files::kindOf(HANDLE handle)
{
    if (GetFileType(handle) != FILE_TYPE_DISK)
        return std::nullopt;
    FILE_BASIC_INFO basic{};
    check(GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic));
    return kindFrom(handle, basic.FileAttributes);
}

std::string win32files::runnerSid()
{
    return runner().user;
}

FileIdentity::Kind win32files::kindOf(const NativeFile &file)
{
    const std::optional<FileKind> kind = kindOf(native(file));
    return kind ? kind->kind : FileIdentity::Kind::Other;
}

namespace nativefiles {

FileIdentity identityOf(const NativeFile &file)
{
    const HANDLE handle = native(file);
    FileIdentity identity;
    if (GetFileType(handle) != FILE_TYPE_DISK)
        return identity; // Kind::Other
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    check(GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic));
    check(GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard));
    const FileKind kind = kindFrom(handle, basic.FileAttributes);
    identity.kind = kind.kind;
    identity.key = keyOf(handle);
    identity.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    identity.modified = basic.LastWriteTime.QuadPart;
    identity.changed = basic.ChangeTime.QuadPart;
    identity.links = standard.NumberOfLinks;
    identity.attributes = basic.FileAttributes & kSettableAttributes;
    identity.readOnly = kind.readOnly;
    identity.owner = ownerOf(handle);
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

bool ownedByRunner(const FileIdentity &file)
{
    // A file system without owners (FAT) is everybody's, as vfat's files are the mounting
    // user's on POSIX.
    const Runner &us = runner();
    return file.owner.empty() || (!us.user.empty() && file.owner == us.user) ||
           (!us.owner.empty() && file.owner == us.owner);
}

bool ownedBySystem(const FileIdentity &file)
{
    return std::find(kSystemOwners.begin(), kSystemOwners.end(), file.owner) != kSystemOwners.end();
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

} // namespace nativefiles
