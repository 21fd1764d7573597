// What only the Windows mechanism does: share modes instead of locks, ReplaceFileW's backup
// name, verbatim paths, and a run's record freed by the system when the run is killed.
#include "modificarscript.h"
#include "nativefilestesting.h"
#include "scratchfolder.h"
#include "wine.h"

using namespace nativefilestesting;

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

NativeFile openRaw(const fs::path &path, DWORD access, DWORD share)
{
    return NativeFile(reinterpret_cast<std::intptr_t>(
        CreateFileW(reachable(path).c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr)));
}

TEST(NativeFilesWin32, AHeldScriptMayBeReadButNotWrittenAndItsFolderNotRenamed)
{
    TemporaryFolder dir;
    const fs::path script = dir.path() / "s.txt";
    writeFile(script, kOld);
    {
        const NativeFile editor = openRaw(script, GENERIC_WRITE, kShareAll);
        const NativeFolder folder = nf::openFolder(utf8(dir.path()));
        EXPECT_EQ(errorOf([&] { nf::openScript(folder, "s.txt"); }), 70);
    }
    const NativeFolder folder = nf::openFolder(utf8(dir.path()));
    const NativeFile held = nf::openScript(folder, "s.txt");
    EXPECT_FALSE(openRaw(script, GENERIC_WRITE, kShareAll));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
    EXPECT_TRUE(openRaw(script, GENERIC_READ, kShareAll));
    const fs::path moved = dir.path().native() + L"-movida";
    EXPECT_FALSE(MoveFileExW(dir.path().c_str(), moved.c_str(), 0));
}

TEST(NativeFilesWin32, AViewerThatForbidsRenamingLeavesBothNamesForTheCopyBack)
{
    TemporaryFolder dir;
    writeFile(dir.path() / "s.txt", kOld);
    const NativeFile viewer =
        openRaw(dir.path() / "s.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(viewer);
    const NativeFolder folder = nf::openFolder(utf8(dir.path()));
    NativeFile script = nf::openScript(folder, "s.txt");
    NativeFile made = nf::createExclusive(folder, kTemporary);
    ASSERT_TRUE(nf::giveIdentity(made, script));
    writeAll(made, kNew);

    EXPECT_FALSE(nf::replace(folder, made, kTemporary, script, "s.txt", kBackup));
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{kTemporary, "s.txt"}));
    nf::removeName(folder, kTemporary);
    const FileIdentity before = nf::identityOf(script);
    writeAll(nf::openForWriting(folder, "s.txt", script), kNew);
    EXPECT_EQ(readPath(dir.path() / "s.txt"), kNew);
    EXPECT_TRUE(sameFile(nf::identityOf(script), before));
}

TEST(NativeFilesWin32, AScriptOpenInSuchAViewerIsRewrittenInPlace)
{
    ScratchFolder folder;
    const fs::path script = folder.write("s.txt", kOld);
    const NativeFile viewer = openRaw(script, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(viewer);
    const FileKey before = nf::identityAt(nf::openFolder(folder.folder()), "s.txt", false)->key;

    ModificarScript(folder.folder(), "s.txt", Cierres{"{", "}", "<", ">"});

    EXPECT_EQ(folder.read("s.txt"), kNew);
    EXPECT_EQ(nf::identityAt(nf::openFolder(folder.folder()), "s.txt", false)->key, before);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"s.txt"});
    EXPECT_EQ(kPrivateState.files(), std::vector<std::string>{});
}

TEST(NativeFilesWin32, AScriptLeftUnderTheBackupNameIsNamedBackButNeverOverAnother)
{
    TemporaryFolder dir;
    writeFile(dir.path() / "s.txt", kOld);
    const NativeFolder folder = nf::openFolder(utf8(dir.path()));
    const FileIdentity recorded = *nf::identityAt(folder, "s.txt", false);
    // A kill between ReplaceFileW's two renames: the script under the backup name only.
    fs::rename(dir.path() / "s.txt", dir.path() / kBackup);
    writeFile(dir.path() / kTemporary, kNew);
    ASSERT_FALSE(nf::identityAt(folder, "s.txt", false));
    ASSERT_TRUE(sameFile(*nf::identityAt(folder, kBackup, false), recorded));

    writeFile(dir.path() / "s.txt", "saved meanwhile");
    EXPECT_EQ(errorOf([&] { nf::renameNoReplace(folder, kBackup, "s.txt"); }), 58);
    EXPECT_EQ(readPath(dir.path() / "s.txt"), "saved meanwhile");
    fs::remove(dir.path() / "s.txt");

    nf::renameNoReplace(folder, kBackup, "s.txt");
    nf::removeName(folder, kTemporary);
    EXPECT_EQ(readPath(dir.path() / "s.txt"), kOld);
    EXPECT_TRUE(sameFile(*nf::identityAt(folder, "s.txt", false), recorded));
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"s.txt"});
}

