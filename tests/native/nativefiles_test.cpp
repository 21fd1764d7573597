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
    EXPECT_EQ(errorOf([&] { nf::createExclusive(folder, name); }), 58); // never an existing one
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

// Undo's area: ours alone, one user of it at a time; an original kept there by a second name
// (no copy) or by a copy with its times, and given back under its name.
TEST(NativeFiles, TheAreaKeepsAnOriginalAndGivesItBackUnderItsName)
{
    TemporaryFolder dir;
    writeFile(dir.path() / "s.txt", kOld);
    const NativeFolder folder = nf::openFolder(utf8(dir.path()));
    std::optional<NativeFolder> area = nf::openArea(folder, ".area", true);
    ASSERT_TRUE(area);
    const FileIdentity made = nf::identityOf(area->file);
    EXPECT_EQ(made.kind, FileIdentity::Kind::Folder);
    EXPECT_TRUE(nf::ownedByRunner(made));
    EXPECT_FALSE(made.openToOthers);
#ifndef _WIN32
    fs::create_directory_symlink(dir.path(), dir.path() / ".enlace");
    EXPECT_FALSE(nf::openArea(folder, ".enlace", true)); // never followed
#endif
    NativeFile lock = nf::lockArea(*area, false);
    ASSERT_TRUE(lock);
    EXPECT_FALSE(nf::lockArea(*nf::openArea(folder, ".area", false), false));
    lock.reset();
    lock = nf::lockArea(*area, false);
    EXPECT_TRUE(lock);

    const FileIdentity original = *nf::identityAt(folder, "s.txt", false);
    {
        const NativeFile held = hold(folder, "s.txt"); // as a run holds it
        ASSERT_TRUE(nf::linkTo(folder, "s.txt", *area, "1"));
        EXPECT_FALSE(nf::linkTo(folder, "s.txt", *area, "1")); // never over another name
    }
    EXPECT_TRUE(sameFile(*nf::identityAt(*area, "1", false), original));
    replaceByRename(folder, "s.txt", kNew);
    {
        const NativeFile script = hold(folder, "s.txt");
        ASSERT_TRUE(nf::copyTo(script, *area, "2"));
        const NativeFile copy = nf::openNoLinks(*area, "2", false);
        EXPECT_EQ(contents(copy), kNew);
        EXPECT_EQ(nf::identityOf(copy).modified, nf::identityOf(script).modified);
        EXPECT_FALSE(nf::copyTo(script, *area, "2"));
    }

    if (!nf::exchange(*area, "1", folder, "s.txt"))
        nf::renameOver(*area, "1", folder, "s.txt");
    const NativeFile back = nf::openNoLinks(folder, "s.txt", true);
    EXPECT_TRUE(sameFile(nf::identityOf(back), original));
    EXPECT_EQ(contents(back), kOld);
    EXPECT_TRUE(nf::copyTimes(nf::openNoLinks(*area, "2", false), back));
    EXPECT_EQ(nf::identityOf(back).modified, nf::identityAt(*area, "2", false)->modified);

    nf::removeEmptyFolder(folder, ".area"); // not empty: stays
    EXPECT_TRUE(fs::exists(dir.path() / ".area"));
    nf::removeName(*area, "1");
    const FileIdentity copy = *nf::identityAt(*area, "2", false);
    const NativeFile detached = nf::detachName(*area, "2"); // the name goes at once
    EXPECT_FALSE(nf::identityAt(*area, "2", false));
#ifndef _WIN32
    ASSERT_TRUE(detached); // its blocks are freed when that closes
    EXPECT_TRUE(sameFile(nf::identityOf(detached), copy));
#endif
    area.reset();
    lock.reset();
    nf::removeEmptyFolder(folder, ".area");
    EXPECT_FALSE(fs::exists(dir.path() / ".area"));
}

} // namespace
