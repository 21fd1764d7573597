#include "programstart.h"

#include <windows.h>

#include <iostream>
#include <memory>
#include <streambuf>
#include <string>

namespace {

bool hasHandle(DWORD stream)
{
    const HANDLE handle = GetStdHandle(stream);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool isConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

struct HandleCloser
{
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// Writes the program's UTF-8 text to a console as UTF-16, which every console shows right
// whatever its code page; the C runtime would pass the bytes through the code page instead.
class ConsoleBuffer final : public std::streambuf
{
public:
    explicit ConsoleBuffer(HANDLE console) : m_console(console) {}

protected:
    int_type overflow(int_type character) override
    {
        if (!traits_type::eq_int_type(character, traits_type::eof()))
            m_pending.push_back(traits_type::to_char_type(character));
        return traits_type::not_eof(character);
    }

    std::streamsize xsputn(const char *text, std::streamsize size) override
    {
        m_pending.append(text, static_cast<std::size_t>(size));
        return size;
    }

    int sync() override
    {
        // A character cut by the end of what was written so far waits for its other bytes.
        std::size_t complete = m_pending.size();
        for (std::size_t back = 1; back <= 3 && back <= m_pending.size(); ++back) {
            const auto byte = static_cast<unsigned char>(m_pending[m_pending.size() - back]);
            if ((byte & 0xc0) == 0x80)
                continue;
            const std::size_t length = byte >= 0xf0 ? 4 : byte >= 0xe0 ? 3 : byte >= 0xc0 ? 2 : 1;
            if (length > back)
                complete = m_pending.size() - back;
            break;
        }
        const int size = static_cast<int>(complete);
        std::wstring text(static_cast<std::size_t>(
                              MultiByteToWideChar(CP_UTF8, 0, m_pending.data(), size, nullptr, 0)),
                          L'\0');
        MultiByteToWideChar(CP_UTF8, 0, m_pending.data(), size, text.data(),
                            static_cast<int>(text.size()));
        m_pending.erase(0, complete);
        DWORD written = 0;
        return text.empty() || WriteConsoleW(m_console, text.data(),
                                             static_cast<DWORD>(text.size()), &written, nullptr)
                   ? 0
                   : -1;
    }

private:
    HANDLE m_console;
    std::string m_pending;
};

// What useTerminal put in place, given back at the end.
struct ConsoleStreams
{
    UniqueHandle borrowedOutput;
    std::unique_ptr<ConsoleBuffer> out;
    std::unique_ptr<ConsoleBuffer> err;
    std::streambuf *previousOut = nullptr;
    std::streambuf *previousErr = nullptr;

    ~ConsoleStreams()
    {
        if (out) {
            std::cout.flush();
            std::cout.rdbuf(previousOut);
        }
        if (err) {
            std::cerr.flush();
            std::cerr.rdbuf(previousErr);
        }
    }
};

} // namespace

ProgramStart::ProgramStart()
{
    // An empty reader or a pulled stick is then a "not ready" error for the program to report,
    // not a system dialog asking for a disk.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

void ProgramStart::useTerminal()
{
    if (m_restore)
        return;
    auto streams = std::make_shared<ConsoleStreams>();
    // A window program gets no console of its own. Started from a command prompt, it writes to
    // the prompt's; streams already redirected to a file or a pipe stay where they are.
    const bool outMissing = !hasHandle(STD_OUTPUT_HANDLE);
    const bool errMissing = !hasHandle(STD_ERROR_HANDLE);
    const bool borrowed = (outMissing || errMissing) && AttachConsole(ATTACH_PARENT_PROCESS);
    if (borrowed)
        streams->borrowedOutput.reset(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
    const auto consoleFor = [&](DWORD stream, bool missing) -> HANDLE {
        const HANDLE handle = missing ? streams->borrowedOutput.get() : GetStdHandle(stream);
        return isConsole(handle) ? handle : nullptr;
    };
    if (const HANDLE console = consoleFor(STD_OUTPUT_HANDLE, outMissing)) {
        streams->out = std::make_unique<ConsoleBuffer>(console);
        streams->previousOut = std::cout.rdbuf(streams->out.get());
    }
    if (const HANDLE console = consoleFor(STD_ERROR_HANDLE, errMissing)) {
        streams->err = std::make_unique<ConsoleBuffer>(console);
        streams->previousErr = std::cerr.rdbuf(streams->err.get());
    }
    // The prompt goes on reading its console as soon as a window program starts, so a borrowed
    // console is no place to ask a question: --si answers it in advance.
    m_inIsTerminal = !borrowed && isConsole(GetStdHandle(STD_INPUT_HANDLE));
    m_errIsTerminal = streams->err != nullptr;
    m_restore = [streams]() mutable { streams.reset(); };
}

bool ProgramStart::hasDisplay()
{
    // The windows platform draws on the user's desktop, which a started program always has.
    return true;
}

void ProgramStart::setWindowIcon()
{
    // Windows gives every window of the program the icon of its .exe, which carries ours.
}
