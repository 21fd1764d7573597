#include "scriptreplacement.h"

#include "fileerror.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

namespace {

constexpr std::size_t kCopyChunk = std::size_t{1} << 20;
constexpr std::size_t kBlock = 4096;
// A large new text goes to the disk while it is written, and no more than this much of it waits
// in memory: the flush before the replacement then has little left to do, and a caller that
// answers a user between chunks is never held there for long.
constexpr std::uint64_t kWriteBackStep = std::uint64_t{8} << 20;
constexpr std::uint64_t kUnwrittenAllowed = std::uint64_t{32} << 20;
// Named temporary files of one run are ".dovezurad-<token>-<slot>": slots below kLinkSlot hold
// the pending scripts of a batch, kLinkSlot the one name an unnamed file gets just before its
// rename. A later start removes them all by these names, without listing any folder.
constexpr std::size_t kLinkSlot = 64;
constexpr const char *kRecordSuffix = ".registro";
constexpr const char *kRecoverySuffix = ".recuperar";

[[noreturn]] void fail(int systemError)
{
    throw FileError::fromErrno(systemError);
}

std::string tempName(const std::string &token, std::size_t slot)
{
    return ".dovezurad-" + token + "-" + std::to_string(slot);
}

std::string recoveryName(const std::string &token)
{
    return ".dovezurad-" + token + kRecoverySuffix;
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool sameTime(const timespec &a, const timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// What "nobody else changed it" means: the same file, with the same length and times.
bool unchangedSince(const struct stat &now, const struct stat &then)
{
    return sameFile(now, then) && now.st_size == then.st_size &&
           sameTime(now.st_mtim, then.st_mtim) && sameTime(now.st_ctim, then.st_ctim);
}

// Opens a folder; a path longer than the system's limit is walked one folder at a time.
// Returns an invalid descriptor with errno set on failure.
UniqueFd tryOpenFolder(const std::string &path)
{
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    UniqueFd folder(::open(path.c_str(), kFlags));
    if (folder || errno != ENAMETOOLONG)
        return folder;
    folder.reset(::open(path.front() == '/' ? "/" : ".", kFlags));
    std::size_t begin = 0;
    while (folder && begin < path.size()) {
        std::size_t end = path.find('/', begin);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(begin, end - begin);
        begin = end + 1;
        if (part.empty())
            continue;
        const int next = ::openat(folder.get(), part.c_str(), kFlags);
        const int error = errno;
        folder.reset(next);
        errno = error;
    }
    return folder;
}

UniqueFd openFolder(const std::string &path)
{
    UniqueFd folder = tryOpenFolder(path);
    if (!folder) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw FileError::pathNotFound();
        fail(errno);
    }
    return folder;
}

std::string descriptorPath(int fd)
{
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    std::string path(4096, '\0');
    const ssize_t length = ::readlink(link.c_str(), path.data(), path.size());
    if (length < 0)
        fail(errno);
    if (static_cast<std::size_t>(length) == path.size())
        fail(ENAMETOOLONG);
    path.resize(static_cast<std::size_t>(length));
    return path;
}

std::size_t readFull(int fd, unsigned char *data, std::size_t size, std::uint64_t offset)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, data + got, size - got, static_cast<off_t>(offset + got));
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

void writeAll(int fd, const unsigned char *data, std::size_t size, std::uint64_t offset)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
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

bool zeroBlock(const unsigned char *data)
{
    return data[0] == 0 && std::memcmp(data, data + 1, kBlock - 1) == 0;
}

// Writes into a fresh file, leaving whole blocks of zeros as holes so that a sparse script
// stays sparse; the file's length is set at the end.
void writeSkippingHoles(int fd, const unsigned char *data, std::size_t size, std::uint64_t offset)
{
    std::size_t run = 0;
    std::size_t i = 0;
    while (i < size) {
        const std::uint64_t position = offset + i;
        const std::size_t length =
            std::min<std::size_t>(size - i, kBlock - static_cast<std::size_t>(position % kBlock));
        if (length == kBlock && zeroBlock(data + i)) {
            writeAll(fd, data + run, i - run, offset + run);
            run = i + length;
        }
        i += length;
    }
    writeAll(fd, data + run, size - run, offset + run);
}

// Copies `length` bytes between two files by offset. False when the source ends sooner.
bool copyRange(int from, std::uint64_t fromOffset, int to, std::uint64_t toOffset,
               std::uint64_t length, bool keepHoles)
{
    std::vector<unsigned char> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(length, kCopyChunk)));
    for (std::uint64_t done = 0; done < length;) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(length - done, buffer.size()));
        if (readFull(from, buffer.data(), want, fromOffset + done) != want)
            return false;
        if (keepHoles)
            writeSkippingHoles(to, buffer.data(), want, toOffset + done);
        else
            writeAll(to, buffer.data(), want, toOffset + done);
        done += want;
    }
    return true;
}

