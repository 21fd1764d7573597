#include "terminalrun.h"

#include "cmdcambiar.h"
#include "lastrunundo.h"
#include "nativepaths.h"
#include "originalkeeper.h"
#include "process.h"
#include "recovery.h"
#include "rewritepreview.h"
#include "runfolder.h"
#include "scriptfolder.h"
#include "undotexts.h"

#include <cerrno>
#include <filesystem>
#include <istream>
#include <new>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <vector>

namespace {

// Told where some original was not kept, for no reason the keeper named.
constexpr unsigned kNotKept = 1u << 31;

// "Aviso: esta ejecución no se podrá deshacer del todo (sin espacio o sin permiso para guardar
// los originales).", naming each cause the keeper met.
std::string notKeptWarning(unsigned troubles)
{
    std::vector<std::string> wanting;
    if (troubles & OriginalKeeper::NoRoom)
        wanting.emplace_back("sin espacio");
    if (troubles & OriginalKeeper::NoPermission)
        wanting.emplace_back("sin permiso");
    if (troubles & OriginalKeeper::TooManyFiles)
        wanting.emplace_back("con demasiados archivos abiertos");
    std::vector<std::string> causes;
    if (!wanting.empty()) {
        std::string cause = wanting.front();
        for (std::size_t i = 1; i < wanting.size(); ++i)
            cause += (i + 1 == wanting.size() ? " o " : ", ") + wanting[i];
        causes.push_back(cause + " para guardar los originales");
    }
    if (troubles & OriginalKeeper::OtherFolder)
        causes.emplace_back("un script lleva a otra carpeta");
    if ((troubles & OriginalKeeper::NotSupported) != 0 || causes.empty())
        causes.emplace_back("el sistema de archivos no lo permite");
    std::string text = "Aviso: esta ejecución no se podrá deshacer del todo (" + causes.front();
    for (std::size_t i = 1; i < causes.size(); ++i)
        text += "; " + causes[i];
    return text + ").";
}

Cierres cierresOf(const CommandLine &command)
{
    return {command.cierreIz, command.cierreDer, command.newCierreIz, command.newCierreDer};
}

// The window's operations on a terminal: the fields come from --cambiar and --por, the file
// list is the folder's scripts, the question is asked on the terminal, and the final message
// is kept for the caller to print where it belongs.
class TerminalOperations final : public WindowOperations
{
public:
    TerminalOperations(const CommandLine &command, std::string folder, NativeFolder held,
                       std::vector<std::string> scripts, TerminalStreams streams)
        : m_command(command), m_folder(std::move(folder)), m_held(std::move(held)),
          m_scripts(std::move(scripts)), m_streams(streams)
    {
    }

    std::int32_t fileCount() override { return static_cast<std::int32_t>(m_scripts.size()); }

    void selectFile(std::int32_t index) override
    {
        if (index < 0 || index >= fileCount())
            throw std::out_of_range("no such script");
        m_current = static_cast<std::size_t>(index);
    }

    std::string currentFileName() override { return m_current ? m_scripts[*m_current] : ""; }
    std::string folderPath() override { return m_folder; }
    // The scripts were listed from the folder the run holds: nothing to check them against.
    NativeFolder holdFolder() override { return std::move(m_held); }

    std::string fieldText(Control field) override
    {
        switch (field) {
        case Control::txtCierreIz:
            return m_command.cierreIz;
        case Control::txtCierreDer:
            return m_command.cierreDer;
        case Control::txtNewCierreIz:
            return m_command.newCierreIz;
        case Control::txtNewCierreDer:
            return m_command.newCierreDer;
        default:
            throw std::invalid_argument("not a delimiter field");
        }
    }

    // Nothing on a terminal to lock or to focus.
    void setEnabled(Control, bool) override {}
    void setFocus(Control) override {}

    int messageBox(const std::string &prompt, int style, const std::string &) override
    {
        if (style == MessageStyle::YesNoCancelWarning)
            return confirm(prompt);
        m_lastMessage = prompt;
        return MessageAnswer::Ok;
    }

    // The list is read once, before the run; nothing changes it meanwhile.
    void freezeFileList() override {}
    void thawFileList() override {}

    void showProgress(std::int32_t script, std::int32_t count, std::uint64_t done,
                      std::uint64_t total) override
    {
        // A script read whole is finished even if a stop comes next; one stopped before that is
        // left as it was.
        m_scriptsDone = done < total ? script - 1 : script;
        if (!m_streams.errIsTerminal || script == m_shownScript)
            return;
        m_streams.err << '\r' << script << " de " << count << std::flush;
        m_shownScript = script;
        m_progressShown = true;
    }

