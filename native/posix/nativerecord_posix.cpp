// The run's private place and record on POSIX: a 0700 folder of the user's, and a record that
// shows its run alive by its flock, which the system drops when the run dies.
#include "nativefiles.h"

#include "fileerror.h"
#include "posixfiles.h"
#include "recordbytes.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <memory>

using namespace posixfiles;

namespace {

// What a record is made under where the file system has no unnamed files, until it is locked.
constexpr const char *kUnlockedSuffix = ".nuevo";
// How many files a process is taken to have open where the system does not tell.
constexpr std::uint64_t kGuessedOpenFiles = 16;

std::string absoluteVariable(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

std::string home()
{
    std::string path = absoluteVariable("HOME");
    if (path.empty()) {
        std::array<char, 4096> buffer{};
        passwd entry{};
        passwd *found = nullptr;
        if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
            path = found->pw_dir;
    }
    return path;
}

// Every entry of a folder but "." and "..", with whether it is a folder.
template <typename Visit> void forEachEntry(const NativeFolder &folder, Visit visit)
{
    const int listing = ::fcntl(fd(folder), F_DUPFD_CLOEXEC, 0);
    DIR *raw = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (raw == nullptr) {
        const int error = errno;
        if (listing >= 0)
            ::close(listing);
        fail(error);
    }
    const std::unique_ptr<DIR, int (*)(DIR *)> open(raw, ::closedir);
    ::rewinddir(raw);
    while (const dirent *entry = ::readdir(raw)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat status
            {
            };
            isFolder = ::fstatat(fd(folder), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(status.st_mode);
        }
        visit(name, isFolder);
    }
}

} // namespace

namespace nativefiles {

std::vector<std::string> privateFolderCandidates()
{
    // The user's state folder, the session's runtime folder, and a folder of the user's own
    // among the temporary files.
    std::vector<std::string> paths;
    if (std::string state = absoluteVariable("XDG_STATE_HOME"); !state.empty())
        paths.push_back(state + "/dovezurad");
    else if (std::string folder = home(); !folder.empty())
        paths.push_back(folder + "/.local/state/dovezurad");
    if (std::string runtime = absoluteVariable("XDG_RUNTIME_DIR"); !runtime.empty())
        paths.push_back(runtime + "/dovezurad");
    const std::string temporary = absoluteVariable("TMPDIR");
    paths.push_back((temporary.empty() ? std::string("/tmp") : temporary) + "/dovezurad-" +
                    std::to_string(::geteuid()));
    return paths;
}

std::optional<NativeFolder> openPrivateFolder(const std::string &path, bool create)
{
    if (create) {
        for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
             slash = path.find('/', slash + 1))
            ::mkdir(path.substr(0, slash).c_str(), 0700);
        ::mkdir(path.c_str(), 0700);
    }
    NativeFile folder =
        adopt(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder)
        return std::nullopt;
    return NativeFolder{std::move(folder), path};
}

NativeFile createLockedRecord(const NativeFolder &folder, const std::string &name)
{
    // Locked before it has its name.
    NativeFile record = adopt(::openat(fd(folder), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (record) {
        if (::flock(fd(record), LOCK_EX | LOCK_NB) != 0)
            fail(errno);
        const std::string self = "/proc/self/fd/" + std::to_string(fd(record));
        if (::linkat(AT_FDCWD, self.c_str(), fd(folder), name.c_str(), AT_SYMLINK_FOLLOW) != 0 &&
            (errno == EEXIST ||
             ::linkat(fd(record), "", fd(folder), name.c_str(), AT_EMPTY_PATH) != 0))
            fail(errno);
        return record;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        fail(errno);
    // Without unnamed files: made under a name no start reads, and named once locked. The
    // folder's shared lock keeps a start from removing that name meanwhile.
    while (::flock(fd(folder), LOCK_SH) != 0)
        if (errno != EINTR)
            fail(errno);
    const std::string unlocked = name + kUnlockedSuffix;
    record = adopt(::openat(fd(folder), unlocked.c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    const int error = errno;
    try {
        if (!record)
            fail(error);
        if (::flock(fd(record), LOCK_EX | LOCK_NB) != 0)
            fail(errno);
        renameNoReplace(folder, unlocked, name);
    } catch (...) {
        if (record)
            ::unlinkat(fd(folder), unlocked.c_str(), 0);
        ::flock(fd(folder), LOCK_UN);
        throw;
    }
    ::flock(fd(folder), LOCK_UN);
    return record;
}

void removeUnfinishedRecords(const NativeFolder &folder)
{
    // While no run is making one: each holds the folder's shared lock meanwhile.
    if (::flock(fd(folder), LOCK_EX | LOCK_NB) != 0)
        return;
    try {
        for (const std::string &name : namesEndingWith(folder, kUnlockedSuffix)) {
            const std::optional<FileIdentity> found = identityAt(folder, name, false);
            if (found && found->kind == FileIdentity::Kind::Regular && ownedByRunner(*found) &&
                found->links == 1)
                removeName(folder, name);
        }
    } catch (...) {
        ::flock(fd(folder), LOCK_UN);
        throw;
    }
    ::flock(fd(folder), LOCK_UN);
}

NativeFile takeDeadRecord(const NativeFolder &folder, const std::string &name)
{
    NativeFile record =
        adopt(::openat(fd(folder), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (record && ::flock(fd(record), LOCK_EX | LOCK_NB) != 0)
        record.reset(); // its run is alive
    return record;
}

std::vector<std::string> namesEndingWith(const NativeFolder &folder, const std::string &suffix)
{
    std::vector<std::string> names;
    forEachEntry(folder, [&](const std::string &name, bool isFolder) {
        if (!isFolder && name.size() > suffix.size() && name.ends_with(suffix))
            names.push_back(name);
    });
    return names;
}

std::vector<std::string> namesIn(const NativeFolder &folder, bool folders)
{
    std::vector<std::string> names;
    forEachEntry(folder, [&](const std::string &name, bool isFolder) {
        if (isFolder == folders)
            names.push_back(name);
    });
    return names;
}

std::string randomToken()
{
    std::array<unsigned char, 8> bytes{};
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        got += static_cast<std::size_t>(n);
    }
    return recordbytes::hexDigits(bytes.data(), bytes.size());
}

std::size_t openFileRoom()
{
    rlimit files{};
    const std::uint64_t limit =
        ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
            ? files.rlim_cur
            : std::uint64_t{1} << 20;
    std::uint64_t open = kGuessedOpenFiles;
    if (DIR *listing = ::opendir("/proc/self/fd")) {
        open = 0;
        while (const dirent *entry = ::readdir(listing))
            open += entry->d_name[0] != '.' ? 1 : 0;
        ::closedir(listing);
        open = open > 0 ? open - 1 : 0; // the listing's own
    }
    return static_cast<std::size_t>(limit > open ? limit - open : 0);
}

std::size_t allowOpenFiles(std::size_t room)
{
    const std::size_t now = openFileRoom();
    rlimit files{};
    if (now >= room || ::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur >= files.rlim_max)
        return now;
    const rlim_t more = std::min<rlim_t>(files.rlim_max - files.rlim_cur, room - now);
    files.rlim_cur += more;
    // Where it cannot be raised, the run holds fewer scripts at once.
    return ::setrlimit(RLIMIT_NOFILE, &files) == 0 ? now + static_cast<std::size_t>(more) : now;
}

void ignoreFileSizeSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace nativefiles
