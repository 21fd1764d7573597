#include "lastrunundo.h"

#include "byteproof.h"
#include "fileerror.h"
#include "replacementrun.h"
#include "runfolder.h"

#include <algorithm>
#include <memory>

namespace nf = nativefiles;
namespace ur = undorecord;

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;

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
        parsed = ur::parse(byteproof::contentsOf(manifest));
    if (!parsed)
        throw FileError::accessError();
    // The area came with a copy of the folder: its record is another folder's.
    if (parsed->folder != nf::identityOf(m_folder.file).key)
        return;
    m_manifest = std::move(*parsed);
    m_hasRecord = true;
    m_shelves.emplace(*m_area, m_manifest.shelved, false);
    // Each script's entries in the order they were made, and its last word: a run that went on
    // after one that stopped may have changed a script again, or changed it without keeping.
    std::map<std::string, std::vector<const UndoEntry *>> chains;
    for (const UndoEntry &entry : m_manifest.entries)
        chains[entry.name].push_back(&entry);
    for (const UndoManifest::NotKept &lost : m_manifest.notKept) {
        const auto chain = chains.find(lost.name);
        if (chain != chains.end() && chain->second.back()->index > lost.after)
            continue; // kept by a later run after all
        if (chain != chains.end())
            chains.erase(chain);
        if (std::find(m_notKept.begin(), m_notKept.end(), lost.name) == m_notKept.end())
            m_notKept.push_back(lost.name);
    }
    for (const UndoEntry &entry : m_manifest.entries) {
        const auto chain = chains.find(entry.name);
        if (chain != chains.end() && chain->second.back() == &entry)
            consider(chain->second);
    }
}

void LastRunUndo::consider(const std::vector<const UndoEntry *> &chain)
{
    std::vector<std::optional<FileIdentity>> keptFiles;
    for (const UndoEntry *entry : chain)
        keptFiles.push_back(keptOf(*entry));
    // Back to the first original, as long as each later one is just what the run before left.
    std::size_t from = chain.size() - 1;
    while (from > 0 && keptFiles[from - 1] && keptFiles[from] &&
           keptIsOutputOf(*chain[from], *keptFiles[from], *chain[from - 1]))
        --from;
    const UndoEntry &source = *chain[from];
    // Not kept, or already taken back and removed.
    const std::optional<FileIdentity> &kept = keptFiles[from];
    if (!kept)
        return;
    // A copy cut short by a stop: the run never reached the script, its original still.
    if (!source.byLink && source.size && kept->size != *source.size) {
        m_cutShort.push_back(source.index);
        return;
    }
    std::vector<const UndoEntry *> superseded;
    for (const UndoEntry *entry : chain) {
        if (entry != &source)
            superseded.push_back(entry);
    }
    std::optional<FileIdentity> script = nf::identityAt(m_folder, source.name, false);
    if (isDone(source, script)) {
        m_done.push_back(&source);
        m_done.insert(m_done.end(), superseded.begin(), superseded.end());
    } else {
        m_pending.push_back(
            {chain.back(), &source, std::move(script), *kept, std::move(superseded)});
    }
}

std::optional<FileIdentity> LastRunUndo::keptOf(const UndoEntry &entry) const
{
    const NativeFolder *shelf = shelfOf(entry.index);
    std::optional<FileIdentity> kept =
        shelf ? nf::identityAt(*shelf, KeptShelves::nameOf(entry.index), false) : std::nullopt;
    if (kept && kept->kind != FileIdentity::Kind::Regular)
        kept.reset();
    return kept;
}

