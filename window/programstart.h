#pragma once

#include <QStringList>

#include <functional>

// What the program finds where it was started, which each platform tells in its own way: the
// arguments as the user typed them, the terminal it was started from, and whether a window can
// be shown (programstart_posix.cpp, programstart_win32.cpp).
class ProgramStart
{
public:
    ProgramStart(int argc, char *argv[]);
    ~ProgramStart()
    {
        if (m_restore)
            m_restore();
    }
    ProgramStart(const ProgramStart &) = delete;
    ProgramStart &operator=(const ProgramStart &) = delete;

    // The program's name first, as argv has it.
    const QStringList &arguments() const { return m_arguments; }

    // For the actions that print instead of opening the window: makes standard output and error
    // reach the terminal the program was started from, Spanish text intact, and tells which
    // streams are a terminal a person answers at. Once is enough; later calls change nothing.
    void useTerminal();
    bool inIsTerminal() const { return m_inIsTerminal; }
    bool errIsTerminal() const { return m_errIsTerminal; }

    // Whether the window system Qt is going to use can be reached. Qt ends the process when it
    // cannot, so the program checks first and says so in Spanish.
    static bool hasDisplay();

private:
    QStringList m_arguments;
    bool m_inIsTerminal = false;
    bool m_errIsTerminal = false;
    // Gives back what useTerminal changed outside the program, at the end.
    std::function<void()> m_restore;
};
