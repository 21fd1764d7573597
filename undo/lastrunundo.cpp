#include "lastrunundo.h"

#include "fileerror.h"
#include "replacementrun.h"
#include "runfolder.h"
#include "scripttransform.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace nf = nativefiles;
namespace ur = undorecord;

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;

std::string contentsOf(const NativeFile &file)
{
    std::string text(static_cast<std::size_t>(nf::identityOf(file).size), '\0');
    text.resize(nf::readAt(file, 0, reinterpret_cast<unsigned char *>(text.data()), text.size()));
    return text;
}

// Whether two files hold the same bytes.
bool sameBytes(const NativeFile &a, const NativeFile &b)
{
    if (nf::identityOf(a).size != nf::identityOf(b).size)
        return false;
    std::vector<unsigned char> left(kChunk);
    std::vector<unsigned char> right(kChunk);
    for (std::uint64_t at = 0;; at += kChunk) {
        const std::size_t got = nf::readAt(a, at, left.data(), kChunk);
        if (nf::readAt(b, at, right.data(), kChunk) != got ||
            std::memcmp(left.data(), right.data(), got) != 0)
            return false;
        if (got < kChunk)
            return true;
    }
}

// The same file, as large, as last written, with the same owner and permissions: what a rename
// leaves of an identity (it may change the change time).
bool sameContent(const FileIdentity &now, const FileIdentity &then)
{
    return sameLastWrite(now, then) && now.attributes == then.attributes && now.owner == then.owner;
}

} // namespace

LastRunUndo::LastRunUndo(const std::string &folder) : m_folder(openRunFolder(folder))
{
    const std::string area = std::string("la carpeta ") + ur::kAreaName;
    m_area = nf::openArea(m_folder, ur::kAreaName, false);
    if (!m_area) {
        // A link planted by that name is not followed, nor taken for nothing to undo.
        const std::optional<FileIdentity> planted = nf::identityAt(m_folder, ur::kAreaName, false);
        if (planted)
            throw FileError::heldByAnotherProgram().about(area + " no es una carpeta");
        return;
    }
    const FileIdentity found = nf::identityOf(m_area->file);
    if (!nf::ownedByRunner(found))
        throw FileError::heldByAnotherProgram().about(area + " es de otro usuario");
    if (!ur::trustedArea(found))
        throw FileError::heldByAnotherProgram().about(area + " está abierta a otros usuarios");
    m_lock = nf::lockArea(*m_area, true);
    const NativeFile manifest = nf::openNoLinks(*m_area, ur::kManifestName, false);
    if (!manifest)
        return;
    const std::optional<FileIdentity> manifestIdentity =
        nf::identityAt(*m_area, ur::kManifestName, false);
    std::optional<UndoManifest> parsed;
    if (manifestIdentity && manifestIdentity->kind == FileIdentity::Kind::Regular)
        parsed = ur::parse(contentsOf(manifest));
    if (!parsed)
        throw FileError::accessError();
    // The area came with a copy of the folder: its record is another folder's.
    if (parsed->folder != nf::identityOf(m_folder.file).key)
        return;
    m_manifest = std::move(*parsed);
    m_hasRecord = true;
    m_shelves.emplace(*m_area, m_manifest.shelved, false);
    for (const UndoEntry &entry : m_manifest.entries) {
        const NativeFolder *shelf = shelfOf(entry.index);
        const std::optional<FileIdentity> kept =
            shelf ? nf::identityAt(*shelf, KeptShelves::nameOf(entry.index), false) : std::nullopt;
        // Not kept, or already taken back and removed.
        if (!kept || kept->kind != FileIdentity::Kind::Regular)
            continue;
        // A copy cut short by a stop: the run never reached the script, its original still.
        if (!entry.byLink && entry.size && kept->size != *entry.size) {
            m_cutShort.push_back(entry.index);
            continue;
        }
        std::optional<FileIdentity> script = nf::identityAt(m_folder, entry.name, false);
        if (isDone(entry, script))
            m_done.push_back(&entry);
        else
            m_pending.push_back({&entry, std::move(script), *kept});
    }
}

