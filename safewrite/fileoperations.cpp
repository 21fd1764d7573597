#include "fileoperations.h"

#include "recoverypolicy.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace nf = nativefiles;

namespace {

constexpr std::size_t kCopyChunk = std::size_t{1} << 20;
constexpr std::size_t kBlock = kRecoveryBlock;

bool zeroBlock(const unsigned char *data)
{
    return data[0] == 0 && std::memcmp(data, data + 1, kBlock - 1) == 0;
}

// Makes a block of the destination read as zeros, keeping or making it a hole.
void zeroOver(const NativeFile &to, const NativeFile &toRead, std::uint64_t offset)
{
    std::array<unsigned char, kBlock> now{};
    const std::size_t got = nf::readAt(toRead, offset, now.data(), now.size());
    if (std::all_of(now.begin(), now.begin() + static_cast<std::ptrdiff_t>(got),
                    [](unsigned char byte) { return byte == 0; }))
        return; // a hole already, zeros, or past the end that the final length fills with zeros
    if (nf::punchHole(to, offset, kBlock))
        return;
    now.fill(0);
    nf::writeAt(to, offset, now.data(), now.size());
}

// Writes `data` at `offset` around each whole block of zeros, and hands each such block's
// offset to `zeroBlockAt`, after what comes before it is written.
template <class ZeroBlockAt>
void writeAroundZeroBlocks(const NativeFile &file, const unsigned char *data, std::size_t size,
                           std::uint64_t offset, ZeroBlockAt zeroBlockAt)
{
    std::size_t run = 0;
    std::size_t i = 0;
    while (i < size) {
        const std::uint64_t position = offset + i;
        const std::size_t length =
            std::min<std::size_t>(size - i, kBlock - static_cast<std::size_t>(position % kBlock));
        if (length == kBlock && zeroBlock(data + i)) {
            nf::writeAt(file, offset + run, data + run, i - run);
            zeroBlockAt(position);
            run = i + length;
        }
        i += length;
    }
    nf::writeAt(file, offset + run, data + run, size - run);
}

// Reads `length` bytes of `from` a chunk at a time and hands each chunk to `write` with where it
// goes. False when the source ends sooner.
template <class Write>
bool copyChunks(const NativeFile &from, std::uint64_t fromOffset, std::uint64_t toOffset,
                std::uint64_t length, Write write)
{
    std::vector<unsigned char> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(length, kCopyChunk)));
    for (std::uint64_t done = 0; done < length;) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(length - done, buffer.size()));
        if (nf::readAt(from, fromOffset + done, buffer.data(), want) != want)
            return false;
        write(buffer.data(), want, toOffset + done);
        done += want;
    }
    return true;
}

} // namespace

void writeSkippingHoles(const NativeFile &file, const unsigned char *data, std::size_t size,
                        std::uint64_t offset)
{
    writeAroundZeroBlocks(file, data, size, offset, [](std::uint64_t) {});
}

bool copyRange(const NativeFile &from, std::uint64_t fromOffset, const NativeFile &to,
               std::uint64_t toOffset, std::uint64_t length, bool keepHoles)
{
    return copyChunks(from, fromOffset, toOffset, length,
                      [&](const unsigned char *data, std::size_t size, std::uint64_t at) {
                          if (keepHoles)
                              writeSkippingHoles(to, data, size, at);
                          else
                              nf::writeAt(to, at, data, size);
                      });
}

bool copyOver(const NativeFile &from, std::uint64_t fromOffset, const NativeFile &to,
              const NativeFile &toRead, std::uint64_t toOffset, std::uint64_t length)
{
    return copyChunks(from, fromOffset, toOffset, length,
                      [&](const unsigned char *data, std::size_t size, std::uint64_t at) {
                          writeAroundZeroBlocks(to, data, size, at, [&](std::uint64_t block) {
                              zeroOver(to, toRead, block);
                          });
                      });
}
