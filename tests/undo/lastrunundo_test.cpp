#include "errorof.h"
#include "fileerror.h"
#include "lastrunundo.h"
#include "modificarscript.h"
#include "recovery.h"
#include "runfolder.h"
#include "scratchfolder.h"
#include "undorecord.h"

#ifndef _WIN32
#include "childprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace nf = nativefiles;

const Cierres kForward{"{", "}", "<", ">"};
const std::string kArea = undorecord::kAreaName;

// A confirmed run over the scripts, as the button's; whether every original was kept.
bool confirmedRun(const std::string &folder, const std::vector<std::string> &names,
                  ReplacementHooks hooks = {}, const Cierres &cierres = kForward)
{
    RewriteRun run(openRunFolder(folder), RewriteRun::Flushes::Batched, std::move(hooks));
    run.keepOriginals(cierres);
    for (const std::string &name : names)
        run.rewrite(name, cierres);
    run.finish();
    return run.originalsKept();
}

bool confirmedRun(const ScratchFolder &folder, const std::vector<std::string> &names,
                  ReplacementHooks hooks = {}, const Cierres &cierres = kForward)
{
    return confirmedRun(folder.folder(), names, std::move(hooks), cierres);
}

std::vector<std::string> undo(const ScratchFolder &folder)
{
    LastRunUndo undo(folder.folder());
    return undo.restore();
}

// The originals kept to give back; the scripts changed without one are counted apart.
std::size_t toUndo(const ScratchFolder &folder)
{
    const LastRunUndo undo(folder.folder());
    return undo.count() - undo.notKept().size();
}

FileIdentity identity(const ScratchFolder &folder, const std::string &name)
{
    return nf::identityAt(nf::openFolder(folder.folder()), name, false).value();
}

} // namespace

// The rename path gives the name a new file and the copy-back writes over the old one: undo
// brings back the very file, its bytes, mode and times, on both; what did not change has nothing
// kept, and the area goes with the last undo.
TEST(LastRunUndoRestores, TheVeryFileByteForByteOnBothPaths)
{
    for (const bool hardLinked : {false, true}) {
        ScratchFolder folder;
        // Over the reading chunk, with spaces to trim that an inverse run could not put back.
        const std::string text = "  {a} " + tagged(std::size_t{3} << 20, '{', '}') + "  ";
        const fs::path script = folder.write("a.txt", text);
        folder.write("same.txt", "sin etiquetas");
        if (hardLinked)
            fs::create_hard_link(script, folder.path() / "b.txt");
        fs::last_write_time(script, fs::last_write_time(script) - std::chrono::hours(100));
        const FileIdentity before = identity(folder, "a.txt");

        ASSERT_TRUE(confirmedRun(folder, {"a.txt", "same.txt"})) << hardLinked;
        ASSERT_NE(fingerprint(folder.read("a.txt")), fingerprint(text));
        EXPECT_EQ(toUndo(folder), 1u) << hardLinked;
        EXPECT_EQ(undo(folder), std::vector<std::string>{}) << hardLinked;

        const FileIdentity after = identity(folder, "a.txt");
        EXPECT_EQ(fingerprint(folder.read("a.txt")), fingerprint(text)) << hardLinked;
        EXPECT_TRUE(after.key == before.key) << hardLinked;
        EXPECT_EQ(after.modified, before.modified) << hardLinked;
        EXPECT_EQ(after.attributes, before.attributes) << hardLinked;
        if (hardLinked) {
            EXPECT_EQ(fingerprint(folder.read("b.txt")), fingerprint(text));
        }
        EXPECT_FALSE(fs::exists(folder.path() / kArea)) << hardLinked;
        EXPECT_EQ(toUndo(folder), 0u) << hardLinked;
    }
}

