// The promises the safe write's policy relies on, checked the same way against every platform's
// mechanism.
#include "nativefilestesting.h"

using namespace nativefilestesting;

namespace {

TEST(NativeFiles, ReplaceGivesTheScriptsNameAndAttributesToTheNewFile)
{
    TemporaryFolder dir;
    const std::string name = "guión ñ 日本.txt";
    writeFile(dir.path() / fromUtf8(name), kOld);
    markUnusual(dir.path() / fromUtf8(name));
    const NativeFolder folder = nf::openFolder(utf8(dir.path()));
    const FileIdentity before = *nf::identityAt(folder, name, false);

    const FileIdentity made = replaceByRename(folder, name, kNew);

    nf::flushFolder(folder);
    const NativeFile script = hold(folder, name);
    EXPECT_EQ(contents(script), kNew);
    EXPECT_EQ(nf::locationOf(script), std::make_pair(folder.path, name));
    const FileIdentity after = nf::identityOf(script);
    EXPECT_TRUE(sameFile(after, made));
    EXPECT_FALSE(sameFile(after, before));
    EXPECT_EQ(after.attributes, before.attributes); // the script's, not the new file's own
    EXPECT_EQ(after.links, 1u);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{name});
}

TEST(NativeFiles, ScriptsThatMustNotBeWrittenAreRefusedWithTheirNumbers)
{
    TemporaryFolder dir;
    writeFile(dir.path() / "s.txt", kOld);
    writeFile(dir.path() / "ro.txt", kOld);
    fs::permissions(dir.path() / "ro.txt", fs::perms::owner_read | fs::perms::group_read);
    fs::create_directory(dir.path() / "folder.txt");
    const NativeFolder folder = nf::openFolder(utf8(dir.path()));
    const NativeFile firstRun = hold(folder, "s.txt");

    EXPECT_EQ(errorOf([&] { nf::openFolder(utf8(dir.path() / "gone")); }), 76);
    const struct
    {
        const char *name;
        int number;
    } cases[] = {{"gone.txt", 53}, {"folder.txt", 75}, {"ro.txt", 75}, {"s.txt", 70}};
    for (const auto &c : cases)
        EXPECT_EQ(errorOf([&] { hold(folder, c.name); }), c.number) << c.name;

    EXPECT_EQ(contents(firstRun), kOld);
}

TEST(NativeFiles, HardLinkedScriptIsWrittenInPlaceSoEveryNameSeesTheNewText)
{
    TemporaryFolder dir;
    writeFile(dir.path() / "a.txt", kOld + kOld);
    fs::create_hard_link(dir.path() / "a.txt", dir.path() / "b.txt");
    const NativeFolder folder = nf::openFolder(utf8(dir.path()));
    const NativeFile script = hold(folder, "a.txt");
    const FileIdentity before = nf::identityOf(script);
    ASSERT_EQ(before.links, 2u); // what sends the policy down the copy-back

    writeAll(nf::openForWriting(folder, "a.txt", script), kNew);

    EXPECT_EQ(contents(script), kNew);
    EXPECT_EQ(readPath(dir.path() / "b.txt"), kNew);
    EXPECT_TRUE(sameFile(*nf::identityAt(folder, "a.txt", false), before));
    // Another program gave the name to another file meanwhile: it is not written through.
    fs::rename(dir.path() / "a.txt", dir.path() / "c.txt");
    writeFile(dir.path() / "a.txt", kOld);
    EXPECT_EQ(errorOf([&] { nf::openForWriting(folder, "a.txt", script); }), 70);
}

TEST(NativeFiles, LongPathsAndDeviceNamesReachTheFileOnDisk)
{
    TemporaryFolder dir;
    fs::path deep = dir.path();
    while (deep.native().size() < 300) {
        deep /= std::string(60, 'd');
        fs::create_directory(reachable(deep));
    }
    const NativeFolder folder = nf::openFolder(utf8(deep));
    for (const std::string name : {"script.txt", "NUL.txt", "con.txt", "aux"}) {
        writeFile(reachable(deep / name), kOld);
        replaceByRename(folder, name, kNew);
        EXPECT_EQ(contents(hold(folder, name)), kNew) << name;
    }
    EXPECT_EQ(namesIn(deep).size(), 4u);
}

TEST(NativeFiles, ARunsRecordIsTakenOnlyAfterItsRunEndsAndOnlyOnce)
{
    TemporaryFolder dir;
    const auto state = nf::openPrivateFolder(utf8(dir.path() / "estado"), true);
    ASSERT_TRUE(state);
    EXPECT_TRUE(nf::openFolderNoLinks(state->path));
    NativeFile record = nf::createLockedRecord(*state, "t.registro");
    writeAll(record, std::string("C:\\a\0/b\0", 8));
    EXPECT_EQ(nf::namesEndingWith(*state, ".registro"), std::vector<std::string>{"t.registro"});
    EXPECT_FALSE(nf::takeDeadRecord(*state, "t.registro")); // its run lives

    record.reset(); // what the system does for a run that dies
    const NativeFile taken = nf::takeDeadRecord(*state, "t.registro");
    ASSERT_TRUE(taken);
    EXPECT_EQ(contents(taken), std::string("C:\\a\0/b\0", 8));
    EXPECT_FALSE(nf::takeDeadRecord(*state, "t.registro")); // another start's
    EXPECT_EQ(errorOf([&] { nf::createLockedRecord(*state, "t.registro"); }), 58);
    const std::string token = nf::randomToken();
    EXPECT_EQ(token.size(), 16u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(token, nf::randomToken());
}

} // namespace
