#include "recoverypolicy.h"

#include "recordbytes.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

using namespace recordbytes;

enum Entry : char
{
    TemporaryNames = 'T',
    Folder = 'F',
    Place = 'P',
    CopyBack = 'C',
    Replace = 'R',
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

void putKey(std::string &out, const FileKey &key)
{
    put(out, key.volume);
    put(out, key.fileLow);
    put(out, key.fileHigh);
}

FileKey getKey(Reader &in)
{
    FileKey key;
    key.volume = in.get<std::uint64_t>();
    key.fileLow = in.get<std::uint64_t>();
    key.fileHigh = in.get<std::uint64_t>();
    return key;
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
           (place.inStateFolder ? place.folder.empty() : absolutePath(place.folder));
}

} // namespace

bool trustedPrivateFolder(const FileIdentity &folder)
{
    return folder.kind == FileIdentity::Kind::Folder && nativefiles::ownedByRunner(folder) &&
           !folder.owner.empty() && !folder.writableByOthers;
}

bool runnersOwnFile(const FileIdentity &file)
{
    return file.kind == FileIdentity::Kind::Regular && nativefiles::ownedByRunner(file) &&
           file.links == 1;
}

bool mayFollowLink(const FileIdentity &link, const FileIdentity &target)
{
    return nativefiles::ownedByRunner(link) || nativefiles::ownedBySystem(link) ||
           link.owner == target.owner;
}

bool absolutePath(const std::string &path)
{
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    return path.starts_with('/') || path.starts_with("\\\\") ||
           (path.size() >= 3 && letter(path[0]) && path[1] == ':' && path[2] == '\\');
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
    put(payload, copyBack.script.volume);
    put(payload, copyBack.script.fileLow);
    putPlace(payload, copyBack.recovery);
    put(payload, copyBack.recoveryFile.volume);
    put(payload, copyBack.recoveryFile.fileLow);
    // The high halves of 128-bit file ids follow only where there are any: the entry stays as
    // earlier versions wrote and read it.
    if (copyBack.script.fileHigh != 0 || copyBack.recoveryFile.fileHigh != 0) {
        put(payload, copyBack.script.fileHigh);
        put(payload, copyBack.recoveryFile.fileHigh);
    }
    return entry(CopyBack, payload);
}

std::string recordReplace(const RecordedReplace &replace)
{
    std::string payload;
    putText(payload, replace.folder);
    putText(payload, replace.scriptName);
    putText(payload, replace.backupName);
    putKey(payload, replace.script);
    return entry(Replace, payload);
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
            if (payload.ok() && payload.atEnd() && absolutePath(folder))
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
            copyBack.script.volume = payload.get<std::uint64_t>();
            copyBack.script.fileLow = payload.get<std::uint64_t>();
            copyBack.recovery = getPlace(payload);
            copyBack.recoveryFile.volume = payload.get<std::uint64_t>();
            copyBack.recoveryFile.fileLow = payload.get<std::uint64_t>();
            if (payload.ok() && !payload.atEnd()) {
                copyBack.script.fileHigh = payload.get<std::uint64_t>();
                copyBack.recoveryFile.fileHigh = payload.get<std::uint64_t>();
            }
            if (payload.ok() && payload.atEnd() && absolutePath(copyBack.scriptFolder) &&
                plainName(copyBack.scriptName) && validPlace(copyBack.recovery))
                contents.copyBacks.push_back(std::move(copyBack));
            break;
        }
        case Replace: {
            RecordedReplace replace;
            replace.folder = payload.text();
            replace.scriptName = payload.text();
            replace.backupName = payload.text();
            replace.script = getKey(payload);
            if (payload.ok() && payload.atEnd() && absolutePath(replace.folder) &&
                plainName(replace.scriptName) && plainName(replace.backupName))
                contents.replacements.push_back(std::move(replace));
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
