#pragma once

#include "backgroundcloser.h"
#include "diskroom.h"
#include "nativefiles.h"
#include "originalkeeper.h"
#include "runrecord.h"
#include "scriptreplacement.h"
#include "scriptrun.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// What one run of rewrites shares: the scripts already done (by their file ids), the folders to
// flush at the end, the scripts whose new text waits for one flush with the others, and the
// record that lets a later start clean up after this run if it is killed. The batches and the
// closes left waiting fit in the process's limit of open files.
class ReplacementRun final : public ScriptRun
{
public:
    // batchSize > 1 lets the new texts of up to that many scripts be flushed together before
    // they are renamed, each still after its own flush.
    explicit ReplacementRun(std::size_t batchSize = 1, ReplacementHooks hooks = {});
    // A dry run's: it opens and checks scripts as any run does, but finishes no killed run's
    // work, and a script of it refuses to start a new text.
    struct ReadOnly
    {
    };
    explicit ReplacementRun(ReadOnly);
    ReplacementRun(const ReplacementRun &) = delete;
    ReplacementRun &operator=(const ReplacementRun &) = delete;
    // Settles what is pending, without reporting failures; call finish() to hear of them.
    ~ReplacementRun();

    // The script `name` of `folder`, which the caller holds for longer than the script lives;
    // nullptr when the same file was already reached in this run under another name.
    std::unique_ptr<ScriptReplacement> open(const NativeFolder &folder, const std::string &name);
    // Makes the script's new text the script now, or with the rest of its batch.
    void replace(std::unique_ptr<ScriptReplacement> script);
    // Replaces every pending script, in order; the first failure stops and is thrown, leaving
    // the later ones as they were.
    void settle();
    // settle(), then flushes the folders so that the renames outlast a power cut.
    void finish();
    // Keeps the original of every script the run changes, for undo, through `keeper`.
    void keepOriginals(std::unique_ptr<OriginalKeeper> keeper);
    // What a keeper hands back, for the run to close on its own threads.
    OriginalKeeper::Release releaser();
    // False when some original could not be kept.
    bool originalsKept() const { return !m_kept || m_kept->allKept(); }
    // Why some were not (OriginalKeeper::Trouble).
    unsigned keepTroubles() const { return m_kept ? m_kept->troubles() : 0; }
    // How many scripts got their new text so far. A failure of one script names it (detail).
    std::size_t replaced() const { return m_replaced; }

    // What a script of the run asks of it.
    const ReplacementHooks &hooks() const override { return m_hooks; }
    bool readOnly() const override { return m_readOnly; }
    OriginalKeeper *keeper() override { return m_kept.get(); }
    bool reached(const FileKey &file) const override { return m_seen.contains(file); }
    void noteReached(const FileKey &file) override { m_seen.insert(file); }
    RunRecord &record() override;
    std::size_t freeSlot() const override { return m_pending.size(); }
    std::string linkName() override;
    void noteReplacements(const std::vector<ScriptReplacement *> &scripts) override;
    void flushLater(const NativeFolder &folder, const FileKey &key) override;
    void release(NativeFile oldFile) override;
    void keepRecord(bool keep) override { m_keepRecord = keep; }
    const std::string &folderPath(const NativeFolder &folder, const FileKey &key) override;
    void makeRoomFor(const NativeFolder &folder, std::uint64_t size) override;

private:
    void flushFolders();
    void dropRecord() noexcept;

    ReplacementHooks m_hooks;
    std::size_t m_batchSize = 1;
    std::set<FileKey> m_seen;
    std::map<FileKey, std::string> m_folderPaths; // as the record names them
    std::map<FileKey, NativeFolder> m_foldersToFlush;
    std::vector<std::unique_ptr<ScriptReplacement>> m_pending;
    std::unique_ptr<RunRecord> m_record;
    bool m_keepRecord = false;
    bool m_readOnly = false;
    std::unique_ptr<BackgroundCloser> m_closer; // for batched runs only
    std::unique_ptr<OriginalKeeper> m_kept;
    DiskRoom m_room; // for the new texts a batch holds at once
    std::size_t m_replaced = 0;
    std::uint64_t m_largest = 0;
};

// How many scripts may wait in a batch and how many closes may wait for the background closer,
// for a process that may open `room` more files now.
struct DescriptorBudget
{
    std::size_t batch = 1;
    std::size_t waitingCloses = 0;
};
DescriptorBudget descriptorBudget(std::uint64_t room, std::size_t batch);
