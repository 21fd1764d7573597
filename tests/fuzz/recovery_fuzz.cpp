// Runs the recovery of a dead run over records and recovery files made from the input, in a
// folder of its own, and checks that it never writes, removes or makes anything the record does
// not name: a script it names may be finished (with the recorded new text) or have that text set
// aside beside it, and a temporary name it names may go; every other file stays as it was.
//
// The input: a byte of choices, the phase byte, the first difference, the new text's length and
// how much of it a dead copy-back already wrote (16 bits each), the length of raw record bytes
// and those bytes, then the new text (or, without a well-made header, the whole recovery file).
// In raw bytes, "@SCRDEV@", "@SCRINO@", "@RECDEV@" and "@RECINO@" stand for the script's and the
// recovery file's device and inode.

#include "fuzzfiles.h"
#include "recovery.h"
#include "recoverypolicy.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace fs = std::filesystem;

namespace {

enum Choice : std::uint8_t
{
    NamesEntry = 0x01,
    FolderEntry = 0x02,
    PlaceEntry = 0x04,
    CopyBackEntry = 0x08,
    RecoveryInState = 0x10,
    RawFirst = 0x20,
    WellMadeHeader = 0x40,
    WrongChecksums = 0x80,
};

constexpr const char *kTemporaryName = ".dovezurad-0123456789abcdef";
constexpr const char *kRecoveryName = ".dovezurad-fedcba9876543210.recuperar";

void check(bool holds, const char *what)
{
    fuzzfiles::check(holds, "recovery_fuzz", what);
}

using fuzzfiles::readFile;
using fuzzfiles::writeFile;

FileKey identityOf(const fs::path &file)
{
    struct stat status
    {
    };
    ::lstat(file.c_str(), &status);
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
            0};
}

void replaceAll(std::string &bytes, const std::string &marker, std::uint64_t value)
{
    const std::string with(reinterpret_cast<const char *>(&value), sizeof value);
    for (std::size_t at = bytes.find(marker); at != std::string::npos;
         at = bytes.find(marker, at + with.size()))
        bytes.replace(at, marker.size(), with);
}

// The folder of the whole run: in memory where the system offers it, as flushes cost nothing
// there. One name a user, made anew each run, so that runs ended at their time limit (libFuzzer
// leaves without the program's own clean-up) do not pile up.
const fs::path &base()
{
    static const fs::path path = [] {
        const fs::path made = fs::path(fs::exists("/dev/shm") ? "/dev/shm" : "/tmp") /
                              ("dovezurad-fuzz-" + std::to_string(::geteuid()));
        fs::remove_all(made);
        struct stat status
        {
        };
        if (::mkdir(made.c_str(), 0700) != 0 || ::lstat(made.c_str(), &status) != 0 ||
            !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid())
            std::abort();
        return made;
    }();
    return path;
}

std::map<fs::path, std::string> snapshot(const fs::path &work, const fs::path &state)
{
    std::map<fs::path, std::string> files;
    for (const fs::path &folder : {work, state})
        for (const auto &entry : fs::directory_iterator(folder))
            files[entry.path()] = entry.is_symlink()
                                      ? "->" + fs::read_symlink(entry.path()).string()
                                      : readFile(entry.path());
    return files;
}

