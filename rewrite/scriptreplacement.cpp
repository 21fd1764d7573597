#include "scriptreplacement.h"

#include "fileerror.h"
#include "fileoperations.h"
#include "replacementrun.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>

namespace nf = nativefiles;

namespace {

constexpr std::size_t kCopyChunk = std::size_t{1} << 20;
constexpr std::size_t kBlock = kRecoveryBlock;
// A large new text goes to the disk while it is written, and no more than this much of it waits
// in memory: the flush before the replacement then has little left to do, and a caller that
// answers a user between chunks is never held there for long.
constexpr std::uint64_t kWriteBackStep = std::uint64_t{8} << 20;
constexpr std::uint64_t kUnwrittenAllowed = std::uint64_t{32} << 20;
constexpr const char *kRecoverySuffix = ".recuperar";

} // namespace

ScriptReplacement::ScriptReplacement(ReplacementRun &run, const NativeFolder &folder,
                                     const std::string &name)
    : m_run(run)
{
    open(folder, name);
}

ScriptReplacement::~ScriptReplacement()
{
    if (!m_committed) {
        takeKeptAhead();
        // Kept for a replacement that never came: the script is still that very file.
        if (m_keepingAhead && m_kept)
            m_run.m_kept->forget(*m_kept);
        removeOutputName();
    }
}

void ScriptReplacement::removeOutputName() noexcept
{
    if (m_outputName.empty())
        return;
    try {
        nf::removeName(*m_outputFolder, m_outputName);
    } catch (const FileError &) {
        // The run's record names it, for a later start to remove.
    }
    m_outputName.clear();
}

void ScriptReplacement::open(const NativeFolder &folder, const std::string &name)
{
    m_name = name;
    m_input = nf::openScript(folder, name);
    if (m_run.m_hooks.afterOpen)
        m_run.m_hooks.afterOpen();
    m_original = nf::identityOf(m_input);
    // A script marked read-only stays so, even for a user the system would let write it.
    if (m_original.kind != FileIdentity::Kind::Regular || m_original.readOnly)
        throw FileError::accessError();

    // The file written is the file that was read: a link is followed through the open file,
    // not through its name, which may point elsewhere by now.
    std::optional<FileIdentity> named = nf::identityAt(folder, name, false);
    if (named && named->kind == FileIdentity::Kind::Link) {
        // Another user's link may lead into the runner's private files.
        if (!mayFollowLink(*named, m_original))
            throw FileError::heldByAnotherProgram();
        auto [targetFolder, targetName] = nf::locationOf(m_input);
        // The system names it without links: one found on the way now was put there since.
        std::optional<NativeFolder> target = nf::openFolderNoLinks(targetFolder);
        if (!target)
            throw FileError::heldByAnotherProgram();
        m_linkFolder = std::move(*target);
        m_targetFolder = &m_linkFolder;
        m_targetName = std::move(targetName);
        named = nf::identityAt(*m_targetFolder, m_targetName, false);
    } else {
        m_targetFolder = &folder;
        m_targetName = name;
    }
    if (!named)
        throw FileError::fileNotFound();
    if (!sameFile(*named, m_original))
        throw FileError::heldByAnotherProgram();
    nf::checkWritable(*m_targetFolder, m_targetName);

    if (m_run.m_kept)
        m_run.m_kept->seen(m_original.size);
    if (m_run.m_seen.contains(m_original.key)) {
        m_alreadyDone = true;
        return;
    }
    // A second run over the same folder waits for nobody: the script is reported as held.
    if (!nf::tryLock(m_input))
        throw FileError::heldByAnotherProgram();
    m_run.m_seen.insert(m_original.key);
}

std::size_t ScriptReplacement::read(unsigned char *data, std::size_t size)
{
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, this->size() - m_readOffset));
    if (nf::readAt(m_input, m_readOffset, data, wanted) != wanted)
        throw FileError::heldByAnotherProgram(); // another program cut it short
    if (m_path == Path::CopyBack)
        sumOldBytes(data, wanted, m_readOffset);
    m_readOffset += wanted;
    return wanted;
}

void ScriptReplacement::startOutput(std::uint64_t prefix)
{
    if (m_run.m_readOnly)
        throw std::logic_error("a dry run writes nothing");
    m_start = prefix;
    m_run.makeRoomFor(*m_targetFolder, size());
    if (!m_run.m_hooks.copyBackOnly && m_original.links == 1 && tryRenamePath()) {
        m_path = Path::Rename;
        if (!copyRange(m_input, 0, m_output, 0, prefix, true))
            throw FileError::heldByAnotherProgram(); // another program cut it short
    } else {
        startCopyBack();
    }
}

