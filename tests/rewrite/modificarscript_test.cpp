#include "fileerror.h"
#include "modificarscript.h"
#include "nativefiles.h"
#include "scratchfolder.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const Cierres kBracesToAngles{"{", "}", "<", ">"};

std::string rewritten(const std::string &content, const Cierres &cierres = kBracesToAngles)
{
    ScratchFolder folder;
    folder.write("script.txt", content);
    ModificarScript(folder.folder(), "script.txt", cierres);
    return folder.read("script.txt");
}

// Runs ModificarScript and returns the error it reports, failing the test if it reports none.
FileError failureOf(const std::string &folder, const std::string &name,
                    const Cierres &cierres = kBracesToAngles)
{
    try {
        ModificarScript(folder, name, cierres);
    } catch (const FileError &error) {
        return error;
    }
    ADD_FAILURE() << "no error reported for " << folder << " / " << name;
    return FileError(0, "");
}

// The file a name in the folder leads to, as the program knows it.
FileKey fileOf(const ScratchFolder &folder, const std::string &name)
{
    return nativefiles::identityAt(nativefiles::openFolder(folder.folder()), name, false)->key;
}

void makeReadOnly(const fs::path &file)
{
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

bool readOnly(const fs::path &file)
{
    return (fs::status(file).permissions() & fs::perms::owner_write) == fs::perms::none;
}

#ifndef _WIN32
struct stat statOf(const fs::path &file)
{
    struct stat result
    {
    };
    EXPECT_EQ(::lstat(file.c_str(), &result), 0) << file;
    return result;
}
#endif

} // namespace

// The text rules themselves are the transform's, tested there; these check that a script on disk
// gets them, on both roads.
TEST(ModificarScriptText, ReplacesBothDelimitersAndTrimsSpaces)
{
    EXPECT_EQ(rewritten("x {a} y {b}"), "x <a> y <b>");
    EXPECT_EQ(rewritten("   {a}   "), "<a>");
    EXPECT_EQ(rewritten("{{}}"), "<<>>");
    EXPECT_EQ(rewritten("\xff\xfe \0{\0a\0}\0 \0"s), "\xff\xfe<\0a\0>\0"s);
}

TEST(ModificarScriptText, RunningTwiceGivesTheSameFileAsOnce)
{
    ScratchFolder folder;
    folder.write("a.txt", "  {x}\r\n{y}  ");
    ModificarScript(folder.folder(), "a.txt", kBracesToAngles);
    const std::string once = folder.read("a.txt");
    ModificarScript(folder.folder(), "a.txt", kBracesToAngles);
    EXPECT_EQ(folder.read("a.txt"), once);
    EXPECT_EQ(once, "<x>\r\n<y>");
}

TEST(ModificarScriptText, SpacesAcrossChunkBoundariesInLargeScripts)
{
    const std::size_t mib = 1 << 20;
    const std::string leading(mib + 17, ' ');
    const std::string inner(2 * mib + 5, ' ');
    const std::string trailing(3 * mib - 1, ' ');
    std::string body(mib, 'a');
    body[0] = '{';
    body[mib - 1] = '}';
    const std::string expectedBody = "<" + std::string(mib - 2, 'a') + ">";

    EXPECT_EQ(rewritten(leading + body + inner + body + trailing),
              expectedBody + inner + expectedBody);
    // A script that only needs trimming at its far end.
    EXPECT_EQ(rewritten(std::string(mib + 3, 'z') + trailing), std::string(mib + 3, 'z'));
}

TEST(ModificarScriptText, DelimiterIsOneByte)
{
    ScratchFolder folder;
    folder.write("a.txt", "{a}");
    EXPECT_THROW(ModificarScript(folder.folder(), "a.txt", Cierres{"{", "}", "", ">"}),
                 std::invalid_argument);
    EXPECT_THROW(ModificarScript(folder.folder(), "a.txt", Cierres{"{", "}", "\xc3\xa9", ">"}),
                 std::invalid_argument);
    EXPECT_EQ(folder.read("a.txt"), "{a}");
}

TEST(ModificarScriptFiles, FolderEndingInSeparatorNamesTheSameFile)
{
    ScratchFolder folder;
    folder.write("a.txt", "{a}");
    ModificarScript(folder.folder() + "/", "a.txt", kBracesToAngles);
    EXPECT_EQ(folder.read("a.txt"), "<a>");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"a.txt"});
}

TEST(ModificarScriptFiles, UnchangedScriptIsNotTouched)
{
    ScratchFolder folder;
    const auto script = folder.write("a.txt", "<a> \t\r\n b");
    const auto old = fs::last_write_time(script) - std::chrono::hours(24 * 365);
    fs::last_write_time(script, old);
    const FileKey before = fileOf(folder, "a.txt");

    ModificarScript(folder.folder(), "a.txt", kBracesToAngles);

    EXPECT_EQ(fileOf(folder, "a.txt"), before);
    EXPECT_EQ(fs::last_write_time(script), old);
    EXPECT_EQ(folder.read("a.txt"), "<a> \t\r\n b");
}