    // The final message goes on a line of its own, after the last "n de N".
    void endProgress() override
    {
        if (m_progressShown)
            m_streams.err << '\n';
        m_progressShown = false;
    }
    void handlePendingEvents() override {}
    // A stop signal stops the run as closing the window does. Only a stop the run has seen
    // counts: one that comes after its last look leaves it finished.
    void originalsNotKept(unsigned troubles) override { m_keepTroubles = troubles | kNotKept; }
    bool isClosing() override
    {
        if (m_stopSignal == 0)
            m_stopSignal = Process::stopSignal();
        return m_stopSignal != 0;
    }

    void reportChanged(std::int32_t changed) override { m_changed = changed; }

    const std::string &lastMessage() const { return m_lastMessage; }
    // How many scripts a finished run changed.
    std::optional<std::int32_t> changed() const { return m_changed; }
    bool refusedWithoutTerminal() const { return m_refusedWithoutTerminal; }
    // The stop signal the run ended on, or 0.
    int stopSignal() const { return m_stopSignal; }
    bool confirmed() const { return m_confirmed; }
    // Why some original could not be kept; 0 where all were.
    unsigned keepTroubles() const { return m_keepTroubles; }
    // The scripts rewritten, or left as they were because nothing in them changes, up to the
    // one under way when the run was stopped.
    std::int32_t scriptsDone() const { return m_scriptsDone; }

private:
    int confirm(const std::string &prompt)
    {
        if (replacesUndoableRun(m_held, cierresOf(m_command)))
            m_streams.err << "La ejecución anterior ya no se podrá deshacer.\n";
        m_confirmed = m_command.yes || answersYes(prompt);
        return m_confirmed ? MessageAnswer::Yes : MessageAnswer::Cancel;
    }

    bool answersYes(const std::string &prompt)
    {
        if (!m_streams.inIsTerminal) {
            m_refusedWithoutTerminal = true;
            return false;
        }
        m_streams.err << (m_command.folder.empty() ? plainLines(prompt) : namingTheFolder())
                      << " [s/N] " << std::flush;
        std::string answer;
        const bool answered = Process::waitForInput() && std::getline(m_streams.in, answer);
        if (isClosing() || !answered) {
            m_streams.err << '\n';
            return false;
        }
        return answeredYes(answer);
    }

    // The window's question, about the folder given rather than "the current one", by its full
    // path: "." names no folder a user can check.
    std::string namingTheFolder() const
    {
        std::error_code error;
        std::string folder =
            std::filesystem::absolute(m_command.folder, error).lexically_normal().string();
        if (error)
            folder = m_command.folder;
        else if (folder.size() > 1 && NativePaths::isSeparator(folder.back()))
            folder.pop_back();
        return "Todos los scripts contenidos en la carpeta\n" + shownPath(folder) +
               "\nserán modificados.\n\n¿Desea continuar?";
    }

    // The window's texts end their lines the Windows way.
    static std::string plainLines(std::string text)
    {
        std::string::size_type at = 0;
        while ((at = text.find("\r\n", at)) != std::string::npos)
            text.erase(at, 1);
        return text;
    }

