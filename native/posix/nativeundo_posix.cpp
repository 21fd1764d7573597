// What undo keeps, on POSIX (Linux): the area relative to the folder's descriptor, kept
// originals by hard link or by reflink or copy, and swaps by renameat2.
#include "nativefiles.h"

#include "fileerror.h"
#include "posixfiles.h"

#include <fcntl.h>
#include <linux/fs.h> // FICLONE
#include <stdio.h>    // renameat2
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <array>
#include <cerrno>

using namespace posixfiles;

namespace {

// The bytes, by reflink where the file system shares blocks, else copied in the kernel, else
// read and written.
bool copyBytes(int from, int to, std::uint64_t size)
{
    if (::ioctl(to, FICLONE, from) == 0)
        return true;
    off_t in = 0;
    off_t out = 0;
    while (static_cast<std::uint64_t>(in) < size) {
        const ssize_t n =
            ::copy_file_range(from, &in, to, &out,
                              static_cast<std::size_t>(size - static_cast<std::uint64_t>(in)), 0);
        if (n > 0)
            continue;
        if (n == 0)
            return true; // cut short meanwhile: the caller compares what it kept
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return false;
        std::array<unsigned char, 1 << 16> buffer{};
        for (;;) {
            const ssize_t got = ::pread(from, buffer.data(), buffer.size(), in);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return got == 0;
            for (ssize_t put = 0; put < got;) {
                const ssize_t wrote = ::pwrite(to, buffer.data() + put,
                                               static_cast<std::size_t>(got - put), out + put);
                if (wrote < 0 && errno == EINTR)
                    continue;
                if (wrote <= 0)
                    return false;
                put += wrote;
            }
            in += got;
            out += got;
        }
    }
    return true;
}

} // namespace

namespace nativefiles {

DiskSpace diskSpace(const NativeFolder &folder)
{
    struct statvfs status
    {
    };
    if (::fstatvfs(fd(folder), &status) != 0)
        fail(errno);
    return {static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize,
            static_cast<std::uint64_t>(status.f_blocks) * status.f_frsize};
}

std::optional<NativeFolder> openArea(const NativeFolder &folder, const std::string &name,
                                     bool create)
{
    if (create && ::mkdirat(fd(folder), name.c_str(), 0700) != 0 && errno != EEXIST)
        return std::nullopt;
    // A link planted by that name is never followed (ELOOP, or ENOTDIR).
    NativeFile area =
        adopt(::openat(fd(folder), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!area) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP || errno == EACCES)
            return std::nullopt;
        fail(errno);
    }
    return NativeFolder{std::move(area), pathIn(folder.path, name)};
}

NativeFile lockArea(const NativeFolder &area, bool wait)
{
    NativeFile lock = adopt(::openat(fd(area), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!lock)
        fail(errno);
    while (::flock(fd(lock), LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        if (errno == EWOULDBLOCK && !wait)
            return {};
        if (errno != EINTR)
            fail(errno);
    }
    return lock;
}

bool linkTo(const NativeFolder &from, const std::string &name, const NativeFolder &to,
            const std::string &toName)
{
    if (::linkat(fd(from), name.c_str(), fd(to), toName.c_str(), 0) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    fail(errno);
}

bool copyTo(const NativeFile &file, const NativeFolder &to, const std::string &toName)
{
    NativeFile copy = adopt(::openat(fd(to), toName.c_str(),
                                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!copy) {
        if (errno == EEXIST)
            return false;
        fail(errno);
    }
    const struct stat original = statOf(fd(file));
    const std::array<timespec, 2> times{original.st_atim, original.st_mtim};
    if (copyBytes(fd(file), fd(copy), static_cast<std::uint64_t>(original.st_size)) &&
        ::futimens(fd(copy), times.data()) == 0 && ::fdatasync(fd(copy)) == 0 && copy.close())
        return true;
    const int error = errno;
    copy.reset();
    ::unlinkat(fd(to), toName.c_str(), 0);
    fail(error);
}

bool exchange(const NativeFolder &a, const std::string &aName, const NativeFolder &b,
              const std::string &bName)
{
    if (::renameat2(fd(a), aName.c_str(), fd(b), bName.c_str(), RENAME_EXCHANGE) == 0)
        return true;
    if (errno == EINVAL || errno == ENOSYS)
        return false;
    fail(errno);
}

void renameOver(const NativeFolder &from, const std::string &fromName, const NativeFolder &to,
                const std::string &toName)
{
    if (::renameat(fd(from), fromName.c_str(), fd(to), toName.c_str()) != 0)
        fail(errno);
}

bool copyTimes(const NativeFile &from, const NativeFile &to)
{
    const struct stat original = statOf(fd(from));
    const std::array<timespec, 2> times{original.st_atim, original.st_mtim};
    if (::futimens(fd(to), times.data()) == 0)
        return true;
    if (errno == EPERM || errno == EACCES || errno == EROFS)
        return false;
    fail(errno);
}

void removeEmptyFolder(const NativeFolder &parent, const std::string &name)
{
    if (::unlinkat(fd(parent), name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT &&
        errno != ENOTEMPTY && errno != EEXIST)
        fail(errno);
}

} // namespace nativefiles
