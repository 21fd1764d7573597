#pragma once

#include "nativefiles.h"
#include "originalkeeper.h"
#include "recoverypolicy.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class RunRecord;
class ScriptReplacement;

// Points where a test acts on a script while it is being replaced, instead of racing with sleeps.
struct ReplacementHooks
{
    std::function<void()> afterOpen;     // the script is open, its name not yet resolved
    std::function<void()> beforeReplace; // the new text is complete and flushed
    bool noUnnamedFiles = false;         // behave as on a file system without O_TMPFILE
    // Writes over the script itself, keeping its file: what undo does with a copy it kept.
    bool copyBackOnly = false;
    // How much room the disk has, for keeping originals (nativefiles::diskSpace when empty).
    std::function<DiskSpace(const NativeFolder &)> diskSpace;
};

// What the protocol for one script (scriptreplacement.h) needs of the run it is part of, and
// nothing more: the run (replacementrun.h) gives it.
class ScriptRun
{
public:
    ScriptRun() = default;
    ScriptRun(const ScriptRun &) = delete;
    ScriptRun &operator=(const ScriptRun &) = delete;

    virtual const ReplacementHooks &hooks() const = 0;
    // A dry run's: its scripts start no new text.
    virtual bool readOnly() const = 0;
    // Where the originals of the scripts the run changes are kept; nullptr when none are.
    virtual OriginalKeeper *keeper() = 0;
    // Whether the run reached that file before, under another name or as a new text it made;
    // noteReached() says it did.
    virtual bool reached(const FileKey &file) const = 0;
    virtual void noteReached(const FileKey &file) = 0;
    // The record a later start reads if the run is killed.
    virtual RunRecord &record() = 0;
    // The record's temporary name for the script that waits next in the batch, and the name an
    // unnamed new file gets just before its rename.
    virtual std::size_t freeSlot() const = 0;
    virtual std::string linkName() = 0;
    // Names in the record, at once, those of these scripts it does not name yet, before they are
    // replaced; a record that cannot be written leaves the rewrite whole all the same.
    virtual void noteReplacements(const std::vector<ScriptReplacement *> &scripts) = 0;
    // A folder whose names changed, flushed once at the run's end.
    virtual void flushLater(const NativeFolder &folder, const FileKey &key) = 0;
    // A replaced script's old file: closing it frees its blocks, which the run need not wait for.
    virtual void release(NativeFile oldFile) = 0;
    // While a copy-back writes over its script, a failure leaves the record for the next start.
    virtual void keepRecord(bool keep) = 0;
    // The folder as the record names it, absolute and without links.
    virtual const std::string &folderPath(const NativeFolder &folder, const FileKey &key) = 0;
    // Before a script's new text of `size` bytes at most is written in `folder`.
    virtual void makeRoomFor(const NativeFolder &folder, std::uint64_t size) = 0;

protected:
    ~ScriptRun() = default;
};
