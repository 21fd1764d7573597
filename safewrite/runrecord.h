#pragma once

#include "nativefiles.h"
#include "recoverypolicy.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The run's own file in a private folder (the runner's alone), held while the run lives.
// Before the run makes a name of its own anywhere, the record says where; before a script is
// replaced, it names the script and the name its old file may pass through; before a copy-back
// writes over its script, it names the script and the recovery file. A record that nobody holds
// belongs to a run that died, and tells a later start what it may finish or remove (recovery.h):
// nothing else is believed.
class RunRecord
{
public:
    // The names a run may give its own files, unpredictable to anyone who watches its folders:
    // slots below kLinkSlot hold the pending scripts of a batch, kLinkSlot the name an unnamed
    // file gets just before its rename.
    static constexpr std::size_t kLinkSlot = 1024;

    // Makes the record in the first private folder that can be had. Throws FileError.
    RunRecord();
    RunRecord(const RunRecord &) = delete;
    RunRecord &operator=(const RunRecord &) = delete;
    ~RunRecord() = default;

    const std::string &temporaryName(std::size_t slot) const { return m_names.at(slot); }
    // Each flushed before it returns.
    void noteFolder(const std::string &path);
    void noteRecoveryPlace(const RecoveryPlace &place);
    void noteCopyBack(const RecordedCopyBack &copyBack);
    // Several scripts at once, with their folders, for one flush.
    void noteReplacements(const std::vector<RecordedReplace> &replacements);
    // The private folder the record lies in, where a recovery file goes that cannot lie beside
    // its script.
    const NativeFolder &stateFolder() const { return m_stateFolder; }
    void remove() noexcept;

private:
    void append(const std::string &entries);

    std::string m_token;
    NativeFolder m_stateFolder;
    NativeFile m_file;
    std::uint64_t m_size = 0;
    std::vector<std::string> m_names;
    std::set<std::string> m_folders;
};

// Where records are kept: the private folder at `path`, made when asked, or nothing unless it is
// trusted with them.
std::optional<NativeFolder> openRecordFolder(const std::string &path, bool create);

// What the run's names and records are called.
inline constexpr const char *kRunNamePrefix = ".dovezurad-";
inline constexpr const char *kRecordSuffix = ".registro";
