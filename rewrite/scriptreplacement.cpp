#include "scriptreplacement.h"

#include "fileerror.h"
#include "fileoperations.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
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
constexpr std::size_t kBlock = kRecoveryBlock;
// A large new text goes to the disk while it is written, and no more than this much of it waits
// in memory: the flush before the replacement then has little left to do, and a caller that
// answers a user between chunks is never held there for long.
constexpr std::uint64_t kWriteBackStep = std::uint64_t{8} << 20;
constexpr std::uint64_t kUnwrittenAllowed = std::uint64_t{32} << 20;
constexpr const char *kRecoverySuffix = ".recuperar";
// Open files a run may need besides its batch: the script under way, its folder and new file,
// a copy-back's script and recovery folder, the record and its folder, folders to flush, and
// what the recovery at its start opens.
constexpr std::uint64_t kReservedFiles = 16;
constexpr std::size_t kFilesPerPendingScript = 3; // the script, its folder and its new file
constexpr std::size_t kMostWaitingCloses = 256;

[[noreturn]] void fail(int systemError)
{
    failWith(systemError);
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

// The files this process has open now; a guess where the system does not tell.
std::uint64_t openFileCount()
{
    DIR *listing = ::opendir("/proc/self/fd");
    if (listing == nullptr)
        return kReservedFiles;
    std::uint64_t count = 0;
    while (const dirent *entry = ::readdir(listing))
        count += entry->d_name[0] != '.' ? 1 : 0;
    ::closedir(listing);
    return count > 0 ? count - 1 : 0; // the listing's own
}

} // namespace

DescriptorBudget descriptorBudget(std::uint64_t limit, std::uint64_t open, std::size_t batch)
{
    const std::uint64_t free = limit > open + kReservedFiles ? limit - open - kReservedFiles : 0;
    // Each pending script holds its files and, once replaced, may leave its old file to close.
    const auto fits = static_cast<std::size_t>(
        std::min<std::uint64_t>(free / (kFilesPerPendingScript + 1), batch));
    DescriptorBudget budget;
    budget.batch = std::max<std::size_t>(fits, 1);
    const std::uint64_t left = free > budget.batch * kFilesPerPendingScript
                                   ? free - budget.batch * kFilesPerPendingScript
                                   : 0;
    budget.waitingCloses =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, kMostWaitingCloses));
    return budget;
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
        // Another user's link may lead into the runner's private files.
        if (!mayFollowLink(named.st_uid, m_original.st_uid, ::geteuid()))
            throw FileError::heldByAnotherProgram();
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
    if (m_path == Path::CopyBack)
        sumOldBytes(data, wanted, m_readOffset);
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
        const std::string name = m_run.record().temporaryName(m_run.freeSlot());
        noteTargetFolder();
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
    // Unpredictable, so that nobody who watches the folder can have the name ready first.
    const std::string name = ".dovezurad-" + randomHex(8) + kRecoverySuffix;
    constexpr int kFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    m_recoveryPlace = {false, targetFolderPath(), name};
    record.noteRecoveryPlace(m_recoveryPlace);
    m_output.reset(::openat(m_targetFolder.get(), name.c_str(), kFlags, 0600));
    m_outputFolder = m_targetFolder.get();
    if (!m_output && (errno == EACCES || errno == EPERM)) {
        // A folder we cannot write: the recovery file goes to the run's private folder.
        m_recoveryPlace = {true, {}, name};
        record.noteRecoveryPlace(m_recoveryPlace);
        m_output.reset(::openat(record.stateFolder(), name.c_str(), kFlags, 0600));
        m_outputFolder = record.stateFolder();
    }
    if (!m_output)
        fail(errno);
    m_outputName = name;
    m_dataOffset = recoveryHeader().dataOffset();

    // The old bytes from the first difference on are known by their checksums, so that a later
    // start can tell them from anything written over the script after a kill. The ones already
    // read are read again.
    m_summedTo = m_start;
    std::vector<unsigned char> buffer(kCopyChunk);
    for (std::uint64_t at = m_start; at < m_readOffset;) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(m_readOffset - at, buffer.size()));
        if (readFull(m_input.get(), buffer.data(), want, at) != want)
            throw FileError::heldByAnotherProgram();
        sumOldBytes(buffer.data(), want, at);
        at += want;
    }
}

