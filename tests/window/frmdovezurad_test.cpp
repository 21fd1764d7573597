#include "browsertestsupport.h"
#include "drivelist.h"
#include "fakemessageboxes.h"
#include "filelist.h"
#include "folderlist.h"
#include "frmdovezurad.h"
#include "spanishqttranslator.h"
#include "wrappingbutton.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

QWidget *control(const QWidget &window, const char *name)
{
    return window.findChild<QWidget *>(QString::fromLatin1(name));
}

struct Place
{
    const char *name;
    const char *parent;
    QRect geometry;
};

// Twips of the design divided by 15.
const Place kPlaces[] = {
    {"fraExplorador", "frmDovezurad", {8, 8, 345, 129}},
    {"Drive1", "fraExplorador", {8, 16, 161, 21}},
    {"Dir1", "fraExplorador", {8, 40, 161, 81}},
    {"File1", "fraExplorador", {176, 16, 161, 106}},
    {"fraGenerar", "frmDovezurad", {8, 144, 345, 81}},
    {"Label1", "fraGenerar", {8, 24, 113, 17}},
    {"txtCierreIz", "fraGenerar", {128, 16, 33, 21}},
    {"Label7", "fraGenerar", {168, 24, 17, 17}},
    {"txtCierreDer", "fraGenerar", {184, 16, 33, 21}},
    {"Label2", "fraGenerar", {8, 48, 25, 17}},
    {"txtNewCierreIz", "fraGenerar", {128, 48, 33, 21}},
    {"Label3", "fraGenerar", {168, 56, 17, 17}},
    {"txtNewCierreDer", "fraGenerar", {184, 48, 33, 21}},
    {"cmdCambiar", "fraGenerar", {232, 16, 105, 49}},
    {"txtScript", "frmDovezurad", {8, 256, 33, 19}},
};

class WindowTest : public ::testing::Test
{
protected:
    FakeMessageBoxes m_boxes;
    TempPlace m_place;
    std::unique_ptr<frmDovezurad> m_window = std::make_unique<frmDovezurad>(
        m_boxes, FolderDriveSource::of({m_place.at()}), m_place.at());

    void showAndActivate()
    {
        m_window->show();
        m_window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    }
};

TEST_F(WindowTest, EveryControlHasItsPlaceSizeAndFrame)
{
    for (const Place &place : kPlaces) {
        SCOPED_TRACE(place.name);
        const QWidget *widget = control(*m_window, place.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(place.parent));
        EXPECT_EQ(widget->geometry(), place.geometry);
    }
}

TEST_F(WindowTest, ClientAreaHoldsBothFramesWithTheMarginAndKeepsItsSize)
{
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Dovezurad"));
    EXPECT_EQ(m_window->minimumSize(), QSize(361, 233));
    EXPECT_EQ(m_window->maximumSize(), QSize(361, 233));
}

TEST_F(WindowTest, CaptionsAndStartingTexts)
{
    const auto *fraExplorador = m_window->findChild<QGroupBox *>("fraExplorador");
    EXPECT_EQ(fraExplorador->title(),
              QStringLiteral("Ubicación de scripts a los que se modificarán etiquetas"));
    EXPECT_TRUE(m_window->findChild<QGroupBox *>("fraGenerar")->title().isEmpty());
    EXPECT_EQ(m_window->findChild<QLabel *>("Label1")->text(), QStringLiteral("Cambiar etiquetas"));
    EXPECT_EQ(m_window->findChild<QLabel *>("Label7")->text(), QStringLiteral("y"));
    EXPECT_EQ(m_window->findChild<QLabel *>("Label2")->text(), QStringLiteral("Por"));
    EXPECT_EQ(m_window->findChild<QLabel *>("Label3")->text(), QStringLiteral("y"));
    EXPECT_EQ(m_window->findChild<QAbstractButton *>("cmdCambiar")->text(),
              QStringLiteral("Cambiar Etiquetas"));
    EXPECT_EQ(m_window->findChild<QLineEdit *>("txtCierreIz")->text(), QStringLiteral("{"));
    EXPECT_EQ(m_window->findChild<QLineEdit *>("txtCierreDer")->text(), QStringLiteral("}"));
    EXPECT_EQ(m_window->findChild<QLineEdit *>("txtNewCierreIz")->text(), QStringLiteral("<"));
    EXPECT_EQ(m_window->findChild<QLineEdit *>("txtNewCierreDer")->text(), QStringLiteral(">"));
}

