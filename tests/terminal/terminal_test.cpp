#include "recoverypolicy.h"
#include "temporaryfolder.h"
#include "terminalrun.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

extern char **environ;

namespace {

namespace fs = std::filesystem;

const std::string kLeftMessage = "Entradas permitidas: { [ ( < / \\~";
const std::string kRightMessage = "Entradas permitidas: } ] ) > / \\ ~";

struct Outcome
{
    int status = -1; // exit status, or -1 when ended by a signal
    std::string out;
    std::string err;
};

// The environment of a build job or an ssh session: no display of any kind.
std::vector<std::string> environmentWithoutDisplay()
{
    std::vector<std::string> kept;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        if (!variable.starts_with("DISPLAY=") && !variable.starts_with("WAYLAND_DISPLAY=") &&
            !variable.starts_with("QT_QPA_PLATFORM="))
            kept.push_back(variable);
    }
    return kept;
}

[[noreturn]] void execProgram(const std::vector<std::string> &arguments)
{
    std::vector<std::string> storage = arguments;
    storage.insert(storage.begin(), DOVEZURAD_PROGRAM);
    std::vector<char *> argv;
    for (std::string &argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = environmentWithoutDisplay();
    std::vector<char *> envp;
    for (std::string &variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
}

int waitFor(pid_t child)
{
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Pipe
{
public:
    Pipe()
    {
        if (::pipe2(m_ends.data(), O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
    }
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;
    ~Pipe()
    {
        closeRead();
        closeWrite();
    }
    int read() const { return m_ends[0]; }
    int write() const { return m_ends[1]; }
    void closeRead() { closeEnd(0); }
    void closeWrite() { closeEnd(1); }

private:
    void closeEnd(std::size_t end)
    {
        if (m_ends[end] >= 0)
            ::close(m_ends[end]);
        m_ends[end] = -1;
    }
    std::array<int, 2> m_ends{-1, -1};
};

// Reads what the program writes to out and err (EIO from a terminal is its end), and waits for it.
Outcome collect(pid_t child, int out, int err)
{
    Outcome outcome;
    std::array<pollfd, 2> streams{pollfd{out, POLLIN, 0}, pollfd{err, POLLIN, 0}};
    std::array<std::string *, 2> into{&outcome.out, &outcome.err};
    int open = 2;
    while (open > 0 && ::poll(streams.data(), streams.size(), 10000) > 0) {
        for (std::size_t i = 0; i < streams.size(); ++i) {
            if (streams[i].fd < 0 || streams[i].revents == 0)
                continue;
            std::array<char, 4096> buffer{};
            const ssize_t got = ::read(streams[i].fd, buffer.data(), buffer.size());
            if (got <= 0) {
                streams[i].fd = -1;
                --open;
            } else {
                into[i]->append(buffer.data(), static_cast<std::size_t>(got));
            }
        }
    }
    outcome.status = waitFor(child);
    return outcome;
}

// Runs the program with pipes for its three streams: nobody at a terminal.
Outcome run(const std::vector<std::string> &arguments, const std::string &input = "")
{
    Pipe in;
    Pipe out;
    Pipe err;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(in.read(), STDIN_FILENO);
        ::dup2(out.write(), STDOUT_FILENO);
        ::dup2(err.write(), STDERR_FILENO);
        execProgram(arguments);
    }
    in.closeRead();
    out.closeWrite();
    err.closeWrite();
    if (!input.empty()) {
        EXPECT_EQ(::write(in.write(), input.data(), input.size()),
                  static_cast<ssize_t>(input.size()));
    }
    in.closeWrite();
    return collect(child, out.read(), err.read());
}

// True once the program waits in a write to `fd`: the terminal holds it there.
bool heldWriting(pid_t program, int fd)
{
    for (int tries = 0; tries < 3000; ++tries) {
        std::ifstream call("/proc/" + std::to_string(program) + "/syscall");
        long number = -1;
        std::string argument;
        if (call >> number >> argument && number == SYS_write &&
            argument == "0x" + std::to_string(fd))
            return true;
        ::usleep(10000);
    }
    return false;
}

// Runs the program as a shell does with its output sent on: standard error on a terminal, where
// progress shows, and standard output into a pipe (or, with `stream` STDOUT_FILENO, the other way
// round). With `whileHeld`, the terminal holds the program in its first write there until
// `whileHeld` has run.
Outcome runWithTerminal(const std::vector<std::string> &arguments,
                        const std::function<void(pid_t)> &whileHeld = {},
                        int stream = STDERR_FILENO)
{
    int terminal = -1;
    int errors = -1;
    if (::openpty(&terminal, &errors, nullptr, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty");
    if (whileHeld)
        ::tcflow(errors, TCOOFF);
    Pipe out;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(errors, stream);
        ::dup2(out.write(), stream == STDERR_FILENO ? STDOUT_FILENO : STDERR_FILENO);
        ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
        execProgram(arguments);
    }
    out.closeWrite();
    if (whileHeld) {
        EXPECT_TRUE(heldWriting(child, stream));
        whileHeld(child);
        ::tcflow(errors, TCOON);
    }
    ::close(errors);
    const Outcome outcome = stream == STDERR_FILENO ? collect(child, out.read(), terminal)
                                                    : collect(child, terminal, out.read());
    ::close(terminal);
    return outcome;
}

// Runs the program on a pseudo-terminal, typing answer when it asks, or sending stopSignal
// instead when one is given; returns all it showed.
Outcome runOnTerminal(const std::vector<std::string> &arguments, const std::string &answer,
                      int stopSignal = 0)
{
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child == 0)
        execProgram(arguments);
    Outcome outcome;
    bool answered = false;
    for (;;) {
        pollfd stream{terminal, POLLIN, 0};
        if (::poll(&stream, 1, 10000) <= 0)
            break;
        std::array<char, 4096> buffer{};
        const ssize_t got = ::read(terminal, buffer.data(), buffer.size());
        if (got <= 0)
            break; // EIO once the program has gone
        outcome.out.append(buffer.data(), static_cast<std::size_t>(got));
        if (!answered && outcome.out.find("[s/N]") != std::string::npos) {
            const std::string line = answer + "\n";
            if (stopSignal != 0)
                ::kill(child, stopSignal);
            else
                EXPECT_EQ(::write(terminal, line.data(), line.size()),
                          static_cast<ssize_t>(line.size()));
            answered = true;
        }
    }
    ::close(terminal);
    outcome.status = waitFor(child);
    return outcome;
}

std::string contents(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every file under a folder, the folder itself included, as a dry run must leave it: its bytes, its
// inode and the times of its last change (a read may move the access time).
std::vector<std::string> filesAsTheyAre(const fs::path &folder)
{
    std::vector<fs::path> paths{folder};
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        paths.push_back(entry.path());
    std::vector<std::string> files;
    for (const fs::path &path : paths) {
        struct stat status
        {
        };
        EXPECT_EQ(::lstat(path.c_str(), &status), 0);
        files.push_back(path.string() + " " + std::to_string(status.st_ino) + " " +
                        std::to_string(status.st_mtim.tv_sec) + "." +
                        std::to_string(status.st_mtim.tv_nsec) + " " +
                        std::to_string(status.st_ctim.tv_sec) + "." +
                        std::to_string(status.st_ctim.tv_nsec) + " " +
                        (S_ISREG(status.st_mode) ? contents(path) : ""));
    }
    return files;
}

class TerminalRun : public ::testing::Test
{
protected:
    TemporaryFolder m_folder;
    TemporaryFolder m_state; // where the program keeps the record of a run

    void SetUp() override { ::setenv("XDG_STATE_HOME", m_state.path().c_str(), 1); }

    fs::path write(const std::string &name, const std::string &text)
    {
        writeFile(m_folder.path() / name, text);
        return m_folder.path() / name;
    }
    std::string read(const std::string &name) const { return contents(m_folder.path() / name); }
    std::string folder() const { return m_folder.path().string(); }
};

TEST(TerminalCommandLine, HelpAndVersionNeedNoDisplay)
{
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("Uso: dovezurad [CARPETA]\n")) << help.out;
    EXPECT_NE(help.out.find("--cambiar XY"), std::string::npos);

    const Outcome version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("dovezurad ") + DOVEZURAD_VERSION + "\n");
}

TEST(TerminalCommandLine, WindowWithoutADisplayIsRefusedInSpanishWithoutACrash)
{
    const Outcome outcome = run({});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("la ventana necesita una pantalla"), std::string::npos)
        << outcome.err;
}

TEST(TerminalCommandLine, WrongUseEndsWithStatusTwo)
{
    const struct
    {
        std::vector<std::string> arguments;
        const char *says = "";
    } cases[] = {{{"--cambiar", "{}"}},
                 {{"--cambiar", "{", "--por", "<>"}},
                 {{"--si"}},
                 {{"--simular"}},
                 {{"--deshacer", "--simular"}},
                 {{"--cambiar", "{}", "--cambiar", "[]", "--por", "<>"}},
                 {{"--cambiar", "{}", "--por", "<>", "--por", "[]"}},
                 {{"--desconocida"}},
                 {{"--cambiar", "{}", "--por"}, "Falta el valor de --por."},
                 {{"--por", "<>", "--cambiar"}, "Falta el valor de --cambiar."}};
    for (const auto &c : cases) {
        const Outcome outcome = run(c.arguments);
        EXPECT_EQ(outcome.status, 2) << c.arguments.front();
        EXPECT_TRUE(outcome.err.starts_with(std::string("dovezurad: ") + c.says)) << outcome.err;
    }
}

TEST_F(TerminalRun, CharacterOutsideItsSetIsRefusedNamingItsOptionThenWithTheFieldsMessage)
{
    write("a.txt", "{a}");
    const struct
    {
        const char *cambiar;
        const char *por;
        const char *refusal;
        const std::string &message;
    } cases[] = {{"}}", "<>", "--cambiar: «}» no es un delimitador izquierdo", kLeftMessage},
                 {"{{", "<>", "--cambiar: «{» no es un delimitador derecho", kRightMessage},
                 {"{}", "a>", "--por: «a» no es un delimitador izquierdo", kLeftMessage},
                 {"{}", "<ñ", "--por: «ñ» no es un delimitador derecho", kRightMessage}};
    for (const auto &refused : cases) {
        const Outcome outcome =
            run({"--cambiar", refused.cambiar, "--por", refused.por, "--si", folder()});
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.err, std::string("dovezurad: ") + refused.refusal + " permitido\n" +
                                   refused.message + "\n");
    }
    EXPECT_EQ(read("a.txt"), "{a}");
}

TEST_F(TerminalRun, RewritesTheScriptsTheWindowListsAndSaysSo)
{
    write("1.txt", " {uno} ");
    write("10.TXT", "{diez}");
    write("notas.md", "{md}");
    write(".oculto.txt", "{oculto}");
    fs::create_directory(m_folder.path() / "carpeta.txt");

    const Outcome outcome = run({"--cambiar", "{}", "--por", "[]", "--sí", folder()});

    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "¡Etiquetas modificadas!\n");
    EXPECT_EQ(outcome.err, "2 de 2 scripts cambiados\n"); // no progress without a terminal
    EXPECT_EQ(read("1.txt"), "[uno]");
    EXPECT_EQ(read("10.TXT"), "[diez]");
    EXPECT_EQ(read("notas.md"), "{md}");
    EXPECT_EQ(read(".oculto.txt"), "{oculto}");
}

