#include "browsertestsupport.h"
#include "fakemessageboxes.h"
#include "filelist.h"
#include "folderlist.h"
#include "frmdovezurad.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

const QString kConfirmation = QString::fromUtf8("Todos los scripts contenidos en el\r\n"
                                                "directorio actual serán modificados.\r\n"
                                                "\r\n"
                                                "¿Desea continuar?");

class RewriteRunTest : public ::testing::Test
{
protected:
    // By the name's own bytes, which need not be valid UTF-8.
    void write(const char *name, const QByteArray &bytes)
    {
        std::ofstream file(root() + "/" + name, std::ios::binary | std::ios::trunc);
        file.write(bytes.constData(), bytes.size());
        file.close();
        ASSERT_TRUE(file.good()) << name;
    }

    QByteArray read(const char *name) const
    {
        std::ifstream file(root() + "/" + name, std::ios::binary);
        if (!file)
            return "<missing>";
        return QByteArray::fromStdString(
            {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()});
    }

    void writeThreeScripts()
    {
        write("a.txt", "  {uno}\r\ny {dos}  ");
        write("b.txt", "{x}");
        write("c.txt", "sin etiquetas");
    }

    QStringList leftoverTemporaryFiles() const
    {
        return QDir(m_folder.path(), QStringLiteral(".dovezurad-*"), QDir::Name,
                    QDir::Files | QDir::Hidden)
            .entryList();
    }

    static void type(QWidget &window, const char *field, char character)
    {
        auto *edit = window.findChild<QLineEdit *>(QString::fromLatin1(field));
        edit->selectAll();
        QTest::keyClick(edit, character);
    }

    static void click(QWidget &window)
    {
        QTest::mouseClick(window.findChild<QPushButton *>("cmdCambiar"), Qt::LeftButton);
    }

    std::string root() const { return QFile::encodeName(m_folder.path()).toStdString(); }
    // The temporary folder is the only drive, and the window stands on its root.
    std::unique_ptr<DriveSource> drive() const { return FolderDriveSource::of({root()}); }

    QTemporaryDir m_folder;
    FakeMessageBoxes m_boxes;
};

TEST_F(RewriteRunTest, AnsweredYesRewritesEveryScriptWithTheTypedDelimiters)
{
    writeThreeScripts();
    frmDovezurad window(m_boxes, drive(), root());
    type(window, "txtNewCierreIz", '[');
    type(window, "txtNewCierreDer", ']');
    m_boxes.answerWith(MessageAnswer::Yes);

    click(window);

    EXPECT_EQ(read("a.txt"), "[uno]\r\ny [dos]");
    EXPECT_EQ(read("b.txt"), "[x]");
    EXPECT_EQ(read("c.txt"), "sin etiquetas");
    ASSERT_EQ(m_boxes.shown().size(), 2U);
    EXPECT_EQ(m_boxes.shown()[0].prompt, kConfirmation);
    EXPECT_EQ(m_boxes.shown()[0].style, MessageStyle::YesNoCancelWarning);
    EXPECT_EQ(m_boxes.shown()[0].title, QStringLiteral("Advertencia"));
    EXPECT_EQ(m_boxes.shown()[1].prompt, QStringLiteral("¡Etiquetas modificadas!"));
    EXPECT_EQ(m_boxes.shown()[1].style, MessageStyle::Ok);
    EXPECT_TRUE(m_boxes.shown()[1].title.isEmpty());

    EXPECT_EQ(window.windowTitle(), QStringLiteral("Dovezurad"));
    // The selection went down to the last script; only the file list stays disabled.
    const auto *file1 = window.findChild<QListWidget *>("File1");
    EXPECT_EQ(file1->currentRow(), 2);
    EXPECT_FALSE(file1->isEnabled());
    for (const char *name : {"Dir1", "Drive1", "txtCierreIz", "txtCierreDer", "txtNewCierreIz",
                             "txtNewCierreDer", "cmdCambiar"})
        EXPECT_TRUE(window.findChild<QWidget *>(QString::fromLatin1(name))->isEnabled()) << name;
    EXPECT_TRUE(leftoverTemporaryFiles().isEmpty());
}

TEST_F(RewriteRunTest, AnsweredNoLeavesEveryScriptAsItWas)
{
    writeThreeScripts();
    frmDovezurad window(m_boxes, drive(), root());
    m_boxes.answerWith(MessageAnswer::No);

    click(window);

    EXPECT_EQ(read("a.txt"), "  {uno}\r\ny {dos}  ");
    EXPECT_EQ(read("b.txt"), "{x}");
    EXPECT_EQ(read("c.txt"), "sin etiquetas");
    ASSERT_EQ(m_boxes.shown().size(), 1U);
    EXPECT_EQ(m_boxes.shown()[0].prompt, kConfirmation);
    EXPECT_EQ(window.findChild<QListWidget *>("File1")->currentRow(), -1);
}