TEST_F(WindowTest, EveryCaptionIsWholeInItsBox)
{
    for (const char *name : {"Label1", "Label7", "Label2", "Label3"}) {
        SCOPED_TRACE(name);
        const auto *label = m_window->findChild<QLabel *>(name);
        const QFontMetrics metrics(label->font());
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->contentsRect().width());
        EXPECT_LE(metrics.height(), label->contentsRect().height());
    }

    const auto *button = m_window->findChild<QAbstractButton *>("cmdCambiar");
    const QFontMetrics buttonMetrics(button->font());
    EXPECT_LE(buttonMetrics.horizontalAdvance(button->text()), button->width());

    // The style places the frame's caption; it must be wide enough and inside the frame.
    const auto *frame = m_window->findChild<QGroupBox *>("fraExplorador");
    QStyleOptionGroupBox option;
    option.initFrom(frame);
    option.text = frame->title();
    option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    const QRect label = frame->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                       QStyle::SC_GroupBoxLabel, frame);
    EXPECT_GE(label.width(), QFontMetrics(frame->font()).horizontalAdvance(frame->title()));
    EXPECT_TRUE(frame->rect().contains(label)) << label.x() << "," << label.width();

    for (const char *name : {"txtCierreIz", "txtCierreDer", "txtNewCierreIz", "txtNewCierreDer"}) {
        SCOPED_TRACE(name);
        const auto *field = m_window->findChild<QLineEdit *>(name);
        EXPECT_LE(QFontMetrics(field->font()).height(), field->height());
    }
}

TEST_F(WindowTest, TheButtonsCaptionWrapsWhereTheFontMakesItWiderThanTheButton)
{
    auto *button = m_window->findChild<WrappingButton *>("cmdCambiar");
    const QRect place = button->geometry();
    const struct
    {
        int pixelSize;
        qsizetype lines;
    } cases[] = {{11, 1}, {16, 2}};
    for (const auto &example : cases) {
        SCOPED_TRACE(example.pixelSize);
        QFont font = button->font();
        font.setPixelSize(example.pixelSize);
        button->setFont(font);
        QStyleOptionButton option;
        option.initFrom(button);
        const QRect room =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);

        const QStringList lines = button->captionLines();

        EXPECT_EQ(lines.size(), example.lines);
        EXPECT_EQ(lines.join(QLatin1Char(' ')), QStringLiteral("Cambiar Etiquetas"));
        for (const QString &line : lines)
            EXPECT_LE(QFontMetrics(font).horizontalAdvance(line), room.width())
                << line.toStdString();
        EXPECT_LE(QFontMetrics(font).height() * lines.size(), room.height());
        EXPECT_EQ(button->geometry(), place);
    }
}

TEST_F(WindowTest, ListsShowWholeEntriesInTheirBoxes)
{
    m_place.folder("uno/dos/tres/cuatro");
    m_place.file("uno/dos/tres/guion.txt");
    const std::string folder = m_place.at("uno/dos/tres");
    m_window =
        std::make_unique<frmDovezurad>(m_boxes, FolderDriveSource::of({m_place.at()}), folder);

    const auto *drive1 = m_window->findChild<QComboBox *>("Drive1");
    EXPECT_LE(QFontMetrics(drive1->font()).height(), drive1->height());
    // The root, three folders down, the open one's subfolder: five rows, all in view.
    const auto *dir1 = m_window->findChild<QListWidget *>("Dir1");
    ASSERT_EQ(dir1->count(), 5);
    EXPECT_LE(dir1->sizeHintForRow(0) * dir1->count(), dir1->contentsRect().height());
    EXPECT_GE(dir1->sizeHintForRow(0), QFontMetrics(dir1->font()).height());
    const auto *file1 = m_window->findChild<QListWidget *>("File1");
    ASSERT_EQ(file1->count(), 1);
    EXPECT_GE(file1->sizeHintForRow(0), QFontMetrics(file1->font()).height());
}

