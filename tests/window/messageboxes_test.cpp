#include "browsertestsupport.h"
#include "frmdovezurad.h"
#include "systemmessageboxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

struct SeenBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    QString defaultButton;
};

QAbstractButton *buttonNamed(QMessageBox &box, const QString &text)
{
    const QList<QAbstractButton *> buttons = box.buttons();
    const auto found = std::find_if(buttons.begin(), buttons.end(), [&](QAbstractButton *button) {
        return button->text() == text;
    });
    return found == buttons.end() ? nullptr : *found;
}

// Once the next modal box is up, records what it shows and answers it with `answer`.
void answerNextBox(SeenBox &seen, std::function<void(QMessageBox &)> answer)
{
    QTimer::singleShot(0, [&seen, answer] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box == nullptr) {
            answerNextBox(seen, answer);
            return;
        }
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (const QAbstractButton *button : box->buttons())
            seen.buttons << button->text();
        seen.buttons.sort();
        if (box->defaultButton() != nullptr)
            seen.defaultButton = box->defaultButton()->text();
        answer(*box);
    });
}

std::function<void(QMessageBox &)> clickOn(const char *text)
{
    return [text](QMessageBox &box) {
        QAbstractButton *button = buttonNamed(box, QString::fromUtf8(text));
        if (button != nullptr)
            QTest::mouseClick(button, Qt::LeftButton);
        else
            box.close(); // the test then sees the wrong answer
    };
}

void pressEscape(QMessageBox &box)
{
    QTest::keyClick(&box, Qt::Key_Escape);
}

void closeBox(QMessageBox &box)
{
    box.close();
}

TEST(MessageBoxes, StyleZeroIsOneAceptarButtonWithoutIconUnderTheApplicationTitle)
{
    SystemMessageBoxes boxes;
    SeenBox seen;
    answerNextBox(seen, clickOn("Aceptar"));
    EXPECT_EQ(boxes.messageBox(nullptr, QStringLiteral("Hola"), 0, QString()), 1);
    EXPECT_EQ(seen.title, QStringLiteral("Dovezurad"));
    EXPECT_EQ(seen.text, QStringLiteral("Hola"));
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("Aceptar")});

    answerNextBox(seen, pressEscape);
    EXPECT_EQ(boxes.messageBox(nullptr, QStringLiteral("Hola"), 0, QString()), 1);
}

TEST(MessageBoxes, StyleSixteenShowsTheErrorIconAndKeepsItsTitle)
{
    SystemMessageBoxes boxes;
    SeenBox seen;
    answerNextBox(seen, clickOn("Aceptar"));
    EXPECT_EQ(
        boxes.messageBox(nullptr, QStringLiteral("53 No existe"), 16, QStringLiteral("Unidad")), 1);
    EXPECT_EQ(seen.title, QStringLiteral("Unidad"));
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("Aceptar")});
}

struct YesNoCancelCase
{
    const char *how;
    std::function<void(QMessageBox &)> answer;
    int expected;
};

TEST(MessageBoxes, StyleFiftyOneAsksYesNoCancelWithTheWarningIcon)
{
    const YesNoCancelCase cases[] = {
        {"Sí", clickOn("Sí"), 6},
        {"No", clickOn("No"), 7},
        {"Cancelar", clickOn("Cancelar"), 2},
        {"Escape", pressEscape, 2},
        {"close", closeBox, 2},
        {"Enter takes the default", [](QMessageBox &box) { QTest::keyClick(&box, Qt::Key_Return); },
         6},
    };
    SystemMessageBoxes boxes;
    for (const YesNoCancelCase &tried : cases) {
        SCOPED_TRACE(tried.how);
        SeenBox seen;
        answerNextBox(seen, tried.answer);
        const int answer = boxes.messageBox(nullptr, QStringLiteral("uno\r\ndos\r\n\r\n¿tres?"), 51,
                                            QStringLiteral("Advertencia"));
        EXPECT_EQ(answer, tried.expected);
        EXPECT_EQ(seen.title, QStringLiteral("Advertencia"));
        EXPECT_EQ(seen.text, QStringLiteral("uno\ndos\n\n¿tres?"));
        EXPECT_EQ(seen.icon, QMessageBox::Warning);
        EXPECT_EQ(seen.buttons, QStringList({"Cancelar", "No", "Sí"}));
        EXPECT_EQ(seen.defaultButton, QStringLiteral("Sí"));
    }
}

TEST(MessageBoxes, ARefusedKeyShowsTheFieldsMessageInARealBox)
{
    SystemMessageBoxes boxes;
    TempPlace place;
    frmDovezurad window(boxes, FolderDriveSource::of({place.at()}), place.at());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto *field = window.findChild<QLineEdit *>("txtCierreIz");

    SeenBox seen;
    answerNextBox(seen, clickOn("Aceptar"));
    field->selectAll();
    QTest::keyClick(field, 'a');

    EXPECT_EQ(seen.text, QStringLiteral("Entradas permitidas: { [ ( < / \\~"));
    EXPECT_EQ(seen.title, QStringLiteral("Dovezurad"));
    EXPECT_EQ(field->text(), QStringLiteral("{"));
}

} // namespace
