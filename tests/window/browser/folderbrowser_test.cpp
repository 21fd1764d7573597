#include "browsertestsupport.h"

#include "drivelist.h"
#include "fakemessageboxes.h"
#include "fileerror.h"
#include "filelist.h"
#include "folderbrowser.h"
#include "folderlist.h"

#include <QTest>
#include <QWidget>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Message
{
    QString prompt;
    int style;
    QString title;

    bool operator==(const Message &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Message &message)
{
    return out << message.prompt.toStdString() << " / " << message.style << " / "
               << message.title.toStdString();
}

const Message kNotReady{QStringLiteral("El dispositivo aún no está preparado."), 16,
                        QStringLiteral("No hay disco en la unidad")};

const Message kPathNotFound{QStringLiteral("76:No se encontró la ruta de acceso"), 0, QString()};

std::vector<std::string> entries(const FileList &list)
{
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < list.entryCount(); ++i)
        names.push_back(list.nativeName(i));
    return names;
}

std::vector<QString> folderRows(const FolderList &list)
{
    std::vector<QString> texts;
    for (int i = 0; i < list.count(); ++i)
        texts.push_back(list.item(i)->text());
    return texts;
}

// Three drives A, B and C made of temporary folders; the process works in B/work and the
// program lives in A/programa.
class FolderBrowserTest : public ::testing::Test
{
protected:
    FolderBrowserTest()
    {
        m_a = m_place.folder("A");
        m_b = m_place.folder("B");
        m_c = m_place.folder("C");
        m_place.file("A/raiz.txt");
        m_place.file("A/programa/dovezurad");
        m_place.file("B/b.txt");
        m_place.file("B/work/uno.txt");
        m_place.file("B/work/dos.TXT");
        m_place.file("B/work/sub/tres.txt");
        m_place.file("C/c.txt");
    }

    void start()
    {
        auto source = std::make_unique<FolderDriveSource>();
        for (const std::string &root : {m_a, m_b, m_c})
            source->add(root);
        m_source = source.get();
        m_browser = std::make_unique<FolderBrowser>(std::move(source), m_boxes, &m_host,
                                                    m_place.at("B/work"));
        m_browser->setStrUltimaUnidad(m_place.at("A/programa"));
    }

    std::vector<Message> messages() const
    {
        std::vector<Message> shown;
        for (const ShownBox &box : m_boxes.shown())
            shown.push_back({box.prompt, box.style, box.title});
        return shown;
    }

    DriveList &drive1() { return *m_browser->drive1(); }
    FolderList &dir1() { return *m_browser->dir1(); }
    FileList &file1() { return *m_browser->file1(); }

    void pick(const std::string &root)
    {
        drive1().setCurrentIndex(drive1().findData(QByteArray::fromStdString(root)));
    }

    TempPlace m_place;
    std::string m_a;
    std::string m_b;
    std::string m_c;
    FakeMessageBoxes m_boxes;
    QWidget m_host;
    FolderDriveSource *m_source = nullptr;
    std::unique_ptr<FolderBrowser> m_browser;
};

TEST_F(FolderBrowserTest, StartsOnTheWorkingFolderAndChainsDriveFolderAndFiles)
{
    start();
    EXPECT_EQ(drive1().drive(), m_b);
    EXPECT_EQ(dir1().path(), m_b + "/work");
    EXPECT_EQ(entries(file1()), (std::vector<std::string>{"dos.TXT", "uno.txt"}));

    pick(m_a);
    EXPECT_EQ(dir1().path(), m_a + "/");
    EXPECT_EQ(folderRows(dir1()), (std::vector<QString>{QString::fromStdString(m_a), "programa"}));
    EXPECT_EQ(entries(file1()), std::vector<std::string>{"raiz.txt"});
    EXPECT_EQ(m_browser->strUltimaUnidad(), m_a);

    // Each drive comes back where it was left.
    pick(m_b);
    EXPECT_EQ(dir1().path(), m_b + "/work");
    EXPECT_EQ(m_browser->strUltimaUnidad(), m_b);
    EXPECT_TRUE(messages().empty());
}

TEST_F(FolderBrowserTest, OpeningAFolderMovesTheFilesAndTheDrivesCurrentFolder)
{
    start();
    dir1().setCurrentRow(dir1().count() - 1); // "sub"
    QTest::keyClick(&dir1(), Qt::Key_Return);
    EXPECT_EQ(dir1().path(), m_b + "/work/sub");
    EXPECT_EQ(entries(file1()), std::vector<std::string>{"tres.txt"});

    dir1().setCurrentRow(0);
    QTest::keyClick(&dir1(), Qt::Key_Return);
    EXPECT_EQ(dir1().path(), m_b + "/");
    EXPECT_EQ(entries(file1()), std::vector<std::string>{"b.txt"});

    pick(m_c);
    pick(m_b);
    EXPECT_EQ(dir1().path(), m_b + "/");
    EXPECT_TRUE(messages().empty());
}

