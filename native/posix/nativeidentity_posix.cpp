// Identity on POSIX: what struct stat says of a file, and what a new file must be given to take
// a script's place: owner, group, mode with set-id bits, extended attributes and ACLs.
#include "nativefiles.h"

#include "fileerror.h"
#include "posixfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

using namespace posixfiles;

namespace {

constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t kGroupOrOthersWrite = S_IWGRP | S_IWOTH;

std::int64_t nanoseconds(const timespec &time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FileIdentity identityFrom(const struct stat &status)
{
    FileIdentity identity;
    identity.key = {static_cast<std::uint64_t>(status.st_dev),
                    static_cast<std::uint64_t>(status.st_ino), 0};
    identity.size = static_cast<std::uint64_t>(status.st_size);
    identity.modified = nanoseconds(status.st_mtim);
    identity.changed = nanoseconds(status.st_ctim);
    identity.links = static_cast<std::uint32_t>(status.st_nlink);
    identity.attributes = status.st_mode & 07777;
    if (S_ISREG(status.st_mode))
        identity.kind = FileIdentity::Kind::Regular;
    else if (S_ISDIR(status.st_mode))
        identity.kind = FileIdentity::Kind::Folder;
    else if (S_ISLNK(status.st_mode))
        identity.kind = FileIdentity::Kind::Link;
    identity.readOnly = (status.st_mode & kAnyWrite) == 0;
    identity.writableByOthers = (status.st_mode & kGroupOrOthersWrite) != 0;
    identity.openToOthers = (status.st_mode & 077) != 0;
    identity.owner = std::to_string(status.st_uid);
    return identity;
}

std::vector<std::string> attributeNames(int descriptor)
{
    std::vector<char> names;
    for (;;) {
        const ssize_t size = ::flistxattr(descriptor, nullptr, 0);
        if (size < 0) {
            if (errno == ENOTSUP)
                return {};
            fail(errno);
        }
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::flistxattr(descriptor, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE)
            fail(errno);
    }
    std::vector<std::string> result;
    for (std::size_t begin = 0; begin < names.size();) {
        result.emplace_back(names.data() + begin);
        begin += result.back().size() + 1;
    }
    return result;
}

std::vector<char> attributeValue(int descriptor, const std::string &name)
{
    std::vector<char> value;
    for (;;) {
        const ssize_t size = ::fgetxattr(descriptor, name.c_str(), nullptr, 0);
        if (size < 0)
            fail(errno);
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::fgetxattr(descriptor, name.c_str(), value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<std::size_t>(got));
            return value;
        }
        if (errno != ERANGE)
            fail(errno);
    }
}

// Gives `to` exactly the extended attributes of `from`, ACLs included (they are the
// system.posix_acl_* attributes). False when one cannot be set or removed.
bool copyAttributes(int from, int to)
{
    try {
        const std::vector<std::string> names = attributeNames(from);
        for (const std::string &name : names) {
            const std::vector<char> value = attributeValue(from, name);
            if (::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0)
                return false;
        }
        // A default ACL of the folder may have given the new file one the script lacks.
        for (const std::string &name : attributeNames(to)) {
            if (std::find(names.begin(), names.end(), name) == names.end() &&
                ::fremovexattr(to, name.c_str()) != 0)
                return false;
        }
    } catch (const FileError &) {
        return false;
    }
    return true;
}

} // namespace

struct stat posixfiles::statOf(int descriptor)
{
    struct stat status
    {
    };
    if (::fstat(descriptor, &status) != 0)
        fail(errno);
    return status;
}

namespace nativefiles {

FileIdentity identityOf(const NativeFile &file)
{
    return identityFrom(statOf(fd(file)));
}

std::optional<FileIdentity> identityAt(const NativeFolder &folder, const std::string &name,
                                       bool followLinks)
{
    struct stat status
    {
    };
    if (::fstatat(fd(folder), name.c_str(), &status, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return std::nullopt;
        fail(errno);
    }
    return identityFrom(status);
}

bool ownedByRunner(const FileIdentity &file)
{
    return file.owner == std::to_string(::geteuid());
}

bool ownedBySystem(const FileIdentity &file)
{
    return file.owner == "0";
}

bool giveIdentity(const NativeFile &made, const NativeFile &script)
{
    // Owner first: changing it may clear the set-id bits that the mode then restores.
    const struct stat original = statOf(fd(script));
    struct stat given
    {
    };
    return ::fchown(fd(made), original.st_uid, original.st_gid) == 0 &&
           ::fchmod(fd(made), original.st_mode & 07777) == 0 &&
           copyAttributes(fd(script), fd(made)) && ::fstat(fd(made), &given) == 0 &&
           given.st_uid == original.st_uid && given.st_gid == original.st_gid &&
           given.st_mode == original.st_mode;
}

} // namespace nativefiles
