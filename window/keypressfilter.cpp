#include "keypressfilter.h"

#include <QKeyEvent>

#include <utility>

KeyPressFilter::KeyPressFilter(Handler handler, QObject *parent)
    : QObject(parent), m_handler(std::move(handler))
{
}

int KeyPressFilter::characterCode(const QKeyEvent &event)
{
    const int key = event.key();
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Escape:
        return 27;
    default:
        break;
    }
    // The older copy, paste and cut keys do what Ctrl+C, Ctrl+V and Ctrl+X do, so the filter
    // sees them as those.
    const Qt::KeyboardModifiers held = event.modifiers();
    if (key == Qt::Key_Insert && held.testFlag(Qt::ControlModifier))
        return 'C' - '@';
    if (key == Qt::Key_Insert && held.testFlag(Qt::ShiftModifier))
        return 'V' - '@';
    if (key == Qt::Key_Delete && held.testFlag(Qt::ShiftModifier))
        return 'X' - '@';
    // Tab, Delete, arrows and the like move or edit: even where the platform gives them a
    // text ("\t", DEL), they type nothing.
    if (key >= Qt::Key_Escape && key < Qt::Key_unknown)
        return 0;

    const Qt::KeyboardModifiers modifiers = event.modifiers();
    // AltGr arrives as Ctrl+Alt on Windows; what it types is a character, not a control code.
    const bool control =
        modifiers.testFlag(Qt::ControlModifier) && !modifiers.testFlag(Qt::AltModifier);
    // Ctrl with @, a letter or one of [\]^_ types the ASCII control code below it.
    if (control && key >= Qt::Key_At && key <= Qt::Key_Underscore)
        return key - Qt::Key_At;

    const QString text = event.text();
    if (text.isEmpty())
        return 0;
    return text.front().unicode();
}

bool KeyPressFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const int code = characterCode(*static_cast<QKeyEvent *>(event));
    if (code == 0)
        return false;
    int keyAscii = code;
    m_handler(keyAscii);
    // A handler here only lets a key through or drops it; it never types another one instead.
    return keyAscii == 0;
}
