#include "fakemessageboxes.h"
#include "frmdovezurad.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>

namespace {

const QString kConfirmation = QString::fromUtf8("Todos los scripts contenidos en el\r\n"
                                                "directorio actual serán modificados.\r\n"
                                                "\r\n"
                                                "¿Desea continuar?");

class RewriteRunTest : public ::testing::Test
{
protected:
    void write(const char *name, const QByteArray &bytes)
    {
        QFile file(m_folder.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    QByteArray read(const char *name) const
    {
        QFile file(m_folder.filePath(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
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

    QTemporaryDir m_folder;
    FakeMessageBoxes m_boxes;
};

TEST_F(RewriteRunTest, AnsweredYesRewritesEveryScriptWithTheTypedDelimiters)
{
    writeThreeScripts();
    frmDovezurad window(m_boxes, m_folder.path());
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
    frmDovezurad window(m_boxes, m_folder.path());
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
    frmDovezurad window(m_boxes, m_folder.path());
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

// Closes itself the way a user's click on the close button would arrive: as an event handled
// between the first and the second script.
class ClosedAfterFirstScript final : public frmDovezurad
{
public:
    using frmDovezurad::frmDovezurad;

    void handlePendingEvents() override
    {
        if (++m_passes == 2)
            QMetaObject::invokeMethod(
                this, [this] { close(); }, Qt::QueuedConnection);
        frmDovezurad::handlePendingEvents();
    }

private:
    int m_passes = 0;
};

TEST_F(RewriteRunTest, ClosingTheWindowDuringARunEndsTheProgramBetweenTwoScripts)
{
    writeThreeScripts();
    ClosedAfterFirstScript window(m_boxes, m_folder.path());
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

} // namespace
