// The replacement protocol under what real machines do to it: other users, ACLs, kills, limits,
// full disks, other programs writing at the same time, and power cuts (the order of flushes).

#include "childprocess.h"
#include "errorof.h"
#include "fileerror.h"
#include "modificarscript.h"
#include "recovery.h"
#include "recoverypolicy.h"
#include "rewritepreview.h"
#include "runfolder.h"
#include "scratchfolder.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

const Cierres kForward{"{", "}", "<", ">"};
const Cierres kBackward{"<", ">", "{", "}"};

std::vector<std::string> stateFiles()
{
    return kPrivateState.files();
}

constexpr uid_t kOwner = 40001;
constexpr uid_t kEditor = 40002;
constexpr gid_t kTeam = 40100;

struct stat statOf(const fs::path &file)
{
    struct stat result
    {
    };
    EXPECT_EQ(::lstat(file.c_str(), &result), 0) << file;
    return result;
}

// A folder other users may reach: the temporary folders are the creator's alone.
struct SharedFolder
{
    explicit SharedFolder(mode_t mode = 0755) { ::chmod(folder.folder().c_str(), mode); }
    ScratchFolder folder;
    fs::path path(const std::string &name) const { return folder.path() / name; }
};

// The error number of another user's rewrite of `name` in `shared`, 0 when it succeeds.
int rewriteAs(uid_t user, std::vector<gid_t> groups, const SharedFolder &shared,
              const std::string &name)
{
    return asUser(user, user, std::move(groups), [&] {
        return errorOf([&] { ModificarScript(shared.folder.folder(), name, kForward); });
    });
}

// What a run made in `folder` under names of its own.
std::vector<fs::path> runFiles(const fs::path &folder)
{
    std::vector<fs::path> made;
    for (const auto &entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".dovezurad-"))
            made.push_back(entry.path());
    return made;
}

// Rewrites a script in a child that is killed just before the replacement: its new text is
// complete and flushed, and a copy-back's recovery file is in phase 1.
int killedBeforeReplacement(const std::string &folder, const std::string &name)
{
    return inChild([&] {
        ReplacementHooks hooks;
        hooks.beforeReplace = [] { ::kill(::getpid(), SIGKILL); };
        RewriteRun run(openRunFolder(folder), RewriteRun::Flushes::EachScript, hooks);
        run.rewrite(name, kForward);
        return 0;
    });
}

// The same, killed while the new text is written, as on a file system without unnamed files:
// the new file has its name by then.
int killedWhileWriting(const std::string &folder, const std::string &name)
{
    return inChild([&] {
        RewriteRun run(openRunFolder(folder), RewriteRun::Flushes::EachScript,
                       {{}, {}, true, false, {}});
        run.rewrite(name, kForward, [](std::uint64_t, std::uint64_t) {
            ::kill(::getpid(), SIGKILL);
            return true;
        });
        return 0;
    });
}