const NativeFolder *LastRunUndo::shelfOf(std::size_t index) const
{
    return m_shelves ? m_shelves->shelfOf(index) : nullptr;
}

NativeFile LastRunUndo::openKept(std::size_t index) const
{
    const NativeFolder *shelf = shelfOf(index);
    return shelf ? nf::openNoLinks(*shelf, KeptShelves::nameOf(index), false) : NativeFile{};
}

bool LastRunUndo::isDone(const UndoEntry &entry, const std::optional<FileIdentity> &now) const
{
    if (!now || now->kind != FileIdentity::Kind::Regular)
        return false;
    if (entry.byLink)
        return now->key == entry.original;
    // A copy-back keeps the file: it is back when its bytes are.
    const NativeFile script = nf::openNoLinks(m_folder, entry.name, false);
    const NativeFile kept = openKept(entry.index);
    return script && kept && now->key == entry.original && sameBytes(script, kept);
}

bool LastRunUndo::isRunOutput(const UndoEntry &entry, const FileIdentity &now) const
{
    if (entry.output)
        return unchangedSince(now, *entry.output);
    // The run did not end: the script must be, byte for byte, what the run makes of the
    // original, so that nothing written since is lost.
    const NativeFile script = nf::openNoLinks(m_folder, entry.name, false);
    const NativeFile kept = openKept(entry.index);
    if (!script || !kept)
        return false;
    bool same = true;
    std::vector<unsigned char> theirs;
    ScriptTransform transform(m_manifest.cierres, [&](const unsigned char *data, std::size_t size,
                                                      std::uint64_t offset, bool) {
        if (!same)
            return;
        theirs.resize(size);
        same = offset + size <= now.size &&
               nf::readAt(script, offset, theirs.data(), size) == size &&
               std::memcmp(theirs.data(), data, size) == 0;
    });
    std::vector<unsigned char> chunk(kChunk);
    for (std::uint64_t at = 0; same;) {
        const std::size_t got = nf::readAt(kept, at, chunk.data(), kChunk);
        transform.feed(chunk.data(), got);
        at += got;
        if (got < kChunk)
            break;
    }
    transform.finish();
    return same && transform.outputSize() == now.size &&
           unchangedSince(nf::identityOf(script), now);
}

LastRunUndo::~LastRunUndo() = default;

std::vector<std::string> LastRunUndo::restore(const std::function<bool()> &goOn)
{
    std::vector<std::string> changed;
    std::size_t next = 0;
    for (; next < m_pending.size(); ++next) {
        if (goOn && !goOn()) {
            m_stopped = true;
            break;
        }
        // As found before the question: a change made since shows in the last look before the
        // swap, in what is swapped out, or in the copy-back's own checks.
        const Pending &pending = m_pending[next];
        const UndoEntry *entry = pending.entry;
        const std::optional<FileIdentity> &now = pending.script;
        const bool restored = now && now->kind == FileIdentity::Kind::Regular &&
                              isRunOutput(*entry, *now) &&
                              (entry->byLink ? restoreLink(pending) : restoreCopy(*entry, *now));
        if (restored) {
            m_done.push_back(entry);
            ++m_restored;
        } else {
            changed.push_back(entry->name);
        }
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(next));
    if (m_copyBack) {
        m_copyBack->finish();
        m_copyBack.reset();
    }
    cleanUp(changed.empty() && m_pending.empty());
    return changed;
}

