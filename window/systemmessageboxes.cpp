#include "systemmessageboxes.h"

#include <QApplication>

int SystemMessageBoxes::messageBox(QWidget *parent, const QString &prompt, int style,
                                   const QString &title)
{
    return showMessageBox(parent, prompt, style, title);
}

void SystemMessageBoxes::beep()
{
    QApplication::beep();
}