// Another user's script, named to break the listing into false lines or to command the terminal:
// its name is shown escaped, in the dry run, in undo's list and in what recovery set aside alike.
TEST_F(TerminalRun, AScriptsNameNeverCommandsTheTerminal)
{
    const std::string name = "a\n0 de 0 scripts cambiarían\x1b]0;x\x07\\\xc2\x9b\x9b.txt";
    const std::string shown = "a\\x0a0 de 0 scripts cambiarían\\x1b]0;x\\x07\\\\\\u009b\\x9b.txt";
    write(name, "{a}");
    EXPECT_EQ(run({"--simular", "--cambiar", "{}", "--por", "<>", folder()}).out,
              shown + ": 0 espacios quitados, 1 delimitador izquierdo y 1 derecho cambiado\n" +
                  "1 de 1 script cambiaría\n");
    ASSERT_EQ(run({"--cambiar", "{}", "--por", "<>", "--si", folder()}).status, 0);
    write(name, "<a> editado");
    EXPECT_EQ(run({"--deshacer", "--si", folder()}).err,
              "Se restauraron 0 de 1 script; este cambió después y no se tocó:\n" + shown +
                  "  (original: .dovezurad.deshacer/1-64/1)\n");
    std::ostringstream setAside;
    tellSetAside(setAside, {"«" + name + "»", "b"});
    EXPECT_EQ(setAside.str(), "«" + shown + "»\nb\n");
    // A folder's name too, where a failure names it.
    EXPECT_EQ(run({"--deshacer", "--si", folder() + "/" + name}).err,
              "76 No se encontró la ruta de acceso: no existe la carpeta " + folder() + "/" +
                  shown + "\n");
}

