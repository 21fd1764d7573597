#include "browsertestsupport.h"
#include "fakemessageboxes.h"
#include "frmdovezurad.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

namespace {

const QString kLeftMessage = QStringLiteral("Entradas permitidas: { [ ( < / \\~");
const QString kRightMessage = QStringLiteral("Entradas permitidas: } ] ) > / \\ ~");

struct Field
{
    const char *name;
    QString allowed;
    QString refusedBracket; // the other side's own characters
    QString message;
    const char *nextOnEnter;
    Control control;
};

const Field kFields[] = {
    {"txtCierreIz", "{[(</\\~", "}])>", kLeftMessage, "txtCierreDer", Control::txtCierreIz},
    {"txtCierreDer", "}])>/\\~", "{[(<", kRightMessage, "txtNewCierreDer", Control::txtCierreDer},
    {"txtNewCierreIz", "{[(</\\~", "}])>", kLeftMessage, "cmdCambiar", Control::txtNewCierreIz},
    {"txtNewCierreDer", "}])>/\\~", "{[(<", kRightMessage, "txtNewCierreIz",
     Control::txtNewCierreDer},
};

// Names the field in failure messages instead of dumping the struct's bytes.
void PrintTo(const Field &field, std::ostream *out)
{
    *out << field.name;
}

class DelimiterFieldTest : public ::testing::TestWithParam<Field>
{
protected:
    void SetUp() override
    {
        m_window->show();
        m_window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
        m_field = m_window->findChild<QLineEdit *>(QString::fromLatin1(GetParam().name));
        ASSERT_NE(m_field, nullptr);
        m_field->setFocus();
    }

    // Types a character the way the keyboard would, with the key code Qt gives it.
    void type(QChar character) { QTest::keyClick(m_field, character.toLatin1()); }

    void expectRefused(const QString &before, int beepsBefore)
    {
        EXPECT_EQ(m_field->text(), before);
        EXPECT_EQ(m_boxes.beeps(), beepsBefore + 1);
        ASSERT_FALSE(m_boxes.shown().empty());
        EXPECT_EQ(m_boxes.shown().back().prompt, GetParam().message);
        EXPECT_EQ(m_boxes.shown().back().style, MessageStyle::Ok);
        EXPECT_TRUE(m_boxes.shown().back().title.isEmpty());
    }

