#pragma once

#include "backgroundcloser.h"
#include "keptshelves.h"
#include "nativefiles.h"
#include "undorecord.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Takes back the last confirmed run in a folder from the originals it kept (keptoriginals.h), as
// far as nothing newer is lost: a script still exactly as the run left it (its identity, change
// time included; after a run that did not end, its bytes are the run's transform of the kept
// original) gets its original back, the very file with its owner, mode, ACLs and times; any
// other is left untouched and named, and its original stays kept for a later undo. Taking back
// twice, or after an undo was stopped, finishes what is left. Where a run went on after one
// that stopped, a script both changed goes back to what the first found, unless it was edited
// in between: then to what the second found, so that nothing the user wrote is lost.
class ReplacementRun;

// Whether a run with `cierres` in `folder` would replace a record whose originals an undo could
// still give back: the last run went through every script, or had other delimiters (a run after
// one that stopped, with the same ones, goes on with its record instead). False where it cannot
// tell; never throws.
bool replacesUndoableRun(const NativeFolder &folder, const Cierres &cierres) noexcept;

class LastRunUndo
{
public:
    // Opens the folder (held from here to the end, see runfolder.h) and its area, waits for a
    // run or undo under way there, and reads the record. Throws FileError: 76 for a folder that
    // is not there, 70 for an area that is not ours alone or a link on the folder's way that
    // may not be followed, 75 for a record that cannot be read.
    explicit LastRunUndo(const std::string &folder);
    LastRunUndo(const LastRunUndo &) = delete;
    LastRunUndo &operator=(const LastRunUndo &) = delete;
    ~LastRunUndo();

    // The scripts the last run changed that are not back yet, with those it could not keep the
    // originals of; 0: nothing to undo.
    std::size_t count() const { return m_pending.size() + m_notKept.size(); }
    // Some script of the run is still to go back, and could.
    bool anyToRestore() const { return !m_pending.empty(); }
    // Restores them, one by one while `goOn` (asked before each) says so; returns the names of
    // those that changed since, left as they are. The record goes when nothing is left in it.
    // Throws FileError, leaving the rest for later.
    std::vector<std::string> restore(const std::function<bool()> &goOn = {});
    // How many restore() gave back.
    std::size_t restored() const { return m_restored; }
    // Whether `goOn` stopped it before the end: the rest is left for a later undo.
    bool stopped() const { return m_stopped; }
    // The scripts the run changed without keeping their originals: they stay as they are.
    const std::vector<std::string> &notKept() const { return m_notKept; }
    // Where the original of a script restore() left is kept, from the folder:
    // ".dovezurad.deshacer/1-64/3" (with the system's separator).
    std::string keptPathOf(const std::string &name) const;

private:
    // A script still to take back, with the script and the original as they were found: the
    // script must be what its last entry's run left; the original that goes back is its
    // source's, and the entries in between go with it.
    struct Pending
    {
        const UndoEntry *entry = nullptr;
        const UndoEntry *source = nullptr;
        std::optional<FileIdentity> script;
        FileIdentity kept;
        std::vector<const UndoEntry *> superseded;
    };

    void consider(const std::vector<const UndoEntry *> &chain);
    std::optional<FileIdentity> keptOf(const UndoEntry &entry) const;
    bool keptIsOutputOf(const UndoEntry &later, const FileIdentity &kept,
                        const UndoEntry &earlier) const;
    bool isDone(const UndoEntry &source, const std::optional<FileIdentity> &now) const;
    bool isRunOutput(const UndoEntry &entry, const FileIdentity &now) const;
    bool restoreLink(const Pending &pending);
    bool restoreCopy(const Pending &pending);
    void cleanUp(bool everything);
    // Where entry `index`'s original is: nullptr when its shelf is not there.
    const NativeFolder *shelfOf(std::size_t index) const;
    NativeFile openKept(std::size_t index) const;

    NativeFolder m_folder;
    std::optional<NativeFolder> m_area;
    std::optional<KeptShelves> m_shelves; // in m_area
    NativeFile m_lock;
    UndoManifest m_manifest;
    std::vector<Pending> m_pending;
    std::vector<const UndoEntry *> m_done;
    std::vector<std::size_t> m_cutShort; // kept names that hold no whole original
    std::vector<std::string> m_notKept;
    std::map<std::string, std::string> m_keptPaths; // of the scripts restore() left
    bool m_hasRecord = false;                       // this folder's own
    std::size_t m_restored = 0;
    bool m_stopped = false;
    // Writes the copied originals back, one after the other, with the copy-back's protection.
    std::unique_ptr<ReplacementRun> m_copyBack;
    // The run's outputs, swapped out, are freed here: on some disks each waits for the device.
    std::optional<BackgroundCloser> m_closer;
};