// Numbers sort by value, as in the window: 10.txt comes after the read-only 2.txt, so the run
// stops before it.
TEST_F(TerminalRun, ReadOnlyScriptInTheMiddleStopsTheRunWithItsErrorNumber)
{
    write("1.txt", "{1}");
    ::chmod(write("2.txt", "{2}").c_str(), 0444);
    write("10.txt", "{10}");

    // A dry run names the script it cannot read with the run's words, and goes on; its status is
    // that first error's number.
    const std::string changes = ": 0 espacios quitados, 1 delimitador izquierdo y 1 derecho "
                                "cambiado\n";
    const Outcome dry = run({"--simular", "--cambiar", "{}", "--por", "<>", folder()});
    EXPECT_EQ(dry.status, 75);
    EXPECT_EQ(dry.err, "");
    EXPECT_EQ(dry.out, "1.txt" + changes + "2.txt: 75 Error de acceso a la ruta o el archivo\n" +
                           "10.txt" + changes +
                           "2 de 3 scripts cambiarían\n1 script no se pudo leer\n");
    EXPECT_EQ(read("1.txt"), "{1}");

    // The run says how far it came, then the failure with its script.
    const Outcome outcome = run({"--cambiar", "{}", "--por", "<>", "--si", folder()});

    EXPECT_EQ(outcome.status, 75);
    EXPECT_EQ(outcome.err, "1 de 3 scripts cambiados; los demás quedan como estaban.\n"
                           "75 Error de acceso a la ruta o el archivo: 2.txt\n");
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(read("1.txt"), "<1>");
    EXPECT_EQ(read("2.txt"), "{2}");
    EXPECT_EQ(read("10.txt"), "{10}");
}

