#pragma once

#include "nativefiles.h"
#include "originalkeeper.h"
#include "recoverypolicy.h"
#include "scriptrun.h"

#include <cstddef>
#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <vector>

// One script replaced by its new text, so that whatever happens it is its original or its
// complete new text, with its owner, group, mode, ACLs, extended attributes and links kept.
//
// Rename path: the new text goes to a file without a name (or with an unpredictable one, named
// in the run's record), given the script's identity, flushed and put in the script's place by
// the system's replace, once the record names the script. Copy-back path, when the new file
// cannot carry the identity (hard links, an owner or group we cannot give, attributes we cannot
// set, a folder we cannot write) or the system will not replace the script (another program
// holds it, Windows): the new text goes to a flushed recovery file first, with checksums of the
// old bytes it replaces, and is then copied over the script; a crash in between is finished by
// finishInterruptedRewrites().
//
// A symbolic link is followed only where mayFollowLink() allows it. Whatever may wait (the run's
// record, flushes, names) is done before the last check that nobody else changed the script,
// which comes right before the replacement.
class ScriptReplacement
{
public:
    // Opens, checks and locks the script `name` of `folder`, which the run holds and which must
    // outlive the script. Throws FileError.
    ScriptReplacement(ScriptRun &run, const NativeFolder &folder, const std::string &name);
    ScriptReplacement(const ScriptReplacement &) = delete;
    ScriptReplacement &operator=(const ScriptReplacement &) = delete;
    ~ScriptReplacement();

    std::uint64_t size() const { return m_original.size; }
    // Its name in the run's folder, which a failure of it names.
    const std::string &name() const { return m_name; }

    // The script's next bytes: `size`, or fewer only at the length it had when it was opened.
    std::size_t read(unsigned char *data, std::size_t size);

    // The new text differs from the script from `prefix` on; the script's first `prefix` bytes
    // are its first bytes too.
    void startOutput(std::uint64_t prefix);
    bool outputStarted() const { return m_path != Path::None; }
    // The new text's bytes at `offset`, in order from the prefix on.
    void write(const unsigned char *data, std::size_t size, std::uint64_t offset);
    // The new text is `size` bytes long and complete.
    void endOutput(std::uint64_t size);

    // What the run does with it, once its new text is complete.
    // The same file was reached before under another name: nothing more is done with it.
    bool alreadyDone() const { return m_alreadyDone; }
    // It goes the copy-back way, which is never batched.
    bool copiesBack() const { return m_path == Path::CopyBack; }
    // The volume its new text is written on, and one flush of that whole volume; false where
    // the system has none.
    std::uint64_t volume() const { return m_original.key.volume; }
    bool flushFileSystem() const { return nativefiles::flushFileSystemOf(m_output); }
    // After the flush of its volume: waits for its own writing, and hears of its errors.
    void checkWritten();
    // Flushes the new text by itself.
    void flushData();
    // Keeps the original ahead, while the rest of the batch is written.
    void keepAhead();
    // Its entry for the record, unless it was noted already or cannot be named; then noted.
    std::optional<RecordedReplace> unnotedReplacement();
    void replacementNoted() { m_replaceNoted = true; }
    // Makes the new text the script, after a last look that nobody else changed it.
    void commit();

private:
    enum class Path
    {
        None,
        Rename,
        CopyBack
    };

    void open(const NativeFolder &folder, const std::string &name);
    bool tryRenamePath();
    void startCopyBack();
    void sumOldBytes(const unsigned char *data, std::size_t size, std::uint64_t offset);
    void endCopyBack(std::uint64_t size);
    void writeBack(std::uint64_t end);
    void checkUnchanged() const;
    void prepareRename();
    void prepareCopyBack();
    bool commitRename();
    void takeKeptAhead() noexcept;
    void commitCopyBack();
    void copyBackInstead();
    void noteTargetFolder();
    const std::string &targetFolderPath();
    const FileKey &targetFolderKey();
    RecordedReplace recordedReplace();
    RecoveryHeader recoveryHeader() const;
    void removeOutputName() noexcept;

    ScriptRun &m_run;
    bool m_alreadyDone = false;
    std::string m_name; // in the run's folder: a link's own where it is one
    // The folder of the file that was read: the run's, or a link's target's own (m_linkFolder).
    const NativeFolder *m_targetFolder = nullptr;
    NativeFolder m_linkFolder;
    std::string m_targetName;
    std::optional<FileKey> m_targetFolderKey;
    std::string m_canonicalFolderPath; // as the record names it: absolute, without links
    NativeFile m_input;
    FileIdentity m_original;
    std::uint64_t m_readOffset = 0;

    Path m_path = Path::None;
    NativeFile m_output;                          // the new file, or the recovery file
    const NativeFolder *m_outputFolder = nullptr; // m_targetFolder, or the record's folder
    std::string m_outputName;                     // empty while the new file has no name
    FileKey m_made;                               // the new file, once it is complete
    std::string m_backupName; // where the system's replace may leave the old file meanwhile
    bool m_replaceNoted = false;
    RecoveryPlace m_recoveryPlace;
    NativeFile m_script;                       // the script open for the copy-back's writes
    std::vector<std::uint64_t> m_oldChecksums; // of the old bytes from m_start on, a block each
    std::string m_oldBlock;                    // the old bytes of a block not yet summed whole
    std::uint64_t m_summedTo = 0;
    std::uint64_t m_dataOffset = 0; // where the new text starts in the output file
    std::uint64_t m_start = 0;      // where the new text first differs from the script
    std::uint64_t m_newSize = 0;
    std::uint64_t m_writeBackStarted = 0; // the output's bytes up to here are on their way
    std::uint64_t m_writtenBack = 0;      // and up to here on the disk
    bool m_committed = false;
    std::optional<std::size_t> m_kept; // the original's entry in the record for undo
    bool m_keepingAhead = false;
    std::future<OriginalKeeper::Linked> m_keptAhead;
    // The original as its kept second name left it, which the last look compares against.
    std::optional<FileIdentity> m_keptOriginal;
};
