// The safe write's system calls on Windows. Every path handed to the system is a verbatim one
// ("\\?\C:\..." or "\\?\UNC\server\share\..."), so that paths past MAX_PATH, names ending in a
// dot or a space, and names such as NUL.txt or con.txt reach the file on the disk, never a
// device. Identity is in nativeidentity_win32.cpp.
#include "nativefiles.h"

#include "fileerror.h"
#include "win32files.h"
#include "win32names.h"

#include <windows.h>

#include <winioctl.h>

#include <algorithm>

using namespace win32files;
using namespace win32names;

namespace {

// A held script: others may read it, and it may be renamed (ReplaceFileW renames it to the
// backup name), but nobody else may write it, and nobody holding it for writing lets us in.
constexpr DWORD kShareHeld = FILE_SHARE_READ | FILE_SHARE_DELETE;
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
    if (kindOf(folder) != FileIdentity::Kind::Folder)
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
        if (kindOf(part) != FileIdentity::Kind::Folder)
            return std::nullopt;
    }
    return folder;
}

std::string pathOf(const NativeFolder &folder)
{
    const std::wstring path = finalPath(native(folder.file));
    if (path.empty())
        failLast();
    return fromWide(plainPath(path));
}

std::string pathIn(const std::string &folder, const std::string &name)
{
    return folder.ends_with('\\') ? folder + name : folder + '\\' + name;
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

NativeFile openScript(const NativeFolder &folder, const std::string &name)
{
    const std::wstring path = entryPath(folder.path, name);
    {
        const NativeFile seen = openMetadata(path, true);
        if (!seen)
            failLast(); // 53, or 76 when the folder is gone
        const std::optional<FileKind> kind = kindOf(native(seen));
        // A script marked read-only stays so, even for a user the system would let write it
        // (an administrator, or root under Wine).
        if (!kind || kind->kind != FileIdentity::Kind::Regular || kind->readOnly)
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

void checkWritable(const NativeFolder &, const std::string &) {}

std::pair<std::string, std::string> locationOf(const NativeFile &file)
{
    std::wstring path = finalPath(native(file));
    if (path.empty())
        failLast();
    return splitPath(plainPath(path));
}

NativeFile openNoLinks(const NativeFolder &folder, const std::string &name, bool forWriting)
{
    // Folders open too, for the caller to see what they are.
    NativeFile file =
        open(entryPath(folder.path, name), GENERIC_READ | (forWriting ? GENERIC_WRITE : 0),
             forWriting ? kShareHeld : kShareAll, OPEN_EXISTING,
             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (!file) {
        if (missing(GetLastError()))
            return {};
        failLast();
    }
    if (kindOf(file) == FileIdentity::Kind::Link)
        return {};
    return file;
}

NativeFile duplicate(const NativeFile &file)
{
    HANDLE copy = nullptr;
    check(DuplicateHandle(GetCurrentProcess(), native(file), GetCurrentProcess(), &copy, 0, FALSE,
                          DUPLICATE_SAME_ACCESS));
    return adopt(copy);
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
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD written = 0;
        check(WriteFile(native(file), data, static_cast<DWORD>(std::min(size, kMostAtOnce)),
                        &written, &at));
        data += written;
        size -= written;
        offset += written;
    }
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

std::optional<NativeFile> createUnnamed(const NativeFolder &)
{
    return std::nullopt; // Windows has no unnamed files
}

NativeFile createExclusive(const NativeFolder &folder, const std::string &name, bool hidden)
{
    // Shared for deletion only, so that whoever removes its name may do so while it is open.
    NativeFile made =
        open(entryPath(folder.path, name), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
             CREATE_NEW, hidden ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL);
    if (!made && GetLastError() != ERROR_ACCESS_DENIED && GetLastError() != ERROR_WRITE_PROTECT)
        failLast(); // 80 when the name exists: 58
    return made;
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
    return duplicate(held);
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

NativeFile detachName(const NativeFolder &folder, const std::string &name)
{
    // A handle kept open would leave the name taken until it is closed.
    removeName(folder, name);
    return {};
}

void renameNoReplace(const NativeFolder &folder, const std::string &from, const std::string &to)
{
    check(MoveFileExW(entryPath(folder.path, from).c_str(), entryPath(folder.path, to).c_str(), 0));
}

} // namespace nativefiles