void flushFolderFd(int fd)
{
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        fail(errno);
}

std::vector<std::string> attributeNames(int fd)
{
    std::vector<char> names;
    for (;;) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0) {
            if (errno == ENOTSUP)
                return {};
            fail(errno);
        }
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::flistxattr(fd, names.data(), names.size());
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

std::vector<char> attributeValue(int fd, const std::string &name)
{
    std::vector<char> value;
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
        if (size < 0)
            fail(errno);
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
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
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (const unsigned char byte : bytes) {
        token += kHex[byte >> 4];
        token += kHex[byte & 0xf];
    }
    return token;
}

// $XDG_STATE_HOME/dovezurad, by default ~/.local/state/dovezurad.
std::string stateFolderPath()
{
    if (const char *state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/')
        return std::string(state) + "/dovezurad";
    std::string home;
    if (const char *variable = std::getenv("HOME"); variable && variable[0] == '/') {
        home = variable;
    } else {
        std::array<char, 4096> buffer{};
        passwd entry{};
        passwd *found = nullptr;
        if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
            found == nullptr || found->pw_dir == nullptr)
            fail(ENOENT);
        home = found->pw_dir;
    }
    return home + "/.local/state/dovezurad";
}

UniqueFd openStateFolder(bool create)
{
    const std::string path = stateFolderPath();
    if (create) {
        for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
            const std::string part = path.substr(0, slash);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                fail(errno);
            if (slash == std::string::npos)
                break;
        }
    }
    UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder)
        fail(errno);
    return folder;
}

// The head of a recovery file. The new text follows at dataOffset(), to be copied over the
// script from `start` on; the script then ends at `newSize`.
struct RecoveryHeader
{
    char magic[8];
    // 0 while the recovery file may be incomplete; 1 once it is complete and flushed, from when
    // the script may be part old, part new text.
    std::uint8_t phase;
    std::uint8_t unused[7];
    std::uint64_t device;
    std::uint64_t inode;
    std::uint64_t start;
    std::uint64_t newSize;
    std::uint32_t nameLength;
    std::uint32_t folderLength;
};
constexpr char kRecoveryMagic[8] = {'D', 'Z', 'R', 'E', 'C', 'U', 'P', '1'};
constexpr std::uint64_t kPhaseOffset = offsetof(RecoveryHeader, phase);

RecoveryHeader recoveryHeader(const struct stat &script, std::uint64_t start, std::uint64_t newSize,
                              const std::string &name, const std::string &folder)
{
    RecoveryHeader header{};
    std::memcpy(header.magic, kRecoveryMagic, sizeof kRecoveryMagic);
    header.phase = 0;
    header.device = script.st_dev;
    header.inode = script.st_ino;
    header.start = start;
    header.newSize = newSize;
    header.nameLength = static_cast<std::uint32_t>(name.size());
    header.folderLength = static_cast<std::uint32_t>(folder.size());
    return header;
}

