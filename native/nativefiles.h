#pragma once

#include "filekey.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What the safe write asks of the system, and nothing it decides. One implementation per
// platform, picked by CMake (nativefiles_, nativeidentity_ and nativerecord_posix.cpp or
// _win32.cpp); this header includes no system header and is the same on both.
//
// Every function throws FileError (fileerror.h) unless it says otherwise. Names and paths cross
// here as UTF-8 (on Windows they must be valid UTF-8, and become UTF-16 only inside the Windows
// file; on POSIX they are bytes). A name is one entry of its folder. Contents are bytes.

// A file or folder the system opened for us: a descriptor on POSIX, a HANDLE on Windows. -1 is
// "none" on both (it is INVALID_HANDLE_VALUE). Move-only; closes on destruction.
class NativeFile
{
public:
    NativeFile() = default;
    explicit NativeFile(std::intptr_t handle) : m_handle(handle) {}
    NativeFile(NativeFile &&other) noexcept : m_handle(other.release()) {}
    NativeFile &operator=(NativeFile &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    NativeFile(const NativeFile &) = delete;
    NativeFile &operator=(const NativeFile &) = delete;
    ~NativeFile() { reset(); }

    std::intptr_t handle() const { return m_handle; }
    explicit operator bool() const { return m_handle != -1; }
    std::intptr_t release()
    {
        const std::intptr_t handle = m_handle;
        m_handle = -1;
        return handle;
    }
    void reset(std::intptr_t handle = -1)
    {
        close();
        m_handle = handle;
    }
    // Closes now; false when the close itself reported an error, which on some file systems is
    // the first sign of a failed write.
    bool close();

private:
    std::intptr_t m_handle = -1;
};

// An open folder: its handle, and its full path (the Windows calls go by path; the folder stays
// open, so that it cannot be renamed or removed while it is used, and POSIX calls go relative to
// it).
struct NativeFolder
{
    NativeFile file;
    std::string path;
    // The folders and links on its way, where the system reaches files by path (Windows): held
    // as long as it is, so that the path keeps leading to it. Empty on POSIX.
    std::vector<NativeFile> way{};
};

// What "the same file" and "unchanged since" mean. POSIX fills it from struct stat, Windows
// from the open handle (the 128-bit file id, or the volume serial and file index; never the C
// runtime's stat, whose inode is 0 there).
struct FileIdentity
{
    enum class Kind
    {
        Regular,
        Folder,
        Link, // only when a link was not followed
        Other // a device, a pipe, a FIFO, a socket
    };

