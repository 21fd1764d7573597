#pragma once

#include "nativefiles.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What a run writes down so that a later start can clean up after it, and what that start may
// believe of it: the record's and the recovery file's formats, which files are trusted, and when
// an interrupted copy-back may be finished. Plain data and decisions; no system calls here.

// Scripts are compared and checked in blocks of this size, the size of a page.
constexpr std::size_t kRecoveryBlock = 4096;

// A folder for run records: a real folder of the runner's own, that nobody else may add to.
bool trustedPrivateFolder(const FileIdentity &folder);
// A file only the runner could have made and nobody else can reach under another name.
bool runnersOwnFile(const FileIdentity &file);
// A symbolic link is followed only where its owner cannot be using it against the runner: the
// link is the runner's or the system's, or whoever made it owns what it points to as well.
bool mayFollowLink(const FileIdentity &link, const FileIdentity &target);

// A recovered path from a record: an absolute one of either platform's spelling, "/..." or
// "C:\..." and "\\server\share\...". Anything else is no path a run wrote.
bool absolutePath(const std::string &path);

// A recovery file about to be made: beside its script, or in the record's own folder.
struct RecoveryPlace
{
    bool inStateFolder = false;
    std::string folder; // empty when inStateFolder
    std::string name;
    bool operator==(const RecoveryPlace &) const = default;
};

// A copy-back about to write over its script.
struct RecordedCopyBack
{
    std::string scriptFolder;
    std::string scriptName;
    FileKey script;
    RecoveryPlace recovery;
    FileKey recoveryFile;
};

// A script about to be replaced by a new file. Where the system's replace is two renames
// (Windows), a crash between them leaves the script only under the backup name.
struct RecordedReplace
{
    std::string folder;
    std::string scriptName;
    std::string backupName;
    FileKey script;
};

// Everything a run's record says, in the order it was written; a torn last entry is left out.
struct RunRecordContents
{
    std::vector<std::string> temporaryNames; // names the run may give files in `folders`
    std::vector<std::string> folders;
    std::vector<RecoveryPlace> recoveryPlaces;
    std::vector<RecordedCopyBack> copyBacks;
    std::vector<RecordedReplace> replacements;
};

// Entries of a record, each written whole, one after the other.
std::string recordTemporaryNames(const std::vector<std::string> &names);
std::string recordFolder(const std::string &folder);
std::string recordRecoveryPlace(const RecoveryPlace &place);
std::string recordCopyBack(const RecordedCopyBack &copyBack);
std::string recordReplace(const RecordedReplace &replace);
RunRecordContents parseRunRecord(std::string_view bytes);

// A quick 64-bit checksum: it tells a script's old bytes from anything else written there.
std::uint64_t blockChecksum(std::span<const unsigned char> bytes);

// The head of a recovery file. The new text's bytes from `start` on follow at dataOffset(),
// to be copied over the script from `start` on; the script then ends at `newSize`. The old
// bytes from `start` on are known by one checksum a block, so that a later start can tell
// whether the script still holds nothing but what the copy-back could have left.
struct RecoveryHeader
{
    // 0 while the recovery file may be incomplete; 1 once it is complete and flushed, from when
    // the script may be part old, part new text.
    std::uint8_t phase = 0;
    // The script by its volume and the low half of its file id: enough to agree with the record,
    // which names the whole id.
    FileKey script;
    std::uint64_t start = 0;
    std::uint64_t newSize = 0;
    std::uint64_t oldSize = 0;
    std::string name;
    std::string folder;
    // Of the old bytes from max(start, block start) to the block's end, block by block from
    // the block that holds `start`.
    std::vector<std::uint64_t> oldChecksums;
    // Of the old bytes from `newSize` to the end of its block, when the text got shorter.
    std::uint64_t oldTailChecksum = 0;

    std::size_t encodedSize() const;
    // Where the new text starts: in line with its blocks in the script, so holes stay holes.
    std::uint64_t dataOffset() const;
    std::string encode() const;
};

// Where the phase byte lies in a recovery file, and how many bytes of a recovery file's head
// tell its whole header's size.
constexpr std::uint64_t kRecoveryPhaseOffset = 8;
constexpr std::size_t kRecoveryFixedHead = 64;

// How many old checksums a script of `oldSize` bytes rewritten from `start` has.
std::uint64_t oldBlockCount(std::uint64_t start, std::uint64_t oldSize);
// The whole header's size from its fixed head, or nothing when that is no header of ours or
// the file, `fileSize` bytes long, cannot hold it with its new text.
std::optional<std::size_t> recoveryHeaderSize(std::string_view fixedHead, std::uint64_t fileSize);
std::optional<RecoveryHeader> parseRecoveryHeader(std::string_view bytes);
// The recovery file is the one the record names for this copy-back.
bool headerAgrees(const RecoveryHeader &header, const RecordedCopyBack &copyBack);

// Whether a script may still hold only what an interrupted copy-back could have left: some
// blocks old, some new, at a size the copy could have given it. Fed the script's blocks in
// order from the one that holds `start`.
class CopyBackCheck
{
public:
    explicit CopyBackCheck(const RecoveryHeader &header) : m_header(header) {}

    bool possibleSize(std::uint64_t size) const;
    // Block `block` of the script, from max(start, its start) to its end or the script's end
    // (`script`), and the new text over the same bytes as far as it goes (`newText`).
    bool blockMayBeLeft(std::uint64_t block, std::span<const unsigned char> script,
                        std::span<const unsigned char> newText) const;

private:
    const RecoveryHeader &m_header;
};
