#include "runrecord.h"

#include "fileerror.h"
#include "fileoperations.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr const char *kRecordSuffix = ".registro";
constexpr const char *kUnlockedSuffix = ".nuevo";
constexpr const char *kSetAsideSuffix = ".recuperado";
constexpr std::size_t kCopyChunk = std::size_t{1} << 20;
constexpr std::size_t kBlock = kRecoveryBlock;

std::uint32_t runner()
{
    return static_cast<std::uint32_t>(::geteuid());
}

std::string absoluteVariable(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

// Where a run may keep its record, best first: the user's state folder, the session's runtime
// folder, and a folder of the user's own among the temporary files.
std::vector<std::string> privateFolderPaths()
{
    std::vector<std::string> paths;
    if (std::string state = absoluteVariable("XDG_STATE_HOME"); !state.empty()) {
        paths.push_back(state + "/dovezurad");
    } else {
        std::string home = absoluteVariable("HOME");
        if (home.empty()) {
            std::array<char, 4096> buffer{};
            passwd entry{};
            passwd *found = nullptr;
            if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
                found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
                home = found->pw_dir;
        }
        if (!home.empty())
            paths.push_back(home + "/.local/state/dovezurad");
    }
    if (std::string runtime = absoluteVariable("XDG_RUNTIME_DIR"); !runtime.empty())
        paths.push_back(runtime + "/dovezurad");
    std::string temporary = absoluteVariable("TMPDIR");
    paths.push_back((temporary.empty() ? std::string("/tmp") : temporary) + "/dovezurad-" +
                    std::to_string(runner()));
    return paths;
}

// A private folder, made if asked and missing; invalid unless it is the runner's alone and
// no link.
UniqueFd openPrivateFolder(const std::string &path, bool create)
{
    if (create) {
        for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
             slash = path.find('/', slash + 1))
            ::mkdir(path.substr(0, slash).c_str(), 0700);
        ::mkdir(path.c_str(), 0700);
    }
    UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status
    {
    };
    if (folder &&
        (::fstat(folder.get(), &status) != 0 || !trustedPrivateFolder(factsOf(status), runner())))
        folder.reset();
    return folder;
}

bool gone(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

// Removes a name only when what is there is provably one of the runner's own files.
void removeIfOwn(int folder, const std::string &name)
{
    struct stat status
    {
    };
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        runnersOwnFile(factsOf(status), runner()))
        ::unlinkat(folder, name.c_str(), 0);
}

void drop(int folder, const std::string &name)
{
    ::unlinkat(folder, name.c_str(), 0);
    ::fsync(folder);
}

std::string readWhole(int fd)
{
    std::string bytes;
    std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return bytes;
        bytes.append(buffer.data(), static_cast<std::size_t>(n));
    }
}

UniqueFd placeFolder(int stateFolder, const RecoveryPlace &place)
{
    if (place.inStateFolder)
        return UniqueFd(::fcntl(stateFolder, F_DUPFD_CLOEXEC, 0));
    return openFolderWithoutLinks(place.folder);
}

// Whether the script holds only what the dead copy-back could have left, block by block.
bool mayFinish(int script, std::uint64_t size, int recovery, const RecoveryHeader &header)
{
    const CopyBackCheck check(header);
    if (!check.possibleSize(size))
        return false;
    std::vector<unsigned char> old(kCopyChunk);
    std::vector<unsigned char> fresh(kCopyChunk);
    for (std::uint64_t at = header.start; at < size;) {
        const std::uint64_t end = std::min<std::uint64_t>(
            size, (at + kCopyChunk) / kCopyChunk * kCopyChunk); // whole blocks after the first
        const auto length = static_cast<std::size_t>(end - at);
        const auto freshLength =
            static_cast<std::size_t>(header.newSize > at ? std::min(end, header.newSize) - at : 0);
        if (readFull(script, old.data(), length, at) != length ||
            readFull(recovery, fresh.data(), freshLength,
                     header.dataOffset() + (at - header.start)) != freshLength)
            return false;
        for (std::uint64_t low = at; low < end;) {
            const std::uint64_t block = low / kBlock;
            const std::uint64_t high = std::min(end, (block + 1) * kBlock);
            const auto from = static_cast<std::size_t>(low - at);
            const auto count = static_cast<std::size_t>(high - low);
            const std::size_t freshCount =
                from < freshLength ? std::min(count, freshLength - from) : 0;
            if (!check.blockMayBeLeft(block, {old.data() + from, count},
                                      {fresh.data() + from, freshCount}))
                return false;
            low = high;
        }
        at = end;
    }
    return true;
}