// From here on the process's system call `call` fails with `error`, when its fourth argument is
// `fourth` if one is given: a disk that fails the run at that step (a seccomp filter).
bool failing(long call, std::optional<std::uint32_t> fourth, int error)
{
    const auto op = [](int code, std::uint32_t k, std::uint8_t skip = 0) {
        return sock_filter{static_cast<std::uint16_t>(code), 0, skip, k};
    };
    std::vector<sock_filter> filter{
        op(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        op(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(call), fourth ? 3 : 1)};
    if (fourth) {
        // The argument's low half, on a little-endian machine.
        filter.push_back(op(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args) + 3 * 8));
        filter.push_back(op(BPF_JMP | BPF_JEQ | BPF_K, *fourth, 1));
    }
    filter.push_back(op(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<std::uint32_t>(error)));
    filter.push_back(op(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    const sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

} // namespace

TEST(ScriptReplacementUsers, OwnerGroupAndModeStayWithTheirOwner)
{
    // A member of the script's group, in a group folder and in a sticky folder.
    for (const mode_t folderMode : {mode_t{02775}, mode_t{01777}}) {
        SharedFolder shared;
        const auto script = shared.folder.write("a.txt", " {a} ");
        ::chown(shared.folder.folder().c_str(), folderMode == 01777 ? 0 : kOwner, kTeam);
        ::chmod(shared.folder.folder().c_str(), folderMode);
        ::chown(script.c_str(), kOwner, kTeam);
        ::chmod(script.c_str(), 0664);

        EXPECT_EQ(rewriteAs(kEditor, {kTeam}, shared, "a.txt"), 0) << std::oct << folderMode;

        const struct stat after = statOf(script);
        EXPECT_EQ(shared.folder.read("a.txt"), "<a>");
        EXPECT_EQ(after.st_uid, kOwner);
        EXPECT_EQ(after.st_gid, kTeam);
        EXPECT_EQ(after.st_mode & 07777, 0664u);
        EXPECT_EQ(shared.folder.names(), std::vector<std::string>{"a.txt"});
    }
}

TEST(ScriptReplacementUsers, FolderWeCannotWriteUsesTheStateFolder)
{
    SharedFolder shared;
    const auto script = shared.folder.write("a.txt", "{a}");
    ::chown(shared.folder.folder().c_str(), kOwner, kOwner);
    ::chown(script.c_str(), kOwner, kOwner);
    ::chmod(script.c_str(), 0666);

    EXPECT_EQ(asUser(kEditor, kEditor, {},
                     [&] {
                         const int error = errorOf(
                             [&] { ModificarScript(shared.folder.folder(), "a.txt", kForward); });
                         // Nothing of the run stays in the editor's state folder either.
                         const char *state = std::getenv("XDG_STATE_HOME");
                         for ([[maybe_unused]] const auto &entry :
                              fs::directory_iterator(fs::path(state) / "dovezurad"))
                             return 97;
                         return error;
                     }),
              0);
    EXPECT_EQ(shared.folder.read("a.txt"), "<a>");
    EXPECT_EQ(statOf(script).st_uid, kOwner);
    EXPECT_EQ(shared.folder.names(), std::vector<std::string>{"a.txt"});
}

TEST(ScriptReplacementUsers, ScriptWeMayNotWriteOrReadIsRefused)
{
    for (const mode_t mode : {mode_t{0644}, mode_t{0622}}) {
        SharedFolder shared(0777);
        const auto script = shared.folder.write("a.txt", " {a} ");
        ::chown(script.c_str(), kOwner, kOwner);
        ::chmod(script.c_str(), mode);

        EXPECT_EQ(rewriteAs(kEditor, {}, shared, "a.txt"), 70) << std::oct << mode;
        EXPECT_EQ(shared.folder.read("a.txt"), " {a} ");
        EXPECT_EQ(shared.folder.names(), std::vector<std::string>{"a.txt"});
    }
}

// A link, to a script or on the way to its folder, which is walked one folder at a time (a
// link in such a link's own text too), is followed only where its owner cannot use it against
// the runner; otherwise 70, naming the folder's link.
TEST(ScriptReplacementUsers, LinkIsFollowedOnlyWhereItsOwnerCannotUseItAgainstTheRunner)
{
    const struct
    {
        bool onTheWay; // a link to the folder, else notas.txt a link to privado.conf
        uid_t link;
        uid_t target;
        std::optional<uid_t> via; // a link to the shared folder inside the first link's text
        int error;
        const char *named = nullptr; // the link a folder's refusal names
    } cases[] = {
        {false, kEditor, kOwner, {}, 70}, // another user's link into the runner's private file
        {false, kOwner, kOwner, {}, 0},      {false, 0, kOwner, {}, 0},
        {false, kEditor, kEditor, {}, 0},    {true, kEditor, kOwner, {}, 70, "/proj"},
        {true, kOwner, kOwner, {}, 0, ""},   {true, 0, kOwner, {}, 0, ""},
        {true, kEditor, kEditor, {}, 0, ""}, {true, kOwner, kOwner, kEditor, 70, "/via"},
    };
    for (const auto &c : cases) {
        SharedFolder shared(0777);
        const std::string kept = c.onTheWay ? "real/notas.txt" : "privado.conf";
        const std::string letter = c.onTheWay ? "n" : "p";
        const auto file = shared.folder.write(kept, "{" + letter + "}");
        ::chown(file.c_str(), c.target, c.target);
        ::chmod(file.c_str(), c.onTheWay || c.target != kOwner ? 0666 : 0600);
        const fs::path link = shared.path(c.onTheWay ? "proj" : "notas.txt");
        if (c.onTheWay) {
            ::chown(shared.path("real").c_str(), c.target, c.target);
            if (c.via) {
                fs::create_directory_symlink(".", shared.path("via"));
                ::lchown(shared.path("via").c_str(), *c.via, *c.via);
            }
            fs::create_directory_symlink(c.via ? fs::path("via/real") : shared.path("real"), link);
        } else {
            fs::create_symlink(file, link);
        }
        ::lchown(link.c_str(), c.link, c.link);
        const fs::path folder = c.onTheWay ? link : shared.folder.path();

        EXPECT_EQ(asUser(kOwner, kOwner, {},
                         [&] {
                             try {
                                 ModificarScript(folder, "notas.txt", kForward);
                                 return 0;
                             } catch (const FileError &error) {
                                 return !c.named || error.detail().ends_with(std::string(c.named) +
                                                                             " es de otro usuario")
                                            ? error.number()
                                            : 97;
                             }
                         }),
                  c.error)
            << link << ": " << c.link << " -> " << c.target;
        EXPECT_EQ(shared.folder.read(kept), c.error == 0 ? "<" + letter + ">" : "{" + letter + "}");
    }
}

// An absolute path is walked from the root: where the runner stands is not asked for.
TEST(ScriptReplacementUsers, AnAbsolutePathNeedsNoWorkingFolderTheRunnerMayRead)
{
    SharedFolder shared(0777);
    ::chmod(shared.folder.write("a.txt", "{a}").c_str(), 0666);
    const SharedFolder standing(0711);
    EXPECT_EQ(asUser(kOwner, kOwner, {},
                     [&] {
                         if (::chdir(standing.folder.path().c_str()) != 0)
                             return 96;
                         return errorOf(
                             [&] { ModificarScript(shared.folder.folder(), "a.txt", kForward); });
                     }),
              0);
    EXPECT_EQ(shared.folder.read("a.txt"), "<a>");
}

TEST(ScriptReplacementUsers, WithoutAHomeAnotherPrivateFolderHoldsTheRecord)
{
    for (const bool temporaryWritable : {true, false}) {
        SharedFolder shared(0777);
        const auto script = shared.folder.write("a.txt", "{a}");
        fs::create_hard_link(script, shared.path("b.txt"));
        ::chmod(script.c_str(), 0666);
        TemporaryFolder temporary;
        ::chmod(temporary.path().c_str(), temporaryWritable ? 01777 : 0755);

        const int status = asUser(kEditor, kEditor, {}, [&] {
            ::setenv("HOME", "/nonexistent", 1);
            ::unsetenv("XDG_STATE_HOME");
            ::unsetenv("XDG_RUNTIME_DIR");
            ::setenv("TMPDIR", temporary.path().c_str(), 1);
            try {
                ModificarScript(shared.folder.folder(), "a.txt", kForward);
            } catch (const FileError &error) {
                // What is missing is named, never the script.
                return error.description().find("carpeta privada") != std::string::npos
                           ? 1
                           : error.number();
            }
            return 0;
        });
        EXPECT_EQ(status, temporaryWritable ? 0 : 1);
        EXPECT_EQ(shared.folder.read("b.txt"), temporaryWritable ? "<a>" : "{a}");
        EXPECT_EQ(shared.folder.names(), (std::vector<std::string>{"a.txt", "b.txt"}));
    }
}

TEST(ScriptReplacementUsers, PlantedRecoveryFilesAndRecordsAreNeverTrusted)
{
    for (const mode_t folderMode : {mode_t{01777}, mode_t{02775}}) {
        SharedFolder shared;
        ScratchFolder victimFolder;
        const auto victim = victimFolder.write("secreto.conf", "secreto\n");
        ::chmod(victim.c_str(), 0600);
        const auto script = shared.folder.write("a.txt", " {a} ");
        fs::create_hard_link(script, shared.path("b.txt"));
        ::chown(shared.folder.folder().c_str(), 0, kTeam);
        ::chmod(shared.folder.folder().c_str(), folderMode);
        ASSERT_EQ(killedBeforeReplacement(shared.folder.folder(), "a.txt"), 1000 + SIGKILL);

        // What the other user writes names a file to finish: the victim, or the script itself
        // with a text of the other user's.
        const auto plantedFor = [](const fs::path &file, const std::string &old) {
            const struct stat status = statOf(file);
            RecoveryHeader header;
            header.phase = 1;
            header.script = {status.st_dev, status.st_ino};
            header.newSize = 6;
            header.oldSize = old.size();
            header.name = file.filename().string();
            header.folder = file.parent_path().string();
            header.oldChecksums = {
                blockChecksum({reinterpret_cast<const unsigned char *>(old.data()), old.size()})};
            std::string planted = header.encode();
            planted.resize(header.dataOffset());
            return planted + "robado";
        };
        const std::string planted = plantedFor(victim, "secreto\n");
        const std::string plantedOver = plantedFor(script, " {a} ");
        const struct stat victimStat = statOf(victim);
        TemporaryFolder temporary; // where the runner's per-user folder would be, made first
        ::chmod(temporary.path().c_str(), 01777);
        const fs::path plantedRecord = temporary.path() / "dovezurad-0" / "0.registro";
        std::vector<fs::path> plantedFiles;
        // The group folder's user gets the run's own files, as a file made there after they
        // were removed may get their inode numbers: the identity the record names, another owner.
        if (folderMode == 02775)
            for (const fs::path &made : runFiles(shared.folder.path()))
                ::chown(made.c_str(), kEditor, kEditor);

        EXPECT_EQ(asUser(kEditor, kEditor, {kTeam},
                         [&] {
                             const std::vector<fs::path> seen = runFiles(shared.folder.path());
                             for (const fs::path &name : seen) {
                                 if (::access(name.c_str(), W_OK) == 0) // its own now
                                     writeFile(name, plantedOver);
                                 writeFile(name.string() + ".recuperar", planted);
                             }
                             const fs::path beside = shared.path("a.txt.recuperar");
                             writeFile(beside, planted);
                             const struct stat plantedStat = statOf(beside);
                             writeFile(
                                 plantedRecord,
                                 recordCopyBack({victimFolder.folder(),
                                                 "secreto.conf",
                                                 {victimStat.st_dev, victimStat.st_ino},
                                                 {false, shared.folder.folder(), "a.txt.recuperar"},
                                                 {plantedStat.st_dev, plantedStat.st_ino}}));
                             return seen.empty() ? 97 : 0;
                         }),
                  0);
        for (const auto &entry : fs::directory_iterator(shared.folder.path()))
            if (statOf(entry.path()).st_uid == kEditor)
                plantedFiles.push_back(entry.path());

        const char *given = std::getenv("TMPDIR");
        const std::string before = given ? given : "";
        ::setenv("TMPDIR", temporary.path().c_str(), 1);
        finishInterruptedRewrites();
        if (given)
            ::setenv("TMPDIR", before.c_str(), 1);
        else
            ::unsetenv("TMPDIR");

        EXPECT_EQ(ScratchFolder::readFile(victim), "secreto\n") << std::oct << folderMode;
        for (const fs::path &file : plantedFiles)
            EXPECT_TRUE(ScratchFolder::readFile(file) == planted ||
                        ScratchFolder::readFile(file) == plantedOver)
                << file;
        EXPECT_TRUE(fs::exists(plantedRecord));
        // Finished only where nobody else could write the recovery file.
        const std::string text = shared.folder.read("a.txt");
        EXPECT_EQ(text, folderMode == 02775 ? " {a} " : "<a>");
        EXPECT_EQ(shared.folder.read("b.txt"), text);
        EXPECT_EQ(stateFiles(), std::vector<std::string>{});
    }
}

TEST(ScriptReplacementIdentity, AclsAttributesAndSetIdBitsAreKept)
{
    ScratchFolder folder;
    const auto script = folder.write("a.txt", "{a}");
    const auto linked = folder.write("b.txt", "{b}");
    fs::create_hard_link(linked, folder.path() / "c.txt");
    std::vector<mode_t> modes;
    for (const auto &file : {script, linked}) {
        ::chown(file.c_str(), kOwner, kTeam);
        ::chmod(file.c_str(), 02664);
        const std::string quoted = "'" + file.string() + "'";
        ASSERT_EQ(std::system("command -v setfacl setfattr >/dev/null"), 0)
            << "setfacl and setfattr come with the acl and attr packages of scripts/setup.sh";
        if (std::system(("setfacl -m u:40003:rw,g:40101:r " + quoted).c_str()) != 0)
            GTEST_SKIP() << "the file system of " << folder.folder() << " has no ACLs";
        ASSERT_EQ(std::system(("setfattr -n user.etiqueta -v valor " + quoted).c_str()), 0);
        modes.push_back(statOf(file).st_mode);
        EXPECT_NE(modes.back() & 02000, 0u);
    }
    const auto attribute = [](const fs::path &file, const char *name) {
        std::string value(256, '\0');
        const ssize_t size = ::getxattr(file.c_str(), name, value.data(), value.size());
        value.resize(size < 0 ? 0 : static_cast<std::size_t>(size));
        return value;
    };
    const std::string acl = attribute(script, "system.posix_acl_access");
    ASSERT_FALSE(acl.empty());

    // The plain script takes the rename path, the hard-linked one the copy-back path.
    ModificarScript(folder.folder(), "a.txt", kForward);
    ModificarScript(folder.folder(), "b.txt", kForward);

    EXPECT_EQ(folder.read("a.txt"), "<a>");
    EXPECT_EQ(folder.read("c.txt"), "<b>");
    for (std::size_t i = 0; i < 2; ++i) {
        const fs::path &file = i == 0 ? script : linked;
        EXPECT_EQ(attribute(file, "system.posix_acl_access"), acl) << file;
        EXPECT_EQ(attribute(file, "user.etiqueta"), "valor") << file;
        const struct stat after = statOf(file);
        EXPECT_EQ(after.st_mode, modes[i]) << file;
        EXPECT_EQ(after.st_uid, kOwner);
        EXPECT_EQ(after.st_gid, kTeam);
    }
}

TEST(ScriptReplacementKills, EveryScriptIsItsOriginalOrItsRewriteAfterAKill)
{
    ScratchFolder folder;
    const std::string original = tagged(4 << 20, '{', '}');
    const std::string rewritten = tagged(4 << 20, '<', '>');
    folder.write("plain.txt", original);
    folder.write("named.txt", original);
    const auto linked = folder.write("linked.txt", original);
    fs::create_hard_link(linked, folder.path() / "linked2.txt");
    const std::vector<std::string> names{"linked.txt", "linked2.txt", "named.txt", "plain.txt"};

    std::mt19937 random(12345);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int kills = 0;
    while (std::chrono::steady_clock::now() < deadline || kills < 8) {
        const pid_t child = ::fork();
        if (child == 0) {
            for (bool forward = true;; forward = !forward) {
                const Cierres &cierres = forward ? kForward : kBackward;
                ModificarScript(folder.folder(), "plain.txt", cierres);
                ModificarScript(folder.folder(), "linked.txt", cierres);
                // As on a file system without unnamed files.
                RewriteRun named(openRunFolder(folder.folder()), RewriteRun::Flushes::EachScript,
                                 {{}, {}, true, false, {}});
                named.rewrite("named.txt", cierres);
                named.finish();
            }
        }
        ::usleep(std::uniform_int_distribution<useconds_t>(1000, 150000)(random));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ++kills;

        finishInterruptedRewrites();
        EXPECT_EQ(folder.names(), names) << "after kill " << kills;
        for (const std::string &name : names) {
            const std::string text = folder.read(name);
            EXPECT_TRUE(text == original || text == rewritten) << name << " after kill " << kills;
        }
        EXPECT_EQ(fingerprint(folder.read("linked.txt")), fingerprint(folder.read("linked2.txt")));
        EXPECT_EQ(stateFiles(), std::vector<std::string>{}) << "after kill " << kills;
        if (HasFailure())
            break;
    }
}

TEST(ScriptReplacementKills, RecoveryKeepsAnEditMadeAfterTheKill)
{
    // The first piece the run reads stays as it is: the new text starts at `start`.
    constexpr off_t start = 1 << 20;
    const std::string original = std::string(start, 'x') + tagged(64 << 10, '{', '}');
    const std::string rewritten = std::string(start, 'x') + tagged(64 << 10, '<', '>');
    const auto overwrite = [](const fs::path &file, const std::string &bytes, off_t at) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
        EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), at), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
    };
    const struct
    {
        const char *what;
        std::function<void(const fs::path &)> change;
        bool finished;
    } cases[] = {
        {"untouched", [](const fs::path &) {}, true},
        // What the copy-back itself leaves: new blocks, then old ones.
        {"partly copied",
         [&](const fs::path &f) { overwrite(f, rewritten.substr(start, 8192), start); }, true},
        {"edited", [&](const fs::path &f) { overwrite(f, "EDITADO", start + 20000); }, false},
        {"cut short", [&](const fs::path &f) { fs::resize_file(f, start + 30000); }, false},
        // Every block left still holds its old bytes.
        {"cut at a block's end", [&](const fs::path &f) { fs::resize_file(f, start + 32768); },
         false},
        {"edited, with the first name for the run's text taken",
         [&](const fs::path &f) {
             overwrite(f, "EDITADO", start + 20000);
             writeFile(f.parent_path() / "a.txt.recuperado", "ajeno");
         },
         false},
    };
    for (const auto &c : cases) {
        ScratchFolder folder;
        const auto script = folder.write("a.txt", original);
        fs::create_hard_link(script, folder.path() / "b.txt");
        ASSERT_EQ(killedBeforeReplacement(folder.folder(), "a.txt"), 1000 + SIGKILL);
        c.change(script);
        const std::string before = folder.read("a.txt");
        const bool taken = fs::exists(folder.path() / "a.txt.recuperado");
        const std::string setAside = taken ? "a.txt.recuperado-2" : "a.txt.recuperado";

        const std::vector<std::string> told = finishInterruptedRewrites();

        EXPECT_EQ(fingerprint(folder.read("a.txt")), fingerprint(c.finished ? rewritten : before))
            << c.what;
        if (c.finished) {
            EXPECT_EQ(told, std::vector<std::string>{}) << c.what;
            EXPECT_EQ(folder.names(), (std::vector<std::string>{"a.txt", "b.txt"}));
        } else {
            EXPECT_EQ(fingerprint(folder.read(setAside)), fingerprint(rewritten)) << c.what;
            ASSERT_EQ(told.size(), 1u) << c.what;
            EXPECT_NE(told[0].find(folder.folder() + "/" + setAside + "»"), std::string::npos);
            std::vector<std::string> names{"a.txt", "a.txt.recuperado", "b.txt"};
            if (taken) {
                names.insert(names.begin() + 2, setAside);
                EXPECT_EQ(folder.read("a.txt.recuperado"), "ajeno");
            }
            EXPECT_EQ(folder.names(), names) << c.what;
        }
        EXPECT_EQ(stateFiles(), std::vector<std::string>{});
    }
}