// Both roads, delimiters that chain ("/" becomes "(" while ")" becomes "/"), spaces at one end.
TEST_F(TerminalRun, ADryRunChangesNothingAndListsWhatTheRunThenChanges)
{
    const std::vector<std::pair<std::string, std::string>> scripts{
        {"1 capítulo.txt", "  /uno) y /dos)"},
        {"2.txt", "nada que cambiar"},
        {"3.txt", "(ya) /   "},
        {"4.txt", std::string("\xff\xfe \0/\0a\0)\0 \0", 12)},
        {"5.txt", "   "}};
    for (const auto &[name, text] : scripts)
        write(name, text);
    // What a killed run left, which only the next real run cleans up.
    const fs::path records = m_state.path() / "dovezurad";
    fs::create_directory(records);
    fs::permissions(records, fs::perms::owner_all, fs::perm_options::replace);
    writeFile(records / "0123456789abcdef.registro",
              recordFolder(folder()) + recordTemporaryNames({".dovezurad-0123456789abcdef"}));
    write(".dovezurad-0123456789abcdef", "resto");
    const std::vector<std::string> folderBefore = filesAsTheyAre(m_folder.path());
    const std::vector<std::string> stateBefore = filesAsTheyAre(m_state.path());

    const Outcome dry = run({"--simular", "--cambiar", "/)", "--por", "(/", folder()});

    EXPECT_EQ(dry.status, 0);
    EXPECT_EQ(dry.err, "");
    EXPECT_EQ(dry.out,
              "1 capítulo.txt: 2 espacios quitados, 2 delimitadores izquierdos y 2 derechos "
              "cambiados\n"
              "3.txt: 3 espacios quitados, 1 delimitador izquierdo y 1 derecho cambiado\n"
              "4.txt: 2 espacios quitados, 1 delimitador izquierdo y 1 derecho cambiado\n"
              "5.txt: 3 espacios quitados, 0 delimitadores izquierdos y 0 derechos cambiados\n"
              "4 de 5 scripts cambiarían\n");
    EXPECT_EQ(filesAsTheyAre(m_folder.path()), folderBefore);
    EXPECT_EQ(filesAsTheyAre(m_state.path()), stateBefore);

    const Outcome real = run({"--cambiar", "/)", "--por", "(/", "--si", folder()});
    EXPECT_EQ(real.err, "4 de 5 scripts cambiados\n");
    EXPECT_FALSE(fs::exists(m_folder.path() / ".dovezurad-0123456789abcdef"));
    for (const auto &[name, text] : scripts)
        EXPECT_EQ(dry.out.find(name + ": ") != std::string::npos, read(name) != text) << name;
}

