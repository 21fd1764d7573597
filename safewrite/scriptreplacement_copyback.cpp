// The copy-back path of ScriptReplacement, for a script whose new file cannot take its place:
// the new text goes to a flushed recovery file first, with checksums of the old bytes it
// replaces, and is then copied over the script through the file that was read, so that a crash
// in between leaves what a later start can finish or set aside (recovery.h).
#include "scriptreplacement.h"

#include "fileerror.h"
#include "fileoperations.h"
#include "runrecord.h"

#include <algorithm>
#include <array>
#include <vector>

namespace nf = nativefiles;

namespace {

constexpr std::size_t kCopyChunk = std::size_t{1} << 20;
constexpr std::size_t kBlock = kRecoveryBlock;
constexpr const char *kRecoverySuffix = ".recuperar";

} // namespace

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

void ScriptReplacement::endCopyBack(std::uint64_t size)
{
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

void ScriptReplacement::prepareCopyBack()
{
    m_script = nf::openForWriting(*m_targetFolder, m_targetName, m_input);
    // Kept before the last look at the script: a change that comes while it is copied is seen.
    if (m_run.keeper())
        m_kept = m_run.keeper()->keepByCopy(*m_targetFolder, targetFolderKey(), m_targetName,
                                            m_input, m_original);
    m_run.record().noteCopyBack({m_canonicalFolderPath, m_targetName, m_original.key,
                                 m_recoveryPlace, nf::identityOf(m_output).key});
    const std::uint8_t complete = 1;
    nf::writeAt(m_output, kRecoveryPhaseOffset, &complete, 1);
    nf::flushData(m_output);
}

void ScriptReplacement::commitCopyBack()
{
    // From here a failure leaves the recovery file, and the run's record, for the next start.
    m_run.keepRecord(true);
    const std::string name = m_outputName;
    m_outputName.clear();
    if (!copyOver(m_output, m_dataOffset, m_script, m_input, m_start, m_newSize - m_start))
        throw FileError::deviceError();
    nf::setLength(m_script, m_newSize);
    nf::flushData(m_script);
    if (m_kept)
        m_run.keeper()->noteOutput(*m_kept, nf::identityOf(m_script));
    try {
        nf::removeName(*m_outputFolder, name);
    } catch (const FileError &) {
        // Complete, and the script holds its text: a later start finds nothing to finish.
    }
    m_run.keepRecord(false);
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