// Recovery finishes or removes only what it can prove its dead run made. Each case plants what
// one check refuses, and recovery leaves it as it is; what the run did make goes.
TEST(ScriptReplacementKills, RecoveryTouchesOnlyWhatItsDeadRunProvablyMade)
{
    const std::string original = tagged(2 << 20, '{', '}');
    const struct
    {
        const char *what;
        bool hardLinked;   // the copy-back's recovery file, else the renamed new file
        bool whileWriting; // killed while the new text is written, else just before replacing
        // Given the file the run made, plants and answers the file to look at afterwards.
        std::function<fs::path(const fs::path &)> plant;
        bool stays;
    } cases[] = {
        {"a recovery file with a second name", true, false,
         [](const fs::path &made) {
             fs::create_hard_link(made, made.parent_path() / "copia");
             return made;
         },
         true},
        {"a recovery file reached through a link", true, false,
         [](const fs::path &made) {
             const fs::path folder = made.parent_path();
             fs::rename(folder, folder.string() + "-real");
             fs::create_directory_symlink("guiones-real", folder);
             return fs::path(folder.string() + "-real") / made.filename();
         },
         true},
        {"a recovery file whose header names another script", true, false,
         [](const fs::path &made) {
             const std::string bytes = ScratchFolder::readFile(made);
             const auto size = recoveryHeaderSize(bytes, bytes.size()).value();
             RecoveryHeader header = parseRecoveryHeader(bytes.substr(0, size)).value();
             header.name = "c.txt";
             std::fstream(made, std::ios::in | std::ios::out | std::ios::binary) << header.encode();
             return made;
         },
         true},
        {"another file by the recovery file's name", true, false,
         [](const fs::path &made) {
             fs::copy_file(made, made.string() + "-otro");
             fs::rename(made.string() + "-otro", made); // made while the first had its number
             return made;
         },
         true},
        {"a recovery file never completed", true, false,
         [](const fs::path &made) {
             std::fstream(made, std::ios::in | std::ios::out | std::ios::binary)
                 .seekp(kRecoveryPhaseOffset)
                 .put('\0');
             return made;
         },
         false},
        {"another user's file by a name of the run", false, false,
         [](const fs::path &made) {
             ::chown(made.c_str(), kEditor, kEditor);
             return made;
         },
         true},
        {"a file of the run's with a second name", false, false,
         [](const fs::path &made) {
             fs::create_hard_link(made, made.parent_path() / "copia");
             return made;
         },
         true},
        {"the new file of a run killed while writing it", false, true,
         [](const fs::path &made) { return made; }, false},
        {"a record a run killed while making it left", false, false,
         [](const fs::path &) {
             const fs::path unfinished =
                 kPrivateState.records() / "0123456789abcdef.registro.nuevo";
             writeFile(unfinished, "");
             return unfinished;
         },
         false},
    };
    for (const auto &c : cases) {
        ScratchFolder root;
        const fs::path folder = root.path() / "guiones";
        const fs::path script = folder / "a.txt";
        writeFile(script, original);
        if (c.hardLinked)
            fs::create_hard_link(script, folder / "b.txt");
        ASSERT_EQ(c.whileWriting ? killedWhileWriting(folder.string(), "a.txt")
                                 : killedBeforeReplacement(folder.string(), "a.txt"),
                  1000 + SIGKILL)
            << c.what;
        const std::vector<fs::path> made = runFiles(folder);
        ASSERT_EQ(made.size(), 1u) << c.what;
        const fs::path planted = c.plant(made[0]);
        const auto before =
            std::make_pair(fingerprint(ScratchFolder::readFile(planted)), statOf(planted).st_ino);

        finishInterruptedRewrites();

        EXPECT_EQ(fingerprint(ScratchFolder::readFile(script)), fingerprint(original)) << c.what;
        if (c.stays) {
            EXPECT_EQ(std::make_pair(fingerprint(ScratchFolder::readFile(planted)),
                                     statOf(planted).st_ino),
                      before)
                << c.what;
        } else {
            EXPECT_FALSE(fs::exists(planted)) << c.what;
        }
        EXPECT_EQ(stateFiles(), std::vector<std::string>{}) << c.what;
    }
}