// Given as the last argument: the window, whose one argument it is, says so as the command line
// does, before it looks for a display; so does undo.
TEST_F(TerminalRun, AFolderThatIsNotThereIsNamedWithItsErrorNumber)
{
    const std::string file = write("a.txt", "{a}").string();
    const std::string missing = folder() + "/no-existe";
    for (const std::vector<std::string> &arguments :
         std::vector<std::vector<std::string>>{{"--cambiar", "{}", "--por", "<>", "--si", missing},
                                               {"--cambiar", "{}", "--por", "<>", "--si", file},
                                               {missing},
                                               {"--deshacer", "--si", missing}}) {
        const Outcome outcome = run(arguments);
        EXPECT_EQ(outcome.status, 76) << arguments.front();
        EXPECT_EQ(outcome.err, "76 No se encontró la ruta de acceso: no existe la carpeta " +
                                   arguments.back() + "\n");
    }
    EXPECT_EQ(read("a.txt"), "{a}");
}

TEST_F(TerminalRun, AFolderIsTheOneItsBytesNameNotALookAlike)
{
    const std::string named = folder() + "/a\xff";
    const std::string lookAlike = folder() + "/a\xef\xbf\xbd"; // "a" and U+FFFD
    writeFile(named + "/s.txt", "{a}");
    writeFile(lookAlike + "/s.txt", "{a}");

    EXPECT_EQ(run({"--cambiar", "{}", "--por", "<>", "--si", named}).status, 0);
    EXPECT_EQ(contents(named + "/s.txt"), "<a>");
    EXPECT_EQ(contents(lookAlike + "/s.txt"), "{a}");
}

TEST_F(TerminalRun, EmptyFolderIsASilentSuccess)
{
    write("notas.md", "{md}");
    const Outcome outcome = run({"--cambiar", "{}", "--por", "<>", folder()});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out + outcome.err, "");
}

TEST_F(TerminalRun, WithoutATerminalTheRunNeedsSi)
{
    write("a.txt", "{a}");
    const Outcome outcome = run({"--cambiar", "{}", "--por", "<>", folder()}, "s\n");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("añada --si"), std::string::npos) << outcome.err;
    EXPECT_EQ(read("a.txt"), "{a}");
}

TEST_F(TerminalRun, OnATerminalItAsksTheWindowsQuestionAndShowsProgress)
{
    write("a.txt", "{a}");
    write("b.txt", "{b}");
    // A folder given as "." (here its path's last step) is named by its full path.
    const std::vector<std::string> arguments{"--cambiar", "{}", "--por", "<>", folder() + "/."};

    const Outcome declined = runOnTerminal(arguments, "");
    EXPECT_EQ(declined.status, 1);
    EXPECT_EQ(read("a.txt"), "{a}");
    const Outcome stopped = runOnTerminal(arguments, "", SIGHUP);
    EXPECT_EQ(stopped.status, 128 + SIGHUP);
    EXPECT_EQ(read("a.txt"), "{a}");

    const Outcome accepted = runOnTerminal(arguments, "s");
    EXPECT_EQ(accepted.status, 0);
    EXPECT_NE(accepted.out.find("Todos los scripts contenidos en la carpeta\r\n" + folder() +
                                "\r\nserán modificados.\r\n\r\n¿Desea continuar? [s/N]"),
              std::string::npos)
        << accepted.out;
    EXPECT_NE(accepted.out.find("2 de 2"), std::string::npos);
    EXPECT_NE(accepted.out.find("¡Etiquetas modificadas!"), std::string::npos);
    EXPECT_EQ(read("a.txt"), "<a>");
    EXPECT_EQ(read("b.txt"), "<b>");
}