TEST_F(RewriteRunTest, AnEmptyFieldIsReportedAndGetsTheFocus)
{
    writeThreeScripts();
    frmDovezurad window(m_boxes, drive(), root());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto *field = window.findChild<QLineEdit *>("txtNewCierreDer");
    field->end(false);
    QTest::keyClick(field, Qt::Key_Backspace);
    window.findChild<QWidget *>("Dir1")->setFocus();

    click(window);

    ASSERT_EQ(m_boxes.shown().size(), 1U);
    EXPECT_EQ(m_boxes.shown()[0].prompt, QStringLiteral("Debe configurar todo"));
    EXPECT_EQ(QApplication::focusWidget(), field);
    EXPECT_EQ(read("b.txt"), "{x}");
}

TEST_F(RewriteRunTest, AFailedRunKeepsTheSevenControlsLockedAndTheButtonStillWorks)
{
    write("a.txt", "{a}");
    write("b.txt", "{b}");
    ::chmod((root() + "/b.txt").c_str(), 0444);
    frmDovezurad window(m_boxes, drive(), root());
    m_boxes.answerWith(MessageAnswer::Yes);

    click(window);

    ASSERT_EQ(m_boxes.shown().size(), 2U);
    EXPECT_TRUE(m_boxes.shown()[1].prompt.startsWith(QStringLiteral("75 ")))
        << m_boxes.shown()[1].prompt.toStdString();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Dovezurad"));
    for (const char *name : {"Dir1", "File1", "Drive1", "txtCierreIz", "txtCierreDer",
                             "txtNewCierreIz", "txtNewCierreDer"})
        EXPECT_FALSE(window.findChild<QWidget *>(QString::fromLatin1(name))->isEnabled()) << name;
    EXPECT_EQ(window.findChild<QListWidget *>("File1")->currentRow(), 1) << "where it failed";

    m_boxes.answerWith(MessageAnswer::No);
    click(window);
    ASSERT_EQ(m_boxes.shown().size(), 3U);
    EXPECT_EQ(m_boxes.shown()[2].prompt, kConfirmation);
}

// File1 is read by path: a folder put in the listed one's place since then is not the one the
// user saw, and the run writes neither (70, the window's message for a refused folder).
TEST_F(RewriteRunTest, AFolderPutInTheListedOnesPlaceIsNotWritten)
{
    write("a.txt", "{a}");
    frmDovezurad window(m_boxes, drive(), root());
    const std::string aside = root() + ".visto";
    ASSERT_EQ(::rename(root().c_str(), aside.c_str()), 0);
    ASSERT_TRUE(QDir().mkdir(m_folder.path()));
    write("a.txt", "{otro}");
    m_boxes.answerWith(MessageAnswer::Yes);

    click(window);

    ASSERT_EQ(m_boxes.shown().size(), 2U);
    EXPECT_EQ(m_boxes.shown()[1].prompt, QStringLiteral("70 Permiso denegado"));
    EXPECT_EQ(read("a.txt"), "{otro}");
    std::ifstream seen(aside + "/a.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(seen), {}), "{a}");
    QDir(QFile::decodeName(QByteArray::fromStdString(aside))).removeRecursively();
}

TEST_F(RewriteRunTest, AFieldEmptiedByCuttingCountsAsEmpty)
{
    writeThreeScripts();
    frmDovezurad window(m_boxes, drive(), root());
    auto *field = window.findChild<QLineEdit *>("txtCierreDer");
    field->selectAll();
    field->cut();

    click(window);

    ASSERT_EQ(m_boxes.shown().size(), 1U);
    EXPECT_EQ(m_boxes.shown()[0].prompt, QStringLiteral("Debe configurar todo"));
    EXPECT_EQ(read("b.txt"), "{x}");
}

TEST_F(RewriteRunTest, AFolderWithoutScriptsShowsNothingAndEnterOnTheButtonPressesIt)
{
    write("notas.md", "{x}");
    frmDovezurad window(m_boxes, drive(), root());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto *button = window.findChild<QPushButton *>("cmdCambiar");

    click(window);
    EXPECT_TRUE(m_boxes.shown().empty());

    write("a.txt", "{a}");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.operations().fileCount() == 1; }, 20000));
    button->setFocus();
    m_boxes.answerWith(MessageAnswer::No);
    QTest::keyClick(button, Qt::Key_Return);
    ASSERT_EQ(m_boxes.shown().size(), 1U);
    EXPECT_EQ(m_boxes.shown()[0].prompt, kConfirmation);
}