TEST(ScriptReplacementKills, CopyBackStoppedByAFileSizeLimitIsFinishedAtTheNextStart)
{
    const std::string original = std::string(3 << 20, 'x') + "{a}";
    const std::string rewritten = std::string(3 << 20, 'x') + "<a>";
    // Then the name may go to a new file, which recovery must leave as it is.
    for (const bool renamedOver : {false, true}) {
        ScratchFolder folder;
        const auto script = folder.write("a.txt", original);
        fs::create_hard_link(script, folder.path() / "b.txt");
        EXPECT_EQ(inChild([&] {
                      const rlimit limit{(3 << 20) / 2, RLIM_INFINITY};
                      ::setrlimit(RLIMIT_FSIZE, &limit);
                      return errorOf([&] { ModificarScript(folder.folder(), "a.txt", kForward); });
                  }),
                  61);
        if (renamedOver) {
            folder.write("nuevo", "{nuevo}");
            fs::rename(folder.path() / "nuevo", script);
        }

        finishInterruptedRewrites();

        EXPECT_EQ(fingerprint(folder.read("a.txt")),
                  fingerprint(renamedOver ? "{nuevo}" : rewritten));
        EXPECT_EQ(fingerprint(folder.read("b.txt")),
                  fingerprint(renamedOver ? original : rewritten));
        EXPECT_EQ(folder.names(), (std::vector<std::string>{"a.txt", "b.txt"}));
        EXPECT_EQ(stateFiles(), std::vector<std::string>{});
    }
}

