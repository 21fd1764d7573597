// The safe write's system calls on POSIX (Linux): calls relative to open folders, so that paths
// past the system's limit work and a renamed folder cannot redirect them; flock; unnamed new
// files; ranged write-back and file system flushes. Identity is in nativeidentity_posix.cpp.
#include "nativefiles.h"

#include "fileerror.h"
#include "posixfiles.h"

#include <fcntl.h>
#include <stdio.h> // renameat2
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

using namespace posixfiles;

namespace {

// Opens each folder of `path` in turn from `folder`, with `flags`. Invalid, with errno set, where
// one cannot be opened.
NativeFile walkFolders(NativeFile folder, const std::string &path, int flags)
{
    std::size_t begin = 0;
    while (folder && begin < path.size()) {
        std::size_t end = path.find('/', begin);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(begin, end - begin);
        begin = end + 1;
        if (!part.empty() && part != ".")
            folder = adopt(::openat(fd(folder), part.c_str(), flags));
    }
    return folder;
}

// A folder; a path longer than the system's limit is walked one folder at a time. Invalid, with
// errno set, when it cannot be opened.
NativeFile tryOpenFolder(const std::string &path)
{
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    NativeFile folder = adopt(::open(path.c_str(), kFlags));
    if (folder || errno != ENAMETOOLONG)
        return folder;
    return walkFolders(adopt(::open(path.front() == '/' ? "/" : ".", kFlags)), path, kFlags);
}

// A folder by its absolute path, one folder at a time, following no link on the way (ELOOP or
// ENOTDIR where one stands). Invalid, with errno set, when it cannot be opened.
NativeFile openFolderWithoutLinks(const std::string &path)
{
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    if (!path.starts_with('/')) {
        errno = ENOENT;
        return {};
    }
    return walkFolders(adopt(::open("/", kFlags)), path, kFlags);
}

// The path of an open file or folder as the system tells it, without links.
std::string descriptorPath(int descriptor)
{
    const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
    std::string path(4096, '\0');
    const ssize_t length = ::readlink(link.c_str(), path.data(), path.size());
    if (length < 0)
        fail(errno);
    if (static_cast<std::size_t>(length) == path.size())
        fail(ENAMETOOLONG);
    path.resize(static_cast<std::size_t>(length));
    return path;
}

bool refused(int error)
{
    return error == EACCES || error == EPERM || error == EROFS;
}

} // namespace

bool NativeFile::close()
{
    const std::intptr_t handle = release();
    return handle == -1 || ::close(static_cast<int>(handle)) == 0;
}

namespace nativefiles {

NativeFolder openFolder(const std::string &path)
{
    if (path.empty())
        throw FileError::pathNotFound();
    NativeFile folder = tryOpenFolder(path);
    if (!folder) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw FileError::pathNotFound();
        fail(errno);
    }
    return {std::move(folder), path};
}

std::optional<NativeFolder> openFolderNoLinks(const std::string &path)
{
    NativeFile folder = openFolderWithoutLinks(path);
    if (!folder) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)
            return std::nullopt;
        fail(errno);
    }
    return NativeFolder{std::move(folder), path};
}

std::string pathOf(const NativeFolder &folder)
{
    try {
        return descriptorPath(fd(folder));
    } catch (const FileError &) {
        if (!folder.path.starts_with('/'))
            throw; // longer than the system names, and given relative
        return folder.path;
    }
}

std::string pathIn(const std::string &folder, const std::string &name)
{
    // At a root the folder already ends in the separator.
    return folder.ends_with('/') ? folder + name : folder + '/' + name;
}

void flushFolder(const NativeFolder &folder)
{
    if (::fsync(fd(folder)) != 0 && errno != EINVAL && errno != EROFS)
        fail(errno);
}