TEST(NativeFilesWin32, VerbatimPathsReachNamesOnlyTheyCanSpellAndNeverADevice)
{
    TemporaryFolder dir;
    const NativeFolder folder = nf::openFolder("\\\\?\\" + utf8(dir.path()));
    for (const std::string name : {"dot.txt.", "space.txt "}) {
        writeFile(reachable(dir.path() / name), kOld);
        replaceByRename(folder, name, kNew);
        EXPECT_EQ(readPath(dir.path() / name), kNew) << name;
    }
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"dot.txt.", "space.txt "}));
    const NativeFolder devices{NativeFile(), "\\\\.\\"};
    EXPECT_EQ(errorOf([&] { nf::openScript(devices, "NUL"); }), 75);
}

TEST(NativeFilesWin32, ARecordIsFreedWhenItsRunIsKilled)
{
    TemporaryFolder dir;
    const auto state = nf::openPrivateFolder(utf8(dir.path()), false);
    ASSERT_TRUE(state);
    NativeFile record = nf::createLockedRecord(*state, "t.registro");
    const auto handle = reinterpret_cast<HANDLE>(record.handle());
    ASSERT_TRUE(SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT));
    // A run that never gets to run: the record is held by it alone, until it is killed.
    wchar_t self[MAX_PATH];
    ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION run{};
    ASSERT_TRUE(CreateProcessW(self, nullptr, nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                               nullptr, &startup, &run));
    const NativeFile process(reinterpret_cast<std::intptr_t>(run.hProcess));
    const NativeFile thread(reinterpret_cast<std::intptr_t>(run.hThread));
    record.reset();
    EXPECT_FALSE(nf::takeDeadRecord(*state, "t.registro"));

    ASSERT_TRUE(TerminateProcess(run.hProcess, 1));
    ASSERT_EQ(WaitForSingleObject(run.hProcess, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(nf::takeDeadRecord(*state, "t.registro"));
}

TEST(NativeFilesWin32, ANamedStreamOfTheScriptSurvivesTheReplace)
{
    if (wineVersion())
        GTEST_SKIP() << "Wine " << wineVersion() << " keeps no named streams";
    TemporaryFolder dir;
    writeFile(dir.path() / "s.txt", kOld);
    writeFile(dir.path() / "s.txt:origen", "zona");
    const NativeFolder folder = nf::openFolder(utf8(dir.path()));
    replaceByRename(folder, "s.txt", kNew);
    EXPECT_EQ(readPath(dir.path() / "s.txt:origen"), "zona");
}

TEST(NativeFilesWin32, ALinkedScriptIsFoundWhereItsLinkLeads)
{
    if (wineVersion())
        GTEST_SKIP() << "Wine " << wineVersion() << " makes no symbolic links";
    TemporaryFolder dir;
    writeFile(dir.path() / "real" / "t.dat", kOld);
    if (!CreateSymbolicLinkW((dir.path() / "s.txt").c_str(), L"real\\t.dat",
                             SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
        ASSERT_EQ(GetLastError(), DWORD{ERROR_PRIVILEGE_NOT_HELD});
        GTEST_SKIP() << "symbolic links need Developer Mode or an administrator";
    }
    const NativeFolder folder = nf::openFolder(utf8(dir.path()));
    EXPECT_EQ(nf::identityAt(folder, "s.txt", false)->kind, FileIdentity::Kind::Link);
    const auto [where, name] = nf::locationOf(hold(folder, "s.txt"));
    EXPECT_TRUE(nf::identityAt(nf::openFolder(where), name, false)->kind ==
                FileIdentity::Kind::Regular);
    EXPECT_EQ(name, "t.dat");
    ASSERT_TRUE(CreateSymbolicLinkW((dir.path() / "enlace").c_str(), L"real",
                                    SYMBOLIC_LINK_FLAG_DIRECTORY |
                                        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE));
    EXPECT_FALSE(nf::openFolderNoLinks(utf8(dir.path() / "enlace")));
    EXPECT_TRUE(nf::openFolderNoLinks(utf8(dir.path() / "real")));
}

} // namespace
