// The head of a recovery file, and what a later start may believe of a script a copy-back was
// writing when its run died.
#include "recoverypolicy.h"

#include "recordbytes.h"

#include <algorithm>
#include <cstring>
#include <limits>

using namespace recordbytes;

namespace {

constexpr char kRecoveryMagic[8] = {'D', 'Z', 'R', 'E', 'C', 'U', 'P', '2'};

std::uint64_t roundUp(std::uint64_t value, std::uint64_t step)
{
    return (value + step - 1) / step * step;
}

} // namespace

std::uint64_t oldBlockCount(std::uint64_t start, std::uint64_t oldSize)
{
    if (start >= oldSize)
        return 0;
    return (oldSize + kRecoveryBlock - 1) / kRecoveryBlock - start / kRecoveryBlock;
}

std::size_t RecoveryHeader::encodedSize() const
{
    return kRecoveryFixedHead + 8 + name.size() + folder.size() + 8 * oldChecksums.size() + 8;
}

std::uint64_t RecoveryHeader::dataOffset() const
{
    return roundUp(encodedSize(), kRecoveryBlock) + start % kRecoveryBlock;
}

std::string RecoveryHeader::encode() const
{
    std::string out(kRecoveryMagic, sizeof kRecoveryMagic);
    put(out, phase);
    out.append(7, '\0');
    put(out, script.volume);
    put(out, script.fileLow);
    put(out, start);
    put(out, newSize);
    put(out, oldSize);
    put(out, static_cast<std::uint32_t>(name.size()));
    put(out, static_cast<std::uint32_t>(folder.size()));
    put(out, oldTailChecksum);
    out += name;
    out += folder;
    for (const std::uint64_t checksum : oldChecksums)
        put(out, checksum);
    // Of everything before it, the phase byte left out: it changes once the file is complete.
    std::string sealed = out;
    sealed[kRecoveryPhaseOffset] = '\0';
    put(out,
        blockChecksum({reinterpret_cast<const unsigned char *>(sealed.data()), sealed.size()}));
    return out;
}

std::optional<std::size_t> recoveryHeaderSize(std::string_view fixedHead, std::uint64_t fileSize)
{
    if (fixedHead.size() < kRecoveryFixedHead ||
        fixedHead.substr(0, sizeof kRecoveryMagic) !=
            std::string_view(kRecoveryMagic, sizeof kRecoveryMagic))
        return std::nullopt;
    Reader in(fixedHead.substr(16));
    in.get<std::uint64_t>(); // volume
    in.get<std::uint64_t>(); // file id
    RecoveryHeader header;
    header.start = in.get<std::uint64_t>();
    header.newSize = in.get<std::uint64_t>();
    header.oldSize = in.get<std::uint64_t>();
    const auto nameLength = in.get<std::uint32_t>();
    const auto folderLength = in.get<std::uint32_t>();
    if (header.start > header.newSize || header.start > header.oldSize ||
        header.oldSize > std::numeric_limits<std::uint64_t>::max() / 2)
        return std::nullopt;
    const std::uint64_t count = oldBlockCount(header.start, header.oldSize);
    const std::uint64_t size =
        kRecoveryFixedHead + 8 + std::uint64_t{nameLength} + folderLength + 8 * count + 8;
    // The file holds the header, then the new text at its offset.
    const std::uint64_t data = roundUp(size, kRecoveryBlock) + header.start % kRecoveryBlock;
    if (size > fileSize || data > fileSize || header.newSize - header.start > fileSize - data)
        return std::nullopt;
    return static_cast<std::size_t>(size);
}

std::optional<RecoveryHeader> parseRecoveryHeader(std::string_view bytes)
{
    const auto size = recoveryHeaderSize(bytes, std::numeric_limits<std::uint64_t>::max() / 4);
    if (!size || bytes.size() != *size)
        return std::nullopt;
    Reader in(bytes.substr(kRecoveryPhaseOffset));
    RecoveryHeader header;
    header.phase = in.get<std::uint8_t>();
    in.bytes(7);
    header.script.volume = in.get<std::uint64_t>();
    header.script.fileLow = in.get<std::uint64_t>();
    header.start = in.get<std::uint64_t>();
    header.newSize = in.get<std::uint64_t>();
    header.oldSize = in.get<std::uint64_t>();
    const auto nameLength = in.get<std::uint32_t>();
    const auto folderLength = in.get<std::uint32_t>();
    header.oldTailChecksum = in.get<std::uint64_t>();
    header.name = in.bytes(nameLength);
    header.folder = in.bytes(folderLength);
    header.oldChecksums.resize(oldBlockCount(header.start, header.oldSize));
    for (std::uint64_t &checksum : header.oldChecksums)
        checksum = in.get<std::uint64_t>();
    const std::size_t sealedSize = in.at() + kRecoveryPhaseOffset;
    const auto seal = in.get<std::uint64_t>();
    if (!in.ok() || !in.atEnd())
        return std::nullopt;
    std::string sealed(bytes.substr(0, sealedSize));
    sealed[kRecoveryPhaseOffset] = '\0';
    if (seal !=
        blockChecksum({reinterpret_cast<const unsigned char *>(sealed.data()), sealed.size()}))
        return std::nullopt;
    return header;
}

bool headerAgrees(const RecoveryHeader &header, const RecordedCopyBack &copyBack)
{
    return header.script.volume == copyBack.script.volume &&
           header.script.fileLow == copyBack.script.fileLow && header.name == copyBack.scriptName &&
           header.folder == copyBack.scriptFolder;
}

bool CopyBackCheck::possibleSize(std::uint64_t size) const
{
    const RecoveryHeader &h = m_header;
    // Written in order from `start`, then cut to its new length; a longer text may have been
    // cut short anywhere by a power cut.
    return size == h.newSize || size == h.oldSize ||
           (h.newSize > h.oldSize && size > h.oldSize && size < h.newSize);
}

bool CopyBackCheck::blockMayBeLeft(std::uint64_t block, std::span<const unsigned char> script,
                                   std::span<const unsigned char> newText) const
{
    const RecoveryHeader &h = m_header;
    const std::uint64_t blockStart = block * kRecoveryBlock;
    const std::uint64_t blockEnd = blockStart + kRecoveryBlock;
    const std::uint64_t low = std::max(h.start, blockStart);
    const std::uint64_t first = h.start / kRecoveryBlock;
    if (block < first || script.empty())
        return block >= first;

    // Still the old bytes.
    const std::uint64_t oldEnd = std::min(blockEnd, h.oldSize);
    if (block - first < h.oldChecksums.size() && low + script.size() == oldEnd &&
        blockChecksum(script) == h.oldChecksums[block - first])
        return true;

    // The new text, followed by the old bytes past its end while the script was not cut yet.
    const std::uint64_t newEnd = std::min(blockEnd, h.newSize);
    const std::size_t newLength = newEnd > low ? static_cast<std::size_t>(newEnd - low) : 0;
    if (newText.size() != newLength)
        return false;
    const std::size_t compared = std::min(newLength, script.size());
    if (compared > 0 && std::memcmp(script.data(), newText.data(), compared) != 0)
        return false;
    if (script.size() <= newLength)
        return true;
    return h.newSize < h.oldSize && h.newSize >= low && low + script.size() == oldEnd &&
           blockChecksum(script.subspan(newLength)) == h.oldTailChecksum;
}