NativeFile openScript(const NativeFolder &folder, const std::string &name)
{
    // Looked at before opening: opening a FIFO would block and opening a device may act on it.
    struct stat seen
    {
    };
    if (::fstatat(fd(folder), name.c_str(), &seen, 0) != 0)
        fail(errno);
    if (!S_ISREG(seen.st_mode) || (seen.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        throw FileError::accessError();
    NativeFile script =
        adopt(::openat(fd(folder), name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!script)
        fail(errno);
    return script;
}

bool tryLock(const NativeFile &script)
{
    if (::flock(fd(script), LOCK_EX | LOCK_NB) == 0)
        return true;
    if (errno == EWOULDBLOCK)
        return false;
    fail(errno);
}

void checkWritable(const NativeFolder &folder, const std::string &name)
{
    if (::faccessat(fd(folder), name.c_str(), W_OK, AT_EACCESS) != 0)
        fail(errno);
}

std::pair<std::string, std::string> locationOf(const NativeFile &file)
{
    const std::string path = descriptorPath(fd(file));
    const std::size_t slash = path.find_last_of('/');
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

NativeFile openNoLinks(const NativeFolder &folder, const std::string &name, bool forWriting)
{
    NativeFile file = adopt(::openat(fd(folder), name.c_str(),
                                     (forWriting ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK |
                                         O_NOCTTY | O_CLOEXEC));
    if (!file && errno != ENOENT && errno != ELOOP)
        fail(errno);
    return file;
}

NativeFile duplicate(const NativeFile &file)
{
    NativeFile copy = adopt(::fcntl(fd(file), F_DUPFD_CLOEXEC, 0));
    if (!copy)
        fail(errno);
    return copy;
}

std::size_t readAt(const NativeFile &file, std::uint64_t offset, unsigned char *data,
                   std::size_t size)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n =
            ::pread(fd(file), data + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

void writeAt(const NativeFile &file, std::uint64_t offset, const unsigned char *data,
             std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd(file), data, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

void setLength(const NativeFile &file, std::uint64_t length)
{
    if (::ftruncate(fd(file), static_cast<off_t>(length)) != 0)
        fail(errno);
}

bool punchHole(const NativeFile &file, std::uint64_t offset, std::uint64_t length)
{
    if (::fallocate(fd(file), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                    static_cast<off_t>(offset), static_cast<off_t>(length)) == 0)
        return true;
    if (errno != EOPNOTSUPP && errno != ENOSYS)
        fail(errno);
    return false;
}

std::optional<NativeFile> createUnnamed(const NativeFolder &folder)
{
    NativeFile made = adopt(::openat(fd(folder), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (made)
        return made;
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
        return std::nullopt;
    if (refused(errno))
        return NativeFile();
    fail(errno);
}

NativeFile createExclusive(const NativeFolder &folder, const std::string &name, bool)
{
    // A name that starts with a dot is hidden already; other names are the caller's to choose.
    NativeFile made = adopt(::openat(fd(folder), name.c_str(),
                                     O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!made && !refused(errno))
        fail(errno); // EEXIST: a name made by another, before us, never ours to use
    return made;
}

void nameUnnamed(const NativeFile &made, const NativeFolder &folder, const std::string &name)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd(made));
    if (::linkat(AT_FDCWD, self.c_str(), fd(folder), name.c_str(), AT_SYMLINK_FOLLOW) != 0 &&
        (errno == EEXIST || ::linkat(fd(made), "", fd(folder), name.c_str(), AT_EMPTY_PATH) != 0))
        fail(errno);
}

NativeFile openForWriting(const NativeFolder &folder, const std::string &name,
                          const NativeFile &held)
{
    NativeFile script =
        adopt(::openat(fd(folder), name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!script)
        fail(errno);
    const struct stat found = statOf(fd(script));
    const struct stat original = statOf(fd(held));
    if (found.st_dev != original.st_dev || found.st_ino != original.st_ino)
        throw FileError::heldByAnotherProgram();
    return script;
}

void flushData(const NativeFile &file)
{
    if (::fdatasync(fd(file)) != 0)
        fail(errno);
}

void startWriteBack(const NativeFile &file, std::uint64_t from, std::uint64_t length)
{
    if (::sync_file_range(fd(file), static_cast<off_t>(from), static_cast<off_t>(length),
                          SYNC_FILE_RANGE_WRITE) != 0)
        fail(errno);
}

void waitWriteBack(const NativeFile &file, std::uint64_t from, std::uint64_t length)
{
    if (::sync_file_range(fd(file), static_cast<off_t>(from), static_cast<off_t>(length),
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                              SYNC_FILE_RANGE_WAIT_AFTER) != 0)
        fail(errno);
}

bool flushFileSystemOf(const NativeFile &file)
{
    if (::syncfs(fd(file)) != 0)
        fail(errno);
    return true;
}

void waitWritten(const NativeFile &file)
{
    waitWriteBack(file, 0, 0); // the whole file
}

bool replace(const NativeFolder &folder, NativeFile &made, const std::string &newName, NativeFile &,
             const std::string &scriptName, const std::string &)
{
    // The file renamed is the file written: whoever may write the folder could have given its
    // name to another since.
    struct stat named
    {
    };
    if (::fstatat(fd(folder), newName.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
        fail(errno);
    const struct stat written = statOf(fd(made));
    if (named.st_dev != written.st_dev || named.st_ino != written.st_ino)
        throw FileError::heldByAnotherProgram();
    // One atomic rename: the old file never needs another name on the way.
    if (::renameat(fd(folder), newName.c_str(), fd(folder), scriptName.c_str()) != 0)
        fail(errno);
    return true;
}

void removeName(const NativeFolder &folder, const std::string &name)
{
    if (::unlinkat(fd(folder), name.c_str(), 0) != 0 && errno != ENOENT)
        fail(errno);
}

NativeFile detachName(const NativeFolder &folder, const std::string &name)
{
    // A path handle holds the file as well as any, and opening one touches nothing of it.
    NativeFile file = adopt(::openat(fd(folder), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    removeName(folder, name);
    return file;
}

void renameNoReplace(const NativeFolder &folder, const std::string &from, const std::string &to)
{
    if (::renameat2(fd(folder), from.c_str(), fd(folder), to.c_str(), RENAME_NOREPLACE) == 0)
        return;
    if (errno != EINVAL && errno != ENOSYS)
        fail(errno);
    // A file system that cannot rename without replacing: a second name, which is never made
    // over another file, then the first goes.
    if (::linkat(fd(folder), from.c_str(), fd(folder), to.c_str(), 0) != 0)
        fail(errno);
    removeName(folder, from);
}

} // namespace nativefiles
