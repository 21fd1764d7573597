#include "commandline.h"
#include "fileerror.h"
#include "frmdovezurad.h"
#include "nativepaths.h"
#include "process.h"
#include "programstart.h"
#include "recovery.h"
#include "spanishqttranslator.h"
#include "systemmessageboxes.h"
#include "terminalrun.h"
#include "terminalundo.h"

#include <QApplication>
#include <QSocketNotifier>

#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

namespace {

// The folder the window opens on: the one given, or the folder of a file given (a file
// manager may pass one); nothing when it is neither.
std::optional<std::string> startFolder(const std::string &given)
{
    if (given.empty())
        return FolderBrowser::currentWorkingFolder();
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(NativePaths::toPath(given), error);
    if (error)
        return std::nullopt;
    path = path.lexically_normal();
    if (std::filesystem::is_regular_file(path, error))
        path = path.parent_path();
    if (!std::filesystem::is_directory(path, error))
        return std::nullopt;
    // "/a/b/" is the folder "/a/b"; a root keeps its separator.
    if (!path.has_filename() && path.has_relative_path())
        path = path.parent_path();
    return NativePaths::fromPath(path);
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
    ProgramStart start;
    const CommandLine command = parseCommandLine(Process::arguments(argc, argv));
    Process::catchStopSignals(command.action == CommandLine::Action::Rewrite ||
                                      command.action == CommandLine::Action::Undo
                                  ? Process::StopSignals::Terminal
                                  : Process::StopSignals::Window);
    if (command.action != CommandLine::Action::Window)
        start.useTerminal();

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
        return rewriteFromTerminal(command,
                                   TerminalStreams{std::cin, std::cout, std::cerr,
                                                   start.inIsTerminal(), start.errIsTerminal()});
    case CommandLine::Action::Undo:
        return undoFromTerminal(command,
                                TerminalStreams{std::cin, std::cout, std::cerr,
                                                start.inIsTerminal(), start.errIsTerminal()});
    case CommandLine::Action::Window:
        break;
    }

    const std::optional<std::string> folder = startFolder(command.folder);
    if (!folder) {
        start.useTerminal();
        // As the command line says it, with the same number.
        const FileError missing = FileError::pathNotFound();
        std::cerr << failureText(missing, command) << '\n';
        return missing.number();
    }
    if (!ProgramStart::hasDisplay()) {
        start.useTerminal();
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
    ProgramStart::setWindowIcon();
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
