#pragma once

#include "cierres.h"
#include "nativefiles.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What a confirmed run keeps so that it can be undone: the original of every script it changes,
// in the folder's private area (undorecord.h), replacing what the last run kept. Keeping never
// makes the run fail: an original that cannot be kept (no right, an area that is not ours
// alone, another volume, too little room left on the disk) is not, and allKept() says so.
class KeptOriginals
{
public:
    using SpaceOnDisk = std::function<DiskSpace(const NativeFolder &)>;
    // Takes the last run's originals as their names are removed: closing them frees their blocks,
    // which the run need not wait for.
    using Release = std::function<void(NativeFile)>;

    // Nothing is touched before the first original is kept.
    KeptOriginals(std::string folder, Cierres cierres, SpaceOnDisk space, Release release = {});
    KeptOriginals(const KeptOriginals &) = delete;
    KeptOriginals &operator=(const KeptOriginals &) = delete;
    ~KeptOriginals() = default;

    // A script of that size was read: what the rest of the run may still need room for.
    void seen(std::uint64_t size) { m_largest = std::max(m_largest, size); }
    // Just before the script's name is given to its new file: keeps the old file by a second
    // name, no byte copied. The entry's number, or nullopt when it was not kept.
    std::optional<std::size_t> keepByLink(const NativeFolder &folder, const FileKey &folderKey,
                                          const std::string &name, const FileIdentity &original);
    // Before the copy-back writes over the script: keeps a copy of it, read through `held`.
    std::optional<std::size_t> keepByCopy(const NativeFolder &folder, const FileKey &folderKey,
                                          const std::string &name, const NativeFile &held,
                                          const FileIdentity &original);
    // A kept link whose replacement did not happen: the copy-back writes over that very file.
    void forget(std::size_t index) noexcept;
    // The script as the run left it.
    void noteOutput(std::size_t index, const FileIdentity &output);
    // Ends the record with each output's identity. Idempotent; never throws.
    void finish() noexcept;
    bool allKept() const { return m_allKept; }

private:
    bool ready(const FileKey &folderKey, std::uint64_t size);
    bool open();
    void takeOverLastRecord();
    std::optional<std::size_t> startEntry(bool byLink, const std::string &name,
                                          const FileIdentity &original);
    void append(const std::string &text, bool flush);
    bool clearName(const std::string &kept);
    void remove(const std::string &kept);

    std::string m_folderPath;
    Cierres m_cierres;
    SpaceOnDisk m_space;
    Release m_release;
    bool m_opened = false;
    bool m_finished = false;
    bool m_allKept = true;
    std::uint64_t m_largest = 0;
    std::optional<NativeFolder> m_folder;
    FileKey m_folderKey;
    std::optional<NativeFolder> m_area;
    NativeFile m_lock;
    NativeFile m_manifest;
    std::uint64_t m_manifestSize = 0;
    std::size_t m_entries = 0;
    std::size_t m_previous = 0; // the names of the record before, 1..m_previous
    std::vector<std::pair<std::size_t, FileIdentity>> m_outputs;
};
