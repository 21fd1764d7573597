#pragma once

#include "cierres.h"
#include "diskroom.h"
#include "keptshelves.h"
#include "nativefiles.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// What a confirmed run keeps so that it can be undone: the original of every script it changes,
// in the folder's private area (undorecord.h), replacing what the last run kept. Keeping never
// makes the run fail: an original that cannot be kept (no right, an area that is not ours
// alone, another volume, too little room left on the disk) is not, and allKept() says so.
// Safe to call from the run's thread while originals are kept ahead on the keeper's own.
class KeptOriginals
{
public:
    // What keeping by link left: the entry's number, and the original as its second name left
    // it (a link more, a later change time), or nullopt when it was not kept.
    struct Linked
    {
        std::optional<std::size_t> index;
        std::optional<FileIdentity> original;
    };

    using SpaceOnDisk = std::function<DiskSpace(const NativeFolder &)>;
    // Takes the last run's originals as their names are removed: closing them frees their blocks,
    // which the run need not wait for.
    using Release = std::function<void(NativeFile)>;

    // Nothing is touched before the first original is kept. `folder` is the run's, held by it
    // for longer than this lives.
    KeptOriginals(const NativeFolder &folder, Cierres cierres, SpaceOnDisk space,
                  Release release = {});
    KeptOriginals(const KeptOriginals &) = delete;
    KeptOriginals &operator=(const KeptOriginals &) = delete;
    ~KeptOriginals();

    // A script of that size was read: what the rest of the run may still need room for.
    void seen(std::uint64_t size) { m_largest = std::max(m_largest.load(), size); }
    // Just before the script's name is given to its new file: keeps the old file by a second
    // name, no byte copied. The entry's number, or nullopt when it was not kept.
    std::optional<std::size_t> keepByLink(const NativeFolder &folder, const FileKey &folderKey,
                                          const std::string &name, const FileIdentity &original);
    // keepByLink on a thread of the keeper's own, so that a batch's originals are kept while the
    // run writes and flushes the batch; `folder` must outlive the answer. The record names the
    // original before the keeper keeps it, and before keepWaiting() returns.
    std::future<Linked> keepByLinkAhead(const NativeFolder &folder, const FileKey &folderKey,
                                        const std::string &name, const FileIdentity &original);
    // The answer of keepByLinkAhead(), once it is there.
    Linked linked(std::future<Linked> &answer);
    // Before the flush that makes a batch's new texts last: writes down the entries of its
    // originals, so that the same flush makes the record name them before any is replaced, and
    // keeps what waits to be kept ahead while the run waits for the disk.
    void keepWaiting();
    // After the flush of a batch's new texts, before its first replacement: `flushed` says
    // whether that flush covered the record's disk; if not, the entries are flushed by
    // themselves.
    void entriesWritten(bool flushed);
    // The disk the originals are kept on, once one is.
    std::uint64_t volume() const;
    // Before the copy-back writes over the script: keeps a copy of it, read through `held`.
    std::optional<std::size_t> keepByCopy(const NativeFolder &folder, const FileKey &folderKey,
                                          const std::string &name, const NativeFile &held,
                                          const FileIdentity &original);
    // A kept link whose replacement did not happen: the copy-back writes over that very file.
    void forget(std::size_t index) noexcept;
    // The script as the run left it. From the run's thread only.
    void noteOutput(std::size_t index, const FileIdentity &output);
    // A script of the folder that the run changed without keeping its original: the record
    // names it, for undo to tell.
    void noteNotKept(const std::string &name);
    // Ends the record with each output's identity. Idempotent; never throws.
    void finish() noexcept;
    bool allKept() const;

private:
    // Makes the kept original by that name in that shelf; false when the name is taken.
    using Make = std::function<bool(const NativeFolder &shelf, const std::string &kept)>;
    // The entry of an original about to be kept, lasting at once with `flush`, else left for
    // writeEntries(); nullopt when it is not to be kept.
    std::optional<std::size_t> enter(bool byLink, const FileKey &folderKey, const std::string &name,
                                     const FileIdentity &original, bool flush);
    Linked keepAs(std::size_t index, bool byLink, const FileIdentity &original, const Make &make);
    Linked keepNow(bool byLink, const FileKey &folderKey, const std::string &name,
                   const FileIdentity &original, const Make &make);
    static Make linkOf(const NativeFolder &folder, const std::string &name);
    void writeEntries();
    void writeDown(bool flush);
    void keep();
    void stopKeeping() noexcept;
    bool ready(const FileKey &folderKey);
    bool roomFor(std::uint64_t size);
    bool open();
    void takeOverLastRecord();
    const NativeFolder *placeFor(std::size_t index);
    void append(const std::string &text, bool flush);
    bool clearName(const NativeFolder &shelf, const std::string &kept);
    void remove(const NativeFolder &shelf, const std::string &kept);

    const NativeFolder &m_folder;
    Cierres m_cierres;
    Release m_release;
    bool m_opened = false;
    bool m_finished = false;
    std::atomic<bool> m_allKept = true;
    std::atomic<std::uint64_t> m_largest = 0;
    FileKey m_folderKey;
    std::optional<NativeFolder> m_area;
    NativeFile m_lock;
    NativeFile m_manifest;
    std::uint64_t m_manifestSize = 0;
    std::string m_unwritten;  // entries not yet in m_manifest
    bool m_unflushed = false; // entries in m_manifest that no flush has covered yet
    std::size_t m_entries = 0;
    std::atomic<std::size_t> m_named = 0; // entries 1..m_named are in m_manifest
    std::size_t m_previous = 0;           // the names of the record before, 1..m_previous
    mutable std::mutex m_mutex;           // all of the above
    // Made once m_area is, and then used by whoever keeps an original, on either thread.
    std::optional<KeptShelves> m_shelves; // in m_area
    DiskRoom m_room;                      // for the originals kept in m_area
    std::mutex m_shelvesMutex;
    std::vector<std::pair<std::size_t, FileIdentity>> m_outputs; // the run's thread's alone

    // Waking the keeper costs the run about as much as a link; it is woken for several at once.
    static constexpr std::size_t kWakeEvery = 16;
    std::mutex m_aheadMutex;
    std::condition_variable m_aheadWake;
    std::deque<std::packaged_task<Linked()>> m_ahead;
    bool m_stopping = false;
    std::thread m_keeper;
};
