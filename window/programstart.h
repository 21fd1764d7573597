#pragma once

#include <functional>

// What the program finds where it was started, which each platform tells in its own way: the
// terminal it was started from, whether a window can be shown, and where the window's icon
// comes from (programstart_posix.cpp, programstart_win32.cpp). The arguments are Process's.
class ProgramStart
{
public:
    ProgramStart();
    ~ProgramStart()
    {
        if (m_restore)
            m_restore();
    }
    ProgramStart(const ProgramStart &) = delete;
    ProgramStart &operator=(const ProgramStart &) = delete;

    // For the actions that print instead of opening the window: makes standard output and error
    // reach the terminal the program was started from, Spanish text intact, and tells which
    // streams are a terminal a person answers at. Once is enough; later calls change nothing.
    void useTerminal();
    bool inIsTerminal() const { return m_inIsTerminal; }
    bool errIsTerminal() const { return m_errIsTerminal; }

    // Whether the window system Qt is going to use can be reached. Qt ends the process when it
    // cannot, so the program checks first and says so in Spanish.
    static bool hasDisplay();

    // Gives the application's windows the program's icon; call once the application exists.
    static void setWindowIcon();

private:
    bool m_inIsTerminal = false;
    bool m_errIsTerminal = false;
    // Gives back what useTerminal changed outside the program, at the end.
    std::function<void()> m_restore;
};
