// What undo keeps, on Windows: the area made hidden and open to its owner alone, kept originals
// by hard link or by copy through the held script, and names put back with MoveFileExW.
#include "nativefiles.h"

#include "fileerror.h"
#include "win32files.h"
#include "win32names.h"

#include <sddl.h>
#include <windows.h>

#include <array>
#include <string>

using namespace win32files;
using namespace win32names;

namespace {

constexpr const char *kLockName = "BLOQUEO";
constexpr DWORD kLockRetry = 100; // ms

// The user, then SYSTEM, full control; nobody else; inherited by what is made inside. The user
// is named by SID rather than as Owner Rights (OW): Wine maps an entry to permissions only where
// it names the owner's own SID, a SID of the token or Everyone, so OW would leave mode 000.
bool makePrivateFolder(const std::wstring &path)
{
    const std::string user = runnerSid();
    if (user.empty())
        return false;
    const std::wstring sddl = L"D:P(A;OICI;FA;;;" + toWide(user) + L")(A;OICI;FA;;;SY)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const BOOL made = CreateDirectoryW(path.c_str(), &attributes);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    if (made)
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
    return made || error == ERROR_ALREADY_EXISTS;
}

} // namespace

namespace nativefiles {

DiskSpace diskSpace(const NativeFolder &folder)
{
    ULARGE_INTEGER free{};
    ULARGE_INTEGER total{};
    check(GetDiskFreeSpaceExW(verbatim(fullPath(toWide(folder.path))).c_str(), &free, &total,
                              nullptr));
    return {free.QuadPart, total.QuadPart};
}

std::optional<NativeFolder> openArea(const NativeFolder &folder, const std::string &name,
                                     bool create)
{
    const std::wstring path = entryPath(folder.path, name);
    if (create && !makePrivateFolder(path))
        return std::nullopt;
    // A link or junction planted by that name is opened as itself, and refused.
    NativeFile area = open(path, kFolderAccess, kShareFolder, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (!area || kindOf(area) != FileIdentity::Kind::Folder)
        return std::nullopt;
    return NativeFolder{std::move(area), pathIn(folder.path, name)};
}

NativeFile lockArea(const NativeFolder &area, bool wait)
{
    // Unshared, and gone with its handle: whoever comes next gets a sharing violation.
    for (;;) {
        NativeFile lock = open(entryPath(area.path, kLockName), GENERIC_READ | GENERIC_WRITE, 0,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE);
        if (lock)
            return lock;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)
            fail(error);
        if (!wait)
            return {};
        Sleep(kLockRetry);
    }
}

bool linkTo(const NativeFolder &from, const std::string &name, const NativeFolder &to,
            const std::string &toName)
{
    if (CreateHardLinkW(entryPath(to.path, toName).c_str(), entryPath(from.path, name).c_str(),
                        nullptr))
        return true;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        return false;
    fail(error);
}

bool copyTo(const NativeFile &file, const NativeFolder &to, const std::string &toName)
{
    // Through the held file: another open of the script would not be shared with it.
    NativeFile copy;
    try {
        copy = createExclusive(to, toName, false);
    } catch (const FileError &) {
        return false; // the name is taken
    }
    if (!copy)
        throw FileError::heldByAnotherProgram(); // the area takes no new file from us
    try {
        std::array<unsigned char, 1 << 16> buffer{};
        for (std::uint64_t at = 0;;) {
            const std::size_t got = readAt(file, at, buffer.data(), buffer.size());
            writeAt(copy, at, buffer.data(), got);
            at += got;
            if (got < buffer.size())
                break;
        }
        FILE_BASIC_INFO times{};
        check(GetFileInformationByHandleEx(native(file), FileBasicInfo, &times, sizeof times));
        times.ChangeTime.QuadPart = 0;
        times.FileAttributes = 0;
        check(SetFileInformationByHandle(native(copy), FileBasicInfo, &times, sizeof times));
        flushData(copy);
        if (!copy.close())
            failLast();
        return true;
    } catch (const FileError &) {
        copy.reset();
        DeleteFileW(entryPath(to.path, toName).c_str());
        throw;
    }
}

bool exchange(const NativeFolder &, const std::string &, const NativeFolder &, const std::string &)
{
    return false; // no atomic swap of two names
}

void renameOver(const NativeFolder &from, const std::string &fromName, const NativeFolder &to,
                const std::string &toName)
{
    check(MoveFileExW(entryPath(from.path, fromName).c_str(), entryPath(to.path, toName).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

bool copyTimes(const NativeFile &from, const NativeFile &to)
{
    FILE_BASIC_INFO times{};
    check(GetFileInformationByHandleEx(native(from), FileBasicInfo, &times, sizeof times));
    times.ChangeTime.QuadPart = 0;
    times.FileAttributes = 0;
    if (SetFileInformationByHandle(native(to), FileBasicInfo, &times, sizeof times))
        return true;
    if (GetLastError() == ERROR_ACCESS_DENIED)
        return false;
    failLast();
}

void removeEmptyFolder(const NativeFolder &parent, const std::string &name)
{
    if (!RemoveDirectoryW(entryPath(parent.path, name).c_str())) {
        const DWORD error = GetLastError();
        if (!missing(error) && error != ERROR_DIR_NOT_EMPTY && error != ERROR_SHARING_VIOLATION)
            fail(error);
    }
}

} // namespace nativefiles
