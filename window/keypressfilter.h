#pragma once

#include <QObject>

#include <functional>

class QKeyEvent;

// Hands the character code of every key typed into a widget to a handler before the widget
// sees it, as a KeyPress event does on Windows. The handler drops the key by setting the code
// to 0; keys that type no character never reach it.
class KeyPressFilter final : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<void(int &keyAscii)>;

    explicit KeyPressFilter(Handler handler, QObject *parent = nullptr);

    // The code a Windows KeyPress would carry (Ctrl+letter its control code), or 0 when the
    // key types no character.
    static int characterCode(const QKeyEvent &event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Handler m_handler;
};
