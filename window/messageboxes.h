#pragma once

#include "messagestyle.h"

#include <QString>

class QWidget;

// The side effects of the window that a person would otherwise have to answer or hear, so that
// tests can stand in for them.
class MessageBoxes
{
public:
    MessageBoxes() = default;
    MessageBoxes(const MessageBoxes &) = delete;
    MessageBoxes &operator=(const MessageBoxes &) = delete;
    virtual ~MessageBoxes() = default;

    // Style and answer carry the values of the Windows message box (MessageStyle,
    // MessageAnswer); an empty title shows the application title.
    virtual int messageBox(QWidget *parent, const QString &prompt, int style,
                           const QString &title) = 0;
    virtual void beep() = 0;
};
