#pragma once

#include <compare>
#include <cstdint>

// What names one file on its volume: the 128-bit file id where the system has one (ReFS), else
// the volume and the inode or file index, with fileHigh 0.
struct FileKey
{
    std::uint64_t volume = 0;
    std::uint64_t fileLow = 0;
    std::uint64_t fileHigh = 0;
    auto operator<=>(const FileKey &) const = default;
};
