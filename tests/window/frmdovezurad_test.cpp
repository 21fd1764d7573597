#include "fakemessageboxes.h"
#include "frmdovezurad.h"
#include "spanishqttranslator.h"

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
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <iostream>
#include <memory>

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
    QTemporaryDir m_folder;
    std::unique_ptr<frmDovezurad> m_window =
        std::make_unique<frmDovezurad>(m_boxes, m_folder.path());

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

TEST_F(WindowTest, StartsWithFocusOnDir1FileListDisabledAndBufferHidden)
{
    showAndActivate();
    EXPECT_EQ(QApplication::focusWidget(), control(*m_window, "Dir1"));
    EXPECT_FALSE(control(*m_window, "File1")->isEnabled());
    EXPECT_FALSE(control(*m_window, "txtScript")->isVisible());
    EXPECT_EQ(m_window->strUltimaUnidad(), QCoreApplication::applicationDirPath());
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

    FakeMessageBoxes boxes;
    frmDovezurad window(boxes, folder.path());
    const auto *file1 = window.findChild<QListWidget *>("File1");
    QStringList listed;
    for (int row = 0; row < file1->count(); ++row)
        listed << file1->item(row)->text();
    EXPECT_EQ(listed, QStringList({"A.TXT", "b.txt", "c.Txt"}));
    EXPECT_EQ(window.fileCount(), 3);
    EXPECT_EQ(window.folderPath(), QFile::encodeName(dir.absolutePath()).toStdString());
    EXPECT_EQ(window.findChild<QComboBox *>("Drive1")->currentText(), QStringLiteral("/"));
    const auto *dir1 = window.findChild<QListWidget *>("Dir1");
    EXPECT_EQ(dir1->item(0)->text(), QStringLiteral("/"));
    EXPECT_EQ(dir1->currentItem()->text(), dir.dirName());
    EXPECT_EQ(dir1->currentRow(), dir1->count() - 1);

    window.selectFile(1);
    EXPECT_EQ(window.currentFileName(), "b.txt");
}

TEST(WindowFolder, SelectingAFileScrollsItIntoView)
{
    QTemporaryDir folder;
    for (int number = 10; number < 60; ++number) {
        QFile file(QDir(folder.path()).filePath(QStringLiteral("s%1.txt").arg(number)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    FakeMessageBoxes boxes;
    frmDovezurad window(boxes, folder.path());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto *file1 = window.findChild<QListWidget *>("File1");

    for (int index : {45, 3, 30}) {
        window.selectFile(index);
        EXPECT_EQ(file1->currentRow(), index);
        const QRect shown = file1->visualItemRect(file1->item(index));
        EXPECT_TRUE(file1->viewport()->rect().contains(shown)) << index;
    }
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
