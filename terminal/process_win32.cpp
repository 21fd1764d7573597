#include "process.h"

#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <memory>

namespace Process {

namespace {

// A console control handler runs on a thread of its own and can reach nothing but what is
// global, so the stop it leaves for the program lives here, and only here.
std::atomic<int> g_stopSignal{0};

// Ctrl+C and Ctrl+Break are the console's SIGINT; closing the console, a logoff and a shutdown
// its SIGHUP and SIGTERM. The number told is the POSIX one, so statuses match there.
BOOL WINAPI onConsoleControl(DWORD event)
{
    int signal = 0;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        signal = 2;
        break;
    case CTRL_CLOSE_EVENT:
        signal = 1;
        break;
    default:
        signal = 15;
        break;
    }
    int none = 0;
    g_stopSignal.compare_exchange_strong(none, signal);
    return TRUE;
}

struct LocalFreer
{
    void operator()(LPWSTR *memory) const { LocalFree(memory); }
};

std::string toUtf8(const wchar_t *wide)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), length, nullptr, nullptr);
    text.pop_back(); // the terminating zero
    return text;
}

} // namespace

std::vector<std::string> arguments(int, char *[])
{
    // argv holds the command line in the ANSI code page, which loses every character outside
    // it; the system keeps the wide one, and names are UTF-8 inside the program.
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreer> wide(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::string> result;
    for (int i = 0; wide && i < count; ++i)
        result.push_back(toUtf8(wide.get()[i]));
    return result;
}

void catchStopSignals(StopSignals which)
{
    // The window is closed by the system's own messages at logoff; only a console run listens.
    if (which == StopSignals::Terminal)
        SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

int stopSignal() noexcept
{
    return g_stopSignal.load();
}

int stopNotifier() noexcept
{
    return -1;
}

bool waitForInput()
{
    return stopSignal() == 0;
}

} // namespace Process
