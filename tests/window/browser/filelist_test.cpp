#include "browsertestsupport.h"

#include "fileerror.h"
#include "filelist.h"

#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> entries(const FileList &list)
{
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < list.entryCount(); ++i)
        names.push_back(list.nativeName(i));
    return names;
}

bool hasEntry(const FileList &list, const std::string &name)
{
    const std::vector<std::string> names = entries(list);
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(FileList, ListsOnlyOrdinaryScriptsCaseBlindAndNotHidden)
{
    TempPlace place;
    place.file("uno.txt");
    place.file("DOS.TXT");
    place.file("tres.Txt");
    place.file(".oculto.txt");
    place.file("notas.text");
    place.file("txt");
    place.file("sin.txt.bak");
    place.folder("carpeta.txt");
    ASSERT_EQ(::mkfifo(place.at("tubo.txt").c_str(), 0600), 0);
    std::filesystem::create_symlink(place.at("uno.txt"), place.at("enlace.txt"));
    std::filesystem::create_symlink(place.at("nada"), place.at("roto.txt"));

    FileList list;
    list.setFolder(place.at());

    EXPECT_EQ(entries(list),
              (std::vector<std::string>{"DOS.TXT", "enlace.txt", "tres.Txt", "uno.txt"}));
    EXPECT_EQ(list.count(), 4);
    EXPECT_FALSE(list.isEnabled());
}

TEST(FileList, SortsAsFileDialogsDo)
{
    TempPlace place;
    for (const char *name : {"b10.txt", "B2.txt", "a.txt", "b1.txt", "C.txt"})
        place.file(name);

    FileList list;
    list.setFolder(place.at());

    EXPECT_EQ(entries(list),
              (std::vector<std::string>{"a.txt", "b1.txt", "B2.txt", "b10.txt", "C.txt"}));
}

TEST(FileList, KeepsTheNativeBytesOfANameThatIsNotUtf8)
{
    TempPlace place;
    const std::string latin1 = "canci\xf3n.txt";
    place.file(latin1);
    place.file("canción.txt");

    FileList list;
    list.setFolder(place.at());

    ASSERT_EQ(list.entryCount(), 2);
    const std::vector<std::string> listed = entries(list);
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()),
              (std::set<std::string>{latin1, "canción.txt"}));
    // Both are shown readably, not with replacement characters.
    for (int row = 0; row < list.count(); ++row)
        EXPECT_EQ(list.item(row)->text(), QStringLiteral("canción.txt"));

    const auto latinRow = listed[0] == latin1 ? 0 : 1;
    list.selectEntry(latinRow);
    EXPECT_EQ(list.currentNativeName(), latin1);
    EXPECT_TRUE(std::filesystem::exists(place.at(list.currentNativeName())));
}

TEST(FileList, SelectsAnEntryAndHasNoSixteenBitLimit)
{
    TempPlace place(fastTempBase());
    constexpr std::int32_t kMany = 32769;
    for (std::int32_t i = 0; i < kMany; ++i)
        place.file("s" + std::to_string(i) + ".txt", "");

    FileList list;
    list.setFolder(place.at());

    ASSERT_EQ(list.entryCount(), kMany);
    EXPECT_EQ(list.nativeName(0), "s0.txt");
    EXPECT_EQ(list.nativeName(kMany - 1), "s32768.txt");
    list.selectEntry(kMany - 1);
    EXPECT_EQ(list.currentRow(), kMany - 1);
    EXPECT_EQ(list.currentNativeName(), "s32768.txt");
    EXPECT_THROW(list.selectEntry(kMany), std::out_of_range);
}

TEST(FileList, AFolderThatCannotBeListedLeavesTheListAsItWas)
{
    TempPlace place;
    place.file("a/uno.txt");

    FileList list;
    list.setFolder(place.at("a"));
    try {
        list.setFolder(place.at("no-existe"));
        FAIL() << "listing a missing folder succeeded";
    } catch (const FileError &error) {
        EXPECT_EQ(error.number(), 76);
    }
    EXPECT_EQ(list.folder(), place.at("a"));
    EXPECT_EQ(entries(list), std::vector<std::string>{"uno.txt"});

    EXPECT_THROW(list.setFolder(place.at("a/uno.txt")), FileError);
    EXPECT_EQ(entries(list), std::vector<std::string>{"uno.txt"});
}

TEST(FileList, FollowsScriptsCreatedRemovedAndRenamed)
{
    TempPlace place;
    place.file("uno.txt");
    place.file("dos.txt");

    FileList list;
    list.setFolder(place.at());
    list.selectEntry(1); // uno.txt

    place.file("tres.txt");
    EXPECT_TRUE(QTest::qWaitFor([&] { return hasEntry(list, "tres.txt"); }, 5000));

    std::filesystem::remove(place.at("dos.txt"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !hasEntry(list, "dos.txt"); }, 5000));

    std::filesystem::rename(place.at("tres.txt"), place.at("cuatro.TXT"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return hasEntry(list, "cuatro.TXT") && !hasEntry(list, "tres.txt"); }, 5000));

    EXPECT_EQ(entries(list), (std::vector<std::string>{"cuatro.TXT", "uno.txt"}));
    EXPECT_EQ(list.currentNativeName(), "uno.txt");
}

TEST(FileList, StaysAsItIsWhileFrozenAndCatchesUpAfter)
{
    TempPlace place;
    place.file("uno.txt");
    place.file("dos.txt");

    FileList list;
    QSignalSpy reloads(&list, &FileList::entriesReloaded);
    list.setFolder(place.at());
    list.freeze();

    place.file("tres.txt");
    std::filesystem::remove(place.at("dos.txt"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.hasPendingChanges(); }, 5000));
    EXPECT_EQ(entries(list), (std::vector<std::string>{"dos.txt", "uno.txt"}));
    EXPECT_EQ(reloads.count(), 0);

    list.unfreeze();
    EXPECT_FALSE(list.hasPendingChanges());
    EXPECT_EQ(entries(list), (std::vector<std::string>{"tres.txt", "uno.txt"}));
}

TEST(FileList, AFolderThatVanishesEmptiesTheList)
{
    TempPlace place;
    place.file("a/uno.txt");

    FileList list;
    list.setFolder(place.at("a"));
    std::filesystem::remove_all(place.at("a"));

    EXPECT_TRUE(QTest::qWaitFor([&] { return list.entryCount() == 0; }, 5000));
    EXPECT_EQ(list.count(), 0);
}

} // namespace