void ScriptReplacement::sumOldBytes(const unsigned char *data, std::size_t size,
                                    std::uint64_t offset)
{
    const std::uint64_t end = offset + size;
    std::uint64_t at = std::max(offset, m_summedTo);
    while (at < end) {
        const std::uint64_t blockEnd = std::min((at / kBlock + 1) * kBlock, this->size());
        const std::uint64_t upTo = std::min(blockEnd, end);
        const unsigned char *bytes = data + (at - offset);
        const auto length = static_cast<std::size_t>(upTo - at);
        if (m_oldBlock.empty() && upTo == blockEnd) {
            m_oldChecksums.push_back(blockChecksum({bytes, length}));
        } else {
            m_oldBlock.append(reinterpret_cast<const char *>(bytes), length);
            if (upTo == blockEnd) {
                m_oldChecksums.push_back(
                    blockChecksum({reinterpret_cast<const unsigned char *>(m_oldBlock.data()),
                                   m_oldBlock.size()}));
                m_oldBlock.clear();
            }
        }
        at = upTo;
    }
    m_summedTo = std::max(m_summedTo, end);
}

RecoveryHeader ScriptReplacement::recoveryHeader() const
{
    RecoveryHeader header;
    header.script = {static_cast<std::uint64_t>(m_original.st_dev),
                     static_cast<std::uint64_t>(m_original.st_ino)};
    header.start = m_start;
    header.newSize = m_newSize;
    header.oldSize = size();
    header.name = m_targetName;
    header.folder = m_canonicalFolderPath;
    header.oldChecksums = m_oldChecksums;
    header.oldChecksums.resize(oldBlockCount(m_start, size()));
    return header;
}

void ScriptReplacement::write(const unsigned char *data, std::size_t size, std::uint64_t offset)
{
    // Both files are in line with the script's blocks: whole blocks of zeros stay holes.
    const std::uint64_t at = m_path == Path::Rename ? offset : m_dataOffset + (offset - m_start);
    writeSkippingHoles(m_output.get(), data, size, at);
    writeBack(at + size);
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
    if (m_oldChecksums.size() != oldBlockCount(m_start, this->size()))
        throw FileError::heldByAnotherProgram(); // the script was not read to its end
    RecoveryHeader header = recoveryHeader();
    if (size < this->size()) {
        // The old bytes after the new end, in its block: a copy-back cut short leaves them there.
        std::array<unsigned char, kBlock> tail{};
        const auto length =
            static_cast<std::size_t>(std::min((size / kBlock + 1) * kBlock, this->size()) - size);
        if (readFull(m_input.get(), tail.data(), length, size) != length)
            throw FileError::heldByAnotherProgram();
        header.oldTailChecksum = blockChecksum({tail.data(), length});
    }
    const std::string head = header.encode();
    writeAll(m_output.get(), reinterpret_cast<const unsigned char *>(head.data()), head.size(), 0);
    if (::ftruncate(m_output.get(), static_cast<off_t>(m_dataOffset + (size - m_start))) != 0)
        fail(errno);
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
    // Everything that may wait comes first, so that the check below is the last thing before
    // the replacement; if it fails, the destructor removes what was prepared.
    if (m_path == Path::Rename)
        prepareRename();
    else
        prepareCopyBack();
    if (m_run.m_hooks.beforeReplace)
        m_run.m_hooks.beforeReplace();
    checkUnchanged();
    if (m_path == Path::Rename)
        commitRename();
    else
        commitCopyBack();
    m_committed = true;
}

void ScriptReplacement::prepareRename()
{
    if (!m_outputName.empty())
        return;
    const int folder = m_targetFolder.get();
    const std::string name = m_run.linkName();
    try {
        noteTargetFolder();
    } catch (const FileError &) {
        // Without a record a kill in the next instant may leave this one name behind; the
        // rewrite itself is still safe.
    }
    const std::string self = "/proc/self/fd/" + std::to_string(m_output.get());
    if (::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) != 0 &&
        (errno == EEXIST || ::linkat(m_output.get(), "", folder, name.c_str(), AT_EMPTY_PATH) != 0))
        fail(errno); // a name made by another, before us: never ours to use
    m_outputName = name;
    m_outputFolder = folder;
}