// A script changed after the run is left as it is and named; the others come back, and what
// was kept for the changed one stays for a later look.
TEST(LastRunUndoLeaves, EveryScriptChangedSince)
{
    struct Case
    {
        const char *change;
        std::function<void(const fs::path &)> apply;
    };
    const auto append = [](const fs::path &script) {
        writeFile(script, ScratchFolder::readFile(script) + "!");
    };
    const std::vector<Case> cases{
        {"edited, same size, time put back",
         [](const fs::path &script) {
             const auto time = fs::last_write_time(script);
             writeFile(script, "<z>");
             fs::last_write_time(script, time);
         }},
        {"appended", append},
        // Without the outputs' identities, which a run writes as it ends, its bytes tell.
        {"appended after a run that did not end",
         [&](const fs::path &script) {
             const fs::path manifest = script.parent_path() / kArea / undorecord::kManifestName;
             const std::string text = ScratchFolder::readFile(manifest);
             writeFile(manifest, text.substr(0, text.find("\nf ") + 1));
             append(script);
         }},
        {"replaced",
         [](const fs::path &script) {
             const fs::path other = script.parent_path() / "otro.tmp";
             writeFile(other, ScratchFolder::readFile(script));
             fs::rename(other, script);
         }},
#ifndef _WIN32
        {"chmod-ed",
         [](const fs::path &script) {
             fs::permissions(script, fs::perms::others_read, fs::perm_options::remove);
         }},
#endif
        {"deleted", [](const fs::path &script) { fs::remove(script); }},
    };
    // Changed before undo looks, or while its question waits.
    for (const bool whileAsked : {false, true}) {
        for (const Case &c : cases) {
            ScratchFolder folder;
            const fs::path changed = folder.write("a.txt", "{a}");
            folder.write("b.txt", "{b}");
            ASSERT_TRUE(confirmedRun(folder, {"a.txt", "b.txt"}));
            std::optional<LastRunUndo> asked;
            if (whileAsked)
                asked.emplace(folder.folder());
            c.apply(changed);
            const bool exists = fs::exists(changed);
            const std::string left = exists ? folder.read("a.txt") : "";

            EXPECT_EQ(asked ? asked->restore() : undo(folder), std::vector<std::string>{"a.txt"})
                << c.change << whileAsked;
            asked.reset();
            EXPECT_EQ(fs::exists(changed), exists) << c.change;
            if (exists) {
                EXPECT_EQ(folder.read("a.txt"), left) << c.change << whileAsked;
            }
            EXPECT_EQ(folder.read("b.txt"), "{b}") << c.change;
            EXPECT_EQ(toUndo(folder), 1u) << c.change;
        }
    }
}

