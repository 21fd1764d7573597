#include "systemmessageboxes.h"

#include <QApplication>

#include <QMessageBox>
#include <QPushButton>

namespace {

QMessageBox::Icon iconOf(int style)
{
    switch (style & MessageStyle::IconMask) {
    case MessageStyle::IconError:
        return QMessageBox::Critical;
    case MessageStyle::IconQuestion:
        return QMessageBox::Question;
    case MessageStyle::IconWarning:
        return QMessageBox::Warning;
    case MessageStyle::IconInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// Sets the buttons with the texts Spanish users expect, whatever the system's language.
void addButtons(QMessageBox &box, int style)
{
    switch (style & MessageStyle::ButtonsMask) {
    case MessageStyle::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MessageStyle::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MessageStyle::YesNo:
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

int SystemMessageBoxes::messageBox(QWidget *parent, const QString &prompt, int style,
                                   const QString &title)
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

void SystemMessageBoxes::beep()
{
    QApplication::beep();
}