bool ScriptReplacement::tryRenamePath()
{
    std::optional<NativeFile> unnamed;
    if (!m_run.m_hooks.noUnnamedFiles)
        unnamed = nf::createUnnamed(*m_targetFolder);
    if (unnamed) {
        if (!*unnamed)
            return false; // the folder takes no new file from us
        m_output = std::move(*unnamed);
    } else {
        const std::string name = m_run.record().temporaryName(m_run.freeSlot());
        noteTargetFolder();
        m_output = nf::createExclusive(*m_targetFolder, name);
        if (!m_output)
            return false;
        m_outputName = name;
        m_outputFolder = m_targetFolder;
    }
    // Whatever part of the identity the new file cannot carry sends the script down the
    // copy-back path.
    if (nf::giveIdentity(m_output, m_input))
        return true;
    m_output.reset();
    removeOutputName();
    return false;
}

void ScriptReplacement::startCopyBack()
{
    m_path = Path::CopyBack;
    RunRecord &record = m_run.record();
    // Unpredictable, so that nobody who watches the folder can have the name ready first.
    const std::string name = kRunNamePrefix + nf::randomToken() + kRecoverySuffix;
    m_recoveryPlace = {false, targetFolderPath(), name};
    record.noteRecoveryPlace(m_recoveryPlace);
    m_output = nf::createExclusive(*m_targetFolder, name);
    m_outputFolder = m_targetFolder;
    if (!m_output) {
        // A folder we cannot write: the recovery file goes to the run's private folder.
        m_recoveryPlace = {true, {}, name};
        record.noteRecoveryPlace(m_recoveryPlace);
        m_output = nf::createExclusive(record.stateFolder(), name);
        m_outputFolder = &record.stateFolder();
    }
    if (!m_output)
        throw FileError::heldByAnotherProgram();
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
        if (nf::readAt(m_input, at, buffer.data(), want) != want)
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
    header.script = m_original.key;
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
    writeSkippingHoles(m_output, data, size, at);
    writeBack(at + size);
}

void ScriptReplacement::writeBack(std::uint64_t end)
{
    if (end < m_writeBackStarted + kWriteBackStep)
        return;
    nf::startWriteBack(m_output, m_writeBackStarted, end - m_writeBackStarted);
    m_writeBackStarted = end;
    if (end <= m_writtenBack + kUnwrittenAllowed)
        return;
    const std::uint64_t upTo = end - kUnwrittenAllowed;
    nf::waitWriteBack(m_output, m_writtenBack, upTo - m_writtenBack);
    m_writtenBack = upTo;
}

void ScriptReplacement::endOutput(std::uint64_t size)
{
    m_newSize = size;
    if (m_path == Path::Rename) {
        nf::setLength(m_output, size);
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
        if (nf::readAt(m_input, size, tail.data(), length) != length)
            throw FileError::heldByAnotherProgram();
        header.oldTailChecksum = blockChecksum({tail.data(), length});
    }
    const std::string head = header.encode();
    nf::writeAt(m_output, 0, reinterpret_cast<const unsigned char *>(head.data()), head.size());
    nf::setLength(m_output, m_dataOffset + (size - m_start));
}

void ScriptReplacement::checkWritten()
{
    // After the file system's flush: waits for this file's own writing and hears of its errors.
    nf::waitWritten(m_output);
}

void ScriptReplacement::flushData()
{
    nf::flushData(m_output);
    // The recovery file's name must outlast a power cut before the script is touched.
    if (m_path == Path::CopyBack)
        nf::flushFolder(*m_outputFolder);
}

void ScriptReplacement::checkUnchanged() const
{
    const FileIdentity now = nf::identityOf(m_input);
    const std::optional<FileIdentity> named = nf::identityAt(*m_targetFolder, m_targetName, false);
    if (!unchangedSince(now, m_keptOriginal.value_or(m_original)) || !named ||
        !sameFile(*named, m_original))
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
    takeKeptAhead();
    if (m_run.m_hooks.beforeReplace)
        m_run.m_hooks.beforeReplace();
    checkUnchanged();
    if (m_path == Path::Rename) {
        if (!commitRename())
            copyBackInstead();
    } else {
        commitCopyBack();
    }
    m_committed = true;
    if (m_run.m_kept && !m_kept)
        m_run.m_kept->noteNotKept(m_name);
}

void ScriptReplacement::prepareRename()
{
    // The record names the script, and where its old file may be left, before its name or the
    // new file's changes; a batch was named all at once before its first script.
    m_run.noteReplacements({this});
    if (m_outputName.empty()) {
        const std::string name = m_run.linkName();
        nf::nameUnnamed(m_output, *m_targetFolder, name); // 58: made by another, never ours
        m_outputName = name;
        m_outputFolder = m_targetFolder;
    }
    m_made = nf::identityOf(m_output).key;
}

RecordedReplace ScriptReplacement::recordedReplace()
{
    if (m_backupName.empty())
        m_backupName = kRunNamePrefix + nf::randomToken();
    return {targetFolderPath(), m_targetName, m_backupName, m_original.key};
}

void ScriptReplacement::prepareCopyBack()
{
    m_script = nf::openForWriting(*m_targetFolder, m_targetName, m_input);
    // Kept before the last look at the script: a change that comes while it is copied is seen.
    if (m_run.m_kept)
        m_kept = m_run.m_kept->keepByCopy(*m_targetFolder, targetFolderKey(), m_targetName, m_input,
                                          m_original);
    m_run.record().noteCopyBack({m_canonicalFolderPath, m_targetName, m_original.key,
                                 m_recoveryPlace, nf::identityOf(m_output).key});
    const std::uint8_t complete = 1;
    nf::writeAt(m_output, kRecoveryPhaseOffset, &complete, 1);
    nf::flushData(m_output);
}

