#include "recovery.h"

#include "fileerror.h"
#include "fileoperations.h"
#include "nativefiles.h"
#include "recoverypolicy.h"
#include "runrecord.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nf = nativefiles;

namespace {

constexpr const char *kSetAsideSuffix = ".recuperado";
constexpr int kSetAsideAttempts = 20;
constexpr std::size_t kCopyChunk = std::size_t{1} << 20;
constexpr std::size_t kBlock = kRecoveryBlock;

// Removes a name only when what is there is provably one of the runner's own files.
void removeIfOwn(const NativeFolder &folder, const std::string &name)
{
    try {
        const std::optional<FileIdentity> found = nf::identityAt(folder, name, false);
        if (found && runnersOwnFile(*found))
            nf::removeName(folder, name);
    } catch (const FileError &) {
        // Left where it is.
    }
}

void drop(const NativeFolder &folder, const std::string &name)
{
    try {
        nf::removeName(folder, name);
        nf::flushFolder(folder);
    } catch (const FileError &) {
        // A later start finds it again, and drops it then.
    }
}

std::string readWhole(const NativeFile &file)
{
    std::string bytes;
    std::vector<unsigned char> buffer(64 * 1024);
    for (;;) {
        const std::size_t got = nf::readAt(file, bytes.size(), buffer.data(), buffer.size());
        bytes.append(reinterpret_cast<const char *>(buffer.data()), got);
        if (got < buffer.size())
            return bytes;
    }
}

// The folder a recovery file was made in; nullopt when it is gone.
std::optional<NativeFolder> placeFolder(const NativeFolder &state, const RecoveryPlace &place)
{
    if (place.inStateFolder)
        return NativeFolder{nf::duplicate(state.file), state.path};
    return nf::openFolderNoLinks(place.folder);
}

// Whether the script holds only what the dead copy-back could have left, block by block.
bool mayFinish(const NativeFile &script, std::uint64_t size, const NativeFile &recovery,
               const RecoveryHeader &header)
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
        if (nf::readAt(script, at, old.data(), length) != length ||
            nf::readAt(recovery, header.dataOffset() + (at - header.start), fresh.data(),
                       freshLength) != freshLength)
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
std::string setAside(const NativeFolder &scriptFolder, const NativeFolder &state,
                     const RecordedCopyBack &copyBack, const NativeFile &script,
                     std::uint64_t scriptSize, const NativeFile &recovery,
                     const RecoveryHeader &header)
{
    NativeFile out;
    const NativeFolder *outFolder = nullptr;
    std::string name;
    for (const NativeFolder *folder : {&scriptFolder, &state}) {
        for (int attempt = 1; attempt <= kSetAsideAttempts; ++attempt) {
            name = copyBack.scriptName + kSetAsideSuffix +
                   (attempt > 1 ? "-" + std::to_string(attempt) : std::string());
            try {
                out = nf::createExclusive(*folder, name, false);
            } catch (const FileError &error) {
                if (error.number() != FileError::fileExists().number() ||
                    attempt == kSetAsideAttempts)
                    throw;
                continue;
            }
            break; // made, or the folder takes no new file from us
        }
        if (out) {
            outFolder = folder;
            break;
        }
    }
    if (!out)
        throw FileError::heldByAnotherProgram();
    try {
        // The script's first bytes were the new text's too, unless they changed as well.
        if (!copyRange(script, 0, out, 0, std::min(header.start, scriptSize), true) ||
            !copyRange(recovery, header.dataOffset(), out, header.start,
                       header.newSize - header.start, true))
            throw FileError::deviceError();
        nf::setLength(out, header.newSize);
        nf::flushData(out);
        nf::flushFolder(*outFolder);
    } catch (...) {
        out.reset();
        try {
            nf::removeName(*outFolder, name);
        } catch (const FileError &) {
        }
        throw;
    }
    const std::string folderPath =
        outFolder == &scriptFolder ? copyBack.scriptFolder : nf::pathOf(state);
    return "El script «" + nf::pathIn(copyBack.scriptFolder, copyBack.scriptName) +
           "» cambió después de que una ejecución se interrumpiera: se dejó como estaba, y el "
           "texto nuevo de aquella ejecución quedó en «" +
           nf::pathIn(folderPath, name) + "».";
}

// Finishes one copy-back of a dead run, or sets its text aside, or drops it when the script
// was never touched or is no longer there. False when it must wait for a later start.
bool finishCopyBack(const NativeFolder &state, const RecordedCopyBack &copyBack,
                    std::vector<std::string> &messages)
{
    const std::optional<NativeFolder> recoveryFolder = placeFolder(state, copyBack.recovery);
    if (!recoveryFolder)
        return true;
    const std::string &recoveryName = copyBack.recovery.name;
    const NativeFile recovery = nf::openNoLinks(*recoveryFolder, recoveryName, false);
    if (!recovery)
        return true;
    const FileIdentity recoveryFile = nf::identityOf(recovery);
    if (!runnersOwnFile(recoveryFile) || recoveryFile.key != copyBack.recoveryFile)
        return true; // not the file the run made: left alone

    std::string head(kRecoveryFixedHead, '\0');
    head.resize(
        nf::readAt(recovery, 0, reinterpret_cast<unsigned char *>(head.data()), head.size()));
    if (head.size() <= kRecoveryPhaseOffset || head[kRecoveryPhaseOffset] != 1) {
        drop(*recoveryFolder, recoveryName); // the script was not touched yet
        return true;
    }
    const auto headerSize = recoveryHeaderSize(head, recoveryFile.size);
    if (!headerSize)
        return true; // no header of the run's: left alone
    std::string bytes(*headerSize, '\0');
    if (nf::readAt(recovery, 0, reinterpret_cast<unsigned char *>(bytes.data()), bytes.size()) !=
        bytes.size())
        return false;
    const std::optional<RecoveryHeader> header = parseRecoveryHeader(bytes);
    if (!header || !headerAgrees(*header, copyBack))
        return true; // not what the record says it wrote: left alone

    const std::optional<NativeFolder> scriptFolder = nf::openFolderNoLinks(copyBack.scriptFolder);
    if (!scriptFolder) {
        drop(*recoveryFolder, recoveryName);
        return true;
    }
    // Looked at before opening: whatever else has the name now is not opened, let alone
    // written; the run's copy then goes, as the script it was for is gone.
    const std::optional<FileIdentity> named =
        nf::identityAt(*scriptFolder, copyBack.scriptName, false);
    NativeFile script;
    if (named && named->kind == FileIdentity::Kind::Regular && named->key == copyBack.script)
        script = nf::openNoLinks(*scriptFolder, copyBack.scriptName, true);
    const FileIdentity found = script ? nf::identityOf(script) : FileIdentity{};
    if (!script || found.key != copyBack.script) {
        drop(*recoveryFolder, recoveryName);
        return true;
    }
    if (!nf::tryLock(script))
        return false;
    if (mayFinish(script, found.size, recovery, *header)) {
        if (!copyOver(recovery, header->dataOffset(), script, script, header->start,
                      header->newSize - header->start))
            return false;
        nf::setLength(script, header->newSize);
        nf::flushData(script);
    } else {
        messages.push_back(
            setAside(*scriptFolder, state, copyBack, script, found.size, recovery, *header));
    }
    drop(*recoveryFolder, recoveryName);
    return true;
}

// A script the system's replace left under its backup name, killed between its two renames
// (Windows), goes back under its own name; where the replace was done, its old file goes. The
// new text keeps its temporary name, which is swept with the others.
class ReplacementSettler
{
public:
    bool settle(const RecordedReplace &replace)
    {
        if (!m_folder || m_path != replace.folder) {
            m_path = replace.folder;
            m_folder = nf::openFolderNoLinks(replace.folder);
        }
        if (!m_folder)
            return true;
        const std::optional<FileIdentity> backup =
            nf::identityAt(*m_folder, replace.backupName, false);
        if (!backup || backup->key != replace.script)
            return true; // nothing of the script under that name
        if (!nf::identityAt(*m_folder, replace.scriptName, false))
            nf::renameNoReplace(*m_folder, replace.backupName, replace.scriptName);
        else
            nf::removeName(*m_folder, replace.backupName);
        nf::flushFolder(*m_folder);
        return true;
    }

private:
    std::string m_path;
    std::optional<NativeFolder> m_folder;
};

// Cleans up after one run that is no longer alive; false when something must wait.
bool cleanUpAfter(const NativeFolder &state, const RunRecordContents &record,
                  std::vector<std::string> &messages)
{
    bool done = true;
    ReplacementSettler settler;
    for (const RecordedReplace &replace : record.replacements) {
        try {
            done = settler.settle(replace) && done;
        } catch (const FileError &) {
            done = false;
        }
    }
    for (const std::string &path : record.folders) {
        std::optional<NativeFolder> folder;
        try {
            folder = nf::openFolderNoLinks(path);
        } catch (const FileError &) {
            done = false;
        }
        for (const std::string &name : record.temporaryNames)
            if (folder)
                removeIfOwn(*folder, name);
    }
    for (const RecoveryPlace &place : record.recoveryPlaces) {
        if (std::any_of(record.copyBacks.begin(), record.copyBacks.end(),
                        [&](const RecordedCopyBack &c) { return c.recovery == place; }))
            continue;
        try {
            if (const std::optional<NativeFolder> folder = placeFolder(state, place))
                removeIfOwn(*folder, place.name); // never complete: its script was not touched
        } catch (const FileError &) {
            done = false;
        }
    }
    for (const RecordedCopyBack &copyBack : record.copyBacks) {
        try {
            done = finishCopyBack(state, copyBack, messages) && done;
        } catch (const FileError &) {
            done = false;
        }
    }
    return done;
}

std::vector<std::string> finishIn(const NativeFolder &state) noexcept
{
    std::vector<std::string> messages;
    try {
        nf::removeUnfinishedRecords(state);
        for (const std::string &name : nf::namesEndingWith(state, kRecordSuffix)) {
            const NativeFile record = nf::takeDeadRecord(state, name);
            if (!record || !runnersOwnFile(nf::identityOf(record)))
                continue; // its run is still alive, or not a record of ours
            if (cleanUpAfter(state, parseRunRecord(readWhole(record)), messages))
                nf::removeName(state, name);
        }
    } catch (...) {
        // Nothing to clean up, or not now: a later start tries again.
    }
    return messages;
}

} // namespace

std::vector<std::string> finishInterruptedRewrites() noexcept
{
    std::vector<std::string> messages;
    try {
        for (const std::string &path : nf::privateFolderCandidates()) {
            if (const std::optional<NativeFolder> state = openRecordFolder(path, false)) {
                std::vector<std::string> found = finishIn(*state);
                messages.insert(messages.end(), found.begin(), found.end());
            }
        }
    } catch (...) {
        // Not now: a later start tries again.
    }
    return messages;
}

std::vector<std::string> finishInterruptedRewritesIn(const std::string &privateFolder) noexcept
{
    try {
        if (const std::optional<NativeFolder> state = openRecordFolder(privateFolder, false))
            return finishIn(*state);
    } catch (...) {
    }
    return {};
}