TEST(ScriptReplacementLimits, LowLimitOfOpenFilesStillRewritesEveryScript)
{
    // {soft, hard}: the run raises its own limit, never past the system's, else holds fewer.
    rlimit ours{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &ours), 0);
    for (const auto &[soft, hard] :
         {std::pair<rlim_t, rlim_t>{24, 24}, {64, 64}, {64, std::max<rlim_t>(ours.rlim_max, 64)}}) {
        ScratchFolder folder;
        for (int i = 0; i < 100; ++i)
            folder.write(std::to_string(i) + ".txt", "{a}");
        EXPECT_EQ(inChild([&, soft = soft, hard = hard] {
                      rlimit limit{soft, hard};
                      if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
                          return 98;
                      const int error = errorOf([&] {
                          RewriteRun run(openRunFolder(folder.folder()),
                                         RewriteRun::Flushes::Batched);
                          for (int i = 0; i < 100; ++i)
                              run.rewrite(std::to_string(i) + ".txt", kForward);
                          run.finish();
                      });
                      if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_max != hard)
                          return 97;
                      return error != 0 || (limit.rlim_cur > soft) == (hard > soft) ? error : 96;
                  }),
                  0)
            << soft << " " << hard;
        for (int i = 0; i < 100; ++i)
            EXPECT_EQ(folder.read(std::to_string(i) + ".txt"), "<a>") << soft << " " << i;
    }
}

TEST(ScriptReplacementLimits, FileSizeLimitIsADiskFullOnBothPaths)
{
    ScratchFolder folder;
    const std::string content = "  {" + std::string(200000, 'x') + "}  ";
    folder.write("plain.txt", content);
    const auto linked = folder.write("linked.txt", content);
    fs::create_hard_link(linked, folder.path() / "linked2.txt");

    for (const char *name : {"plain.txt", "linked.txt"}) {
        // A child with the signal's default action: the rewrite itself must keep it from
        // ending the program.
        EXPECT_EQ(inChild([&] {
                      const rlimit limit{64 * 1024, RLIM_INFINITY};
                      ::setrlimit(RLIMIT_FSIZE, &limit);
                      return errorOf([&] { ModificarScript(folder.folder(), name, kForward); });
                  }),
                  61)
            << name;
        EXPECT_EQ(fingerprint(folder.read(name)), fingerprint(content));
    }
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"linked.txt", "linked2.txt", "plain.txt"}));
    EXPECT_EQ(stateFiles(), std::vector<std::string>{});
}

// A small file system in the folder, for as long as it lives.
struct SmallFileSystem
{
    explicit SmallFileSystem(const std::string &folder, const char *size) : path(folder)
    {
        mounted = ::mount("dovezurad-test", folder.c_str(), "tmpfs", 0, size) == 0;
    }
    ~SmallFileSystem()
    {
        if (mounted)
            ::umount2(path.c_str(), MNT_DETACH);
    }
    std::string path;
    bool mounted = false;
};

TEST(ScriptReplacementLimits, FullFileSystemIsADiskFullOnBothPaths)
{
    ScratchFolder folder;
    const SmallFileSystem small(folder.folder(), "size=2m");
    if (!small.mounted)
        GTEST_SKIP() << "this machine does not let the test mount a small tmpfs: "
                     << std::strerror(errno);

    const std::string content = " " + tagged(800 * 1024, '{', '}');
    folder.write("plain.txt", content);
    const auto linked = folder.write("linked.txt", content);
    fs::create_hard_link(linked, folder.path() / "linked2.txt");

    for (const char *name : {"plain.txt", "linked.txt"}) {
        EXPECT_EQ(errorOf([&] { ModificarScript(folder.folder(), name, kForward); }), 61) << name;
        EXPECT_EQ(fingerprint(folder.read(name)), fingerprint(content));
    }
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"linked.txt", "linked2.txt", "plain.txt"}));
}

// Room for one new text beside the old ones, not for two: a batch settles before its second
// new text, as one script at a time would have freed the first's old text by then.
TEST(ScriptReplacementLimits, ABatchNeedsNoMoreRoomThanOneScriptAtATime)
{
    ScratchFolder folder;
    const SmallFileSystem small(folder.folder(), "size=2304k");
    if (!small.mounted)
        GTEST_SKIP() << "this machine does not let the test mount a small tmpfs: "
                     << std::strerror(errno);
    const std::string content = tagged(512 * 1024, '{', '}');
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        folder.write(name, content);

    RewriteRun run(openRunFolder(folder.folder()), RewriteRun::Flushes::Batched);
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        EXPECT_TRUE(run.rewrite(name, kForward)) << name;
    run.finish();
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        EXPECT_EQ(fingerprint(folder.read(name)), fingerprint(tagged(512 * 1024, '<', '>')));
}

TEST(ScriptReplacementLimits, FailedFlushIsReportedAndReplacesNothing)
{
    const struct
    {
        const char *what;
        long call;
        std::optional<std::uint32_t> flags;
        RewriteRun::Flushes flushes;
    } cases[] = {
        {"a script's own flush", SYS_fdatasync, std::nullopt, RewriteRun::Flushes::EachScript},
        // After one flush of the whole file system, each new file's own errors are heard.
        {"a batch's wait for its new texts", SYS_sync_file_range,
         SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER,
         RewriteRun::Flushes::Batched},
    };
    for (const auto &c : cases) {
        ScratchFolder folder;
        folder.write("a.txt", "{a}");
        folder.write("b.txt", "{b}");
        EXPECT_EQ(inChild([&] {
                      if (!failing(c.call, c.flags, EIO))
                          return 98;
                      return errorOf([&] {
                          RewriteRun run(openRunFolder(folder.folder()), c.flushes);
                          for (const char *name : {"a.txt", "b.txt"})
                              run.rewrite(name, kForward);
                          run.finish();
                      });
                  }),
                  57)
            << c.what;
        EXPECT_EQ(folder.read("a.txt") + folder.read("b.txt"), "{a}{b}") << c.what;
        EXPECT_EQ(folder.names(), (std::vector<std::string>{"a.txt", "b.txt"})) << c.what;
    }
}

