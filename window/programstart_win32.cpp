#include "programstart.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <memory>

namespace {

struct LocalFreer
{
    void operator()(LPWSTR *memory) const { LocalFree(memory); }
};

bool hasHandle(DWORD stream)
{
    const HANDLE handle = GetStdHandle(stream);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool isConsole(DWORD stream)
{
    DWORD mode = 0;
    return hasHandle(stream) && GetConsoleMode(GetStdHandle(stream), &mode) != 0;
}

} // namespace

ProgramStart::ProgramStart(int, char *[])
{
    // An empty reader or a pulled stick is then a "not ready" error for the program to report,
    // not a system dialog asking for a disk.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // argv holds the command line in the ANSI code page, which loses every character outside
    // it; the system keeps the wide one.
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreer> arguments(
        CommandLineToArgvW(GetCommandLineW(), &count));
    for (int i = 0; arguments && i < count; ++i)
        m_arguments.push_back(QString::fromWCharArray(arguments.get()[i]));
}

void ProgramStart::useTerminal()
{
    // A window program gets no console of its own. Started from a command prompt, it writes to
    // the prompt's; streams already redirected to a file or a pipe stay where they are.
    const bool outMissing = !hasHandle(STD_OUTPUT_HANDLE);
    const bool errMissing = !hasHandle(STD_ERROR_HANDLE);
    bool borrowed = false;
    if ((outMissing || errMissing) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        borrowed = true;
        if (outMissing)
            static_cast<void>(std::freopen("CONOUT$", "w", stdout));
        if (errMissing)
            static_cast<void>(std::freopen("CONOUT$", "w", stderr));
    }
    // The texts are UTF-8; a console shows them right only in that code page. The console may
    // be the prompt's, so its own comes back at the end.
    const UINT previous = GetConsoleOutputCP();
    if (previous != 0 && previous != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        m_restore = [previous] { SetConsoleOutputCP(previous); };
    // The prompt goes on reading its console as soon as a window program starts, so a borrowed
    // console is no place to ask a question: --si answers it in advance.
    m_inIsTerminal = !borrowed && isConsole(STD_INPUT_HANDLE);
    m_errIsTerminal = borrowed ? errMissing : isConsole(STD_ERROR_HANDLE);
}

bool ProgramStart::hasDisplay()
{
    // The windows platform draws on the user's desktop, which a started program always has.
    return true;
}
