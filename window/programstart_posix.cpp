#include "programstart.h"

#include <QApplication>
#include <QIcon>

#include <unistd.h>

#include <cstdlib>
#include <string_view>

ProgramStart::ProgramStart() = default;

void ProgramStart::useTerminal()
{
    // The streams are the terminal's already.
    m_inIsTerminal = isatty(STDIN_FILENO) == 1;
    m_errIsTerminal = isatty(STDERR_FILENO) == 1;
}

bool ProgramStart::hasDisplay()
{
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    const std::string_view name = platform != nullptr ? platform : "";
    // offscreen, vnc, eglfs and the like need no display server.
    if (!name.empty() && !name.starts_with("xcb") && !name.starts_with("wayland"))
        return true;
    for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char *value = std::getenv(variable);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

void ProgramStart::setWindowIcon()
{
    // The icon theme's, where the desktop has one; otherwise the program's own.
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("dovezurad"), QIcon(QStringLiteral(":/dovezurad.svg"))));
}
