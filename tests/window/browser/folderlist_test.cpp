#include "browsertestsupport.h"

#include "fileerror.h"
#include "folderlist.h"

#include <QSignalSpy>
#include <QTest>

#include <string>
#include <vector>

namespace {

struct Row
{
    QString text;
    int indent;
    std::string path;

    bool operator==(const Row &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Row &row)
{
    return out << row.text.toStdString() << " @" << row.indent << " " << row.path;
}

std::vector<Row> rows(const FolderList &list)
{
    std::vector<Row> result;
    for (int i = 0; i < list.count(); ++i)
        result.push_back({list.item(i)->text(), list.item(i)->data(FolderList::kIndentRole).toInt(),
                          list.pathAt(i)});
    return result;
}

QString text(const std::string &native)
{
    return QString::fromStdString(native);
}

TEST(FolderList, ShowsTheChainIndentedThenTheVisibleSubfoldersSorted)
{
    TempPlace place;
    const std::string root = place.folder("drive");
    place.folder("drive/a/b/sub10");
    place.folder("drive/a/b/Sub2");
    place.folder("drive/a/b/sub1");
    place.folder("drive/a/b/.oculta");
    place.file("drive/a/b/script.txt");

    FolderList list;
    list.setPath(root, root + "/a/b");

    EXPECT_EQ(rows(list), (std::vector<Row>{
                              {text(root), 0, root + "/"},
                              {"a", 1, root + "/a"},
                              {"b", 2, root + "/a/b"},
                              {"sub1", 3, root + "/a/b/sub1"},
                              {"Sub2", 3, root + "/a/b/Sub2"},
                              {"sub10", 3, root + "/a/b/sub10"},
                          }));
    EXPECT_EQ(list.path(), root + "/a/b");
    EXPECT_EQ(list.currentRow(), 2);
}

TEST(FolderList, GivesARootWithItsSeparatorAndOtherFoldersWithout)
{
    TempPlace place;
    const std::string root = place.folder("drive");
    place.folder("drive/a");

    FolderList list;
    list.setPath(root, root);
    EXPECT_EQ(list.path(), root + "/");
    EXPECT_EQ(list.pathAt(1), root + "/a");

    // However the caller spells them.
    list.setPath(root + "/", root + "//a/");
    EXPECT_EQ(list.path(), root + "/a");
    EXPECT_EQ(list.root(), root);

    list.setPath("/", "/");
    EXPECT_EQ(list.path(), "/");
    EXPECT_EQ(list.count() > 1, true) << "the system root has folders";
    EXPECT_EQ(list.item(0)->text(), QStringLiteral("/"));

    list.setPath("/", place.at());
    EXPECT_EQ(list.path(), place.at());
    EXPECT_EQ(list.pathAt(0), "/");
}

TEST(FolderList, AFailedMoveLeavesTheListAsItWas)
{
    TempPlace place;
    const std::string root = place.folder("drive");
    place.folder("drive/a");

    FolderList list;
    list.setPath(root, root);
    const std::vector<Row> before = rows(list);
    QSignalSpy changes(&list, &FolderList::pathChanged);

    try {
        list.setPath(root, root + "/gone");
        FAIL() << "moved to a missing folder";
    } catch (const FileError &error) {
        EXPECT_EQ(error.number(), 76);
    }
    EXPECT_THROW(list.setPath(root, "/elsewhere"), std::invalid_argument);

    EXPECT_EQ(rows(list), before);
    EXPECT_EQ(list.path(), root + "/");
    EXPECT_EQ(changes.count(), 0);
}

TEST(FolderList, OpensWithEnterOrDoubleClickAndMovesWithArrows)
{
    TempPlace place;
    const std::string root = place.folder("drive");
    place.folder("drive/a/x");
    place.folder("drive/a/y");

    FolderList list;
    list.resize(300, 300);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    list.setPath(root, root + "/a");
    QSignalSpy opens(&list, &FolderList::openRequested);

    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.currentRow(), 2);
    QTest::keyClick(&list, Qt::Key_Down);
    QTest::keyClick(&list, Qt::Key_Return);
    QTest::keyClick(&list, Qt::Key_Up);
    QTest::keyClick(&list, Qt::Key_Up);
    QTest::keyClick(&list, Qt::Key_Up);
    QTest::keyClick(&list, Qt::Key_Enter, Qt::KeypadModifier);

    const QRect rowRect = list.visualItemRect(list.item(2));
    // A double click opens the row that the first click of it pressed.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, rowRect.center());
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, rowRect.center());

    ASSERT_EQ(opens.count(), 3);
    EXPECT_EQ(opens[0][0].toByteArray().toStdString(), root + "/a/y");
    EXPECT_EQ(opens[1][0].toByteArray().toStdString(), root + "/");
    EXPECT_EQ(opens[2][0].toByteArray().toStdString(), root + "/a/x");
    // Opening is asked for, not done: the list stays until its owner moves it.
    EXPECT_EQ(list.path(), root + "/a");
}

} // namespace