std::uint64_t dataOffset(const RecoveryHeader &header)
{
    const std::uint64_t used = sizeof header + header.nameLength + header.folderLength;
    return (used + kBlock - 1) / kBlock * kBlock;
}

// Copies the new text over the script and makes it last.
void copyBack(int recovery, std::uint64_t from, int script, std::uint64_t start,
              std::uint64_t newSize)
{
    if (!copyRange(recovery, from, script, start, newSize - start, false))
        fail(EIO);
    if (::ftruncate(script, static_cast<off_t>(newSize)) != 0 || ::fdatasync(script) != 0)
        fail(errno);
}

void discard(int folder, const std::string &name)
{
    ::unlinkat(folder, name.c_str(), 0);
    ::fsync(folder);
}

// Finishes the copy-back of an interrupted run, or drops its recovery file when the script was
// never touched or is no longer the same file. False when it must wait for a later start.
bool recover(int folder, const std::string &name)
{
    UniqueFd recovery(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!recovery)
        return errno == ENOENT;
    RecoveryHeader header{};
    std::string scriptName;
    std::string scriptFolder;
    try {
        if (readFull(recovery.get(), reinterpret_cast<unsigned char *>(&header), sizeof header,
                     0) != sizeof header ||
            std::memcmp(header.magic, kRecoveryMagic, sizeof kRecoveryMagic) != 0 ||
            header.phase != 1) {
            discard(folder, name); // the script was not touched yet
            return true;
        }
        scriptName.resize(header.nameLength);
        scriptFolder.resize(header.folderLength);
        readFull(recovery.get(), reinterpret_cast<unsigned char *>(scriptName.data()),
                 scriptName.size(), sizeof header);
        readFull(recovery.get(), reinterpret_cast<unsigned char *>(scriptFolder.data()),
                 scriptFolder.size(), sizeof header + scriptName.size());
    } catch (const FileError &) {
        return false;
    }

    UniqueFd targetFolder = tryOpenFolder(scriptFolder);
    if (!targetFolder) {
        if (errno != ENOENT && errno != ENOTDIR)
            return false;
        discard(folder, name);
        return true;
    }
    UniqueFd script(::openat(targetFolder.get(), scriptName.c_str(),
                             O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat found
    {
    };
    if (!script || ::fstat(script.get(), &found) != 0 || found.st_dev != header.device ||
        found.st_ino != header.inode) {
        if (!script && errno != ENOENT && errno != ELOOP)
            return false;
        discard(folder, name); // gone, or another file now has that name
        return true;
    }
    if (::flock(script.get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    try {
        copyBack(recovery.get(), dataOffset(header), script.get(), header.start, header.newSize);
    } catch (const FileError &) {
        return false;
    }
    discard(folder, name);
    return true;
}

// Cleans up after one run that is no longer alive; false when something must wait.
bool cleanUpAfter(int stateFolder, const std::string &token, int record)
{
    std::string folders;
    std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t n = ::read(record, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        folders.append(buffer.data(), static_cast<std::size_t>(n));
    }
    bool done = true;
    for (std::size_t begin = 0; begin < folders.size();) {
        std::size_t end = folders.find('\0', begin);
        if (end == std::string::npos)
            break; // cut short by a power cut: no name was made there yet
        const std::string path = folders.substr(begin, end - begin);
        begin = end + 1;
        UniqueFd folder = tryOpenFolder(path);
        if (!folder) {
            done = done && (errno == ENOENT || errno == ENOTDIR);
            continue;
        }
        for (std::size_t slot = 0; slot <= kLinkSlot; ++slot)
            ::unlinkat(folder.get(), tempName(token, slot).c_str(), 0);
        done = recover(folder.get(), recoveryName(token)) && done;
    }
    return recover(stateFolder, token + kRecoverySuffix) && done;
}

} // namespace

// The run's own file in the state folder, locked while the run lives: it names every folder
// where the run makes a name of its own, before it makes it. A record that nobody holds belongs
// to a run that died, and tells a later start where to look.
class RunRecord
{
public:
    RunRecord() : m_token(randomToken()) {}
    RunRecord(const RunRecord &) = delete;
    RunRecord &operator=(const RunRecord &) = delete;
    ~RunRecord() = default;

    const std::string &token() const { return m_token; }

    void note(const std::string &folderPath)
    {
        if (m_folders.contains(folderPath))
            return;
        if (!m_file) {
            m_stateFolder = openStateFolder(true);
            // Locked under a name no start looks at, then renamed: a record is never seen
            // unlocked while its run lives, so no other start takes it for a dead run's.
            const std::string name = m_token + kRecordSuffix;
            const std::string unlockedName = m_token + ".nuevo";
            UniqueFd file(::openat(m_stateFolder.get(), unlockedName.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600));
            if (!file)
                fail(errno);
            if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0 ||
                ::renameat(m_stateFolder.get(), unlockedName.c_str(), m_stateFolder.get(),
                           name.c_str()) != 0) {
                const int error = errno;
                ::unlinkat(m_stateFolder.get(), unlockedName.c_str(), 0);
                fail(error);
            }
            flushFolderFd(m_stateFolder.get());
            m_file = std::move(file);
        }
        const std::string entry = folderPath + '\0';
        if (::write(m_file.get(), entry.data(), entry.size()) !=
                static_cast<ssize_t>(entry.size()) ||
            ::fdatasync(m_file.get()) != 0)
            fail(errno);
        m_folders.insert(folderPath);
    }

    UniqueFd stateFolder()
    {
        if (!m_stateFolder)
            m_stateFolder = openStateFolder(true);
        UniqueFd copy(::fcntl(m_stateFolder.get(), F_DUPFD_CLOEXEC, 0));
        if (!copy)
            fail(errno);
        return copy;
    }

    void remove() noexcept
    {
        if (m_file)
            ::unlinkat(m_stateFolder.get(), (m_token + kRecordSuffix).c_str(), 0);
    }

private:
    std::string m_token;
    UniqueFd m_stateFolder;
    UniqueFd m_file;
    std::set<std::string> m_folders;
};

void finishInterruptedRewrites() noexcept
{
    try {
        UniqueFd state = openStateFolder(false);
        const int listing = ::fcntl(state.get(), F_DUPFD_CLOEXEC, 0);
        DIR *raw = listing >= 0 ? ::fdopendir(listing) : nullptr;
        if (raw == nullptr) {
            if (listing >= 0)
                ::close(listing);
            return;
        }
        const auto closeFolder = [](DIR *open) { ::closedir(open); };
        std::unique_ptr<DIR, decltype(closeFolder)> folder(raw, closeFolder);
        std::vector<std::string> records;
        while (const dirent *entry = ::readdir(folder.get())) {
            const std::string name = entry->d_name;
            if (name.size() > std::strlen(kRecordSuffix) && name.ends_with(kRecordSuffix))
                records.push_back(name);
        }
        for (const std::string &name : records) {
            UniqueFd record(::openat(state.get(), name.c_str(), O_RDONLY | O_CLOEXEC));
            if (!record || ::flock(record.get(), LOCK_EX | LOCK_NB) != 0)
                continue; // its run is still alive
            const std::string token = name.substr(0, name.size() - std::strlen(kRecordSuffix));
            if (cleanUpAfter(state.get(), token, record.get()))
                ::unlinkat(state.get(), name.c_str(), 0);
        }
    } catch (...) {
        // Nothing to clean up, or not now: a later start tries again.
    }
}

ScriptReplacement::ScriptReplacement(ReplacementRun &run, const std::string &folder,
                                     const std::string &name)
    : m_run(run)
{
    open(folder, name);
}

ScriptReplacement::~ScriptReplacement()
{
    if (m_committed || m_outputName.empty())
        return;
    ::unlinkat(m_outputFolder, m_outputName.c_str(), 0);
}

void ScriptReplacement::open(const std::string &folder, const std::string &name)
{
    if (folder.empty())
        throw FileError::pathNotFound();
    UniqueFd folderFd = openFolder(folder);
    const auto notFound = [](int error) {
        if (error == ENOENT)
            return FileError::fileNotFound();
        if (error == ENOTDIR)
            return FileError::pathNotFound();
        return FileError::fromErrno(error);
    };

    // Looked at before opening: opening a FIFO would block and opening a device may act on it.
    if (::fstatat(folderFd.get(), name.c_str(), &m_original, 0) != 0)
        throw notFound(errno);
    if (!S_ISREG(m_original.st_mode))
        throw FileError::accessError();
    m_input.reset(
        ::openat(folderFd.get(), name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!m_input)
        throw notFound(errno);
    if (m_run.m_hooks.afterOpen)
        m_run.m_hooks.afterOpen();
    if (::fstat(m_input.get(), &m_original) != 0)
        fail(errno);
    if (!S_ISREG(m_original.st_mode))
        throw FileError::accessError();
    // A script marked read-only stays so, even for a user the system would let write it.
    if ((m_original.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        throw FileError::accessError();

    // The file written is the file that was read: a link is followed through the open file,
    // not through its name, which may point elsewhere by now.
    struct stat named
    {
    };
    if (::fstatat(folderFd.get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
        fail(errno);
    if (S_ISLNK(named.st_mode)) {
        const std::string path = descriptorPath(m_input.get());
        const auto slash = path.find_last_of('/');
        m_targetFolderPath = slash == 0 ? "/" : path.substr(0, slash);
        m_targetName = path.substr(slash + 1);
        m_targetFolder = openFolder(m_targetFolderPath);
        if (::fstatat(m_targetFolder.get(), m_targetName.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
            fail(errno);
    } else {
        m_targetFolder = std::move(folderFd);
        m_targetName = name;
        m_targetFolderPath = folder;
    }
    if (!sameFile(named, m_original))
        throw FileError::heldByAnotherProgram();
    if (::faccessat(m_targetFolder.get(), m_targetName.c_str(), W_OK, AT_EACCESS) != 0)
        fail(errno);

    if (m_run.m_seen.contains({m_original.st_dev, m_original.st_ino})) {
        m_alreadyDone = true;
        return;
    }
    // A second run over the same folder waits for nobody: the script is reported as held.
    if (::flock(m_input.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            throw FileError::heldByAnotherProgram();
        fail(errno);
    }
    m_run.m_seen.insert({m_original.st_dev, m_original.st_ino});
}

std::size_t ScriptReplacement::read(unsigned char *data, std::size_t size)
{
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, this->size() - m_readOffset));
    if (readFull(m_input.get(), data, wanted, m_readOffset) != wanted)
        throw FileError::heldByAnotherProgram(); // another program cut it short
    m_readOffset += wanted;
    return wanted;
}

void ScriptReplacement::startOutput(std::uint64_t prefix)
{
    m_start = prefix;
    if (m_original.st_nlink == 1 && tryRenamePath()) {
        m_path = Path::Rename;
        if (!copyRange(m_input.get(), 0, m_output.get(), 0, prefix, true))
            throw FileError::heldByAnotherProgram(); // another program cut it short
    } else {
        startCopyBack();
    }
}

bool ScriptReplacement::tryRenamePath()
{
    const int folder = m_targetFolder.get();
    if (!m_run.m_hooks.noUnnamedFiles)
        m_output.reset(::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!m_output) {
        if (!m_run.m_hooks.noUnnamedFiles && errno != EOPNOTSUPP && errno != EISDIR &&
            errno != EINVAL) {
            if (errno == EACCES || errno == EPERM)
                return false;
            fail(errno);
        }
        const std::string name = tempName(m_run.record().token(), m_run.freeSlot());
        m_run.record().note(targetFolderPath());
        m_output.reset(::openat(folder, name.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!m_output) {
            if (errno == EACCES || errno == EPERM)
                return false;
            fail(errno);
        }
        m_outputName = name;
        m_outputFolder = folder;
    }

    // Owner first: changing it may clear the set-id bits that the mode then restores. Whatever
    // part of the identity the new file cannot carry sends the script down the copy-back path.
    struct stat made
    {
    };
    const bool identity = ::fchown(m_output.get(), m_original.st_uid, m_original.st_gid) == 0 &&
                          ::fchmod(m_output.get(), m_original.st_mode & 07777) == 0 &&
                          copyAttributes(m_input.get(), m_output.get()) &&
                          ::fstat(m_output.get(), &made) == 0 && made.st_uid == m_original.st_uid &&
                          made.st_gid == m_original.st_gid && made.st_mode == m_original.st_mode;
    if (identity)
        return true;
    if (!m_outputName.empty())
        ::unlinkat(m_outputFolder, m_outputName.c_str(), 0);
    m_outputName.clear();
    m_output.reset();
    return false;
}

void ScriptReplacement::startCopyBack()
{
    m_path = Path::CopyBack;
    RunRecord &record = m_run.record();
    const std::string &folderPath = targetFolderPath();
    record.note(folderPath);
    std::string name = recoveryName(record.token());
    constexpr int kFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    m_output.reset(::openat(m_targetFolder.get(), name.c_str(), kFlags, 0600));
    m_outputFolder = m_targetFolder.get();
    if (!m_output && (errno == EACCES || errno == EPERM)) {
        // A folder we cannot write: the recovery file goes to the user's own state folder.
        m_stateFolder = record.stateFolder();
        name = record.token() + kRecoverySuffix;
        m_output.reset(::openat(m_stateFolder.get(), name.c_str(), kFlags, 0600));
        m_outputFolder = m_stateFolder.get();
    }
    if (!m_output)
        fail(errno);
    m_outputName = name;

    m_dataOffset = dataOffset(recoveryHeader(m_original, m_start, 0, m_targetName, folderPath));
}

void ScriptReplacement::write(const unsigned char *data, std::size_t size, std::uint64_t offset)
{
    if (m_path == Path::Rename) {
        writeSkippingHoles(m_output.get(), data, size, offset);
        writeBack(offset + size);
    } else {
        const std::uint64_t at = m_dataOffset + (offset - m_start);
        writeAll(m_output.get(), data, size, at);
        writeBack(at + size);
    }
}

void ScriptReplacement::writeBack(std::uint64_t end)
{
    if (end < m_writeBackStarted + kWriteBackStep)
        return;
    const int fd = m_output.get();
    if (::sync_file_range(fd, static_cast<off_t>(m_writeBackStarted),
                          static_cast<off_t>(end - m_writeBackStarted), SYNC_FILE_RANGE_WRITE) != 0)
        fail(errno);
    m_writeBackStarted = end;
    if (end <= m_writtenBack + kUnwrittenAllowed)
        return;
    const std::uint64_t upTo = end - kUnwrittenAllowed;
    if (::sync_file_range(
            fd, static_cast<off_t>(m_writtenBack), static_cast<off_t>(upTo - m_writtenBack),
            SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER) != 0)
        fail(errno);
    m_writtenBack = upTo;
}

void ScriptReplacement::endOutput(std::uint64_t size)
{
    m_newSize = size;
    if (m_path == Path::Rename) {
        if (::ftruncate(m_output.get(), static_cast<off_t>(size)) != 0)
            fail(errno);
        return;
    }
    const RecoveryHeader header =
        recoveryHeader(m_original, m_start, size, m_targetName, m_targetFolderPath);
    std::string head(reinterpret_cast<const char *>(&header), sizeof header);
    head += m_targetName;
    head += m_targetFolderPath;
    writeAll(m_output.get(), reinterpret_cast<const unsigned char *>(head.data()), head.size(), 0);
}

void ScriptReplacement::checkWritten()
{
    // After the file system's flush: waits for this file's own writing and hears of its errors.
    if (::sync_file_range(m_output.get(), 0, 0,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                              SYNC_FILE_RANGE_WAIT_AFTER) != 0)
        fail(errno);
}

void ScriptReplacement::flushData()
{
    if (::fdatasync(m_output.get()) != 0)
        fail(errno);
    // The recovery file's name must outlast a power cut before the script is touched.
    if (m_path == Path::CopyBack)
        flushFolderFd(m_outputFolder);
}

void ScriptReplacement::checkUnchanged() const
{
    struct stat now
    {
    };
    struct stat named
    {
    };
    if (::fstat(m_input.get(), &now) != 0)
        fail(errno);
    if (!unchangedSince(now, m_original) ||
        ::fstatat(m_targetFolder.get(), m_targetName.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !sameFile(named, m_original))
        throw FileError::heldByAnotherProgram();
}

void ScriptReplacement::commit()
{
    if (m_run.m_hooks.beforeReplace)
        m_run.m_hooks.beforeReplace();
    checkUnchanged();
    if (m_path == Path::Rename)
        commitRename();
    else
        commitCopyBack();
    m_committed = true;
}

void ScriptReplacement::commitRename()
{
    const int folder = m_targetFolder.get();
    if (m_outputName.empty()) {
        const std::string name = tempName(m_run.record().token(), kLinkSlot);
        try {
            m_run.record().note(targetFolderPath());
        } catch (const FileError &) {
            // Without a record a kill in the next instant may leave this one name behind; the
            // rewrite itself is still safe.
        }
        const std::string self = "/proc/self/fd/" + std::to_string(m_output.get());
        if (::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) != 0 &&
            ::linkat(m_output.get(), "", folder, name.c_str(), AT_EMPTY_PATH) != 0)
            fail(errno);
        m_outputName = name;
        m_outputFolder = folder;
    }
    if (::renameat(folder, m_outputName.c_str(), folder, m_targetName.c_str()) != 0)
        fail(errno); // the destructor removes the name
    m_outputName.clear();
    struct stat made
    {
    };
    if (::fstat(m_output.get(), &made) == 0)
        m_run.m_seen.insert({made.st_dev, made.st_ino});
    m_run.flushLater(folder);
    if (m_run.m_closer)
        m_run.m_closer->close(std::move(m_input));
}

void ScriptReplacement::commitCopyBack()
{
    UniqueFd script(::openat(m_targetFolder.get(), m_targetName.c_str(),
                             O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat found
    {
    };
    if (!script || ::fstat(script.get(), &found) != 0)
        fail(errno);
    if (!sameFile(found, m_original))
        throw FileError::heldByAnotherProgram();

    const std::uint8_t complete = 1;
    writeAll(m_output.get(), &complete, 1, kPhaseOffset);
    if (::fdatasync(m_output.get()) != 0)
        fail(errno);
    // From here a failure leaves the recovery file, and the run's record, for the next start.
    m_run.m_keepRecord = true;
    const std::string name = m_outputName;
    m_outputName.clear();
    copyBack(m_output.get(), m_dataOffset, script.get(), m_start, m_newSize);
    ::unlinkat(m_outputFolder, name.c_str(), 0);
    m_run.m_keepRecord = false;
    m_run.flushLater(m_outputFolder);
}

const std::string &ScriptReplacement::targetFolderPath()
{
    if (m_targetFolderPath.empty() || m_targetFolderPath.front() != '/')
        m_targetFolderPath = descriptorPath(m_targetFolder.get());
    return m_targetFolderPath;
}

BackgroundCloser::BackgroundCloser(std::size_t threads)
{
    for (std::size_t i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

BackgroundCloser::~BackgroundCloser()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

void BackgroundCloser::close(UniqueFd fd)
{
    // Past a few hundred waiting, the caller closes its own: the limit of open files is near.
    constexpr std::size_t kMostWaiting = 256;
    {
        const std::lock_guard lock(m_mutex);
        if (m_queue.size() < kMostWaiting) {
            m_queue.push_back(std::move(fd));
            m_wake.notify_one();
            return;
        }
    }
    fd.reset();
}

void BackgroundCloser::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty())
            return;
        UniqueFd fd = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        fd.reset();
        lock.lock();
    }
}

ReplacementRun::ReplacementRun(std::size_t batchSize, ReplacementHooks hooks)
    : m_hooks(std::move(hooks)), m_batchSize(std::clamp<std::size_t>(batchSize, 1, kLinkSlot))
{
    // Past a file-size limit a write fails with EFBIG, reported as a full disk, instead of the
    // signal ending the program with the script half-written.
    std::signal(SIGXFSZ, SIG_IGN);
    finishInterruptedRewrites();
    if (m_batchSize > 1)
        m_closer = std::make_unique<BackgroundCloser>(4);
}

ReplacementRun::~ReplacementRun()
{
    try {
        settle();
    } catch (...) {
        // The run already ended another way; its own outcome is what counts.
    }
    try {
        flushFolders();
    } catch (...) {
    }
    dropRecord();
}

std::unique_ptr<ScriptReplacement> ReplacementRun::open(const std::string &folder,
                                                        const std::string &name)
{
    auto script = std::make_unique<ScriptReplacement>(*this, folder, name);
    if (script->m_alreadyDone)
        return nullptr;
    return script;
}

void ReplacementRun::replace(std::unique_ptr<ScriptReplacement> script)
{
    if (!script->outputStarted())
        return;
    if (m_batchSize <= 1 || script->m_path == ScriptReplacement::Path::CopyBack) {
        settle();
        script->flushData();
        script->commit();
        return;
    }
    m_pending.push_back(std::move(script));
    if (m_pending.size() >= m_batchSize)
        settle();
}

void ReplacementRun::settle()
{
    auto pending = std::move(m_pending);
    m_pending.clear();
    if (pending.empty())
        return;
    // One flush of the file system writes every new text of the batch with a single wait for
    // the disk; flushing them one by one waits for it once a script.
    if (pending.size() > 1) {
        std::set<dev_t> synced; // a link may lead to another file system
        for (const auto &script : pending) {
            if (synced.insert(script->m_original.st_dev).second &&
                ::syncfs(script->m_output.get()) != 0)
                fail(errno);
        }
    }
    std::size_t flushed = 0;
    std::exception_ptr flushFailure;
    try {
        for (const auto &script : pending) {
            if (pending.size() > 1)
                script->checkWritten();
            else
                script->flushData();
            ++flushed;
        }
    } catch (...) {
        flushFailure = std::current_exception();
    }
    // Each rename follows its own script's flush; a failure leaves the later ones as they were.
    for (std::size_t i = 0; i < flushed; ++i)
        pending[i]->commit();
    if (flushFailure)
        std::rethrow_exception(flushFailure);
}

void ReplacementRun::finish()
{
    settle();
    flushFolders();
    dropRecord();
}

void ReplacementRun::flushLater(int folder)
{
    struct stat folderStat
    {
    };
    if (::fstat(folder, &folderStat) != 0)
        fail(errno);
    const std::pair key{folderStat.st_dev, folderStat.st_ino};
    if (m_foldersToFlush.contains(key))
        return;
    UniqueFd copy(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (!copy)
        fail(errno);
    m_foldersToFlush.emplace(key, std::move(copy));
}

void ReplacementRun::flushFolders()
{
    auto folders = std::move(m_foldersToFlush);
    m_foldersToFlush.clear();
    for (const auto &[key, folder] : folders)
        flushFolderFd(folder.get());
}

void ReplacementRun::dropRecord() noexcept
{
    if (m_record && !m_keepRecord)
        m_record->remove();
    m_record.reset();
}

RunRecord &ReplacementRun::record()
{
    if (!m_record)
        m_record = std::make_unique<RunRecord>();
    return *m_record;
}

std::size_t ReplacementRun::freeSlot() const
{
    return m_pending.size();
}
