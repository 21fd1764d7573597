#pragma once

#include "cierres.h"
#include "nativefiles.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the last confirmed run in a folder kept for undo, in the folder's private area: the
// manifest, and one kept original a script, named by its entry's number (keptshelves.h says
// where). The manifest is text, a
// line each: a version line, the delimiters and the folder; an entry before each original is
// kept, and one for each script changed whose original could not be kept; at the end of the
// run each output's identity, and "fin", or "parcial" where it stopped before its last script.
// A run after one that stopped, with the same delimiters, goes on with its record, so that one
// undo takes back both. Names are percent-encoded and
// must be one entry of the folder; anything else makes the whole manifest unreadable. A run
// takes over the names of the record before it ("anteriores"): each goes when the new entry of
// its number needs the name, the rest when the run ends, so that the files a run frees are
// freed one by one as its new ones are made (many freed at once make a file system such as
// ext4 look long for room for each new file).
struct UndoEntry
{
    std::size_t index = 0; // the kept original's name in the area
    bool byLink = true;    // the old file itself (rename path), or a copy (copy-back path)
    FileKey original;      // the script's file before the run
    // Its length then, which a whole copy has (records of the first format do not say).
    std::optional<std::uint64_t> size;
    std::string name; // the script's name in the folder
    // The script as the run left it; missing when the run did not end.
    std::optional<FileIdentity> output;
};

struct UndoManifest
{
    Cierres cierres;
    FileKey folder;
    std::size_t previous = 0; // names 1..previous may be the record before's, still to go
    bool shelved = true;      // false: a record of the first format, its originals in the area
    std::vector<UndoEntry> entries;
    // Scripts the run changed without keeping their originals, with how many entries came
    // before each: undo cannot give them back.
    struct NotKept
    {
        std::string name;
        std::size_t after = 0;
    };
    std::vector<NotKept> notKept;
    bool finished = false; // the run ended, and wrote its outputs' identities
    bool complete = false; // and it had gone through every script of its list

    // Whether a run with `with` in the folder `in` goes on with this record rather than replacing
    // it: the run it notes stopped before its last script (a failure, a close, a kill), with the
    // same delimiters in the same folder, so that one undo takes back both.
    bool goesOnWith(const Cierres &with, const FileKey &in) const
    {
        return shelved && !complete && cierres == with && folder == in;
    }
};

namespace undorecord {

inline constexpr const char *kAreaName = ".dovezurad.deshacer";
inline constexpr const char *kManifestName = "MANIFIESTO";
// A run's record until it is whole and takes the place of the record before.
inline constexpr const char *kNewManifestName = "MANIFIESTO.nuevo";
// Tells version control to list nothing of the area ("*").
inline constexpr const char *kIgnoreName = ".gitignore";

std::string header(const Cierres &cierres, const FileKey &folder, std::size_t previous);
std::string entryLine(const UndoEntry &entry);
std::string outputLine(std::size_t index, const FileIdentity &output);
std::string notKeptLine(const std::string &name);
// "fin" for a run that went through every script, "parcial" for one that stopped before.
std::string endLine(bool complete);
std::optional<UndoManifest> parse(std::string_view text);

// One entry of a folder: not empty, no separator, not "." or "..".
bool singleComponent(std::string_view name);
// Ours alone: a folder (not a link) owned by the runner that nobody else may even read.
bool trustedArea(const FileIdentity &area);

} // namespace undorecord