// Leaves the dead run's text beside a script that changed since, under a name of its own.
std::string setAside(int scriptFolder, int stateFolder, const RecordedCopyBack &copyBack,
                     int script, std::uint64_t scriptSize, int recovery,
                     const RecoveryHeader &header)
{
    UniqueFd out;
    int outFolder = -1;
    std::string name;
    for (const int folder : {scriptFolder, stateFolder}) {
        for (int attempt = 1; attempt <= 20 && !out; ++attempt) {
            name = copyBack.scriptName + kSetAsideSuffix +
                   (attempt > 1 ? "-" + std::to_string(attempt) : std::string());
            out.reset(::openat(folder, name.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (!out && errno != EEXIST)
                break;
        }
        if (out) {
            outFolder = folder;
            break;
        }
        if (errno != EACCES && errno != EPERM && errno != EROFS)
            failWith(errno);
    }
    if (!out)
        failWith(errno);
    try {
        // The script's first bytes were the new text's too, unless they changed as well.
        if (!copyRange(script, 0, out.get(), 0, std::min(header.start, scriptSize), true) ||
            !copyRange(recovery, header.dataOffset(), out.get(), header.start,
                       header.newSize - header.start, true))
            failWith(EIO);
        if (::ftruncate(out.get(), static_cast<off_t>(header.newSize)) != 0 ||
            ::fdatasync(out.get()) != 0)
            failWith(errno);
        flushFolderFd(outFolder);
    } catch (...) {
        ::unlinkat(outFolder, name.c_str(), 0);
        throw;
    }
    const std::string folderPath =
        outFolder == scriptFolder ? copyBack.scriptFolder : descriptorPath(stateFolder);
    return "El script «" + copyBack.scriptFolder + "/" + copyBack.scriptName +
           "» cambió después de que una ejecución se interrumpiera: se dejó como estaba, y el "
           "texto nuevo de aquella ejecución quedó en «" +
           folderPath + "/" + name + "».";
}

// Finishes one copy-back of a dead run, or sets its text aside, or drops it when the script
// was never touched or is no longer there. False when it must wait for a later start.
bool finishCopyBack(int stateFolder, const RecordedCopyBack &copyBack,
                    std::vector<std::string> &messages)
{
    const UniqueFd recoveryFolder = placeFolder(stateFolder, copyBack.recovery);
    if (!recoveryFolder)
        return gone(errno);
    const std::string &recoveryName = copyBack.recovery.name;
    const UniqueFd recovery(::openat(recoveryFolder.get(), recoveryName.c_str(),
                                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!recovery)
        return errno == ENOENT || errno == ELOOP;
    struct stat status
    {
    };
    if (::fstat(recovery.get(), &status) != 0)
        return false;
    const FileFacts facts = factsOf(status);
    if (!runnersOwnFile(facts, runner()) || facts.identity != copyBack.recoveryFile)
        return true; // not the file the run made: left alone

    std::string head(kRecoveryFixedHead, '\0');
    head.resize(
        readFull(recovery.get(), reinterpret_cast<unsigned char *>(head.data()), head.size(), 0));
    if (head.size() <= kRecoveryPhaseOffset || head[kRecoveryPhaseOffset] != 1) {
        drop(recoveryFolder.get(), recoveryName); // the script was not touched yet
        return true;
    }
    const auto headerSize = recoveryHeaderSize(head, static_cast<std::uint64_t>(status.st_size));
    if (!headerSize)
        return true; // no header of the run's: left alone
    std::string bytes(*headerSize, '\0');
    if (readFull(recovery.get(), reinterpret_cast<unsigned char *>(bytes.data()), bytes.size(),
                 0) != bytes.size())
        return false;
    const std::optional<RecoveryHeader> header = parseRecoveryHeader(bytes);
    if (!header || !headerAgrees(*header, copyBack))
        return true; // not what the record says it wrote: left alone

    const UniqueFd scriptFolder = openFolderWithoutLinks(copyBack.scriptFolder);
    if (!scriptFolder) {
        if (!gone(errno))
            return false;
        drop(recoveryFolder.get(), recoveryName);
        return true;
    }
    // Looked at before opening: whatever else has the name now is not opened, let alone
    // written; the run's copy then goes, as the script it was for is gone.
    const char *name = copyBack.scriptName.c_str();
    const bool named = ::fstatat(scriptFolder.get(), name, &status, AT_SYMLINK_NOFOLLOW) == 0;
    if (!named && errno != ENOENT)
        return false;
    UniqueFd script;
    if (named && factsOf(status).kind == FileFacts::Kind::Regular &&
        factsOf(status).identity == copyBack.script) {
        script.reset(::openat(scriptFolder.get(), name,
                              O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!script && !gone(errno))
            return false;
        if (script && ::fstat(script.get(), &status) != 0)
            return false;
    }
    if (!script || factsOf(status).identity != copyBack.script) {
        drop(recoveryFolder.get(), recoveryName);
        return true;
    }
    if (::flock(script.get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (mayFinish(script.get(), size, recovery.get(), *header)) {
        if (!copyOver(recovery.get(), header->dataOffset(), script.get(), script.get(),
                      header->start, header->newSize - header->start) ||
            ::ftruncate(script.get(), static_cast<off_t>(header->newSize)) != 0 ||
            ::fdatasync(script.get()) != 0)
            return false;
    } else {
        messages.push_back(setAside(scriptFolder.get(), stateFolder, copyBack, script.get(), size,
                                    recovery.get(), *header));
    }
    drop(recoveryFolder.get(), recoveryName);
    return true;
}

// Cleans up after one run that is no longer alive; false when something must wait.
bool cleanUpAfter(int stateFolder, const RunRecordContents &record,
                  std::vector<std::string> &messages)
{
    bool done = true;
    for (const std::string &path : record.folders) {
        const UniqueFd folder = openFolderWithoutLinks(path);
        if (!folder) {
            done = done && gone(errno);
            continue;
        }
        for (const std::string &name : record.temporaryNames)
            removeIfOwn(folder.get(), name);
    }
    for (const RecoveryPlace &place : record.recoveryPlaces) {
        if (std::any_of(record.copyBacks.begin(), record.copyBacks.end(),
                        [&](const RecordedCopyBack &c) { return c.recovery == place; }))
            continue;
        const UniqueFd folder = placeFolder(stateFolder, place);
        if (folder)
            removeIfOwn(folder.get(), place.name); // never complete: its script was not touched
        else
            done = done && gone(errno);
    }
    for (const RecordedCopyBack &copyBack : record.copyBacks) {
        try {
            done = finishCopyBack(stateFolder, copyBack, messages) && done;
        } catch (const FileError &) {
            done = false;
        }
    }
    return done;
}

// Names left by runs killed between making their record and locking it: removed while no run
// is making one (each holds the folder's shared lock meanwhile).
void removeUnlockedRecords(int stateFolder, const std::vector<std::string> &names)
{
    if (::flock(stateFolder, LOCK_EX | LOCK_NB) != 0)
        return;
    for (const std::string &name : names)
        removeIfOwn(stateFolder, name);
    ::flock(stateFolder, LOCK_UN);
}

} // namespace

RunRecord::RunRecord() : m_token(randomHex(8))
{
    for (const std::string &path : privateFolderPaths()) {
        m_stateFolder = openPrivateFolder(path, true);
        if (m_stateFolder)
            break;
    }
    if (!m_stateFolder)
        throw FileError::noPrivateFolder();
    for (std::size_t slot = 0; slot <= kLinkSlot; ++slot)
        m_names.push_back(".dovezurad-" + randomHex(8));
    const std::string names = recordTemporaryNames(m_names);
    const std::string name = m_token + kRecordSuffix;
    const int state = m_stateFolder.get();

    // Locked before it has its name: a record is never seen unlocked while its run lives, so
    // no other start takes it for a dead run's.
    UniqueFd file(::openat(state, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (file) {
        if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
            failWith(errno);
        writeAll(file.get(), reinterpret_cast<const unsigned char *>(names.data()), names.size(),
                 0);
        const std::string self = "/proc/self/fd/" + std::to_string(file.get());
        if (::linkat(AT_FDCWD, self.c_str(), state, name.c_str(), AT_SYMLINK_FOLLOW) != 0 &&
            ::linkat(file.get(), "", state, name.c_str(), AT_EMPTY_PATH) != 0)
            failWith(errno);
    } else if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
        // Without unnamed files: made under a name no start reads, and renamed once locked.
        // The folder's shared lock keeps a start from removing that name meanwhile.
        while (::flock(state, LOCK_SH) != 0)
            if (errno != EINTR)
                failWith(errno);
        const std::string unlocked = m_token + kUnlockedSuffix;
        file.reset(::openat(state, unlocked.c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        const int error = errno;
        if (file && (::flock(file.get(), LOCK_EX | LOCK_NB) != 0 ||
                     ::pwrite(file.get(), names.data(), names.size(), 0) !=
                         static_cast<ssize_t>(names.size()) ||
                     ::renameat(state, unlocked.c_str(), state, name.c_str()) != 0)) {
            const int failure = errno;
            ::unlinkat(state, unlocked.c_str(), 0);
            ::flock(state, LOCK_UN);
            failWith(failure);
        }
        ::flock(state, LOCK_UN);
        if (!file)
            failWith(error);
    } else {
        failWith(errno);
    }
    m_size = names.size();
    m_file = std::move(file);
    flushFolderFd(state);
}

void RunRecord::append(const std::string &entry)
{
    writeAll(m_file.get(), reinterpret_cast<const unsigned char *>(entry.data()), entry.size(),
             m_size);
    m_size += entry.size();
    if (::fdatasync(m_file.get()) != 0)
        failWith(errno);
}

void RunRecord::noteFolder(const std::string &path)
{
    if (m_folders.contains(path))
        return;
    append(recordFolder(path));
    m_folders.insert(path);
}

void RunRecord::noteRecoveryPlace(const RecoveryPlace &place)
{
    append(recordRecoveryPlace(place));
}

void RunRecord::noteCopyBack(const RecordedCopyBack &copyBack)
{
    append(recordCopyBack(copyBack));
}

void RunRecord::remove() noexcept
{
    ::unlinkat(m_stateFolder.get(), (m_token + kRecordSuffix).c_str(), 0);
}

std::vector<std::string> finishInterruptedRewrites() noexcept
{
    std::vector<std::string> messages;
    try {
        for (const std::string &path : privateFolderPaths()) {
            const UniqueFd folder = openPrivateFolder(path, false);
            if (!folder)
                continue;
            std::vector<std::string> found = finishInterruptedRewritesIn(folder.get());
            messages.insert(messages.end(), found.begin(), found.end());
        }
    } catch (...) {
        // Not now: a later start tries again.
    }
    return messages;
}

std::vector<std::string> finishInterruptedRewritesIn(int stateFolder) noexcept
{
    std::vector<std::string> messages;
    try {
        const int listing = ::fcntl(stateFolder, F_DUPFD_CLOEXEC, 0);
        DIR *raw = listing >= 0 ? ::fdopendir(listing) : nullptr;
        if (raw == nullptr) {
            if (listing >= 0)
                ::close(listing);
            return messages;
        }
        const auto closeFolder = [](DIR *open) { ::closedir(open); };
        std::unique_ptr<DIR, decltype(closeFolder)> folder(raw, closeFolder);
        std::vector<std::string> records;
        std::vector<std::string> unlocked;
        while (const dirent *entry = ::readdir(folder.get())) {
            const std::string name = entry->d_name;
            if (name.size() > std::strlen(kRecordSuffix) && name.ends_with(kRecordSuffix))
                records.push_back(name);
            else if (name.size() > std::strlen(kUnlockedSuffix) && name.ends_with(kUnlockedSuffix))
                unlocked.push_back(name);
        }
        folder.reset();
        removeUnlockedRecords(stateFolder, unlocked);

        for (const std::string &name : records) {
            const UniqueFd record(::openat(stateFolder, name.c_str(),
                                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            struct stat status
            {
            };
            if (!record || ::fstat(record.get(), &status) != 0 ||
                !runnersOwnFile(factsOf(status), runner()) ||
                ::flock(record.get(), LOCK_EX | LOCK_NB) != 0)
                continue; // not a record of ours, or its run is still alive
            if (cleanUpAfter(stateFolder, parseRunRecord(readWhole(record.get())), messages))
                ::unlinkat(stateFolder, name.c_str(), 0);
        }
    } catch (...) {
        // Nothing to clean up, or not now: a later start tries again.
    }
    return messages;
}