    const CommandLine &m_command;
    std::string m_folder;
    NativeFolder m_held;
    std::vector<std::string> m_scripts;
    TerminalStreams m_streams;
    std::optional<std::size_t> m_current;
    std::string m_lastMessage;
    bool m_progressShown = false;
    std::int32_t m_shownScript = 0;
    bool m_refusedWithoutTerminal = false;
    bool m_confirmed = false;
    int m_stopSignal = 0;
    std::int32_t m_scriptsDone = 0;
    std::optional<std::int32_t> m_changed;
    unsigned m_keepTroubles = 0;
};

struct FolderScripts
{
    std::string folder;
    NativeFolder held; // from the listing to the run's end
    std::vector<std::string> scripts;
    int failure = 0; // told already
};

// The folder's scripts as the window lists them, read from the folder the run then holds.
FolderScripts listScripts(const CommandLine &command, std::ostream &err)
{
    FolderScripts listed;
    try {
        listed.folder = folderOf(command);
        listed.held = openRunFolder(listed.folder);
        listed.scripts = ScriptFolder::scripts(listed.held);
    } catch (const FileError &error) {
        err << failureText(error, command) << '\n';
        listed.failure = error.number();
    }
    return listed;
}

// "1 espacio quitado, 2 delimitadores izquierdos y 1 derecho cambiado": each count with its own
// number, so that a line reads as Spanish and still parses by its three figures.
std::string changesText(const ScriptChanges &changes)
{
    const auto counted = [](std::uint64_t count, const char *one, const char *many) {
        return std::to_string(count) + ' ' + (count == 1 ? one : many);
    };
    return counted(changes.spaces, "espacio quitado", "espacios quitados") + ", " +
           counted(changes.left, "delimitador izquierdo", "delimitadores izquierdos") + " y " +
           counted(changes.right, "derecho cambiado", "derechos cambiados");
}

// "n de N scripts cambiados", the noun agreeing with N.
std::string changedText(std::int32_t changed, std::int32_t count)
{
    return std::to_string(changed) + " de " + std::to_string(count) +
           (count == 1 ? " script cambiado" : " scripts cambiados");
}

// A line a script that would change or could not be read, then the total; nothing is written,
// kept or asked.
int dryRunFromTerminal(const CommandLine &command, TerminalStreams streams)
{
    FolderScripts listed = listScripts(command, streams.err);
    if (listed.failure != 0)
        return listed.failure;
    const Cierres cierres = cierresOf(command);
    int stopSignal = 0;
    const ScriptProgress goOn = [&stopSignal](std::uint64_t, std::uint64_t) {
        if (stopSignal == 0)
            stopSignal = Process::stopSignal();
        return stopSignal == 0;
    };
    try {
        RewritePreview run(std::move(listed.held));
        const RewritePreview::Totals totals = run.previewAll(
            listed.scripts, cierres,
            [&streams](const RewritePreview::Script &script) {
                streams.out << shownName(script.name) << ": "
                            << (script.failure ? script.failure->what()
                                               : changesText(script.changes))
                            << '\n';
            },
            goOn);
        if (totals.stopped)
            return kStoppedBySignal + stopSignal;
        streams.out << previewTotalText(totals.changed, listed.scripts.size()) << '\n';
        if (totals.failed == 0)
            return 0;
        streams.out << previewUnreadableText(totals.failed) << '\n';
        return totals.firstFailure->number();
    } catch (const std::bad_alloc &) {
        streams.err << FileError::outOfMemory().what() << '\n';
        return FileError::outOfMemory().number();
    }
}

} // namespace

int rewriteFromTerminal(const CommandLine &command, TerminalStreams streams)
{
    if (command.dryRun)
        return dryRunFromTerminal(command, streams);
    // What a killed run left half done is finished first; what it set aside is told.
    tellSetAside(streams.err, finishInterruptedRewrites());
    FolderScripts listed = listScripts(command, streams.err);
    if (listed.failure != 0)
        return listed.failure;

    TerminalOperations operations(command, std::move(listed.folder), std::move(listed.held),
                                  std::move(listed.scripts), streams);
    const std::optional<FileError> failure = cmdCambiar_Click(operations);
    if (operations.keepTroubles() != 0)
        streams.err << notKeptWarning(operations.keepTroubles()) << '\n';
    if (failure) {
        // What was done before it, then the failure, naming the script where it was one's.
        if (const std::optional<std::int32_t> changed = operations.changed())
            streams.err << changedText(*changed, operations.fileCount())
                        << undotexts::restStays(static_cast<std::size_t>(*changed),
                                                static_cast<std::size_t>(operations.fileCount()))
                        << '\n';
        streams.err << failureText(*failure, command) << '\n';
        return failure->number();
    }
    if (operations.stopSignal() != 0) {
        if (operations.confirmed())
            streams.err << "Ejecución interrumpida: se procesaron " << operations.scriptsDone()
                        << " de " << operations.fileCount()
                        << " scripts; los demás quedan como estaban.\n";
        return kStoppedBySignal + operations.stopSignal();
    }
    if (operations.refusedWithoutTerminal()) {
        streams.err << "Sin una terminal no se puede confirmar: añada --si para modificar los "
                       "scripts de la carpeta.\n";
        return kNotConfirmed;
    }
    if (operations.lastMessage().empty()) {
        if (operations.fileCount() == 0)
            return 0;
        streams.err << "No se modificó ningún script.\n";
        return kNotConfirmed;
    }
    if (operations.changed())
        streams.err << changedText(*operations.changed(), operations.fileCount()) << '\n';
    streams.out << operations.lastMessage() << '\n';
    return 0;
}
