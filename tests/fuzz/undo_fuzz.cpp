// Runs undo, and then a run that keeps its originals, over an undo record made from the input,
// in a folder of its own, and checks that neither ever writes outside the folder's area, makes
// more than a handful of folders there, nor runs for long or asks for much memory whatever
// numbers the record gives (libFuzzer's -timeout and -rss_limit_mb see to the last two). Only a
// script the record names may change, and only into one of the area's kept files.
//
// The input is the record's text. "@DIR@" stands for the folder's identity ("device inode 0"),
// "@A@" and "@K@" for the identities of the script a.txt and of the kept file 1-64/1.

#include "fuzzfiles.h"
#include "lastrunundo.h"
#include "modificarscript.h"
#include "runfolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

void check(bool holds, const char *what)
{
    fuzzfiles::check(holds, "undo_fuzz", what);
}

using fuzzfiles::readFile;
using fuzzfiles::writeFile;

std::string keyText(const fs::path &file)
{
    struct stat status
    {
    };
    ::lstat(file.c_str(), &status);
    return std::to_string(status.st_dev) + ' ' + std::to_string(status.st_ino) + " 0";
}

void replaceAll(std::string &text, const std::string &marker, const std::string &with)
{
    for (std::size_t at = text.find(marker); at != std::string::npos;
         at = text.find(marker, at + with.size()))
        text.replace(at, marker.size(), with);
}

std::size_t entriesIn(const fs::path &folder)
{
    std::size_t count = 0;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        count += entry.is_directory() ? 1 : 0;
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const fs::path top =
        fs::temp_directory_path() / ("dovezurad-undo-fuzz-" + std::to_string(::getpid()));
    fs::remove_all(top);
    const fs::path folder = top / "carpeta";
    const fs::path elsewhere = top / "otra";
    const fs::path area = folder / ".dovezurad.deshacer";
    fs::create_directories(elsewhere);
    fs::create_directories(area / "1-64");
    fs::permissions(area, fs::perms::owner_all, fs::perm_options::replace);
    fs::permissions(area / "1-64", fs::perms::owner_all, fs::perm_options::replace);
    writeFile(folder / "a.txt", "<a>");
    writeFile(folder / "b.txt", "<b>");
    writeFile(area / "1-64" / "1", "{a}");
    writeFile(elsewhere / "x.txt", "<x>");
    fs::create_symlink(elsewhere / "x.txt", folder / "x.txt");

    std::string record(reinterpret_cast<const char *>(data), size);
    replaceAll(record, "@DIR@", keyText(folder));
    replaceAll(record, "@A@", keyText(folder / "a.txt"));
    replaceAll(record, "@K@", keyText(area / "1-64" / "1"));
    writeFile(area / "MANIFIESTO", record);
    const std::size_t foldersBefore = entriesIn(top);

    try {
        LastRunUndo undo(folder.string());
        undo.restore();
    } catch (...) {
        // A record that cannot be read is refused: what counts is what was left.
    }
    try {
        RewriteRun run(openRunFolder(folder.string()), RewriteRun::Flushes::Batched);
        run.keepOriginals({"<", ">", "{", "}"});
        run.rewrite("b.txt", {"<", ">", "{", "}"});
        run.finish();
    } catch (...) {
    }

    check(readFile(elsewhere / "x.txt") == "<x>", "a file outside the folder changed");
    check(fs::is_symlink(folder / "x.txt"), "a link in the folder was replaced");
    const std::string a = readFile(folder / "a.txt");
    check(a == "<a>" || a == "{a}", "a.txt became something undo never kept");
    check(readFile(folder / "b.txt") == "{b}", "the run did not rewrite b.txt");
    // The run's own shelf at most, where the record named none.
    check(entriesIn(top) <= foldersBefore + 1, "folders were made from the record's numbers");
    fs::remove_all(top);
    return 0;
}