TEST(ScriptReplacementRaces, ScriptGrowingWhileRewrittenKeepsEveryAppendedLine)
{
    for (const bool hardLinked : {false, true}) {
        ScratchFolder folder;
        const std::string original = tagged(3 << 20, '{', '}');
        const auto script = folder.write("a.txt", original);
        if (hardLinked)
            fs::create_hard_link(script, folder.path() / "b.txt");
        std::string appended;
        // Another program appends a line after every piece the rewrite reads.
        const ScriptProgress appendLine = [&](std::uint64_t, std::uint64_t) {
            std::ofstream(script, std::ios::app) << "\r\nlínea nueva";
            appended += "\r\nlínea nueva";
            return true;
        };

        EXPECT_EQ(errorOf([&] { ModificarScript(folder.folder(), "a.txt", kForward, appendLine); }),
                  70);
        EXPECT_EQ(fingerprint(folder.read("a.txt")), fingerprint(original + appended));
        EXPECT_LE(appended.size(), 4 * std::string("\r\nlínea nueva").size());
        EXPECT_EQ(folder.names().size(), hardLinked ? 2u : 1u);
    }
}

TEST(ScriptReplacementRaces, SaveJustBeforeTheReplacementIsKeptOnEveryPath)
{
    // An unnamed new file, a named one, and the copy-back.
    for (const int path : {0, 1, 2}) {
        ScratchFolder folder;
        const auto script = folder.write("a.txt", "{a}");
        if (path == 2)
            fs::create_hard_link(script, folder.path() / "b.txt");
        bool waitedFirst = false;
        ReplacementHooks hooks;
        hooks.noUnnamedFiles = path == 1;
        hooks.beforeReplace = [&] {
            // Whatever may wait is done by now: the run's record is made.
            waitedFirst = !stateFiles().empty();
            // Another program saves as many bytes in place and puts the modification time
            // back; only the change time tells.
            const struct stat before = statOf(script);
            timespec now{};
            do {
                ::usleep(1000);
                ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
            } while (now.tv_sec == before.st_ctim.tv_sec && now.tv_nsec <= before.st_ctim.tv_nsec);
            std::fstream(script, std::ios::in | std::ios::out | std::ios::binary) << "[a]";
            const timespec times[2] = {before.st_atim, before.st_mtim};
            ::utimensat(AT_FDCWD, script.c_str(), times, 0);
        };
        {
            RewriteRun run(openRunFolder(folder.folder()), RewriteRun::Flushes::EachScript, hooks);
            EXPECT_EQ(errorOf([&] { run.rewrite("a.txt", kForward); }), 70) << path;
        }
        EXPECT_TRUE(waitedFirst) << path;
        EXPECT_EQ(folder.read("a.txt"), "[a]") << path;
        EXPECT_EQ(folder.names().size(), path == 2 ? 2u : 1u) << path;
        EXPECT_EQ(stateFiles(), std::vector<std::string>{});
    }
}

TEST(ScriptReplacementRaces, NamePlantedBeforeTheRunMakesItEndsThatScript)
{
    ScratchFolder folder;
    folder.write("a.txt", "{a}");
    folder.write("b.txt", "{b}");
    std::string seen;
    ReplacementHooks hooks;
    // Someone who watched the first replacement has the name ready for the next one.
    hooks.beforeReplace = [&] {
        for (const std::string &name : folder.names())
            if (name.starts_with(".dovezurad-"))
                seen = name;
    };
    hooks.afterOpen = [&] {
        if (!seen.empty())
            folder.write(seen, "ajeno");
    };
    RewriteRun run(openRunFolder(folder.folder()), RewriteRun::Flushes::EachScript, hooks);
    run.rewrite("a.txt", kForward);
    EXPECT_EQ(errorOf([&] { run.rewrite("b.txt", kForward); }), 58);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(folder.read("a.txt"), "<a>");
    EXPECT_EQ(folder.read("b.txt"), "{b}");
    EXPECT_EQ(folder.read(seen), "ajeno");
}

TEST(ScriptReplacementRaces, LinkRepointedAfterOpeningDoesNotRedirectTheWrite)
{
    ScratchFolder folder;
    folder.write("old.dat", "{viejo}");
    folder.write("new.dat", "{nuevo}");
    fs::create_symlink("old.dat", folder.path() / "link.txt");
    ReplacementHooks hooks;
    hooks.afterOpen = [&] {
        fs::remove(folder.path() / "link.txt");
        fs::create_symlink("new.dat", folder.path() / "link.txt");
    };

    RewriteRun run(openRunFolder(folder.folder()), RewriteRun::Flushes::EachScript, hooks);
    run.rewrite("link.txt", kForward);
    run.finish();

    EXPECT_EQ(folder.read("old.dat"), "<viejo>");
    EXPECT_EQ(folder.read("new.dat"), "{nuevo}");
    EXPECT_EQ(fs::read_symlink(folder.path() / "link.txt"), "new.dat");
}