void ScriptReplacement::prepareCopyBack()
{
    m_script.reset(::openat(m_targetFolder.get(), m_targetName.c_str(),
                            O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat found
    {
    };
    if (!m_script || ::fstat(m_script.get(), &found) != 0)
        fail(errno);
    if (!sameFile(found, m_original))
        throw FileError::heldByAnotherProgram();
    struct stat recovery
    {
    };
    if (::fstat(m_output.get(), &recovery) != 0)
        fail(errno);
    m_run.record().noteCopyBack({m_canonicalFolderPath,
                                 m_targetName,
                                 {static_cast<std::uint64_t>(m_original.st_dev),
                                  static_cast<std::uint64_t>(m_original.st_ino)},
                                 m_recoveryPlace,
                                 {static_cast<std::uint64_t>(recovery.st_dev),
                                  static_cast<std::uint64_t>(recovery.st_ino)}});
    const std::uint8_t complete = 1;
    writeAll(m_output.get(), &complete, 1, kRecoveryPhaseOffset);
    if (::fdatasync(m_output.get()) != 0)
        fail(errno);
}

void ScriptReplacement::commitRename()
{
    const int folder = m_targetFolder.get();
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
    // From here a failure leaves the recovery file, and the run's record, for the next start.
    m_run.m_keepRecord = true;
    const std::string name = m_outputName;
    m_outputName.clear();
    if (!copyOver(m_output.get(), m_dataOffset, m_script.get(), m_input.get(), m_start,
                  m_newSize - m_start))
        fail(EIO);
    if (::ftruncate(m_script.get(), static_cast<off_t>(m_newSize)) != 0 ||
        ::fdatasync(m_script.get()) != 0)
        fail(errno);
    ::unlinkat(m_outputFolder, name.c_str(), 0);
    m_run.m_keepRecord = false;
    m_run.flushLater(m_outputFolder);
}

void ScriptReplacement::noteTargetFolder()
{
    // Once a folder, known by its identity: its path costs more to learn.
    struct stat folder
    {
    };
    if (::fstat(m_targetFolder.get(), &folder) != 0)
        fail(errno);
    const std::pair key{folder.st_dev, folder.st_ino};
    if (m_run.m_notedFolders.contains(key))
        return;
    m_run.record().noteFolder(targetFolderPath());
    m_run.m_notedFolders.insert(key);
}

const std::string &ScriptReplacement::targetFolderPath()
{
    // The folder as the system names it, without links, so that a later start can reach it
    // again without following one.
    if (m_canonicalFolderPath.empty()) {
        try {
            m_canonicalFolderPath = descriptorPath(m_targetFolder.get());
        } catch (const FileError &) {
            if (!m_targetFolderPath.starts_with('/'))
                throw; // longer than the system names, and given relative
            m_canonicalFolderPath = m_targetFolderPath;
        }
    }
    return m_canonicalFolderPath;
}

BackgroundCloser::BackgroundCloser(std::size_t threads, std::size_t mostWaiting)
    : m_mostWaiting(mostWaiting)
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
    // Past that many waiting, the caller closes its own: the limit of open files is near.
    {
        const std::lock_guard lock(m_mutex);
        if (m_queue.size() < m_mostWaiting) {
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
    : m_hooks(std::move(hooks))
{
    // Past a file-size limit a write fails with EFBIG, reported as a full disk, instead of the
    // signal ending the program with the script half-written.
    std::signal(SIGXFSZ, SIG_IGN);
    finishInterruptedRewrites();
    rlimit files{};
    const std::uint64_t limit =
        ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
            ? files.rlim_cur
            : std::uint64_t{1} << 20;
    const DescriptorBudget budget = descriptorBudget(
        limit, openFileCount(), std::clamp<std::size_t>(batchSize, 1, RunRecord::kLinkSlot));
    m_batchSize = budget.batch;
    if (m_batchSize > 1)
        m_closer = std::make_unique<BackgroundCloser>(4, budget.waitingCloses);
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

std::string ReplacementRun::linkName()
{
    try {
        return record().temporaryName(RunRecord::kLinkSlot);
    } catch (const FileError &) {
        return ".dovezurad-" + randomHex(8); // no record to name it in
    }
}
