#pragma once

#include <string>
#include <vector>

// Finishes the copy-backs, puts back the scripts left under a backup name, and removes the
// temporary files of runs that were killed or lost their power, as far as their records in the
// user's private folders say. Called at start; never throws, and leaves for a later start what it
// cannot do. Returns what the user must be told (Spanish): scripts changed since, kept as they
// are, with the run's text set aside.
std::vector<std::string> finishInterruptedRewrites() noexcept;
// The same for the records in one private folder, when it is trusted with them.
std::vector<std::string> finishInterruptedRewritesIn(const std::string &privateFolder) noexcept;