    FakeMessageBoxes m_boxes;
    TempPlace m_place;
    std::unique_ptr<frmDovezurad> m_window = std::make_unique<frmDovezurad>(
        m_boxes, FolderDriveSource::of({m_place.at()}), m_place.at());
    QLineEdit *m_field = nullptr;
};

TEST_P(DelimiterFieldTest, TakesEveryCharacterOfItsSetInPlaceOfTheSelectedOne)
{
    EXPECT_EQ(m_field->maxLength(), 1);
    EXPECT_TRUE(m_field->alignment().testFlag(Qt::AlignHCenter));
    for (QChar character : GetParam().allowed) {
        SCOPED_TRACE(QString(character).toStdString());
        m_field->selectAll();
        type(character);
        EXPECT_EQ(m_field->text(), QString(character));
        EXPECT_EQ(m_window->operations().fieldText(GetParam().control),
                  std::string(1, character.toLatin1()));
    }
    EXPECT_EQ(m_boxes.beeps(), 0);
    EXPECT_TRUE(m_boxes.shown().empty());
}

TEST_P(DelimiterFieldTest, RefusesOtherCharactersWithBeepAndMessage)
{
    const QString before = m_field->text();
    const QString refused = GetParam().refusedBracket + QStringLiteral("aZ09 .|");
    for (QChar character : refused) {
        SCOPED_TRACE(QString(character).toStdString());
        const int beeps = m_boxes.beeps();
        m_field->selectAll();
        type(character);
        expectRefused(before, beeps);
    }
}

TEST_P(DelimiterFieldTest, RefusesControlKeysSoKeyboardPastingIsBlocked)
{
    QApplication::clipboard()->setText(GetParam().allowed.left(1));
    const QString before = m_field->text();
    m_field->selectAll();

    int beeps = m_boxes.beeps();
    QTest::keyClick(m_field, Qt::Key_V, Qt::ControlModifier);
    expectRefused(before, beeps);

    // What X11 sends for Ctrl+V: the control code itself as the key's text.
    beeps = m_boxes.beeps();
    QTest::sendKeyEvent(QTest::Click, m_field, Qt::Key_V, QStringLiteral("\x16"),
                        Qt::ControlModifier);
    expectRefused(before, beeps);

    beeps = m_boxes.beeps();
    QTest::keyClick(m_field, Qt::Key_C, Qt::ControlModifier);
    expectRefused(before, beeps);

    beeps = m_boxes.beeps();
    QTest::keyClick(m_field, Qt::Key_Escape);
    expectRefused(before, beeps);

    // The older keys for copy, paste and cut go through the same filter.
    for (const auto &[key, modifier] : {std::pair{Qt::Key_Insert, Qt::ControlModifier},
                                        std::pair{Qt::Key_Insert, Qt::ShiftModifier},
                                        std::pair{Qt::Key_Delete, Qt::ShiftModifier}}) {
        beeps = m_boxes.beeps();
        QTest::keyClick(m_field, key, modifier);
        expectRefused(before, beeps);
    }
}

TEST_P(DelimiterFieldTest, BackspaceAndDeleteEmptyTheFieldWithoutAWord)
{
    m_field->end(false);
    QTest::keyClick(m_field, Qt::Key_Backspace);
    EXPECT_TRUE(m_field->text().isEmpty());
    EXPECT_TRUE(m_window->operations().fieldText(GetParam().control).empty());

    type(GetParam().allowed.front());
    m_field->home(false);
    QTest::keyClick(m_field, Qt::Key_Delete);
    EXPECT_TRUE(m_field->text().isEmpty());

    EXPECT_EQ(m_boxes.beeps(), 0);
    EXPECT_TRUE(m_boxes.shown().empty());
}

TEST_P(DelimiterFieldTest, HoldsOneCharacterOnly)
{
    m_field->clear();
    type(GetParam().allowed.at(0));
    type(GetParam().allowed.at(1));
    EXPECT_EQ(m_field->text(), GetParam().allowed.left(1));
}

TEST_P(DelimiterFieldTest, PastingFromTheMenuLeavesAtMostOneCharacterOfTheSet)
{
    const QString before = m_field->text();
    for (const QString &pasted : {GetParam().refusedBracket.left(1), QStringLiteral("x"),
                                  QStringLiteral("é"), QStringLiteral("€")}) {
        SCOPED_TRACE(pasted.toStdString());
        QApplication::clipboard()->setText(pasted);
        m_field->selectAll();
        m_field->paste();
        EXPECT_EQ(m_field->text(), before);
    }

    const QString twoAllowed = GetParam().allowed.mid(1, 2);
    QApplication::clipboard()->setText(twoAllowed);
    m_field->selectAll();
    m_field->paste();
    EXPECT_LE(m_field->text().size(), 1);
    EXPECT_TRUE(m_field->text().isEmpty() || GetParam().allowed.contains(m_field->text()));
    EXPECT_EQ(m_boxes.beeps(), 0);
}

TEST_P(DelimiterFieldTest, EnterMovesTheFocusOnInTabOrderAndIsDropped)
{
    for (Qt::Key enter : {Qt::Key_Return, Qt::Key_Enter}) {
        m_field->setFocus();
        const QString before = m_field->text();
        QTest::keyClick(m_field, enter,
                        enter == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_EQ(QApplication::focusWidget()->objectName(),
                  QString::fromLatin1(GetParam().nextOnEnter));
        EXPECT_EQ(m_field->text(), before);
    }
    EXPECT_EQ(m_boxes.beeps(), 0);
    EXPECT_TRUE(m_boxes.shown().empty());
}

INSTANTIATE_TEST_SUITE_P(AllFour, DelimiterFieldTest, ::testing::ValuesIn(kFields),
                         [](const ::testing::TestParamInfo<Field> &param) {
                             return std::string(param.param.name);
                         });

TEST(DelimiterFields, ArrowKeysAndTabNeverReachTheFilter)
{
    FakeMessageBoxes boxes;
    TempPlace place;
    frmDovezurad window(boxes, FolderDriveSource::of({place.at()}), place.at());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto *field = window.findChild<QLineEdit *>("txtCierreDer");
    field->setFocus();
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Home, Qt::Key_End, Qt::Key_F2})
        QTest::keyClick(field, key);
    QTest::keyClick(field, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), QStringLiteral("txtNewCierreDer"));
    EXPECT_EQ(boxes.beeps(), 0);
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(field->text(), QStringLiteral("}"));
}

} // namespace
