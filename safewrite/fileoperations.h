#pragma once

#include "nativefiles.h"

#include <cstddef>
#include <cstdint>

// Copies between open files that the replacement and the recovery share, over the mechanism's
// reads and writes. Failures throw FileError.

// Writes into a fresh file, leaving whole blocks of zeros as holes so that a sparse script
// stays sparse; the file's length is set at the end.
void writeSkippingHoles(const NativeFile &file, const unsigned char *data, std::size_t size,
                        std::uint64_t offset);
// Copies `length` bytes between two files by offset. False when the source ends sooner.
bool copyRange(const NativeFile &from, std::uint64_t fromOffset, const NativeFile &to,
               std::uint64_t toOffset, std::uint64_t length, bool keepHoles);
// Copies `length` bytes over a file that already has bytes there (read through `toRead`, the
// same file): a whole block of zeros becomes a hole, unless it already reads as zeros. False
// when the source ends sooner.
bool copyOver(const NativeFile &from, std::uint64_t fromOffset, const NativeFile &to,
              const NativeFile &toRead, std::uint64_t toOffset, std::uint64_t length);
