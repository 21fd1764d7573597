#include "messageboxes.h"

#include "windowoperations.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

// The low nibble of a Windows style picks the buttons, the next one the icon.
constexpr int kButtonsMask = 0x0F;
constexpr int kIconMask = 0xF0;
constexpr int kOkCancel = 1;
constexpr int kYesNoCancel = 3;
constexpr int kYesNo = 4;
constexpr int kIconError = 0x10;
constexpr int kIconQuestion = 0x20;
constexpr int kIconWarning = 0x30;
constexpr int kIconInformation = 0x40;

QMessageBox::Icon iconOf(int style)
{
    switch (style & kIconMask) {
    case kIconError:
        return QMessageBox::Critical;
    case kIconQuestion:
        return QMessageBox::Question;
    case kIconWarning:
        return QMessageBox::Warning;
    case kIconInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// Sets the buttons with the texts Spanish users expect, whatever the system's language.
void addButtons(QMessageBox &box, int style)
{
    switch (style & kButtonsMask) {
    case kOkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case kYesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case kYesNo:
        // Like Windows, a Yes/No box cannot be escaped: it has no Cancel to fall back on.
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    }
    const std::pair<QMessageBox::StandardButton, const char *> texts[] = {
        {QMessageBox::Ok, "Aceptar"},
        {QMessageBox::Cancel, "Cancelar"},
        {QMessageBox::Yes, "Sí"},
        {QMessageBox::No, "No"},
    };
    for (const auto &[which, text] : texts) {
        if (QAbstractButton *button = box.button(which))
            button->setText(QString::fromUtf8(text));
    }
}

int answerOf(QMessageBox::StandardButton button)
{
    switch (button) {
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    default:
        return MessageAnswer::Ok;
    }
}

} // namespace

int showMessageBox(QWidget *parent, const QString &prompt, int style, const QString &title)
{
    QMessageBox box(parent);
    box.setWindowTitle(title.isEmpty() ? QStringLiteral("Dovezurad") : title);
    box.setTextFormat(Qt::PlainText);
    // Prompts keep the scripts' CR LF line ends; Qt breaks lines on LF alone.
    QString shown = prompt;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    box.setText(shown);
    box.setIcon(iconOf(style));
    addButtons(box, style);
    box.exec();
    return answerOf(box.standardButton(box.clickedButton()));
}