// Another user who may rename the folder swaps it for a link to a folder only root may read,
// while root's run is under way: the run goes on in the folder it holds, and writes nothing
// where the link leads. A run started after the swap refuses the link (70).
TEST(ScriptReplacementRaces, AFolderSwappedMidRunLeadsNoScriptElsewhere)
{
    SharedFolder shared;
    const fs::path team = shared.path("team");
    const fs::path proj = team / "proj";
    const fs::path secret = shared.path("secreto");
    fs::create_directories(proj);
    fs::create_directory(secret);
    ::chown(team.c_str(), kEditor, kEditor);
    ::chmod(secret.c_str(), 0700);
    for (const char *name : {"a.txt", "b.txt"})
        shared.folder.write("team/proj/" + std::string(name), "{p}");
    const auto hidden = shared.folder.write("secreto/b.txt", "{s}");
    ::chmod(hidden.c_str(), 0600);
    const struct stat before = statOf(hidden);
    bool swapped = false;
    ReplacementHooks hooks;
    hooks.afterOpen = [&] {
        if (!std::exchange(swapped, true)) {
            EXPECT_EQ(swapForLink(kEditor, proj, secret), 0);
        }
    };

    RewriteRun run(openRunFolder(proj), RewriteRun::Flushes::Batched, hooks);
    for (const char *name : {"a.txt", "b.txt"})
        EXPECT_TRUE(run.rewrite(name, kForward)) << name;
    run.finish();

    EXPECT_EQ(shared.folder.read("secreto/b.txt"), "{s}");
    EXPECT_EQ(statOf(hidden).st_ino, before.st_ino);
    EXPECT_EQ(statOf(hidden).st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    for (const char *name : {"a.txt", "b.txt"})
        EXPECT_EQ(shared.folder.read("team/proj.old/" + std::string(name)), "<p>") << name;
    EXPECT_EQ(errorOf([&] { ModificarScript(proj, "b.txt", kForward); }), 70);
    EXPECT_EQ(shared.folder.read("secreto/b.txt"), "{s}");
}

TEST(ScriptReplacementRaces, FileWithTwoNamesIsRewrittenOnce)
{
    // A mapping that changes its own output: rewriting twice would show.
    const Cierres chaining{"/", ")", "(", "/"};
    for (const auto flushes : {RewriteRun::Flushes::EachScript, RewriteRun::Flushes::Batched}) {
        ScratchFolder folder;
        const auto hard = folder.write("a.txt", "/)");
        fs::create_hard_link(hard, folder.path() / "b.txt");
        fs::create_symlink("a.txt", folder.path() / "c.txt");
        folder.write("d.txt", "/)");
        fs::create_symlink("d.txt", folder.path() / "e.txt");

        RewriteRun run(openRunFolder(folder.folder()), flushes);
        for (const char *name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"})
            run.rewrite(name, chaining);
        run.finish();

        EXPECT_EQ(folder.read("a.txt"), "(/");
        EXPECT_EQ(folder.read("b.txt"), "(/");
        EXPECT_EQ(folder.read("d.txt"), "(/");
    }
}

TEST(ScriptReplacementRaces, ScriptLockedByAnotherRunIsHeld)
{
    ScratchFolder folder;
    const auto script = folder.write("a.txt", "{a}");
    const int other = ::open(script.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    EXPECT_EQ(errorOf([&] { ModificarScript(folder.folder(), "a.txt", kForward); }), 70);
    ::close(other);
    EXPECT_EQ(folder.read("a.txt"), "{a}");
}

// A dry run opens and checks a script through the same code as a run: whatever stops the run
// stops it with the same number, and it leaves the folder as it was.
TEST(ScriptReplacementDryRun, StopsWhereARunStopsWithTheSameError)
{
    const struct
    {
        const char *what;
        mode_t mode;    // of a.txt, the runner's; 0: no such file
        bool held;      // locked by another run
        bool otherLink; // a.txt is another user's link to the runner's file
        int error;
    } cases[] = {{"read-only", 0444, false, false, 75},
                 {"missing", 0, false, false, 53},
                 {"held by another run", 0644, true, false, 70},
                 {"another user's link", 0600, false, true, 70}};
    for (const auto &c : cases) {
        SharedFolder shared(0777);
        const std::string file = c.otherLink ? "privado.conf" : "a.txt";
        if (c.mode != 0) {
            shared.folder.write(file, "{a}");
            ::chown(shared.path(file).c_str(), kOwner, kOwner);
            ::chmod(shared.path(file).c_str(), c.mode);
        }
        if (c.otherLink) {
            fs::create_symlink(shared.path(file), shared.path("a.txt"));
            ::lchown(shared.path("a.txt").c_str(), kEditor, kEditor);
        }
        const int held = c.held ? ::open(shared.path(file).c_str(), O_RDONLY | O_CLOEXEC) : -1;
        if (held >= 0)
            ::flock(held, LOCK_EX);
        const std::vector<std::string> names = shared.folder.names();

        EXPECT_EQ(asUser(kOwner, kOwner, {},
                         [&] {
                             return errorOf([&] {
                                 RewritePreview(openRunFolder(shared.folder.folder()))
                                     .preview("a.txt", kForward);
                             });
                         }),
                  c.error)
            << c.what;
        EXPECT_EQ(shared.folder.names(), names) << c.what;
        EXPECT_EQ(shared.folder.read(file), c.mode == 0 ? "" : "{a}") << c.what;
        EXPECT_EQ(rewriteAs(kOwner, {}, shared, "a.txt"), c.error) << c.what;
        if (held >= 0)
            ::close(held);
    }
}

TEST(ScriptReplacementRaces, AbandonedScriptIsLeftAsItWasOnBothPaths)
{
    ScratchFolder folder;
    const std::string original = " " + tagged(3 << 20, '{', '}');
    folder.write("plain.txt", original);
    const auto linked = folder.write("linked.txt", original);
    fs::create_hard_link(linked, folder.path() / "linked2.txt");
    for (const char *name : {"plain.txt", "linked.txt"}) {
        int calls = 0;
        EXPECT_THROW(ModificarScript(folder.folder(), name, kForward,
                                     [&](std::uint64_t, std::uint64_t) { return ++calls < 2; }),
                     RewriteAbandoned);
        EXPECT_EQ(fingerprint(folder.read(name)), fingerprint(original));
    }
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"linked.txt", "linked2.txt", "plain.txt"}));
    EXPECT_EQ(stateFiles(), std::vector<std::string>{});
}

// Run only under the trace of DurabilityOrder, which names the folder.
TEST(ScriptReplacementDurability, TracedRun)
{
    const char *folder = std::getenv("DOVEZURAD_TRACED_FOLDER");
    if (folder == nullptr)
        GTEST_SKIP() << "part of DurabilityOrder";
    const auto keepingRun = [folder](std::initializer_list<const char *> names) {
        RewriteRun run(openRunFolder(folder), RewriteRun::Flushes::Batched);
        run.keepOriginals(kForward);
        for (const char *name : names)
            run.rewrite(name, kForward);
        run.finish();
    };
    // The copy-back first, so that its own flush of the folder comes before the renames.
    keepingRun({"h.txt", "a.txt", "b.txt"});
    // A script on its own is flushed by itself, and so is the entry that names its original.
    keepingRun({"s.txt"});
}

