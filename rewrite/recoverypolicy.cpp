#include "recoverypolicy.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr char kRecoveryMagic[8] = {'D', 'Z', 'R', 'E', 'C', 'U', 'P', '2'};
constexpr std::uint32_t kGroupOrOthersWrite = 0022;

enum Entry : char
{
    TemporaryNames = 'T',
    Folder = 'F',
    Place = 'P',
    CopyBack = 'C',
};

// Fixed-size numbers in the machine's own order: a record is read where it was written.
template <typename Number> void put(std::string &out, Number value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

void putText(std::string &out, std::string_view text)
{
    put(out, static_cast<std::uint32_t>(text.size()));
    out.append(text);
}

class Reader
{
public:
    explicit Reader(std::string_view bytes) : m_bytes(bytes) {}

    bool ok() const { return m_ok; }
    bool atEnd() const { return m_at == m_bytes.size(); }
    std::size_t at() const { return m_at; }

    template <typename Number> Number get()
    {
        Number value{};
        if (!take(sizeof value))
            return value;
        std::memcpy(&value, m_bytes.data() + m_at - sizeof value, sizeof value);
        return value;
    }
    std::string text() { return bytes(get<std::uint32_t>()); }
    std::string bytes(std::size_t size)
    {
        if (!take(size))
            return {};
        return std::string(m_bytes.substr(m_at - size, size));
    }

private:
    bool take(std::size_t size)
    {
        if (!m_ok || size > m_bytes.size() - m_at) {
            m_ok = false;
            return false;
        }
        m_at += size;
        return true;
    }

    std::string_view m_bytes;
    std::size_t m_at = 0;
    bool m_ok = true;
};

// An entry: its length, its kind and what it says, then a checksum of the kind and what it
// says, so that an entry cut short by a power cut is never taken for a whole one.
std::string entry(Entry kind, std::string_view payload)
{
    std::string body(1, static_cast<char>(kind));
    body.append(payload);
    std::string out;
    put(out, static_cast<std::uint32_t>(payload.size()));
    out += body;
    put(out, blockChecksum({reinterpret_cast<const unsigned char *>(body.data()), body.size()}));
    return out;
}

void putPlace(std::string &out, const RecoveryPlace &place)
{
    put(out, static_cast<std::uint8_t>(place.inStateFolder ? 1 : 0));
    putText(out, place.inStateFolder ? std::string_view() : place.folder);
    putText(out, place.name);
}

RecoveryPlace getPlace(Reader &in)
{
    RecoveryPlace place;
    place.inStateFolder = in.get<std::uint8_t>() != 0;
    place.folder = in.text();
    place.name = in.text();
    return place;
}

// A name the run makes: one entry of one folder, never a path.
bool plainName(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool validPlace(const RecoveryPlace &place)
{
    return plainName(place.name) &&
           (place.inStateFolder ? place.folder.empty() : place.folder.starts_with('/'));
}

std::uint64_t roundUp(std::uint64_t value, std::uint64_t step)
{
    return (value + step - 1) / step * step;
}

} // namespace

bool trustedPrivateFolder(const FileFacts &folder, std::uint32_t runner)
{
    return folder.kind == FileFacts::Kind::Folder && folder.owner == runner &&
           (folder.mode & kGroupOrOthersWrite) == 0;
}

bool runnersOwnFile(const FileFacts &file, std::uint32_t runner)
{
    return file.kind == FileFacts::Kind::Regular && file.owner == runner && file.links == 1;
}

bool mayFollowLink(std::uint32_t linkOwner, std::uint32_t targetOwner, std::uint32_t runner)
{
    return linkOwner == runner || linkOwner == 0 || linkOwner == targetOwner;
}

std::string recordTemporaryNames(const std::vector<std::string> &names)
{
    std::string payload;
    put(payload, static_cast<std::uint32_t>(names.size()));
    for (const std::string &name : names)
        putText(payload, name);
    return entry(TemporaryNames, payload);
}

std::string recordFolder(const std::string &folder)
{
    std::string payload;
    putText(payload, folder);
    return entry(Folder, payload);
}

std::string recordRecoveryPlace(const RecoveryPlace &place)
{
    std::string payload;
    putPlace(payload, place);
    return entry(Place, payload);
}

std::string recordCopyBack(const RecordedCopyBack &copyBack)
{
    std::string payload;
    putText(payload, copyBack.scriptFolder);
    putText(payload, copyBack.scriptName);
    put(payload, copyBack.script.device);
    put(payload, copyBack.script.inode);
    putPlace(payload, copyBack.recovery);
    put(payload, copyBack.recoveryFile.device);
    put(payload, copyBack.recoveryFile.inode);
    return entry(CopyBack, payload);
}

RunRecordContents parseRunRecord(std::string_view bytes)
{
    RunRecordContents contents;
    Reader in(bytes);
    while (!in.atEnd()) {
        const auto size = in.get<std::uint32_t>();
        const std::string body = in.bytes(std::size_t{size} + 1);
        const auto checksum = in.get<std::uint64_t>();
        if (!in.ok() ||
            checksum !=
                blockChecksum({reinterpret_cast<const unsigned char *>(body.data()), body.size()}))
            break; // cut short: nothing after it was written either
        Reader payload(std::string_view(body).substr(1));
        switch (body[0]) {
        case TemporaryNames: {
            std::vector<std::string> names;
            for (auto count = payload.get<std::uint32_t>(); payload.ok() && count > 0; --count)
                names.push_back(payload.text());
            if (payload.ok() && payload.atEnd() &&
                std::all_of(names.begin(), names.end(), plainName))
                contents.temporaryNames.insert(contents.temporaryNames.end(), names.begin(),
                                               names.end());
            break;
        }
        case Folder: {
            std::string folder = payload.text();
            if (payload.ok() && payload.atEnd() && folder.starts_with('/'))
                contents.folders.push_back(std::move(folder));
            break;
        }
        case Place: {
            RecoveryPlace place = getPlace(payload);
            if (payload.ok() && payload.atEnd() && validPlace(place))
                contents.recoveryPlaces.push_back(std::move(place));
            break;
        }
        case CopyBack: {
            RecordedCopyBack copyBack;
            copyBack.scriptFolder = payload.text();
            copyBack.scriptName = payload.text();
            copyBack.script.device = payload.get<std::uint64_t>();
            copyBack.script.inode = payload.get<std::uint64_t>();
            copyBack.recovery = getPlace(payload);
            copyBack.recoveryFile.device = payload.get<std::uint64_t>();
            copyBack.recoveryFile.inode = payload.get<std::uint64_t>();
            if (payload.ok() && payload.atEnd() && copyBack.scriptFolder.starts_with('/') &&
                plainName(copyBack.scriptName) && validPlace(copyBack.recovery))
                contents.copyBacks.push_back(std::move(copyBack));
            break;
        }
        default:
            break; // written by a later version: what it says is not for this one
        }
    }
    return contents;
}

std::uint64_t blockChecksum(std::span<const unsigned char> bytes)
{
    constexpr std::uint64_t kMultiplier = 0xbf58476d1ce4e5b9;
    std::uint64_t hash = 0x9e3779b97f4a7c15 ^ bytes.size();
    const auto mix = [&hash](std::uint64_t word) {
        hash = (hash ^ word) * kMultiplier;
        hash ^= hash >> 31;
    };
    std::size_t at = 0;
    for (; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.data() + at, 8);
        mix(word);
    }
    if (at < bytes.size()) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.data() + at, bytes.size() - at);
        mix(word);
    }
    return hash ^ (hash >> 29);
}

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
    put(out, script.device);
    put(out, script.inode);
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
    in.get<std::uint64_t>(); // device
    in.get<std::uint64_t>(); // inode
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
    header.script.device = in.get<std::uint64_t>();
    header.script.inode = in.get<std::uint64_t>();
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
    return header.script == copyBack.script && header.name == copyBack.scriptName &&
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