TEST(ModificarScriptFiles, HardLinkedScriptIsRewrittenForEveryName)
{
    ScratchFolder folder;
    const auto script = folder.write("a.txt", "  {a} {b}  ");
    fs::create_hard_link(script, folder.path() / "b.txt");
    const FileKey before = fileOf(folder, "a.txt");

    ModificarScript(folder.folder(), "a.txt", kBracesToAngles);

    EXPECT_EQ(folder.read("a.txt"), "<a> <b>");
    EXPECT_EQ(folder.read("b.txt"), "<a> <b>");
    EXPECT_EQ(fileOf(folder, "a.txt"), before);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST(ModificarScriptErrors, MissingScriptOrFolder)
{
    ScratchFolder folder;
    folder.write("file.txt", "x");

    const FileError missingScript = failureOf(folder.folder(), "gone.txt");
    EXPECT_EQ(missingScript.number(), 53);
    EXPECT_EQ(missingScript.description(), "No se encontró el archivo");

    const FileError missingFolder = failureOf(folder.folder() + "/gone", "a.txt");
    EXPECT_EQ(missingFolder.number(), 76);
    EXPECT_EQ(missingFolder.description(), "No se encontró la ruta de acceso");

    EXPECT_EQ(failureOf(folder.folder() + "/file.txt", "a.txt").number(), 76);
    EXPECT_EQ(failureOf("", "a.txt").number(), 76);
}

TEST(ModificarScriptErrors, ReadOnlyScriptFailsAndStaysUnchanged)
{
    // Holds for root too, whom the system would let write the file.
    ScratchFolder folder;
    const auto script = folder.write("a.txt", " {a} ");
    makeReadOnly(script);

    const FileError error = failureOf(folder.folder(), "a.txt");

    EXPECT_EQ(error.number(), 75);
    EXPECT_EQ(error.description(), "Error de acceso a la ruta o el archivo");
    EXPECT_EQ(folder.read("a.txt"), " {a} ");
    EXPECT_TRUE(readOnly(script));
    EXPECT_EQ(folder.names(), std::vector<std::string>{"a.txt"});
}

TEST(ModificarScriptErrors, ReadOnlyScriptFailsEvenWhenNothingWouldChange)
{
    ScratchFolder folder;
    const auto script = folder.write("a.txt", "<a>");
    makeReadOnly(script);
    EXPECT_EQ(failureOf(folder.folder(), "a.txt").number(), 75);
}

#ifndef _WIN32
// What only POSIX has: modes, owners and groups, symbolic links anyone may make, FIFOs and
// devices among files, and the process's open files listed in /proc.
TEST(ModificarScriptFiles, KeepsPermissionsAndLeavesNoTemporaryFile)
{
    ScratchFolder folder;
    const auto script = folder.write("a.txt", "{a}");
    ::chmod(script.c_str(), 0640);
    const struct stat before = statOf(script);

    ModificarScript(folder.folder(), "a.txt", kBracesToAngles);

    const struct stat after = statOf(script);
    EXPECT_EQ(folder.read("a.txt"), "<a>");
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"a.txt"});
}

TEST(ModificarScriptFiles, SymbolicLinkStaysALinkAndItsTargetIsRewritten)
{
    ScratchFolder folder;
    const auto target = folder.write("elsewhere/real.dat", " {a} ");
    fs::create_symlink("elsewhere/real.dat", folder.path() / "link.txt");

    ModificarScript(folder.folder(), "link.txt", kBracesToAngles);

    EXPECT_TRUE(fs::is_symlink(folder.path() / "link.txt"));
    EXPECT_EQ(ScratchFolder::readFile(target), "<a>");
    EXPECT_EQ(fs::read_symlink(folder.path() / "link.txt"), "elsewhere/real.dat");
}

TEST(ModificarScriptErrors, NotAnOrdinaryFileFailsAtOnce)
{
    ScratchFolder folder;
    ASSERT_EQ(::mkfifo((folder.path() / "pipe.txt").c_str(), 0666), 0);
    fs::create_directory(folder.path() / "folder.txt");

    // A FIFO with no writer would block a plain open for reading; it must fail instead.
    EXPECT_EQ(failureOf(folder.folder(), "pipe.txt").number(), 75);
    EXPECT_EQ(failureOf(folder.folder(), "folder.txt").number(), 75);
    EXPECT_EQ(failureOf("/dev", "null").number(), 75);
}

TEST(ModificarScriptErrors, ScriptIsClosedAfterAFailure)
{
    ScratchFolder folder;
    const auto script = folder.write("a.txt", " {a} ");
    ::chmod(script.c_str(), 0444);
    const auto openFiles = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
    };
    const auto before = openFiles();
    for (int i = 0; i < 5; ++i)
        failureOf(folder.folder(), "a.txt");
    EXPECT_EQ(openFiles(), before);
}
#endif