// Only the last run is kept, in folders of 64 originals: a run after a larger one leaves
// nothing of the larger one's, folders included. A record of the first format, its originals in
// the area itself, is read and taken over the same way.
TEST(LastRunUndoRestores, OnlyTheLastRunWhicheverFormatItWasKeptIn)
{
    const Cierres backward{"<", ">", "{", "}"};
    const auto namesIn = [](const fs::path &folder) {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    for (const bool firstFormat : {false, true}) {
        ScratchFolder folder;
        std::vector<std::string> names;
        for (int i = 0; i < 150; ++i) {
            names.push_back("s" + std::to_string(i) + ".txt");
            folder.write(names.back(), "{" + std::to_string(i) + "}");
        }
        ASSERT_TRUE(confirmedRun(folder, names));
        const fs::path area = folder.path() / kArea;
        if (firstFormat) {
            for (const char *shelf : {"1-64", "65-128", "129-192"}) {
                for (const std::string &kept : namesIn(area / shelf))
                    fs::rename(area / shelf / kept, area / kept);
                fs::remove(area / shelf);
            }
            // Its version, and entries that do not give the original's length.
            std::istringstream lines(ScratchFolder::readFile(area / undorecord::kManifestName));
            std::string manifest;
            for (std::string line; std::getline(lines, line);) {
                if (line.starts_with("dovezurad deshacer"))
                    line = "dovezurad deshacer 1";
                if (line.starts_with("k ")) {
                    std::size_t at = 0;
                    for (int word = 0; word < 6; ++word)
                        at = line.find(' ', at) + 1;
                    line.erase(at, line.find(' ', at) + 1 - at);
                }
                manifest += line + '\n';
            }
            writeFile(area / undorecord::kManifestName, manifest);
        }
        ASSERT_EQ(toUndo(folder), 150u) << firstFormat;
        // What a run killed before its record was whole left.
        writeFile(area / undorecord::kNewManifestName, "");

        // Gone before undo looks: a run that could not use the area may hold it till then.
        confirmedRun(folder, {names.begin(), names.begin() + 70}, {}, backward);

        // Version control lists nothing of the area.
        EXPECT_EQ(namesIn(area), (std::vector<std::string>{".gitignore", "1-64", "65-128",
                                                           undorecord::kManifestName}))
            << firstFormat;
        EXPECT_EQ(ScratchFolder::readFile(area / ".gitignore"), "*\n");
        EXPECT_EQ(namesIn(area / "65-128").size(), 6u) << firstFormat;
        EXPECT_EQ(toUndo(folder), 70u) << firstFormat;
        EXPECT_EQ(undo(folder), std::vector<std::string>{}) << firstFormat;
        EXPECT_EQ(folder.read("s69.txt"), "<69>") << firstFormat;
        EXPECT_FALSE(fs::exists(area)) << firstFormat;
    }
}

// A run that stopped (at a failure, or closed before its end) and is run again with the same
// delimiters goes on with its record: one undo takes back both. A script the user changed in
// between goes back to what the second run found; other delimiters start a record of their own.
TEST(LastRunUndoRestores, ARunAgainAfterOneThatStoppedGoesOnWithItsRecord)
{
    const Cierres other{"<", ">", "[", "]"};
    // Each run changes its own output again: "/)" becomes "(/", then "((".
    const Cierres chaining{"/", ")", "(", "/"};
    struct Case
    {
        const char *what;
        bool closed; // else it failed at b.txt, which is then fixed
        std::function<void(ScratchFolder &)> between;
        const Cierres &first;
        const Cierres &again;
        std::string a;
        std::vector<std::string> after; // a, b and c after the undo
    };
    const auto nothing = [](ScratchFolder &) {};
    const std::vector<Case> cases{
        {"failed, fixed, run again",
         false,
         nothing,
         kForward,
         kForward,
         "{a}",
         {"{a}", "{b}", "{c}"}},
        {"closed, run again", true, nothing, kForward, kForward, "{a}", {"{a}", "{b}", "{c}"}},
        {"a changed by both runs", true, nothing, chaining, chaining, "/)", {"/)", "{b}", "{c}"}},
        {"a edited in between",
         false,
         [](ScratchFolder &f) { f.write("a.txt", "{nuevo}"); },
         kForward,
         kForward,
         "{a}",
         {"{nuevo}", "{b}", "{c}"}},
        {"other delimiters", false, nothing, kForward, other, "{a}", {"<a>", "{b}", "{c}"}},
    };
    for (const Case &c : cases) {
        ScratchFolder folder;
        folder.write("a.txt", c.a);
        folder.write("b.txt", "{b}");
        folder.write("c.txt", "{c}");
        const fs::path b = folder.path() / "b.txt";
        fs::permissions(b, fs::perms::all, fs::perm_options::remove);
        {
            RewriteRun first(openRunFolder(folder.folder()), RewriteRun::Flushes::Batched);
            first.keepOriginals(c.first);
            first.rewrite("a.txt", c.first);
            if (!c.closed) {
                EXPECT_EQ(errorOf([&] { first.rewrite("b.txt", c.first); }), 75) << c.what;
            }
        }
        fs::permissions(b, fs::perms::owner_read | fs::perms::owner_write);
        c.between(folder);
        confirmedRun(folder, {"a.txt", "b.txt", "c.txt"}, {}, c.again);

        EXPECT_EQ(undo(folder), std::vector<std::string>{}) << c.what;
        EXPECT_EQ((std::vector<std::string>{folder.read("a.txt"), folder.read("b.txt"),
                                            folder.read("c.txt")}),
                  c.after)
            << c.what;
    }
}

// A stop between two scripts leaves each whole: those given back are back, the rest wait for
// the next undo.
TEST(LastRunUndoRestores, AStopLeavesTheRestForTheNextUndo)
{
    ScratchFolder folder;
    const std::vector<std::string> names{"a.txt", "b.txt", "c.txt"};
    for (const std::string &name : names)
        folder.write(name, "{" + name + "}");
    ASSERT_TRUE(confirmedRun(folder, names));
    {
        LastRunUndo stopped(folder.folder());
        int asked = 0;
        EXPECT_EQ(stopped.restore([&] { return asked++ < 1; }), std::vector<std::string>{});
        EXPECT_TRUE(stopped.stopped());
        EXPECT_EQ(stopped.restored(), 1u);
    }
    EXPECT_EQ(toUndo(folder), 2u);
    EXPECT_EQ(undo(folder), std::vector<std::string>{});
    for (const std::string &name : names)
        EXPECT_EQ(folder.read(name), "{" + name + "}");
}

#ifndef _WIN32
// The original is kept while the batch is written, before the last look at the script: a change
// that comes after it still stops the replacement, and nothing is kept for that script.
TEST(LastRunUndoRestores, NothingKeptForAScriptChangedJustBeforeItsReplacement)
{
    ScratchFolder folder;
    const fs::path changed = folder.write("a.txt", "{a}");
    folder.write("b.txt", "{b}");
    ReplacementHooks hooks;
    bool once = true;
    hooks.beforeReplace = [&] {
        if (!std::exchange(once, false))
            return;
        // As many bytes, the modification time put back, after the clock has moved past the
        // change time the kept link gave: only the change time tells.
        struct stat before
        {
        };
        ::stat(changed.c_str(), &before);
        timespec now{};
        do {
            ::usleep(1000);
            ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
        } while (now.tv_sec == before.st_ctim.tv_sec && now.tv_nsec <= before.st_ctim.tv_nsec);
        writeFile(changed, "{z}");
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ::utimensat(AT_FDCWD, changed.c_str(), times, 0);
    };
    EXPECT_EQ(errorOf([&] { confirmedRun(folder, {"a.txt", "b.txt"}, hooks); }), 70);
    EXPECT_EQ(folder.read("a.txt"), "{z}");
    EXPECT_TRUE(fs::is_empty(folder.path() / kArea / "1-64"));
}
#endif

// Keeping never makes a run fail: with too little room the original is not kept, the run goes
// on, and it says so. Room means the script kept, the largest script seen, and a reserve of 1 %
// of the disk (at most 64 MiB).
TEST(KeptOriginalsSpaceGuard, TooLittleRoomKeepsNothingAndTheRunGoesOn)
{
    constexpr std::uint64_t kDisk = std::uint64_t{100} << 20;
    constexpr std::uint64_t kReserve = kDisk / 100;
    struct Case
    {
        std::uint64_t free;
        std::size_t kept;
        bool largerFirst = false;
    };
    // a.txt (1000 bytes) comes first, then b.txt (3000 bytes), each on its own; or b.txt first,
    // whose room a.txt must leave.
    for (const Case &c : {Case{1000 + 1000 + kReserve, 1}, Case{1000 + 1000 + kReserve - 1, 0},
                          Case{3000 + 3000 + kReserve, 2}, Case{1000 + 1000 + kReserve, 0, true}}) {
        ScratchFolder folder;
        folder.write("a.txt", "{a}" + std::string(997, 'x'));
        folder.write("b.txt", "{b}" + std::string(2997, 'x'));
        ReplacementHooks hooks;
        hooks.diskSpace = [&c](const NativeFolder &) { return DiskSpace{c.free, kDisk}; };
        RewriteRun run(openRunFolder(folder.folder()), RewriteRun::Flushes::EachScript, hooks);
        run.keepOriginals(kForward);
        std::vector<std::string> names{"a.txt", "b.txt"};
        if (c.largerFirst)
            std::swap(names[0], names[1]);
        for (const std::string &name : names)
            run.rewrite(name, kForward);
        run.finish();

        EXPECT_EQ(run.originalsKept(), c.kept == 2) << c.free;
        EXPECT_EQ(run.keepTroubles(), c.kept == 2 ? 0u : unsigned{OriginalKeeper::NoRoom})
            << c.free;
        EXPECT_EQ(folder.read("a.txt").substr(0, 3), "<a>") << c.free;
        EXPECT_EQ(folder.read("b.txt").substr(0, 3), "<b>") << c.free;
        EXPECT_EQ(toUndo(folder), c.kept) << c.free;
        // Undo names each script it cannot give back, and counts it in its question.
        const LastRunUndo undo(folder.folder());
        EXPECT_EQ(undo.notKept(),
                  std::vector<std::string>(names.begin() + static_cast<std::ptrdiff_t>(c.kept),
                                           names.end()))
            << c.free;
        EXPECT_EQ(undo.count(), 2u) << c.free;
    }
}

// A record is believed only as it was written: names that are one entry of the folder, numbers
// in order, nothing after its end.
TEST(UndoRecordHostile, AManifestNamingAnythingButOneEntryIsNotRead)
{
    const std::string head = undorecord::header(kForward, FileKey{1, 2, 0}, 0);
    const std::string entry = "k 1 r 1 3 0 3 a.txt\n";
    EXPECT_TRUE(undorecord::parse(head + entry + "f 1 1 4 0 3 5 6\nfin\n"));
    for (const std::string &hostile :
         {std::string("k 1 r 1 3 0 3 ..\n"), std::string("k 1 r 1 3 0 3 .\n"),
          std::string("k 1 r 1 3 0 3 a%2Fb\n"), std::string("k 1 r 1 3 0 3 ../b\n"),
          std::string("k 1 r 1 3 0 3 a%00b\n"), std::string("k 1 r 1 3 0 3 a%2\n"),
          std::string("k 2 r 1 3 0 3 a.txt\n"), entry + "fin\n" + entry,
          entry + "f 2 1 4 0 3 5 6\n", std::string("n ..\n"), std::string("n a%2Fb\n")}) {
        EXPECT_FALSE(undorecord::parse(head + hostile)) << hostile;
    }
    // A count of names no folder can hold is a damaged record, of which nothing is made.
    constexpr std::size_t kMostNames = std::size_t{1} << 32;
    EXPECT_TRUE(undorecord::parse(undorecord::header(kForward, FileKey{}, kMostNames) + entry));
    EXPECT_FALSE(undorecord::parse(undorecord::header(kForward, FileKey{}, kMostNames + 1)));
    // A backslash separates only on Windows; elsewhere a script may be named with one.
#ifdef _WIN32
    EXPECT_FALSE(undorecord::parse(head + "k 1 r 1 3 0 3 a%5Cb\n"));
#else
    EXPECT_TRUE(undorecord::parse(head + "k 1 r 1 3 0 3 a%5Cb\n"));
#endif
}

#ifndef _WIN32

namespace {

constexpr uid_t kOtherUser = 40002;

} // namespace

// An area that is not ours alone is never used, changed or followed: the run keeps nothing and
// goes on, and undo refuses it (70), or a record that names outside the area (75).
TEST(LastRunUndoHostileArea, IsNeitherUsedNorFollowed)
{
    struct Case
    {
        const char *area;
        std::function<void(const fs::path &area, const fs::path &elsewhere)> plant;
        int undoError;
    };
    const std::vector<Case> cases{
        {"a link",
         [](const fs::path &area, const fs::path &elsewhere) {
             fs::create_directory_symlink(elsewhere, area);
         },
         70},
        {"another owner's",
         [](const fs::path &area, const fs::path &) {
             fs::create_directory(area);
             ::chmod(area.c_str(), 0700);
             ASSERT_EQ(::chown(area.c_str(), kOtherUser, kOtherUser), 0);
         },
         70},
        {"0755",
         [](const fs::path &area, const fs::path &) {
             fs::create_directory(area);
             ::chmod(area.c_str(), 0755);
         },
         70},
        {"naming ../",
         [](const fs::path &area, const fs::path &) {
             fs::create_directory(area);
             ::chmod(area.c_str(), 0700);
             const FileIdentity folder =
                 nf::identityOf(nf::openFolder(area.parent_path().string()).file);
             writeFile(area / undorecord::kManifestName,
                       undorecord::header(kForward, folder.key, 0) +
                           "k 1 r 1 1 0 10 ..%2Ffuera.txt\n");
             writeFile(area / "1", "{original}");
         },
         75},
    };
    for (const Case &c : cases) {
        ScratchFolder folder;
        ScratchFolder elsewhere;
        folder.write("a.txt", "{a}");
        const fs::path area = folder.path() / kArea;
        c.plant(area, elsewhere.path());
        const auto before = elsewhere.names();
        const auto mode = fs::symlink_status(area).permissions();

        EXPECT_EQ(errorOf([&] { undo(folder); }), c.undoError) << c.area;
        EXPECT_EQ(folder.read("a.txt"), "{a}") << c.area;
        if (c.undoError == 70) {
            EXPECT_FALSE(confirmedRun(folder, {"a.txt"})) << c.area;
            EXPECT_EQ(folder.read("a.txt"), "<a>") << c.area;
        }
        EXPECT_EQ(elsewhere.names(), before) << c.area;
        EXPECT_EQ(fs::symlink_status(area).permissions(), mode) << c.area;
    }
}

// Another user who may rename the folder swaps it for a link to a folder only root may read
// while undo's question waits: undo gives back what it kept in the folder it holds, on both
// paths (the old file itself, or a copy written back), and writes nothing where the link leads.
TEST(LastRunUndoRaces, AFolderSwappedWhileTheQuestionWaitsLeadsNoOriginalElsewhere)
{
    TemporaryFolder top;
    ::chmod(top.path().c_str(), 0755);
    const fs::path team = top.path() / "team";
    const fs::path proj = team / "proj";
    const fs::path secret = top.path() / "secreto";
    fs::create_directories(proj);
    fs::create_directory(secret);
    ::chown(team.c_str(), kOtherUser, kOtherUser);
    ::chmod(secret.c_str(), 0700);
    const std::vector<std::string> names{"a.txt", "notas.txt"};
    for (const std::string &name : names) {
        writeFile(proj / name, "{p}");
        writeFile(secret / name, "{s}");
    }
    fs::create_hard_link(proj / "notas.txt", proj / "notas.bak"); // kept by a copy
    ASSERT_TRUE(confirmedRun(proj.string(), names));

    LastRunUndo undo(proj.string());
    ASSERT_EQ(undo.count(), 2u);
    ASSERT_EQ(swapForLink(kOtherUser, proj, secret), 0);
    EXPECT_EQ(undo.restore(), std::vector<std::string>{});

    for (const std::string &name : names) {
        EXPECT_EQ(ScratchFolder::readFile(secret / name), "{s}") << name;
        EXPECT_EQ(ScratchFolder::readFile(team / "proj.old" / name), "{p}") << name;
    }
}

// Another user, who may write the scripts but not the folder nor root's area in it: the run
// keeps nothing and goes on; undo sees an area it cannot open and refuses it.
TEST(LastRunUndoHostileArea, AnotherUsersAreaRefusesAnUnprivilegedRun)
{
    ScratchFolder folder;
    ::chmod(folder.folder().c_str(), 0755);
    const fs::path script = folder.write("a.txt", "{a}");
    ::chmod(script.c_str(), 0666);
    fs::create_directory(folder.path() / kArea);
    ::chmod((folder.path() / kArea).c_str(), 0700);

    const int status = asUser(kOtherUser, kOtherUser, {}, [&] {
        if (confirmedRun(folder, {"a.txt"}))
            return 1;
        return errorOf([&] { undo(folder); });
    });
    EXPECT_EQ(status, 70);
    EXPECT_EQ(folder.read("a.txt"), "<a>");
}

// Killed anywhere in a run, then undone: every script is its original again (the byte proof
// stands in for the identities the run did not live to write). Killed anywhere in an undo,
// then undone again: the same.
TEST(LastRunUndoKilled, RunOrUndoKilledAtRandomThenUndoneGivesEveryOriginalBack)
{
    ScratchFolder folder;
    std::vector<std::string> names;
    std::vector<std::string> texts;
    for (int i = 0; i < 12; ++i) {
        names.push_back("s" + std::to_string(i) + ".txt");
        texts.push_back(" {" + std::to_string(i) + "} " +
                        tagged(std::size_t{1} << (10 + i % 8), '{', '}') + " ");
        folder.write(names.back(), texts.back());
    }
    // Two names of one file: the copy-back path.
    fs::create_hard_link(folder.path() / names[3], folder.path() / "enlace.txt");
    std::mt19937 random(std::random_device{}());
    const auto checkAllBack = [&](const char *what, int round) {
        for (std::size_t i = 0; i < names.size(); ++i)
            ASSERT_EQ(fingerprint(folder.read(names[i])), fingerprint(texts[i]))
                << what << " round " << round << " " << names[i];
    };

    for (const bool killTheUndo : {false, true}) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (int round = 0; std::chrono::steady_clock::now() < deadline || round < 6; ++round) {
            if (killTheUndo) {
                ASSERT_TRUE(confirmedRun(folder, names));
            }
            const pid_t child = ::fork();
            if (child == 0) {
                try {
                    if (killTheUndo)
                        undo(folder);
                    else
                        confirmedRun(folder, names);
                } catch (...) {
                }
                ::_exit(0);
            }
            ::usleep(std::uniform_int_distribution<useconds_t>(0, 40000)(random));
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);

            finishInterruptedRewrites();
            EXPECT_EQ(undo(folder), std::vector<std::string>{}) << killTheUndo << round;
            checkAllBack(killTheUndo ? "undo killed" : "run killed", round);
        }
    }
}

#endif
