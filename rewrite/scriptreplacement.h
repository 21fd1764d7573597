#pragma once

#include "recoverypolicy.h"
#include "runrecord.h"
#include "uniquefd.h"

#include <sys/stat.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Points where a test acts on a script while it is being replaced, instead of racing with sleeps.
struct ReplacementHooks
{
    std::function<void()> afterOpen;     // the script is open, its name not yet resolved
    std::function<void()> beforeReplace; // the new text is complete and flushed
    bool noUnnamedFiles = false;         // behave as on a file system without O_TMPFILE
};

class ReplacementRun;

// Closes the scripts' old files on a few threads of its own. The last close of a replaced file
// frees its blocks, which on some disks waits for the device each time; several at once overlap
// those waits. Closes what is left, and waits for them, when it is destroyed.
class BackgroundCloser
{
public:
    // At most `mostWaiting` descriptors wait; past that the caller closes its own.
    BackgroundCloser(std::size_t threads, std::size_t mostWaiting);
    BackgroundCloser(const BackgroundCloser &) = delete;
    BackgroundCloser &operator=(const BackgroundCloser &) = delete;
    ~BackgroundCloser();

    void close(UniqueFd fd);

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<UniqueFd> m_queue;
    std::size_t m_mostWaiting = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

// One script replaced by its new text, so that whatever happens it is its original or its
// complete new text, with its owner, group, mode, ACLs, extended attributes and links kept.
//
// Rename path: the new text goes to a file without a name (or with an unpredictable one, named
// in the run's record), given the script's identity, flushed and renamed over the script.
// Copy-back path, when the new file cannot carry the identity (hard links, an owner or group we
// cannot give, attributes we cannot set, a folder we cannot write): the new text goes to a
// flushed recovery file first, with checksums of the old bytes it replaces, and is then copied
// over the script; a crash in between is finished by finishInterruptedRewrites().
//
// A symbolic link is followed only where mayFollowLink() allows it. Whatever may wait (the run's
// record, flushes, names) is done before the last check that nobody else changed the script,
// which comes right before the replacement.
class ScriptReplacement
{
public:
    // Opens, checks and locks the script. Throws FileError.
    ScriptReplacement(ReplacementRun &run, const std::string &folder, const std::string &name);
    ScriptReplacement(const ScriptReplacement &) = delete;
    ScriptReplacement &operator=(const ScriptReplacement &) = delete;
    ~ScriptReplacement();

    std::uint64_t size() const { return static_cast<std::uint64_t>(m_original.st_size); }

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

private:
    friend class ReplacementRun;
    enum class Path
    {
        None,
        Rename,
        CopyBack
    };

    void open(const std::string &folder, const std::string &name);
    bool tryRenamePath();
    void startCopyBack();
    void sumOldBytes(const unsigned char *data, std::size_t size, std::uint64_t offset);
    void checkWritten();
    void flushData();
    void writeBack(std::uint64_t end);
    void checkUnchanged() const;
    void commit();
    void prepareRename();
    void prepareCopyBack();
    void commitRename();
    void commitCopyBack();
    void noteTargetFolder();
    const std::string &targetFolderPath();
    RecoveryHeader recoveryHeader() const;

    ReplacementRun &m_run;
    bool m_alreadyDone = false;
    UniqueFd m_targetFolder; // the folder of the file that was read: a link's target's own
    std::string m_targetName;
    std::string m_targetFolderPath;
    std::string m_canonicalFolderPath; // as the record names it: absolute, without links
    UniqueFd m_input;
    struct stat m_original
    {
    };
    std::uint64_t m_readOffset = 0;

    Path m_path = Path::None;
    UniqueFd m_output;        // the new file, or the recovery file
    int m_outputFolder = -1;  // where m_outputName lies: m_targetFolder or the state folder
    std::string m_outputName; // empty while the new file has no name
    RecoveryPlace m_recoveryPlace;
    UniqueFd m_script;                         // the script open for the copy-back's writes
    std::vector<std::uint64_t> m_oldChecksums; // of the old bytes from m_start on, a block each
    std::string m_oldBlock;                    // the old bytes of a block not yet summed whole
    std::uint64_t m_summedTo = 0;
    std::uint64_t m_dataOffset = 0; // where the new text starts in the output file
    std::uint64_t m_start = 0;      // where the new text first differs from the script
    std::uint64_t m_newSize = 0;
    std::uint64_t m_writeBackStarted = 0; // the output's bytes up to here are on their way
    std::uint64_t m_writtenBack = 0;      // and up to here on the disk
    bool m_committed = false;
};

// What one run of rewrites shares: the scripts already done (by device and inode), the folders
// to flush at the end, the scripts whose new text waits for one flush with the others, and the
// record that lets a later start clean up after this run if it is killed. The batches and the
// closes left waiting fit in the process's limit of open files.
class ReplacementRun
{
public:
    // batchSize > 1 lets the new texts of up to that many scripts be flushed together before
    // they are renamed, each still after its own flush.
    explicit ReplacementRun(std::size_t batchSize = 1, ReplacementHooks hooks = {});
    ReplacementRun(const ReplacementRun &) = delete;
    ReplacementRun &operator=(const ReplacementRun &) = delete;
    // Settles what is pending, without reporting failures; call finish() to hear of them.
    ~ReplacementRun();

    // nullptr when the same file was already reached in this run under another name.
    std::unique_ptr<ScriptReplacement> open(const std::string &folder, const std::string &name);
    // Makes the script's new text the script now, or with the rest of its batch.
    void replace(std::unique_ptr<ScriptReplacement> script);
    // Replaces every pending script, in order; the first failure stops and is thrown, leaving
    // the later ones as they were.
    void settle();
    // settle(), then flushes the folders so that the renames outlast a power cut.
    void finish();

private:
    friend class ScriptReplacement;
    void flushLater(int folder);
    void flushFolders();
    void dropRecord() noexcept;
    RunRecord &record();
    std::size_t freeSlot() const;
    std::string linkName();

    ReplacementHooks m_hooks;
    std::size_t m_batchSize = 1;
    std::set<std::pair<dev_t, ino_t>> m_seen;
    std::set<std::pair<dev_t, ino_t>> m_notedFolders; // named in the record
    std::map<std::pair<dev_t, ino_t>, UniqueFd> m_foldersToFlush;
    std::vector<std::unique_ptr<ScriptReplacement>> m_pending;
    std::unique_ptr<RunRecord> m_record;
    bool m_keepRecord = false;
    std::unique_ptr<BackgroundCloser> m_closer; // for batched runs only
};

// How many scripts may wait in a batch and how many closes may wait for the background closer,
// for a process that may open `limit` files and has `open` open now.
struct DescriptorBudget
{
    std::size_t batch = 1;
    std::size_t waitingCloses = 0;
};
DescriptorBudget descriptorBudget(std::uint64_t limit, std::uint64_t open, std::size_t batch);
