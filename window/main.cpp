#include "commandline.h"
#include "frmdovezurad.h"
#include "process.h"
#include "recovery.h"
#include "spanishqttranslator.h"
#include "systemmessageboxes.h"
#include "terminalrun.h"

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace {

// Qt ends the process when it cannot reach the window system; say so in Spanish first.
bool hasDisplay()
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

// The folder the window opens on: the one given, or the folder of a file given (a file
// manager may pass one); nothing when it is neither.
std::optional<std::string> startFolder(const std::string &given)
{
    if (given.empty())
        return FolderBrowser::currentWorkingFolder();
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(given, error);
    if (error)
        return std::nullopt;
    path = path.lexically_normal();
    if (std::filesystem::is_regular_file(path, error))
        path = path.parent_path();
    if (!std::filesystem::is_directory(path, error))
        return std::nullopt;
    std::string folder = path.string();
    if (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

// SIGTERM and SIGHUP (a logout) close the windows as the user would, so that a run under way is
// abandoned the way a close abandons it.
std::unique_ptr<QSocketNotifier> closeWindowsOnStopSignals()
{
    if (Process::stopNotifier() < 0)
        return nullptr;
    auto notifier =
        std::make_unique<QSocketNotifier>(Process::stopNotifier(), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                     [notifier = notifier.get()] {
                         notifier->setEnabled(false);
                         QApplication::closeAllWindows();
                     });
    return notifier;
}

} // namespace

int main(int argc, char *argv[])
{
    const CommandLine command = parseCommandLine(Process::arguments(argc, argv));
    Process::catchStopSignals(command.action == CommandLine::Action::Rewrite
                                  ? Process::StopSignals::Terminal
                                  : Process::StopSignals::Window);

    switch (command.action) {
    case CommandLine::Action::Help:
        std::cout << helpText();
        return 0;
    case CommandLine::Action::Version:
        std::cout << versionText();
        return 0;
    case CommandLine::Action::Refused:
        std::cerr << "dovezurad: " << command.message << '\n';
        return 2;
    case CommandLine::Action::Rewrite:
        return rewriteFromTerminal(command, TerminalStreams{std::cin, std::cout, std::cerr,
                                                            isatty(STDIN_FILENO) == 1,
                                                            isatty(STDERR_FILENO) == 1});
    case CommandLine::Action::Window:
        break;
    }

    const std::optional<std::string> folder = startFolder(command.folder);
    if (!folder) {
        std::cerr << "dovezurad: no existe la carpeta " << command.folder << '\n';
        return 2;
    }
    if (!hasDisplay()) {
        std::cerr << "dovezurad: la ventana necesita una pantalla (no hay DISPLAY ni "
                     "WAYLAND_DISPLAY).\nPara modificar scripts sin ventana use --cambiar y "
                     "--por; vea «dovezurad --help».\n";
        return 1;
    }

    // What a killed run left half done is finished before anything else looks at scripts.
    const std::vector<std::string> setAside = finishInterruptedRewrites();

    QApplication application(argc, argv);
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.dovezurad.Dovezurad"));
    // The icon theme's, where the desktop has one; otherwise the program's own.
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("dovezurad"), QIcon(QStringLiteral(":/dovezurad.svg"))));
    SpanishQtTranslator spanish;
    QApplication::installTranslator(&spanish);

    SystemMessageBoxes messageBoxes;
    for (const std::string &message : setAside)
        messageBoxes.messageBox(nullptr, QString::fromStdString(message), MessageStyle::Ok, {});
    frmDovezurad window(messageBoxes, std::make_unique<StorageDriveSource>(), *folder);
    window.show();
    const std::unique_ptr<QSocketNotifier> stopped = closeWindowsOnStopSignals();
    return QApplication::exec();
}
