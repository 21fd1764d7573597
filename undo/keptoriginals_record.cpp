// The record KeptOriginals writes of a run, for undo: the area opened and locked, the record of
// the run before taken over or gone on with, the entries written down and flushed in step with
// the batches, and the run's end.
#include "keptoriginals.h"

#include "byteproof.h"
#include "fileerror.h"
#include "keptshelves.h"
#include "undorecord.h"

#include <algorithm>
#include <utility>

namespace nf = nativefiles;
namespace ur = undorecord;

bool KeptOriginals::open()
{
    m_folderKey = nf::identityOf(m_folder.file).key;
    m_area = nf::openArea(m_folder, ur::kAreaName, true);
    // An area that is not ours alone is neither used, nor changed, nor removed.
    if (!m_area || !ur::trustedArea(nf::identityOf(m_area->file)))
        return false;
    // An undo, or another run, is under way in this folder.
    m_lock = nf::lockArea(*m_area, false);
    if (!m_lock)
        return false;
    ignoreInVersionControl();
    const std::optional<std::string> goingOn = takeOverLastRecord();
    // The new record is whole before it takes the place of the one before: a stop in between
    // leaves one or the other, and never a record that forgets what the one before kept.
    nf::removeName(*m_area, ur::kNewManifestName); // a stopped run's
    m_manifest = nf::createExclusive(*m_area, ur::kNewManifestName);
    if (!m_manifest)
        return false;
    append(goingOn ? *goingOn : ur::header(m_cierres, m_folderKey, m_previous), true);
    nf::renameOver(*m_area, ur::kNewManifestName, *m_area, ur::kManifestName);
    // The record is lasting before the first script loses its old file.
    nf::flushFolder(*m_area);
    m_shelves.emplace(*m_area, true, true);
    return true;
}

void KeptOriginals::ignoreInVersionControl() noexcept
{
    try {
        const NativeFile ignore = nf::createExclusive(*m_area, ur::kIgnoreName, false);
        const std::string everything = "*\n";
        if (ignore)
            nf::writeAt(ignore, 0, reinterpret_cast<const unsigned char *>(everything.data()),
                        everything.size());
    } catch (const FileError &) {
        // There already, or not to be had: the originals are kept all the same.
    }
}

std::optional<std::string> KeptOriginals::takeOverLastRecord()
{
    const NativeFile last = nf::openNoLinks(*m_area, ur::kManifestName, false);
    if (!last)
        return std::nullopt;
    std::string text = byteproof::contentsOf(last);
    const std::optional<UndoManifest> manifest = ur::parse(text);
    if (!manifest)
        return std::nullopt; // an unreadable record goes alone
    if (manifest->goesOnWith(m_cierres, m_folderKey)) {
        if (manifest->finished)
            text.erase(text.find_last_of('\n', text.size() - 2) + 1);
        m_entries = manifest->entries.size();
        m_named = m_entries;
        m_previous = manifest->previous;
        return text;
    }
    // Its names become the new record's to remove.
    if (manifest->shelved) {
        m_previous = std::max(manifest->previous, manifest->entries.size());
    } else {
        // The first format's originals, in the area itself, go at once.
        KeptShelves(*m_area, false, false).removeFrom(1, m_release);
    }
    return std::nullopt;
}

void KeptOriginals::append(const std::string &text, bool flush)
{
    nf::writeAt(m_manifest, m_manifestSize, reinterpret_cast<const unsigned char *>(text.data()),
                text.size());
    m_manifestSize += text.size();
    if (flush)
        nf::flushData(m_manifest);
}

void KeptOriginals::writeEntries()
{
    const std::lock_guard lock(m_mutex);
    writeDown(false);
}

void KeptOriginals::writeDown(bool flush)
{
    if (m_unwritten.empty())
        return;
    try {
        append(m_unwritten, flush);
        m_unflushed = !flush;
        m_unwritten.clear();
        m_named = m_entries;
    } catch (const FileError &error) {
        // Their originals are not kept; the entries stay, for the numbers to follow on.
        lose(error);
    }
}

void KeptOriginals::entriesWritten(bool flushed)
{
    const std::lock_guard lock(m_mutex);
    if (!std::exchange(m_unflushed, false))
        return;
    try {
        if (flushed)
            nf::waitWritten(m_manifest); // and hears of an error the flush met
        else
            nf::flushData(m_manifest);
    } catch (const FileError &error) {
        lose(error);
    }
}

void KeptOriginals::noteOutput(std::size_t index, const FileIdentity &output)
{
    m_outputs.emplace_back(index, output);
}

void KeptOriginals::noteNotKept(const std::string &name)
{
    const std::lock_guard lock(m_mutex);
    m_allKept = false;
    if (m_manifest)
        m_unwritten += ur::notKeptLine(name);
}

void KeptOriginals::finish(bool complete) noexcept
{
    stopKeeping();
    const std::scoped_lock lock(m_mutex, m_shelvesMutex);
    if (m_finished || !m_manifest)
        return;
    m_finished = true;
    try {
        writeDown(false); // a run that ended between two flushes
        // The kept names outlast a power cut before the record says the run ended.
        if (!nf::flushFileSystemOf(m_manifest))
            m_shelves->flush(1, m_entries);
        std::string text;
        for (const auto &[index, output] : m_outputs)
            text += ur::outputLine(index, output);
        append(text + ur::endLine(complete), true);
        if (m_previous > m_entries)
            m_shelves->removeFrom(m_entries + 1, m_release);
    } catch (const FileError &) {
        // Undo then proves each script is the run's output by its bytes, and removes what the
        // record before left.
    }
    m_manifest.reset();
    // Nothing of the area stays open: Windows removes no folder that is.
    m_shelves.reset();
    m_area.reset();
    m_lock.reset(); // an undo may come now
}