bool LastRunUndo::keptIsOutputOf(const UndoEntry &later, const FileIdentity &kept,
                                 const UndoEntry &earlier) const
{
    if (earlier.output) {
        // A copy has the script's times, and the script's file is the one the entry names.
        const FileKey found = later.byLink ? kept.key : later.original;
        return found == earlier.output->key && kept.size == earlier.output->size &&
               kept.modified == earlier.output->modified;
    }
    const NativeFile original = openKept(earlier.index);
    const NativeFile output = openKept(later.index);
    return original && output &&
           byteproof::transformsInto(m_manifest.cierres, original, output, kept.size);
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

bool LastRunUndo::isDone(const UndoEntry &source, const std::optional<FileIdentity> &now) const
{
    if (!now || now->kind != FileIdentity::Kind::Regular)
        return false;
    if (source.byLink)
        return now->key == source.original;
    // A copy-back keeps the file: it is back when its bytes are.
    const NativeFile script = nf::openNoLinks(m_folder, source.name, false);
    const NativeFile kept = openKept(source.index);
    return script && kept && now->key == source.original && byteproof::sameBytes(script, kept);
}

bool LastRunUndo::isRunOutput(const UndoEntry &entry, const FileIdentity &now) const
{
    if (entry.output && unchangedSince(now, *entry.output))
        return true;
    if (entry.output && now.key != entry.output->key)
        return false; // another file by its name since
    // The run did not end, or the script was put back as the run left it: it must be, byte for
    // byte, what the run makes of the original, so that nothing written since is lost, and where
    // the original itself goes back, have its owner and permissions (a copy written back keeps
    // the script's own).
    const std::optional<FileIdentity> original = keptOf(entry);
    const NativeFile script = nf::openNoLinks(m_folder, entry.name, false);
    const NativeFile kept = openKept(entry.index);
    const bool sameAccess = !entry.byLink || (original && now.attributes == original->attributes &&
                                              now.owner == original->owner);
    return original && script && kept && sameAccess &&
           byteproof::transformsInto(m_manifest.cierres, kept, script, now.size) &&
           unchangedSince(nf::identityOf(script), now);
}

std::string LastRunUndo::keptPathOf(const std::string &name) const
{
    const auto found = m_keptPaths.find(name);
    return found == m_keptPaths.end() ? std::string() : found->second;
}

LastRunUndo::~LastRunUndo() = default;

bool replacesUndoableRun(const NativeFolder &folder, const Cierres &cierres) noexcept
{
    try {
        const std::optional<NativeFolder> area = nf::openArea(folder, ur::kAreaName, false);
        if (!area || !ur::trustedArea(nf::identityOf(area->file)))
            return false;
        const NativeFile manifest = nf::openNoLinks(*area, ur::kManifestName, false);
        const std::optional<UndoManifest> record =
            manifest ? ur::parse(byteproof::contentsOf(manifest)) : std::nullopt;
        const FileKey folderKey = nf::identityOf(folder.file).key;
        if (!record || !record->shelved || record->folder != folderKey ||
            record->goesOnWith(cierres, folderKey))
            return false;
        const KeptShelves shelves(*area, true, false);
        return std::any_of(
            record->entries.begin(), record->entries.end(), [&](const UndoEntry &entry) {
                const NativeFolder *shelf = shelves.shelfOf(entry.index);
                return shelf && nf::identityAt(*shelf, KeptShelves::nameOf(entry.index), false);
            });
    } catch (...) {
        return false;
    }
}

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
        const std::optional<FileIdentity> &now = pending.script;
        const bool restored =
            now && now->kind == FileIdentity::Kind::Regular && isRunOutput(*pending.entry, *now) &&
            (pending.source->byLink ? restoreLink(pending) : restoreCopy(pending));
        if (restored) {
            m_done.push_back(pending.source);
            m_done.insert(m_done.end(), pending.superseded.begin(), pending.superseded.end());
            ++m_restored;
        } else {
            // Its original stays where it is, for the user to compare, and for a later undo.
            changed.push_back(pending.source->name);
            m_keptPaths[pending.source->name] =
                nf::pathIn(ur::kAreaName, m_shelves->placeOf(pending.source->index));
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
    const UndoEntry &entry = *pending.source;
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

bool LastRunUndo::restoreCopy(const Pending &pending)
{
    const UndoEntry &entry = *pending.source;
    const FileIdentity &now = *pending.script;
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
    nf::removeName(*m_area, ur::kIgnoreName);
    nf::flushFolder(*m_area);
    m_shelves.reset();
    m_area.reset();
    m_lock.reset();
    nf::removeEmptyFolder(m_folder, ur::kAreaName);
    nf::flushFolder(m_folder);
}
