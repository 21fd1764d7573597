#pragma once

#include "cierres.h"
#include "diskroom.h"
#include "keptshelves.h"
#include "nativefiles.h"
#include "originalkeeper.h"

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

class FileError;

// What a confirmed run keeps so that it can be undone: the original of every script it changes,
// in the folder's private area (undorecord.h), replacing what the last run kept. An original
// that cannot be kept (no right, an area that is not ours alone, another volume, too little room
// left on the disk) is not. Safe to call from the run's thread while originals are kept ahead on
// the keeper's own.
class KeptOriginals final : public OriginalKeeper
{
public:
    // Nothing is touched before the first original is kept. `folder` is the run's, held by it
    // for longer than this lives.
    KeptOriginals(const NativeFolder &folder, Cierres cierres, DiskRoom::Query space,
                  Release release = {});
    KeptOriginals(const KeptOriginals &) = delete;
    KeptOriginals &operator=(const KeptOriginals &) = delete;
    ~KeptOriginals();

    void seen(std::uint64_t size) override { m_largest = std::max(m_largest.load(), size); }
    std::optional<std::size_t> keepByLink(const NativeFolder &folder, const FileKey &folderKey,
                                          const std::string &name,
                                          const FileIdentity &original) override;
    // On a thread of the keeper's own. The record names the original before the keeper keeps it.
    std::future<Linked> keepByLinkAhead(const NativeFolder &folder, const FileKey &folderKey,
                                        const std::string &name,
                                        const FileIdentity &original) override;
    Linked linked(std::future<Linked> &answer) override;
    // Also keeps what waits to be kept ahead while the run waits for the disk.
    void keepWaiting() override;
    void entriesWritten(bool flushed) override;
    std::uint64_t volume() const override;
    std::optional<std::size_t> keepByCopy(const NativeFolder &folder, const FileKey &folderKey,
                                          const std::string &name, const NativeFile &held,
                                          const FileIdentity &original) override;
    void forget(std::size_t index) noexcept override;
    // From the run's thread only.
    void noteOutput(std::size_t index, const FileIdentity &output) override;
    // The record names it, for undo to tell.
    void noteNotKept(const std::string &name) override;
    // Ends the record with each output's identity.
    void finish(bool complete) noexcept override;
    bool allKept() const override;
    unsigned troubles() const override { return m_troubles; }

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
    void lose(unsigned trouble) noexcept;
    void lose(const FileError &error) noexcept;
    bool roomFor(std::uint64_t size);
    bool open();
    // The record to go on with, where the last run stopped before its end; else the last
    // record's names are taken over, to be removed.
    std::optional<std::string> takeOverLastRecord();
    void ignoreInVersionControl() noexcept;
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
    std::atomic<unsigned> m_troubles = 0;
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