TEST(ScriptReplacementDurability, NewTextIsFlushedBeforeItBecomesTheScriptAndTheFolderAfter)
{
    ScratchFolder folder;
    folder.write("a.txt", "{a}");
    folder.write("b.txt", "{b}");
    folder.write("s.txt", "{s}");
    const auto linked = folder.write("h.txt", "{h}");
    fs::create_hard_link(linked, folder.path() / "h2.txt");
    const fs::path trace = folder.path() / "trace";
    if (std::system("strace -f -o /dev/null true 2>/dev/null") != 0)
        GTEST_SKIP() << "strace cannot trace a program here (ptrace is not permitted)";

    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const int status = inChild([&] {
        ::setenv("DOVEZURAD_TRACED_FOLDER", folder.folder().c_str(), 1);
        // The leak checker cannot run under a tracer; the untraced tests check for leaks.
        const char *asan = std::getenv("ASAN_OPTIONS");
        ::setenv("ASAN_OPTIONS",
                 ((asan ? std::string(asan) + ":" : std::string()) + "detect_leaks=0").c_str(), 1);
        const std::string filter = "--gtest_filter=ScriptReplacementDurability.TracedRun";
        ::execlp("strace", "strace", "-f", "-qq", "-y", "-s", "200", "-o", trace.c_str(), "-e",
                 "trace=fdatasync,fsync,syncfs,rename,renameat,renameat2,pwrite64", self.c_str(),
                 filter.c_str(), static_cast<char *>(nullptr));
        return 96;
    });
    ASSERT_EQ(status, 0) << "strace could not trace the run";
    ASSERT_EQ(folder.read("a.txt"), "<a>");
    ASSERT_EQ(folder.read("h2.txt"), "<h>");

    std::vector<std::string> lines;
    std::ifstream in(trace);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    const auto first = [&](const std::function<bool(const std::string &)> &match) {
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (match(lines[i]))
                return static_cast<std::ptrdiff_t>(i);
        return std::ptrdiff_t{-1};
    };
    // -1 where `line` was not found either, so that a missing step fails the steps after it.
    const auto firstAfter = [&](std::ptrdiff_t line,
                                const std::function<bool(const std::string &)> &match) {
        for (auto i = line + 1; line >= 0 && i < static_cast<std::ptrdiff_t>(lines.size()); ++i)
            if (match(lines[static_cast<std::size_t>(i)]))
                return i;
        return std::ptrdiff_t{-1};
    };
    const auto last = [&](const std::function<bool(const std::string &)> &match) {
        for (std::size_t i = lines.size(); i-- > 0;)
            if (match(lines[i]))
                return static_cast<std::ptrdiff_t>(i);
        return std::ptrdiff_t{-1};
    };
    const auto has = [](const std::string &line, const std::string &a, const std::string &b) {
        return line.find(a) != std::string::npos && line.find(b) != std::string::npos;
    };
    const std::string dir = folder.folder();
    const std::string script = dir + "/h.txt>";
    const auto firstWrite = first([&](auto &l) { return has(l, "pwrite64(", script); });

    // The record of what undo needs names each original, and lasts, before its script changes.
    for (const std::string name : {"a.txt", "b.txt", "h.txt", "s.txt"}) {
        const auto named = first([&](auto &l) {
            return has(l, "pwrite64(", "/MANIFIESTO>") && has(l, " " + name + "\\n", "");
        });
        const auto flushed = firstAfter(named, [&](auto &l) {
            return has(l, "syncfs(", "") || has(l, "fdatasync(", "/MANIFIESTO>)");
        });
        const auto changed =
            name == "h.txt" ? firstWrite
                            : first([&](auto &l) { return has(l, "rename", "\"" + name + "\""); });
        EXPECT_GE(named, 0) << name;
        EXPECT_GE(flushed, 0) << name;
        EXPECT_LT(flushed, changed) << name;
    }

    // So does the run's own record, which tells a later start what to finish or remove.
    const std::string record = "<" + kPrivateState.records().string() + "/";
    int recordWrites = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!has(lines[i], "pwrite64(", record))
            continue;
        const auto next = [&](const std::function<bool(const std::string &)> &match) {
            std::size_t j = i + 1;
            while (j < lines.size() && !match(lines[j]))
                ++j;
            return j;
        };
        EXPECT_LT(next([&](auto &l) { return has(l, "fdatasync(", record); }), next([&](auto &l) {
                      return has(l, "rename", ".txt\")") || has(l, "pwrite64(", script);
                  }))
            << lines[i];
        ++recordWrites;
    }
    EXPECT_GT(recordWrites, 0);

    std::ptrdiff_t lastRename = -1;
    for (const char *name : {"a.txt", "b.txt", "s.txt"}) {
        // The new file had no name when it was written and flushed; its inode is the script's
        // now. A batch is flushed by one flush of the whole file system.
        const std::string inode = "/#" + std::to_string(statOf(folder.path() / name).st_ino) + ">";
        const std::string target = std::string("\"") + name + "\"";
        const auto written = last([&](auto &l) { return has(l, "pwrite64(", inode); });
        const auto renamed = first([&](auto &l) { return has(l, "rename", target); });
        const auto flushed = firstAfter(
            written, [&](auto &l) { return has(l, "fdatasync(", inode) || has(l, "syncfs(", ""); });
        EXPECT_GE(written, 0) << name;
        EXPECT_GE(flushed, 0) << name;
        EXPECT_LT(flushed, renamed) << name;
        lastRename = std::max(lastRename, renamed);
    }
    const auto folderFlush = last([&](auto &l) { return has(l, "fsync(", "<" + dir + ">)"); });
    EXPECT_GT(folderFlush, lastRename);

    // Copy-back: the recovery file is flushed, and its name too, before the script is written;
    // the script is flushed after its last write.
    const auto recoveryFlushed =
        first([&](auto &l) { return has(l, "fdatasync(", ".recuperar>"); });
    const auto recoveryNamed = first([&](auto &l) { return has(l, "fsync(", "<" + dir + ">)"); });
    const auto lastWrite = last([&](auto &l) { return has(l, "pwrite64(", script); });
    const auto scriptFlushed = last([&](auto &l) { return has(l, "fdatasync(", script); });
    // Its phase byte too, once written, before the script is.
    const auto phaseWritten =
        first([&](auto &l) { return has(l, "pwrite64(", ".recuperar>, \"\\1\", 1, 8)"); });
    const auto phaseFlushed =
        firstAfter(phaseWritten, [&](auto &l) { return has(l, "fdatasync(", ".recuperar>"); });
    EXPECT_GE(phaseWritten, 0);
    EXPECT_GT(phaseFlushed, phaseWritten);
    EXPECT_LT(phaseFlushed, firstWrite);
    EXPECT_GE(recoveryFlushed, 0);
    EXPECT_LT(recoveryFlushed, firstWrite);
    EXPECT_LT(recoveryNamed, firstWrite);
    EXPECT_GE(firstWrite, 0);
    EXPECT_GT(scriptFlushed, lastWrite);
}

TEST(ScriptReplacementFiles, SparseScriptStaysSparseOnBothPaths)
{
    for (const bool hardLinked : {false, true}) {
        ScratchFolder folder;
        const auto script = folder.path() / "a.txt";
        {
            std::ofstream out(script, std::ios::binary);
            out << "{a}";
            // A block that is a hole but for its last byte.
            out.seekp((64 << 20) - 1);
            out << "z{b}";
        }
        if (hardLinked)
            fs::create_hard_link(script, folder.path() / "b.txt");
        const struct stat before = statOf(script);
        ModificarScript(folder.folder(), "a.txt", kForward);
        const struct stat after = statOf(script);
        EXPECT_EQ(after.st_size, (64 << 20) + 3);
        EXPECT_LE(after.st_blocks, before.st_blocks) << hardLinked;
        const std::string text = folder.read("a.txt");
        EXPECT_EQ(text.substr(0, 3), "<a>");
        EXPECT_EQ(text.substr(text.size() - 4), "z<b>");
    }
}

TEST(ScriptReplacementFiles, PathLongerThanTheSystemLimit)
{
    ScratchFolder folder;
    const std::string part(200, 'd');
    int fd = ::open(folder.folder().c_str(), O_RDONLY | O_DIRECTORY);
    std::string path = folder.folder();
    for (int depth = 0; depth < 24; ++depth) {
        ASSERT_EQ(::mkdirat(fd, part.c_str(), 0755), 0);
        const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        path += "/" + part;
    }
    ASSERT_GT(path.size(), std::size_t{PATH_MAX});
    const int file = ::openat(fd, "a.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(::write(file, " {a} ", 5), 5);
    ::close(file);

    ModificarScript(path, "a.txt", kForward);

    char text[16] = {};
    const int in = ::openat(fd, "a.txt", O_RDONLY);
    EXPECT_EQ(::read(in, text, sizeof text), 3);
    EXPECT_STREQ(text, "<a>");
    ::close(in);
    // The folder is removed one level at a time: its whole path is too long to name.
    ::unlinkat(fd, "a.txt", 0);
    for (int depth = 0; depth < 24; ++depth) {
        const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = up;
        ::unlinkat(fd, part.c_str(), AT_REMOVEDIR);
    }
    ::close(fd);
}
