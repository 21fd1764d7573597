#pragma once

#include <cstdint>

// What a script's new text changes: the spaces trimmed at both ends, in characters, and the
// delimiters the two passes leave different, as left ones where the left pass took them and as
// right ones otherwise (so a "/" the left pass took and the right one turned back is no change).
struct ScriptChanges
{
    std::uint64_t spaces = 0;
    std::uint64_t left = 0;
    std::uint64_t right = 0;
    bool operator==(const ScriptChanges &) const = default;
};
