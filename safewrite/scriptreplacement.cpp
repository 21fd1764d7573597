#include "scriptreplacement.h"

#include "fileerror.h"
#include "fileoperations.h"
#include "runrecord.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace nf = nativefiles;

namespace {

// A large new text goes to the disk while it is written, and no more than this much of it waits
// in memory: the flush before the replacement then has little left to do, and a caller that
// answers a user between chunks is never held there for long.
constexpr std::uint64_t kWriteBackStep = std::uint64_t{8} << 20;
constexpr std::uint64_t kUnwrittenAllowed = std::uint64_t{32} << 20;

} // namespace

ScriptReplacement::ScriptReplacement(ScriptRun &run, const NativeFolder &folder,
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
            m_run.keeper()->forget(*m_kept);
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
    if (m_run.hooks().afterOpen)
        m_run.hooks().afterOpen();
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

    if (m_run.keeper())
        m_run.keeper()->seen(m_original.size);
    if (m_run.reached(m_original.key)) {
        m_alreadyDone = true;
        return;
    }
    // A second run over the same folder waits for nobody: the script is reported as held.
    if (!nf::tryLock(m_input))
        throw FileError::heldByAnotherProgram();
    m_run.noteReached(m_original.key);
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
    if (m_run.readOnly())
        throw std::logic_error("a dry run writes nothing");
    m_start = prefix;
    m_run.makeRoomFor(*m_targetFolder, size());
    if (!m_run.hooks().copyBackOnly && m_original.links == 1 && tryRenamePath()) {
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
    if (!m_run.hooks().noUnnamedFiles)
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
    if (m_path == Path::Rename)
        nf::setLength(m_output, size);
    else
        endCopyBack(size);
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
    if (m_run.hooks().beforeReplace)
        m_run.hooks().beforeReplace();
    checkUnchanged();
    if (m_path == Path::Rename) {
        if (!commitRename())
            copyBackInstead();
    } else {
        commitCopyBack();
    }
    m_committed = true;
    if (m_run.keeper() && !m_kept)
        m_run.keeper()->noteNotKept(m_name);
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

std::optional<RecordedReplace> ScriptReplacement::unnotedReplacement()
{
    if (m_replaceNoted)
        return std::nullopt;
    try {
        return recordedReplace();
    } catch (const FileError &) {
        return std::nullopt; // a folder the system cannot name is not named
    }
}

RecordedReplace ScriptReplacement::recordedReplace()
{
    if (m_backupName.empty())
        m_backupName = kRunNamePrefix + nf::randomToken();
    return {targetFolderPath(), m_targetName, m_backupName, m_original.key};
}

void ScriptReplacement::keepAhead()
{
    m_keptAhead = m_run.keeper()->keepByLinkAhead(*m_targetFolder, targetFolderKey(), m_targetName,
                                                  m_original);
    m_keepingAhead = true;
}

void ScriptReplacement::takeKeptAhead() noexcept
{
    if (!m_keptAhead.valid())
        return;
    try {
        const OriginalKeeper::Linked linked = m_run.keeper()->linked(m_keptAhead);
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
    if (m_run.keeper() && !m_keepingAhead)
        m_kept = m_run.keeper()->keepByLink(*m_targetFolder, targetFolderKey(), m_targetName,
                                            m_original);
    if (!nf::replace(*m_targetFolder, m_output, m_outputName, m_input, m_targetName,
                     m_backupName)) {
        if (m_kept) {
            m_run.keeper()->forget(*m_kept);
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
            m_run.keeper()->noteOutput(*m_kept, *output);
    }
    m_run.noteReached(m_made);
    m_run.flushLater(*m_targetFolder, targetFolderKey());
    // A kept original is still linked, so closing it frees nothing and need not wait.
    if (m_kept)
        m_input.reset();
    else
        m_run.release(std::move(m_input));
    return true;
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