// Closes itself the way a user's click on the close button would arrive: as an event handled
// at the round after the first script, the first one where that script is the current one. The
// run hands its scripts to the disk in batches, so the first one's new text may not be on disk
// yet when the close comes.
class ClosedAfterFirstScript final : public frmDovezurad
{
public:
    using frmDovezurad::frmDovezurad;

    void handlePendingEvents() override
    {
        if (!m_closePosted && operations().currentFileName() == "a.txt") {
            m_closePosted = true;
            QMetaObject::invokeMethod(
                this, [this] { close(); }, Qt::QueuedConnection);
        }
        frmDovezurad::handlePendingEvents();
    }

private:
    bool m_closePosted = false;
};

TEST_F(RewriteRunTest, ClosingTheWindowDuringARunKeepsTheScriptsBeforeAndEndsTheProgram)
{
    writeThreeScripts();
    ClosedAfterFirstScript window(m_boxes, drive(), root());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    m_boxes.answerWith(MessageAnswer::Yes);

    bool runReturned = false;
    QTimer::singleShot(0, &window, [&] {
        click(window);
        runReturned = true;
    });
    // Only a guard against a hang: a program that does not end fails here instead.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(std::chrono::seconds(60));

    EXPECT_EQ(QApplication::exec(), 0);

    EXPECT_TRUE(runReturned);
    EXPECT_TRUE(window.isClosing());
    EXPECT_TRUE(window.isHidden());
    EXPECT_EQ(read("a.txt"), "<uno>\r\ny <dos>");
    EXPECT_EQ(read("b.txt"), "{x}");
    EXPECT_EQ(read("c.txt"), "sin etiquetas");
    ASSERT_EQ(m_boxes.shown().size(), 1U) << "no message after the confirmation";
    EXPECT_TRUE(leftoverTemporaryFiles().isEmpty());
}

// Clicks the button again while the run handles events between two scripts.
class ClickedAgainDuringRun final : public frmDovezurad
{
public:
    using frmDovezurad::frmDovezurad;

    void handlePendingEvents() override
    {
        if (m_clickAgain)
            findChild<QAbstractButton *>(QStringLiteral("cmdCambiar"))->click();
        frmDovezurad::handlePendingEvents();
    }

    bool m_clickAgain = true;
};

TEST_F(RewriteRunTest, AClickDuringARunStartsNoSecondRun)
{
    writeThreeScripts();
    ClickedAgainDuringRun window(m_boxes, drive(), root());
    m_boxes.answerWith(MessageAnswer::Yes);

    click(window);

    ASSERT_EQ(m_boxes.shown().size(), 2U);
    EXPECT_EQ(m_boxes.shown()[1].prompt, QStringLiteral("¡Etiquetas modificadas!"));
    EXPECT_EQ(read("b.txt"), "<x>");

    // Once the run is over, a click starts a new one.
    window.m_clickAgain = false;
    click(window);
    EXPECT_EQ(m_boxes.shown().size(), 3U) << "asks for confirmation again";
}

TEST_F(RewriteRunTest, ARunFromADriveRootReachesEveryScriptShownEvenANonUtf8One)
{
    // A name copied from an old Windows disk: Latin-1, not valid UTF-8.
    const QByteArray latin1 = "canci\xf3n.txt";
    write(latin1.constData(), "  {a} ");
    write("c.txt", "{b}");
    ASSERT_TRUE(QDir(m_folder.path()).mkdir(QStringLiteral("sub")));
    frmDovezurad window(m_boxes, drive(), root() + "/sub");

    // Up to the drive's root through Dir1, as a user would.
    auto *dir1 = window.findChild<FolderList *>("Dir1");
    dir1->setCurrentRow(0);
    QTest::keyClick(dir1, Qt::Key_Return);
    ASSERT_EQ(window.operations().folderPath(), root() + "/");
    ASSERT_EQ(window.operations().fileCount(), 2);
    m_boxes.answerWith(MessageAnswer::Yes);

    click(window);

    ASSERT_EQ(m_boxes.shown().size(), 2U);
    EXPECT_EQ(m_boxes.shown()[1].prompt, QStringLiteral("¡Etiquetas modificadas!"));
    EXPECT_EQ(read(latin1.constData()), "<a>");
    EXPECT_EQ(read("c.txt"), "<b>");
    EXPECT_FALSE(window.findChild<FileList *>("File1")->isFrozen());
}