// Nobody reads the output any more (a pager quit, a closed pipe): the run is the same.
TEST_F(TerminalRun, AClosedOutputChangesNoOutcome)
{
    write("a.txt", "{a}");
    Pipe out;
    out.closeRead();
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out.write(), STDOUT_FILENO);
        execProgram({"--cambiar", "{}", "--por", "<>", "--si", folder()});
    }
    EXPECT_EQ(waitFor(child), 0);
    EXPECT_EQ(read("a.txt"), "<a>");
}

// The terminal shows progress and ends its line; standard output gets the final message alone,
// so that a script reading it never sees "n de N".
TEST_F(TerminalRun, ProgressGoesToTheTerminalOnALineOfItsOwnAndNeverToTheOutput)
{
    write("a.txt", "{a}");
    write("b.txt", "{b}");
    const Outcome outcome = runWithTerminal({"--cambiar", "{}", "--por", "<>", "--si", folder()});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "¡Etiquetas modificadas!\n");
    EXPECT_EQ(outcome.err, "\r1 de 2\r2 de 2\r\n2 de 2 scripts cambiados\r\n");
}

// A stop from outside ends the run between two steps, whole: the script under way is finished
// or left as it was, those before are settled, and nothing stays for a later start to recover.
TEST_F(TerminalRun, AStopSignalEndsTheRunWholeAndSaysHowFarItCame)
{
    const std::string big(3 << 20, '{'); // read in several pieces, so it can be left halfway
    const struct
    {
        int signal;
        std::vector<std::string> before, after; // 1.txt, 2.txt, 3.txt
        char done;
    } cases[] = {{SIGINT, {"{a}", big, "{c}"}, {"<a>", big, "{c}"}, '1'},
                 {SIGTERM, {big, "{b}", "{c}"}, {big, "{b}", "{c}"}, '0'}};
    for (const auto &stop : cases) {
        for (std::size_t i = 0; i < stop.before.size(); ++i)
            write(std::to_string(i + 1) + ".txt", stop.before[i]);

        // Held showing "1 de 3", the program is stopped before its first script is read.
        const Outcome outcome =
            runWithTerminal({"--cambiar", "{}", "--por", "<>", "--si", folder()},
                            [&](pid_t program) { ::kill(program, stop.signal); });

        EXPECT_EQ(outcome.status, 128 + stop.signal);
        EXPECT_NE(outcome.err.find(std::string("interrumpida: se procesaron ") + stop.done),
                  std::string::npos)
            << outcome.err;
        for (std::size_t i = 0; i < stop.after.size(); ++i)
            EXPECT_TRUE(read(std::to_string(i + 1) + ".txt") == stop.after[i]) << i + 1;
        // The scripts, and the area with the original the first run changed.
        EXPECT_EQ(std::distance(fs::directory_iterator(m_folder.path()), {}), 4);
        EXPECT_TRUE(!fs::exists(m_state.path() / "dovezurad") ||
                    fs::is_empty(m_state.path() / "dovezurad"));
    }

    // A dry run, held showing its first line, ends there: no total.
    const Outcome dry = runWithTerminal(
        {"--simular", "--cambiar", "{}", "--por", "<>", folder()},
        [](pid_t program) { ::kill(program, SIGTERM); }, STDOUT_FILENO);
    EXPECT_EQ(dry.status, 128 + SIGTERM);
    EXPECT_EQ(dry.out.find("cambiarían"), std::string::npos) << dry.out;
}