using fuzzfiles::Input;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const fs::path work = base() / "scripts";
    const fs::path state = base() / "state";
    fs::remove_all(work);
    fs::remove_all(state);
    fs::create_directory(work);
    fs::create_directory(state);
    fs::permissions(state, fs::perms::owner_all);

    std::string old;
    while (old.size() < 3 * kRecoveryBlock + 100)
        old += "linea {etiqueta} de guion\r\n";
    writeFile(work / "a.txt", old);
    writeFile(work / "otro.txt", "secreto\n");
    writeFile(work / kTemporaryName, "temporal");
    writeFile(work / "a.txt.recuperado", "de antes"); // the first name a text set aside would take
    fs::create_symlink("otro.txt", work / "enlace.txt");

    Input input(data, size);
    const std::uint8_t choices = input.byte();
    const std::uint8_t phase = input.byte();
    const std::uint64_t start = input.number() % (old.size() + 1);
    const std::uint64_t newLength = input.number();
    const std::uint64_t written = newLength == 0 ? 0 : input.number() % (newLength + 1);
    const std::string raw = input.bytes(input.number());
    std::string text = input.bytes(size);

    const bool inState = (choices & RecoveryInState) != 0;
    const fs::path recoveryPath = (inState ? state : work) / kRecoveryName;
    const FileKey script = identityOf(work / "a.txt");
    std::string newText;
    if ((choices & WellMadeHeader) != 0) {
        newText = text;
        newText.resize(newLength, 'n');
        RecoveryHeader header;
        header.phase = phase;
        header.script = script;
        header.start = start;
        header.newSize = start + newLength;
        header.oldSize = old.size();
        header.name = "a.txt";
        header.folder = work.string();
        for (std::uint64_t block = start / kRecoveryBlock; block * kRecoveryBlock < old.size();
             ++block) {
            const std::uint64_t low = std::max(start, block * kRecoveryBlock);
            const std::uint64_t high = std::min((block + 1) * kRecoveryBlock, old.size());
            header.oldChecksums.push_back(
                blockChecksum({reinterpret_cast<const unsigned char *>(old.data()) + low,
                               static_cast<std::size_t>(high - low)}) ^
                ((choices & WrongChecksums) != 0 ? 1 : 0));
        }
        if (header.newSize < old.size()) {
            const std::uint64_t end =
                std::min((header.newSize / kRecoveryBlock + 1) * kRecoveryBlock, old.size());
            header.oldTailChecksum =
                blockChecksum({reinterpret_cast<const unsigned char *>(old.data()) + header.newSize,
                               static_cast<std::size_t>(end - header.newSize)});
        }
        std::string file = header.encode();
        file.resize(header.dataOffset(), '\0');
        file += newText;
        writeFile(recoveryPath, file);
        // What a dead copy-back already wrote over the script.
        std::string mixed = old;
        mixed.resize(std::max<std::size_t>(old.size(), start + written));
        mixed.replace(start, written, newText.substr(0, written));
        writeFile(work / "a.txt", mixed);
    } else {
        replaceAll(text, "@SCRDEV@", script.volume);
        replaceAll(text, "@SCRINO@", script.fileLow);
        writeFile(recoveryPath, text);
    }
    const FileKey recovery = identityOf(recoveryPath);

    const RecoveryPlace place{inState, inState ? std::string() : work.string(), kRecoveryName};
    std::string record;
    if ((choices & NamesEntry) != 0)
        record += recordTemporaryNames({kTemporaryName});
    if ((choices & FolderEntry) != 0)
        record += recordFolder(work.string());
    if ((choices & PlaceEntry) != 0)
        record += recordRecoveryPlace(place);
    if ((choices & CopyBackEntry) != 0)
        record += recordCopyBack({work.string(), "a.txt", script, place, recovery});
    std::string rawRecord = raw;
    replaceAll(rawRecord, "@SCRDEV@", script.volume);
    replaceAll(rawRecord, "@SCRINO@", script.fileLow);
    replaceAll(rawRecord, "@RECDEV@", recovery.volume);
    replaceAll(rawRecord, "@RECINO@", recovery.fileLow);
    record = (choices & RawFirst) != 0 ? rawRecord + record : record + rawRecord;
    const std::map<fs::path, std::string> before = snapshot(work, state);
    writeFile(state / "0.registro", record);
    fs::permissions(state / "0.registro", fs::perms::owner_read | fs::perms::owner_write);

    finishInterruptedRewritesIn(state.string());

    // What the record names, as recovery reads it.
    const RunRecordContents contents = parseRunRecord(record);
    const auto named = [&](const fs::path &file) {
        const fs::path folder = file.parent_path();
        const std::string name = file.filename().string();
        for (const RecordedCopyBack &c : contents.copyBacks)
            if ((folder == c.scriptFolder && name == c.scriptName) ||
                (name == c.recovery.name &&
                 folder == (c.recovery.inStateFolder ? state : fs::path(c.recovery.folder))))
                return true;
        for (const RecoveryPlace &p : contents.recoveryPlaces)
            if (name == p.name && folder == (p.inStateFolder ? state : fs::path(p.folder)))
                return true;
        for (const std::string &f : contents.folders)
            for (const std::string &t : contents.temporaryNames)
                if (folder == f && name == t)
                    return true;
        return false;
    };
    const std::map<fs::path, std::string> after = snapshot(work, state);
    for (const auto &[file, bytes] : before) {
        if (named(file))
            continue;
        const auto now = after.find(file);
        check(now != after.end(), "removed a file the record does not name");
        check(now->second == bytes, "wrote a file the record does not name");
    }
    for (const auto &[file, bytes] : after) {
        if (before.contains(file) || file.filename() == "0.registro")
            continue;
        const std::string name = file.filename().string();
        check(name.starts_with("a.txt.recuperado") && named(work / "a.txt"),
              "made a file beside no script the record names");
    }
    if ((choices & WellMadeHeader) != 0 && after.contains(work / "a.txt") &&
        after.at(work / "a.txt") != before.at(work / "a.txt"))
        check(after.at(work / "a.txt") == old.substr(0, start) + newText,
              "the script is neither as it was nor the recorded new text");
    return 0;
}