// Drops a new script into the folder before the run's first script and notes, before every
// script, what the file list shows.
class ScriptAddedDuringRun final : public frmDovezurad
{
public:
    ScriptAddedDuringRun(MessageBoxes &boxes, std::unique_ptr<DriveSource> drives,
                         const std::string &folder)
        : frmDovezurad(boxes, std::move(drives), folder), m_folder(folder)
    {
    }

    void handlePendingEvents() override
    {
        auto *file1 = findChild<FileList *>("File1");
        if (m_rowsSeen.empty()) {
            std::ofstream(m_folder + "/nuevo.txt", std::ios::binary) << "{nuevo}";
            // Lets the folder's change notice arrive, so that the list has a change to hold back.
            // A list that takes the change in at once ends the wait as well.
            const bool noticed = QTest::qWaitFor(
                [file1] { return file1->hasPendingChanges() || file1->count() != 3; }, 20000);
            m_changeHeldBack = noticed && file1->hasPendingChanges();
        }
        frmDovezurad::handlePendingEvents();
        m_rowsSeen.push_back(file1->count());
        m_enabledSeen = m_enabledSeen || file1->isEnabled();
    }

    std::vector<int> m_rowsSeen;
    bool m_changeHeldBack = false;
    bool m_enabledSeen = false;

private:
    std::string m_folder;
};

TEST_F(RewriteRunTest, TheFileListStaysAsTheRunFoundItAndCatchesUpAfterwards)
{
    writeThreeScripts();
    ScriptAddedDuringRun window(m_boxes, drive(), root());
    const auto *file1 = window.findChild<FileList *>("File1");
    m_boxes.answerWith(MessageAnswer::Yes);

    click(window);

    EXPECT_TRUE(window.m_changeHeldBack);
    ASSERT_GE(window.m_rowsSeen.size(), 3U);
    EXPECT_EQ(std::count(window.m_rowsSeen.begin(), window.m_rowsSeen.end(), 3),
              std::ssize(window.m_rowsSeen));
    EXPECT_FALSE(window.m_enabledSeen);
    EXPECT_EQ(read("b.txt"), "<x>");
    EXPECT_EQ(read("nuevo.txt"), "{nuevo}") << "not in the list the run walked";

    QStringList shown;
    for (int row = 0; row < file1->count(); ++row)
        shown << file1->item(row)->text();
    EXPECT_EQ(shown, QStringList({"a.txt", "b.txt", "c.txt", "nuevo.txt"}));
    EXPECT_EQ(window.operations().fileCount(), 4);
    EXPECT_FALSE(file1->isEnabled());
}