bool LastRunUndo::restoreLink(const Pending &pending)
{
    const UndoEntry &entry = *pending.entry;
    const FileIdentity &now = *pending.script;
    const std::string kept = KeptShelves::nameOf(entry.index);
    const NativeFolder *shelf = shelfOf(entry.index);
    if (!shelf || pending.kept.key != entry.original)
        return false; // not what the run kept
    // A last look, change time included: an edit made while the question waited, even one that
    // kept the length and the modification time, leaves the script as it is.
    const std::optional<FileIdentity> again = nf::identityAt(m_folder, entry.name, false);
    if (!again || !unchangedSince(*again, now))
        return false;
    if (!nf::exchange(*shelf, kept, m_folder, entry.name)) {
        // No swap on this file system: the original goes back over the name.
        nf::renameOver(*shelf, kept, m_folder, entry.name);
        return true;
    }
    // What was swapped out must be what was checked: a write that came in between is put back.
    const std::optional<FileIdentity> out = nf::identityAt(*shelf, kept, false);
    if (!out || !sameContent(*out, now)) {
        nf::exchange(*shelf, kept, m_folder, entry.name);
        return false;
    }
    return true;
}

bool LastRunUndo::restoreCopy(const UndoEntry &entry, const FileIdentity &now)
{
    if (now.key != entry.original)
        return false; // replaced by another file since
    const NativeFile kept = openKept(entry.index);
    if (!kept)
        return false;
    // The copy-back's own protection: a flushed recovery file first, so that a stop leaves the
    // script whole, the run's output or its original.
    if (!m_copyBack) {
        ReplacementHooks hooks;
        hooks.copyBackOnly = true;
        m_copyBack = std::make_unique<ReplacementRun>(1, std::move(hooks));
    }
    ReplacementRun &run = *m_copyBack;
    std::unique_ptr<ScriptReplacement> script = run.open(m_folder, entry.name);
    const std::optional<FileIdentity> opened = nf::identityAt(m_folder, entry.name, false);
    if (!script || !opened || !unchangedSince(*opened, now))
        return false;
    script->startOutput(0);
    std::vector<unsigned char> chunk(kChunk);
    while (script->read(chunk.data(), kChunk) == kChunk) {
    }
    const std::uint64_t size = nf::identityOf(kept).size;
    for (std::uint64_t at = 0; at < size;) {
        const std::size_t got = nf::readAt(kept, at, chunk.data(), kChunk);
        if (got == 0)
            throw FileError::deviceError();
        script->write(chunk.data(), got, at);
        at += got;
    }
    script->endOutput(size);
    run.replace(std::move(script));
    const NativeFile restored = nf::openNoLinks(m_folder, entry.name, true);
    if (restored && nf::identityOf(restored).key == entry.original)
        nf::copyTimes(kept, restored);
    return true;
}

void LastRunUndo::cleanUp(bool everything)
{
    if (!m_hasRecord)
        return;
    // Only names the record lists; the area goes only when nothing else is in it.
    if (!m_closer)
        m_closer.emplace(BackgroundCloser::kThreads,
                         std::min(BackgroundCloser::kMostWaiting, nf::openFileRoom() / 2));
    for (const UndoEntry *entry : m_done) {
        if (const NativeFolder *shelf = shelfOf(entry->index))
            m_closer->close(nf::detachName(*shelf, KeptShelves::nameOf(entry->index)));
    }
    m_done.clear();
    if (!everything)
        return;
    for (const std::size_t index : m_cutShort) {
        if (const NativeFolder *shelf = shelfOf(index))
            nf::removeName(*shelf, KeptShelves::nameOf(index));
    }
    // The record before's, as many as are there. Windows removes no folder that is open, nor
    // one with the lock's file still in it.
    const std::size_t entries = m_manifest.entries.size();
    if (m_manifest.previous > entries)
        m_shelves->removeFrom(entries + 1, {});
    m_shelves->removeEmpty(1, entries);
    nf::removeName(*m_area, ur::kNewManifestName);
    nf::removeName(*m_area, ur::kManifestName);
    nf::flushFolder(*m_area);
    m_shelves.reset();
    m_area.reset();
    m_lock.reset();
    nf::removeEmptyFolder(m_folder, ur::kAreaName);
    nf::flushFolder(m_folder);
}