    FileKey key;
    std::uint64_t size = 0;
    std::int64_t modified = 0; // compared only: ns on POSIX, 100 ns ticks on Windows
    std::int64_t changed = 0;  // ctime / ChangeTime
    std::uint32_t links = 0;
    // Compared only: the mode's permission bits on POSIX, the attributes a user may set
    // (read-only, hidden, system, archive, ...) on Windows.
    std::uint32_t attributes = 0;
    Kind kind = Kind::Other;
    bool readOnly = false; // no write bit at all / FILE_ATTRIBUTE_READONLY
    // Group or others may write it (POSIX). Windows does not tell it apart here: its private
    // folder inherits the access of the user's own local application data.
    bool writableByOthers = false;
    // Group or others may read, write or enter it at all (POSIX; never on Windows).
    bool openToOthers = false;
    std::string owner; // a uid, a SID ("" where the file system has none); see ownedByRunner()
};

inline bool sameFile(const FileIdentity &a, const FileIdentity &b)
{
    return a.key == b.key;
}

// The same file, as long and last written at the same time: all that a second name or a rename,
// which move its change time, leaves of an identity.
inline bool sameLastWrite(const FileIdentity &now, const FileIdentity &then)
{
    return sameFile(now, then) && now.size == then.size && now.modified == then.modified;
}

// Nobody else changed it: the same file, with the same length and times.
inline bool unchangedSince(const FileIdentity &now, const FileIdentity &then)
{
    return sameLastWrite(now, then) && now.changed == then.changed;
}

// How much room a volume has, for keeping originals.
struct DiskSpace
{
    std::uint64_t free = 0;  // what we may still write
    std::uint64_t total = 0; // the volume's size
};

namespace nativefiles {

// Folders. 76 when missing; paths past the system's length limit work. Links on the way are
// followed as the system follows them: for a folder the caller trusts, never a run's.
NativeFolder openFolder(const std::string &path);
// Whether a symbolic link (or a junction) may be followed to where it leads.
using LinkRule = std::function<bool(const FileIdentity &link, const FileIdentity &target)>;
// The folder a run, a dry run or an undo works in, opened once, to be held to its end: the path
// is walked one folder at a time, and a link on the way (or in a link's own text) is followed
// only where `mayFollow` allows it. 70 naming the link (FileError::detail) where it does not,
// 76 where a folder on the way is missing or is not one. On Windows every folder and link on
// the way stays held with it, so that none of them can be renamed or replaced meanwhile.
NativeFolder openFolderWalking(const std::string &path, const LinkRule &mayFollow);
// For recovery: nullopt when missing, not a folder, or reached through a link anywhere on the way.
std::optional<NativeFolder> openFolderNoLinks(const std::string &path);
// The open folder's absolute path as the system names it, without links: what a run's record
// names, for a later start to reach it by openFolderNoLinks().
std::string pathOf(const NativeFolder &folder);
// A name's path in a folder, as the user reads it (the system's separator).
std::string pathIn(const std::string &folder, const std::string &name);
// Makes the names made and removed in it outlast a power cut, where the system can.
void flushFolder(const NativeFolder &folder);

// Identity, by handle and by name (nullopt when the name is missing).
FileIdentity identityOf(const NativeFile &file);
std::optional<FileIdentity> identityAt(const NativeFolder &folder, const std::string &name,
                                       bool followLinks);
// Whose it is, asked only where it matters: the runner's (our effective user; our token's user,
// or the owner our token gives new files; anyone's on a file system without owners, as FAT), or
// the system's (root; SYSTEM, Administrators, TrustedInstaller).
bool ownedByRunner(const FileIdentity &file);
bool ownedBySystem(const FileIdentity &file);

// Opens the script and holds it: 53 or 76 when missing, 75 when it is not a regular disk file
// or is marked read-only (looked at before opening: a FIFO would block, a device may act), 70
// when another program has it open for writing. Windows opens it for reading and writing,
// shared for reading and deletion only, so that nobody else can write it while it is held and
// a second run gets 70 here; POSIX opens it for reading and locks it with tryLock().
NativeFile openScript(const NativeFolder &folder, const std::string &name);
// False when another run holds the script. Windows: true, the open already excluded it.
bool tryLock(const NativeFile &script);
// Throws unless we may write the script by that name: 70 without the right, 75 on a read-only
// file system (POSIX: faccessat W_OK, AT_EACCESS). Windows: nothing, openScript() already
// opened it for writing.
void checkWritable(const NativeFolder &folder, const std::string &name);
// The folder path and name of the open file: where a symbolic link led.
std::pair<std::string, std::string> locationOf(const NativeFile &file);
// For recovery, which looks at what it finds before it believes it: the file by that name itself,
// never through a link, opened without blocking, for reading or for writing (then shared as a
// held script is). Invalid when the name is missing or is a link.
NativeFile openNoLinks(const NativeFolder &folder, const std::string &name, bool forWriting);
// Another handle to the same open file or folder.
NativeFile duplicate(const NativeFile &file);

std::size_t readAt(const NativeFile &file, std::uint64_t offset, unsigned char *data,
                   std::size_t size); // fewer than `size` only at the end
void writeAt(const NativeFile &file, std::uint64_t offset, const unsigned char *data,
             std::size_t size);
void setLength(const NativeFile &file, std::uint64_t length);
// Frees the blocks of a range, leaving zeros; false where the file system cannot.
bool punchHole(const NativeFile &file, std::uint64_t offset, std::uint64_t length);

// The new file beside the script.
// A file without a name (O_TMPFILE): nullopt where the system or the file system has none, an
// invalid file where the folder takes no new file from us.
std::optional<NativeFile> createUnnamed(const NativeFolder &folder);
// A new file by a name nobody else has, never through a link, hidden unless asked otherwise (on
// Windows, where a dot does not hide). Invalid when the folder takes no new file from us
// (permissions, a read-only file system), 58 when the name exists.
NativeFile createExclusive(const NativeFolder &folder, const std::string &name, bool hidden = true);
// Gives `made` what replace() cannot carry over from the script: owner, group, mode, extended
// attributes and ACLs on POSIX; on Windows the owner must already be the script's (it cannot be
// given), and a sparse script makes the new file sparse. False, with `made` left as it is,
// when it cannot: the policy then takes the copy-back.
bool giveIdentity(const NativeFile &made, const NativeFile &script);
// Gives an unnamed file a name (linkat): 58 when the name exists. Windows makes none.
void nameUnnamed(const NativeFile &made, const NativeFolder &folder, const std::string &name);
// The script again, for writing over it (the copy-back): 70 when the name no longer leads to the
// held file. Windows hands out the held handle's own access.
NativeFile openForWriting(const NativeFolder &folder, const std::string &name,
                          const NativeFile &held);

// Durability.
void flushData(const NativeFile &file);
// Starts writing a range to the disk, and waits for a range: what keeps a large new text from
// piling up in memory. They may do nothing where the system paces its writers itself (Windows).
void startWriteBack(const NativeFile &file, std::uint64_t from, std::uint64_t length);
void waitWriteBack(const NativeFile &file, std::uint64_t from, std::uint64_t length);
// One flush of the whole file system holding the file (syncfs); false where there is none to
// ask for (Windows: flushing a volume needs an administrator). After it, waitWritten() waits for
// the file's own writing and hears of its errors.
bool flushFileSystemOf(const NativeFile &file);
void waitWritten(const NativeFile &file);

// Names.
// Makes the new file the script under its name, once newName is checked to lead to `made` (70
// where it does not). POSIX: renameat(newName -> scriptName); the backup name is not used. Windows:
// copies the script's attributes to `made`, closes it (the system's replace opens it unshared),
// checks that newName still leads to it, and replaces the script with ReplaceFileW, which moves the
// script to backupName first and keeps its ACL, named streams and creation time; the backup name is
// then removed (the held handle keeps the old file until it is closed). A crash inside ReplaceFileW
// can leave the script only under backupName: name both in the run's record before calling, and
// where the script's name is missing, renameNoReplace() it back. A failure after the first of its
// two renames is put right here the same way before it is thrown. False, with both names as they
// were, when another program keeps the script from being renamed (it shares writing but not
// deletion) or its ACL cannot be merged: the policy then takes the copy-back, through the held
// file. The backup name, which the record names on both platforms, is also where the old file would
// be kept if it were wanted: a hard link by that name made just before the rename on POSIX, the
// backup left in place on Windows.
bool replace(const NativeFolder &folder, NativeFile &made, const std::string &newName,
             NativeFile &heldScript, const std::string &scriptName, const std::string &backupName);
void removeName(const NativeFolder &folder, const std::string &name); // no error when missing
// removeName(), handing back the file still open where the system allows it (POSIX): the last
// close frees the blocks, which on some disks waits for the device, and may then be made on
// another thread. Invalid where it does not (Windows) or the name was missing.
NativeFile detachName(const NativeFolder &folder, const std::string &name);
// 58 when `to` exists: never over another file.
void renameNoReplace(const NativeFolder &folder, const std::string &from, const std::string &to);

// The private place and the run's record.
// Where a private state folder may be, best first: $XDG_STATE_HOME/dovezurad, ... on POSIX,
// %LOCALAPPDATA%\Dovezurad on Windows.
std::vector<std::string> privateFolderCandidates();
// The folder, made (private to us) when asked; nullopt when it is missing, not a folder, or a
// link. Whether it is trusted is the caller's to decide, by its identity.
std::optional<NativeFolder> openPrivateFolder(const std::string &path, bool create);
// A new record that every other start sees as held from its first instant, until it is closed
// (by us, or by the system when the run dies). 58 when the name exists.
NativeFile createLockedRecord(const NativeFolder &folder, const std::string &name);
// Removes what createLockedRecord() leaves of the records of runs killed inside it (POSIX, where
// there are no unnamed files, makes a record under another name first). Windows: nothing.
void removeUnfinishedRecords(const NativeFolder &folder);
// A record whose run is dead, now held by us; invalid while its run lives (or it is gone).
NativeFile takeDeadRecord(const NativeFolder &folder, const std::string &name);
// The names of the folder's files (not folders) ending with `suffix`.
std::vector<std::string> namesEndingWith(const NativeFolder &folder, const std::string &suffix);
// The names of the folder's entries of one kind: its folders (not links to one), or the rest.
std::vector<std::string> namesIn(const NativeFolder &folder, bool folders);

// What undo keeps: the originals a run replaced, in a private area of the script's folder.
DiskSpace diskSpace(const NativeFolder &folder);
// The folder's area by that name: made first when asked (ours alone; hidden on Windows, where a
// dot does not hide). nullopt when it is missing, not a folder, a link, or cannot be made or
// opened. Whether it is trusted is the caller's to decide, by its identity.
std::optional<NativeFolder> openArea(const NativeFolder &folder, const std::string &name,
                                     bool create);
// One run or undo at a time in an area: held until the file returned is closed; invalid when
// another holds it and `wait` is false. (Windows holds a file in the area that goes when closed.)
NativeFile lockArea(const NativeFolder &area, bool wait);
// A second name in `to` for the file by `name` in `from` (not through a link, never over another
// name, no byte copied). False when the name is taken; throws FileError where the system will
// not make one (another volume, no right, too many links, no room), with what stopped it.
bool linkTo(const NativeFolder &from, const std::string &name, const NativeFolder &to,
            const std::string &toName);
// A flushed copy of the file's bytes and times by a new name in `to`, sharing the blocks where
// the file system can (a reflink). False when the name is taken; throws FileError, with nothing
// left by the name, where it cannot be made (no right, no room).
bool copyTo(const NativeFile &file, const NativeFolder &to, const std::string &toName);
// Swaps the files of two names at once, across folders of one volume. False, with both as they
// were, where the file system cannot swap (Windows).
bool exchange(const NativeFolder &a, const std::string &aName, const NativeFolder &b,
              const std::string &bName);
// Gives the name in `to` the file by `fromName`, in place of what it named.
void renameOver(const NativeFolder &from, const std::string &fromName, const NativeFolder &to,
                const std::string &toName);
// Gives `to` the modification and access times of `from`; false where we may not.
bool copyTimes(const NativeFile &from, const NativeFile &to);
// Removes an empty folder; nothing when it is missing or not empty.
void removeEmptyFolder(const NativeFolder &parent, const std::string &name);

// Sixteen lowercase hexadecimal digits from the system's random source.
std::string randomToken();
// How many more files the process may open now.
std::size_t openFileRoom();
// Raises the process's own limit of open files, never past the one the system sets it, so that
// `room` more may be opened than are open now (nothing where there is no such limit: Windows).
// Answers openFileRoom() as it then is.
std::size_t allowOpenFiles(std::size_t room);
// Past a file-size limit a write then fails (61) instead of a signal ending the program.
void ignoreFileSizeSignal();

} // namespace nativefiles