void ScriptReplacement::keepAhead()
{
    m_keptAhead =
        m_run.m_kept->keepByLinkAhead(*m_targetFolder, targetFolderKey(), m_targetName, m_original);
    m_keepingAhead = true;
}

void ScriptReplacement::takeKeptAhead() noexcept
{
    if (!m_keptAhead.valid())
        return;
    try {
        const KeptOriginals::Linked linked = m_run.m_kept->linked(m_keptAhead);
        m_kept = linked.index;
        // The second name gave the file a link more and a later change time; any other change
        // is another program's, and the last look sees it.
        if (m_kept && sameLastWrite(*linked.original, m_original))
            m_keptOriginal = linked.original;
    } catch (...) {
        m_kept.reset(); // kept nothing the run knows of; an undo passes the script over
    }
}

bool ScriptReplacement::commitRename()
{
    // After the last look at the script: the second name changes its change time. A batch's
    // scripts were kept ahead, and the last look knew of it.
    if (m_run.m_kept && !m_keepingAhead)
        m_kept =
            m_run.m_kept->keepByLink(*m_targetFolder, targetFolderKey(), m_targetName, m_original);
    if (!nf::replace(*m_targetFolder, m_output, m_outputName, m_input, m_targetName,
                     m_backupName)) {
        if (m_kept) {
            m_run.m_kept->forget(*m_kept);
            // Its second name came and went, and moved the change time twice: the copy-back's
            // last look expects that much.
            const FileIdentity now = nf::identityOf(m_input);
            if (sameLastWrite(now, m_original))
                m_keptOriginal = now;
        }
        m_kept.reset();
        return false;
    }
    m_outputName.clear();
    if (m_kept) {
        const std::optional<FileIdentity> output =
            nf::identityAt(*m_targetFolder, m_targetName, false);
        if (output && output->key == m_made)
            m_run.m_kept->noteOutput(*m_kept, *output);
    }
    m_run.m_seen.insert(m_made);
    m_run.flushLater(*m_targetFolder, targetFolderKey());
    // A kept original is still linked, so closing it frees nothing and need not wait.
    if (m_run.m_closer && !m_kept)
        m_run.m_closer->close(std::move(m_input));
    else
        m_input.reset();
    return true;
}

void ScriptReplacement::commitCopyBack()
{
    // From here a failure leaves the recovery file, and the run's record, for the next start.
    m_run.m_keepRecord = true;
    const std::string name = m_outputName;
    m_outputName.clear();
    if (!copyOver(m_output, m_dataOffset, m_script, m_input, m_start, m_newSize - m_start))
        throw FileError::deviceError();
    nf::setLength(m_script, m_newSize);
    nf::flushData(m_script);
    if (m_kept)
        m_run.m_kept->noteOutput(*m_kept, nf::identityOf(m_script));
    try {
        nf::removeName(*m_outputFolder, name);
    } catch (const FileError &) {
        // Complete, and the script holds its text: a later start finds nothing to finish.
    }
    m_run.m_keepRecord = false;
    m_run.flushLater(*m_outputFolder, m_outputFolder == m_targetFolder
                                          ? targetFolderKey()
                                          : nf::identityOf(m_outputFolder->file).key);
}

void ScriptReplacement::copyBackInstead()
{
    // The system would not put the new file in the script's place (another program has the
    // script open and lets it be written but not renamed): the new text, as complete and
    // flushed, is copied back over the script through the held file instead. Its name goes
    // first; the open file stays readable.
    const NativeFile made =
        m_output ? std::move(m_output) : nf::openNoLinks(*m_targetFolder, m_outputName, false);
    removeOutputName();
    if (!made)
        throw FileError::heldByAnotherProgram();
    m_writeBackStarted = 0;
    m_writtenBack = 0;
    startCopyBack();
    if (!copyRange(made, m_start, m_output, m_dataOffset, m_newSize - m_start, true))
        throw FileError::heldByAnotherProgram();
    endOutput(m_newSize);
    flushData();
    prepareCopyBack();
    checkUnchanged();
    commitCopyBack();
}

void ScriptReplacement::noteTargetFolder()
{
    m_run.record().noteFolder(targetFolderPath());
}

const std::string &ScriptReplacement::targetFolderPath()
{
    // The folder as the system names it, without links, so that a later start can reach it
    // again without following one.
    if (m_canonicalFolderPath.empty())
        m_canonicalFolderPath = m_run.folderPath(*m_targetFolder, targetFolderKey());
    return m_canonicalFolderPath;
}

const FileKey &ScriptReplacement::targetFolderKey()
{
    if (!m_targetFolderKey)
        m_targetFolderKey = nf::identityOf(m_targetFolder->file).key;
    return *m_targetFolderKey;
}