TEST_F(WindowTest, StartsWithFocusOnDir1FileListDisabledAndBufferHidden)
{
    showAndActivate();
    EXPECT_EQ(QApplication::focusWidget(), control(*m_window, "Dir1"));
    EXPECT_FALSE(control(*m_window, "File1")->isEnabled());
    EXPECT_FALSE(control(*m_window, "txtScript")->isVisible());
    EXPECT_EQ(m_window->strUltimaUnidad(),
              QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
}

TEST_F(WindowTest, TabWalksTheTabIndexesBothWays)
{
    showAndActivate();
    const QStringList forward = {"Drive1",         "txtCierreIz", "txtCierreDer", "txtNewCierreDer",
                                 "txtNewCierreIz", "cmdCambiar",  "Dir1"};
    QStringList walked;
    for (qsizetype step = 0; step < forward.size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        walked << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(walked, forward);

    QStringList back;
    for (qsizetype step = 0; step < forward.size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        back << QApplication::focusWidget()->objectName();
    }
    const QStringList backward = {"cmdCambiar",   "txtNewCierreIz", "txtNewCierreDer",
                                  "txtCierreDer", "txtCierreIz",    "Drive1",
                                  "Dir1"};
    EXPECT_EQ(back, backward);
}

TEST(WindowFolder, ListsTheStartFolderAndItsTxtScriptsOnly)
{
    QTemporaryDir folder;
    const QDir dir(folder.path());
    for (const char *name : {"b.txt", "A.TXT", "c.Txt", ".hidden.txt", "notes.md", "txt"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(dir.mkdir(QStringLiteral("folder.txt")));

    // The root drive of the system, as a test offers it, so that the chain starts at "/".
    FakeMessageBoxes boxes;
    frmDovezurad window(boxes, FolderDriveSource::of({"/"}),
                        QFile::encodeName(folder.path()).toStdString());
    const auto *file1 = window.findChild<QListWidget *>("File1");
    QStringList listed;
    for (int row = 0; row < file1->count(); ++row)
        listed << file1->item(row)->text();
    EXPECT_EQ(listed, QStringList({"A.TXT", "b.txt", "c.Txt"}));
    EXPECT_EQ(window.operations().fileCount(), 3);
    EXPECT_EQ(window.operations().folderPath(),
              QFile::encodeName(dir.absolutePath()).toStdString());
    EXPECT_EQ(window.findChild<QComboBox *>("Drive1")->currentText(), QStringLiteral("/"));
    const auto *dir1 = window.findChild<QListWidget *>("Dir1");
    EXPECT_EQ(dir1->item(0)->text(), QStringLiteral("/"));
    EXPECT_EQ(dir1->currentItem()->text(), dir.dirName());
    // The open folder ends the chain; its one subfolder follows it.
    EXPECT_EQ(dir1->currentRow(), dir1->count() - 2);
    EXPECT_EQ(dir1->item(dir1->count() - 1)->text(), QStringLiteral("folder.txt"));

    window.operations().selectFile(1);
    EXPECT_EQ(window.operations().currentFileName(), "b.txt");
}

TEST(WindowFolder, SelectingAFileScrollsItIntoView)
{
    QTemporaryDir folder;
    for (int number = 10; number < 60; ++number) {
        QFile file(QDir(folder.path()).filePath(QStringLiteral("s%1.txt").arg(number)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    FakeMessageBoxes boxes;
    const std::string root = QFile::encodeName(folder.path()).toStdString();
    frmDovezurad window(boxes, FolderDriveSource::of({root}), root);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto *file1 = window.findChild<QListWidget *>("File1");

    for (int index : {45, 3, 30}) {
        window.operations().selectFile(index);
        EXPECT_EQ(file1->currentRow(), index);
        const QRect shown = file1->visualItemRect(file1->item(index));
        EXPECT_TRUE(file1->viewport()->rect().contains(shown)) << index;
    }
}

// Drives made of temporary folders A, B and C, with the window standing on B/work.
class WindowDrives : public ::testing::Test
{
protected:
    WindowDrives()
    {
        m_place.file("A/a.txt");
        m_place.file("B/work/uno.txt");
        m_place.file("C/c.txt");
        m_a = m_place.at("A");
        m_b = m_place.at("B");
        m_c = m_place.at("C");
    }

    // Offers the drives in this order, which is the order of Drive1's entries.
    void open(const std::vector<std::string> &roots)
    {
        auto source = FolderDriveSource::of(roots);
        m_source = source.get();
        m_window = std::make_unique<frmDovezurad>(m_boxes, std::move(source), m_b + "/work");
        m_drive1 = m_window->findChild<DriveList *>("Drive1");
        m_dir1 = m_window->findChild<FolderList *>("Dir1");
        m_file1 = m_window->findChild<FileList *>("File1");
    }

    void expectNotReadyShown(std::size_t times) const
    {
        ASSERT_EQ(m_boxes.shown().size(), times);
        for (const ShownBox &box : m_boxes.shown()) {
            EXPECT_EQ(box.prompt, QStringLiteral("El dispositivo aún no está preparado."));
            EXPECT_EQ(box.style, MessageStyle::Error);
            EXPECT_EQ(box.title, QStringLiteral("No hay disco en la unidad"));
        }
    }

    TempPlace m_place;
    std::string m_a;
    std::string m_b;
    std::string m_c;
    FakeMessageBoxes m_boxes;
    FolderDriveSource *m_source = nullptr;
    std::unique_ptr<frmDovezurad> m_window;
    DriveList *m_drive1 = nullptr;
    FolderList *m_dir1 = nullptr;
    FileList *m_file1 = nullptr;
};

TEST_F(WindowDrives, PickingAVanishedDriveShowsTheMessageAndGoesBackToTheLastGoodDrive)
{
    open({m_a, m_b, m_c});
    ASSERT_EQ(m_drive1->drive(), m_b);
    QTest::keyClick(m_drive1, Qt::Key_Down);
    ASSERT_EQ(m_window->operations().folderPath(), m_c + "/");
    QTest::keyClick(m_drive1, Qt::Key_Up);
    ASSERT_EQ(m_window->strUltimaUnidad(), m_b);

    m_source->takeAway(m_c);
    QTest::keyClick(m_drive1, Qt::Key_Down);

    expectNotReadyShown(1);
    EXPECT_EQ(m_drive1->drive(), m_b);
    EXPECT_EQ(m_window->operations().folderPath(), m_b + "/work");
    EXPECT_EQ(m_window->operations().fileCount(), 1);
    EXPECT_EQ(m_file1->nativeName(0), "uno.txt");
    EXPECT_EQ(m_window->strUltimaUnidad(), m_b);
}

TEST_F(WindowDrives, OnTheVeryFirstChangeTheDriveOfTheProgramsFolderComesBack)
{
    // The program's folder is a drive of its own here, so that the way back leads there.
    const std::string program =
        QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
    open({m_a, m_b, program});

    m_source->takeAway(m_a);
    QTest::keyClick(m_drive1, Qt::Key_Up);

    expectNotReadyShown(1);
    EXPECT_EQ(m_drive1->drive(), program);
    EXPECT_EQ(m_window->operations().folderPath(), program + "/");
    EXPECT_EQ(m_dir1->root(), program);
    EXPECT_EQ(m_window->strUltimaUnidad(), program);
}

TEST(SpanishQtTexts, TextFieldContextMenuIsInSpanish)
{
    SpanishQtTranslator spanish;
    ASSERT_FALSE(spanish.isEmpty()) << "qtbase_es not installed";
    QApplication::installTranslator(&spanish);
    QLineEdit field;
    const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    QApplication::removeTranslator(&spanish);

    QStringList texts;
    for (const QAction *action : menu->actions())
        texts << action->text().section(QLatin1Char('\t'), 0, 0);
    EXPECT_TRUE(texts.contains(QStringLiteral("&Pegar")))
        << texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(texts.contains(QStringLiteral("Cor&tar")))
        << texts.join(QLatin1Char('|')).toStdString();
}

// Runs only under a real X server (the ctest entry starts one with xvfb-run).
TEST(WindowOnScreen, SavesAScreenshot)
{
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        GTEST_SKIP() << "needs an X server";
    FakeMessageBoxes boxes;
    frmDovezurad window(boxes);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QPixmap shot = window.screen()->grabWindow(window.winId());
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.deviceIndependentSize().toSize(), window.size());

    QString path = qEnvironmentVariable("DOVEZURAD_SCREENSHOT");
    if (path.isEmpty())
        path = QStringLiteral("frmDovezurad.png");
    ASSERT_TRUE(shot.save(path));
    std::cout << "screenshot: " << path.toStdString() << '\n';
}

} // namespace
