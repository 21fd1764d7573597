#pragma once

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

struct FileIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity &) const = default;
};

// A file as the system describes it, seen without following a link.
struct FileFacts
{
    enum class Kind
    {
        Other,
        Regular,
        Folder,
        Link
    };
    Kind kind = Kind::Other;
    std::uint32_t owner = 0;
    std::uint32_t mode = 0;
    std::uint64_t links = 0;
    FileIdentity identity;
};

// A folder for run records: the runner's own, and nobody else may add to it.
bool trustedPrivateFolder(const FileFacts &folder, std::uint32_t runner);
// A file only the runner could have made and nobody else can reach under another name.
bool runnersOwnFile(const FileFacts &file, std::uint32_t runner);
// A symbolic link is followed only where its owner cannot be using it against the runner: the
// link is the runner's or root's, or whoever made it owns what it points to as well.
bool mayFollowLink(std::uint32_t linkOwner, std::uint32_t targetOwner, std::uint32_t runner);

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
    FileIdentity script;
    RecoveryPlace recovery;
    FileIdentity recoveryFile;
};

// Everything a run's record says, in the order it was written; a torn last entry is left out.
struct RunRecordContents
{
    std::vector<std::string> temporaryNames; // names the run may give files in `folders`
    std::vector<std::string> folders;
    std::vector<RecoveryPlace> recoveryPlaces;
    std::vector<RecordedCopyBack> copyBacks;
};

// Entries of a record, each written whole, one after the other.
std::string recordTemporaryNames(const std::vector<std::string> &names);
std::string recordFolder(const std::string &folder);
std::string recordRecoveryPlace(const RecoveryPlace &place);
std::string recordCopyBack(const RecordedCopyBack &copyBack);
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
    FileIdentity script;
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