// --deshacer: its question, its texts and its statuses, and the warning of a run that could not
// keep its originals.
TEST_F(TerminalRun, UndoAsksTellsAndEndsWithItsStatus)
{
    const std::vector<std::string> change{"--cambiar", "{}", "--por", "<>", "--si", folder()};
    const std::vector<std::string> undo{"--deshacer", "--si", folder()};
    write("a.txt", "{a}");
    write("b.txt", "{b}");

    Outcome outcome = run(undo);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "No hay cambios que deshacer en esta carpeta.\n");

    ASSERT_EQ(run(change).status, 0);
    outcome = run({"--deshacer", folder()});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("añada --si"), std::string::npos) << outcome.err;
    outcome = runOnTerminal({"--deshacer", folder()}, "n");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.out.find("Se restaurarán los 2 scripts modificados por la última ejecución "
                               "en esta carpeta. ¿Desea continuar? [s/N]"),
              std::string::npos)
        << outcome.out;
    EXPECT_EQ(read("a.txt"), "<a>");

    outcome = runOnTerminal({"--deshacer", "--sí", folder()}, "");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.out.find("¡Etiquetas restauradas!"), std::string::npos) << outcome.out;
    EXPECT_EQ(read("a.txt") + read("b.txt"), "{a}{b}");

    ASSERT_EQ(run(change).status, 0);
    write("b.txt", "<b> editado");
    outcome = run(undo);
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.err, "Se restauró 1 de 2 scripts; este cambió después y no se tocó:\nb.txt  "
                           "(original: .dovezurad.deshacer/1-64/2)\n");
    EXPECT_EQ(read("a.txt") + read("b.txt"), "{a}<b> editado");
    // Its original stays where it said; put back as the run left it, a later undo gives it back.
    EXPECT_EQ(read(".dovezurad.deshacer/1-64/2"), "{b}");
    write("b.txt", "<b>");
    EXPECT_EQ(run(undo).out, "¡Etiquetas restauradas!\n");
    EXPECT_EQ(read("b.txt"), "{b}");

    // A run that replaces a record which could still be undone says so, once, before it asks.
    ASSERT_EQ(run(change).status, 0);
    outcome = runOnTerminal({"--cambiar", "<>", "--por", "[]", folder()}, "s");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out.find("La ejecución anterior ya no se podrá deshacer.\r\nTodos los"), 0u)
        << outcome.out;
    EXPECT_EQ(run(undo).status, 0);
    EXPECT_EQ(read("a.txt") + read("b.txt"), "<a><b>");
    write("a.txt", "{a}");
    write("b.txt", "{b}");

    // A script whose original could not be kept (a link's target lives elsewhere) is counted
    // and named, and stays as the run left it.
    const TemporaryFolder elsewhere;
    writeFile((elsewhere.path() / "c.dat").string(), "{c}");
    fs::create_symlink(elsewhere.path() / "c.dat", m_folder.path() / "c.txt");
    outcome = run(change);
    ASSERT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "Aviso: esta ejecución no se podrá deshacer del todo (un script lleva a "
                           "otra carpeta).\n3 de 3 scripts cambiados\n");
    outcome = run(undo);
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.err, "Se restauraron 2 de 3 scripts; este no se pudo guardar y sigue "
                           "cambiado:\nc.txt\n");
    EXPECT_EQ(read("a.txt") + read("b.txt") + read("c.txt"), "{a}{b}<c>");
    // A run that could keep none of its originals cannot be undone, and undo says so.
    writeFile((elsewhere.path() / "c.dat").string(), "{c}");
    write("a.txt", "<a>");
    write("b.txt", "<b>");
    ASSERT_EQ(run(change).status, 0);
    outcome = run(undo);
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.err, "La última ejecución no guardó los originales; no se puede deshacer.\n");
    fs::remove(m_folder.path() / "c.txt");
    write("a.txt", "{a}");

    // An area that is not the runner's alone: the run goes on without it, and says so.
    fs::remove_all(m_folder.path() / ".dovezurad.deshacer");
    fs::create_directory_symlink(m_state.path(), m_folder.path() / ".dovezurad.deshacer");
    outcome = run(change);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "Aviso: esta ejecución no se podrá deshacer del todo (sin permiso para "
                           "guardar los originales).\n1 de 2 scripts cambiados\n");
    EXPECT_EQ(read("a.txt"), "<a>");
    outcome = run(undo);
    EXPECT_EQ(outcome.status, 70);
    EXPECT_EQ(outcome.err,
              "70 Permiso denegado: la carpeta .dovezurad.deshacer no es una carpeta\n");

    EXPECT_EQ(run({"--deshacer", "--cambiar", "{}", "--por", "<>", folder()}).status, 2);
}

} // namespace