TEST_F(RewriteRunTest, UndoFromTheWindowRestoresWhatItCanAndNamesTheRest)
{
    const QString question = QStringLiteral(
        "Se restaurarán los 2 scripts modificados por la última ejecución en esta carpeta. "
        "¿Desea continuar?");
    const QString done = QStringLiteral("¡Etiquetas modificadas!");
    const struct
    {
        bool run;
        const char *edited; // after the run, or nullptr
        bool linkedOut;     // d.txt leads to a file in another folder, whose original is not kept
        QStringList boxes;  // after the run's question
    } cases[] = {
        {false, nullptr, false, {QStringLiteral("No hay cambios que deshacer en esta carpeta.")}},
        {true, nullptr, false, {done, question, QStringLiteral("¡Etiquetas restauradas!")}},
        {true,
         "b.txt",
         false,
         {done, question,
          QStringLiteral("Se restauró 1 de 2 scripts; este cambió después y no se "
                         "tocó:\r\nb.txt")}},
        // The warning comes after the run's own message, and undo names what it cannot give back.
        {true,
         nullptr,
         true,
         {done,
          QStringLiteral("Aviso: esta ejecución no se podrá deshacer del todo (sin espacio o sin "
                         "permiso para guardar los originales)."),
          QStringLiteral("Se restaurarán los 3 scripts modificados por la última ejecución en "
                         "esta carpeta. ¿Desea continuar?"),
          QStringLiteral("Se restauraron 2 de 3 scripts; este no se pudo guardar y sigue "
                         "cambiado:\r\nd.txt")}},
    };
    for (const auto &example : cases) {
        SCOPED_TRACE(example.boxes.back().toStdString());
        m_folder.remove();
        m_folder = QTemporaryDir();
        writeThreeScripts();
        const QTemporaryDir elsewhere;
        const QString outside = elsewhere.filePath(QStringLiteral("d.dat"));
        if (example.linkedOut) {
            QFile target(outside);
            ASSERT_TRUE(target.open(QIODevice::WriteOnly));
            target.write("{d}");
            target.close();
            ASSERT_TRUE(QFile::link(outside, m_folder.filePath(QStringLiteral("d.txt"))));
        }
        std::map<std::string, std::tuple<ino_t, std::int64_t, std::int64_t, QByteArray>> before;
        const auto identity = [this](const char *name) {
            struct stat status
            {
            };
            ::stat((root() + "/" + name).c_str(), &status);
            return std::tuple{status.st_ino, std::int64_t{status.st_mtim.tv_sec},
                              std::int64_t{status.st_mtim.tv_nsec}, read(name)};
        };
        for (const char *name : {"a.txt", "b.txt", "c.txt"})
            before[name] = identity(name);
        FakeMessageBoxes boxes;
        frmDovezurad window(boxes, drive(), root());
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        if (example.run) {
            boxes.answerWith(MessageAnswer::Yes);
            click(window);
        }
        if (example.edited != nullptr)
            write(example.edited, "{editado}");
        boxes.answerWith(MessageAnswer::Yes);

        // Its keys, from a field that would take them as its own redo.
        QTest::keyClick(window.findChild<QLineEdit *>("txtCierreIz"), Qt::Key_Z,
                        Qt::ControlModifier | Qt::ShiftModifier);

        QStringList shown;
        for (std::size_t box = example.run ? 1 : 0; box < boxes.shown().size(); ++box)
            shown << boxes.shown()[box].prompt;
        EXPECT_EQ(shown.join(u'\n').toStdString(), example.boxes.join(u'\n').toStdString());
        for (const char *name : {"a.txt", "b.txt", "c.txt"}) {
            const bool edited = example.edited != nullptr && std::string(name) == example.edited;
            if (edited) {
                EXPECT_EQ(read(name), "{editado}");
            } else {
                EXPECT_EQ(identity(name), before[name]) << name;
            }
        }
        if (example.linkedOut) {
            QFile target(outside);
            ASSERT_TRUE(target.open(QIODevice::ReadOnly));
            EXPECT_EQ(target.readAll(), "<d>");
        }
        EXPECT_TRUE(window.findChild<QWidget *>("Dir1")->isEnabled());
    }
}

// Presses both entries' keys and asks for the menu while the run handles events.
class ShortcutsDuringRun final : public frmDovezurad
{
public:
    using frmDovezurad::frmDovezurad;

    void handlePendingEvents() override
    {
        for (const Qt::Key key : {Qt::Key_V, Qt::Key_Z})
            QTest::keyClick(this, key, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(this, Qt::Key_F10, Qt::ShiftModifier);
        m_menuSeen = m_menuSeen || findChild<QMenu *>("mnuContexto")->isVisible();
        frmDovezurad::handlePendingEvents();
    }

    bool m_menuSeen = false;
};

TEST_F(RewriteRunTest, NothingHappensOnAShortcutOrTheMenuKeyDuringARun)
{
    writeThreeScripts();
    ShortcutsDuringRun window(m_boxes, drive(), root());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    m_boxes.answerWith(MessageAnswer::Yes);

    click(window);

    ASSERT_EQ(m_boxes.shown().size(), 2U) << "no question but the run's";
    EXPECT_EQ(m_boxes.shown()[1].prompt, QStringLiteral("¡Etiquetas modificadas!"));
    EXPECT_EQ(window.findChild<QDialog *>(), nullptr) << "no preview";
    EXPECT_FALSE(window.m_menuSeen);
    EXPECT_EQ(read("b.txt"), "<x>");
}

TEST(RunProgressTitle, CountsWithDotsForThousandsAndAddsAPartDoneScriptsPercentage)
{
    QLocale::setDefault(QLocale(QLocale::English));
    EXPECT_EQ(WindowRunOperations::progressTitle(1234, 20000, 0, 0),
              QStringLiteral("Dovezurad — 1.234 de 20.000"));
    EXPECT_EQ(WindowRunOperations::progressTitle(7, 1234567, 4096, 4096),
              QStringLiteral("Dovezurad — 7 de 1.234.567"));
    EXPECT_EQ(
        WindowRunOperations::progressTitle(1, 1, std::uint64_t{1} << 30, std::uint64_t{2} << 30),
        QStringLiteral("Dovezurad — 1 de 1 (50 %)"));
    QLocale::setDefault(QLocale::system());
}

} // namespace