TEST_F(FolderBrowserTest, ADrivesDeletedFolderGivesWayToTheNearestFolderAboveIt)
{
    m_place.folder("C/uno/dos");
    start();
    pick(m_c);
    dir1().setCurrentRow(dir1().count() - 1); // "uno"
    QTest::keyClick(&dir1(), Qt::Key_Return);
    dir1().setCurrentRow(dir1().count() - 1); // "dos"
    QTest::keyClick(&dir1(), Qt::Key_Return);
    ASSERT_EQ(dir1().path(), m_c + "/uno/dos");
    pick(m_b);

    std::filesystem::remove_all(m_c + "/uno/dos");
    pick(m_c);

    EXPECT_EQ(dir1().path(), m_c + "/uno");
    EXPECT_EQ(drive1().drive(), m_c);
    EXPECT_EQ(m_browser->strUltimaUnidad(), m_c);
    EXPECT_TRUE(messages().empty());
}

TEST_F(FolderBrowserTest, AVanishedDriveIsReportedAndTheLastGoodDriveComesBack)
{
    start();
    pick(m_c);
    dir1().setCurrentRow(0);
    pick(m_b);
    ASSERT_EQ(m_browser->strUltimaUnidad(), m_b);

    m_source->takeAway(m_c);
    pick(m_c);

    EXPECT_EQ(messages(), std::vector<Message>{kNotReady});
    EXPECT_EQ(drive1().drive(), m_b);
    EXPECT_EQ(dir1().path(), m_b + "/work");
    EXPECT_EQ(entries(file1()), (std::vector<std::string>{"dos.TXT", "uno.txt"}));
    EXPECT_EQ(m_browser->strUltimaUnidad(), m_b);

    // A drive whose root folder is gone, though still offered, is just as unavailable.
    std::filesystem::remove_all(m_a);
    pick(m_a);
    EXPECT_EQ(messages(), (std::vector<Message>{kNotReady, kNotReady}));
    EXPECT_EQ(drive1().drive(), m_b);
}

TEST_F(FolderBrowserTest, OnTheVeryFirstChangeTheProgramsDriveComesBack)
{
    start();
    m_source->takeAway(m_c);
    pick(m_c);

    EXPECT_EQ(messages(), std::vector<Message>{kNotReady});
    // Only the drive of the program's folder counts: A's current folder is still its root.
    EXPECT_EQ(drive1().drive(), m_a);
    EXPECT_EQ(dir1().path(), m_a + "/");
    EXPECT_EQ(entries(file1()), std::vector<std::string>{"raiz.txt"});
    EXPECT_EQ(m_browser->strUltimaUnidad(), m_a);
}

TEST_F(FolderBrowserTest, AnyOtherFailureIsReportedAndTheListsStayWhereTheyWere)
{
    start();
    pick(m_c);
    // A folder that is there but cannot be entered: a link that leads back to itself.
    std::filesystem::remove_all(m_b + "/work");
    std::filesystem::create_directory_symlink(m_b + "/work", m_b + "/work");
    const std::vector<QString> foldersBefore = folderRows(dir1());

    pick(m_b);

    const FileError loop = FileError::fromErrno(ELOOP);
    const Message expected{QString::number(loop.number()) + QLatin1Char(':') +
                               QString::fromStdString(loop.description()),
                           0, QString()};
    EXPECT_EQ(messages(), std::vector<Message>{expected});
    EXPECT_EQ(drive1().drive(), m_b) << "the drive list keeps the drive that failed";
    EXPECT_EQ(dir1().path(), m_c + "/");
    EXPECT_EQ(folderRows(dir1()), foldersBefore);
    EXPECT_EQ(file1().folder(), m_c + "/");
    EXPECT_EQ(entries(file1()), std::vector<std::string>{"c.txt"});
    EXPECT_EQ(m_browser->strUltimaUnidad(), m_c);
}

TEST_F(FolderBrowserTest, AFolderThatCannotBeOpenedIsReportedAndNothingMoves)
{
    start();
    std::filesystem::remove_all(m_b + "/work/sub");
    dir1().setCurrentRow(dir1().count() - 1);
    QTest::keyClick(&dir1(), Qt::Key_Return);

    EXPECT_EQ(messages(), std::vector<Message>{kPathNotFound});
    EXPECT_EQ(dir1().path(), m_b + "/work");
    EXPECT_EQ(drive1().currentFolder(m_b), m_b + "/work");
    // A folder that is gone is no longer offered.
    EXPECT_EQ(dir1().listing().subfolders, std::vector<std::string>{});
}

} // namespace
