#pragma once

#include "backgroundcloser.h"
#include "keptshelves.h"
#include "nativefiles.h"
#include "undorecord.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Takes back the last confirmed run in a folder from the originals it kept (keptoriginals.h), as
// far as nothing newer is lost: a script still exactly as the run left it (its identity, change
// time included; after a run that did not end, its bytes are the run's transform of the kept
// original) gets its original back, the very file with its owner, mode, ACLs and times; any
// other is left untouched and named. Taking back twice, or after an undo was stopped, finishes
// what is left.
class ReplacementRun;

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
    std::size_t count() const { return m_pending.size() + m_manifest.notKept.size(); }
    // Restores them, one by one while `goOn` (asked before each) says so; returns the names of
    // those that changed since, left as they are. The record goes when nothing is left in it.
    // Throws FileError, leaving the rest for later.
    std::vector<std::string> restore(const std::function<bool()> &goOn = {});
    // How many restore() gave back.
    std::size_t restored() const { return m_restored; }
    // Whether `goOn` stopped it before the end: the rest is left for a later undo.
    bool stopped() const { return m_stopped; }
    // The scripts the run changed without keeping their originals: they stay as they are.
    const std::vector<std::string> &notKept() const { return m_manifest.notKept; }

private:
    // An entry still to take back, with the script and the original as they were found.
    struct Pending
    {
        const UndoEntry *entry = nullptr;
        std::optional<FileIdentity> script;
        FileIdentity kept;
    };

    bool isDone(const UndoEntry &entry, const std::optional<FileIdentity> &now) const;
    bool isRunOutput(const UndoEntry &entry, const FileIdentity &now) const;
    bool restoreLink(const Pending &pending);
    bool restoreCopy(const UndoEntry &entry, const FileIdentity &now);
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
    bool m_hasRecord = false;            // this folder's own
    std::size_t m_restored = 0;
    bool m_stopped = false;
    // Writes the copied originals back, one after the other, with the copy-back's protection.
    std::unique_ptr<ReplacementRun> m_copyBack;
    // The run's outputs, swapped out, are freed here: on some disks each waits for the device.
    std::optional<BackgroundCloser> m_closer;
};
