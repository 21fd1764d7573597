#pragma once

#include "recoverypolicy.h"
#include "uniquefd.h"

#include <cstddef>
#include <set>
#include <string>
#include <vector>

// The run's own file in a private folder (the runner's alone), locked while the run lives.
// Before the run makes a name of its own anywhere, the record says where; before a copy-back
// writes over its script, it names the script and the recovery file. A record that nobody
// holds belongs to a run that died, and tells a later start what it may finish or remove:
// nothing else is believed.
class RunRecord
{
public:
    // The names a run may give its own files, unpredictable to anyone who watches its folders:
    // slots below kLinkSlot hold the pending scripts of a batch, kLinkSlot the name an unnamed
    // file gets just before its rename.
    static constexpr std::size_t kLinkSlot = 64;

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
    // The private folder the record lies in, where a recovery file goes that cannot lie beside
    // its script.
    int stateFolder() const { return m_stateFolder.get(); }
    void remove() noexcept;

private:
    void append(const std::string &entry);

    std::string m_token;
    UniqueFd m_stateFolder;
    UniqueFd m_file;
    std::uint64_t m_size = 0;
    std::vector<std::string> m_names;
    std::set<std::string> m_folders;
};

// Finishes the copy-backs and removes the temporary files of runs that were killed or lost
// their power, as far as their records in the user's private folders say. Called at start;
// never throws, and leaves for a later start what it cannot do. Returns what the user must be
// told (Spanish): scripts changed since, kept as they are, with the run's text set aside.
std::vector<std::string> finishInterruptedRewrites() noexcept;
// The same for the records in one private folder, already found trusted.
std::vector<std::string> finishInterruptedRewritesIn(int stateFolder) noexcept;
