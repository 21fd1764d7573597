#include "terminalundo.h"

#include "fileerror.h"
#include "lastrunundo.h"
#include "process.h"
#include "recovery.h"

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr int kNotConfirmed = 1;
constexpr int kSomeChanged = 3;
// The shell's way to tell a program ended by a signal: 128 and the signal's number.
constexpr int kStoppedBySignal = 128;

bool confirmed(const CommandLine &command, TerminalStreams streams, std::size_t count)
{
    if (command.yes)
        return true;
    if (!streams.inIsTerminal) {
        streams.err << "Sin una terminal no se puede confirmar: añada --si para restaurar los "
                       "scripts de la carpeta.\n";
        return false;
    }
    streams.err << "Se restaurarán los " << count
                << " scripts modificados por la última ejecución en esta carpeta. ¿Desea "
                   "continuar? [s/N] "
                << std::flush;
    std::string answer;
    if (!Process::waitForInput() || !std::getline(streams.in, answer) ||
        Process::stopSignal() != 0) {
        streams.err << '\n';
        return false;
    }
    return answeredYes(answer);
}

} // namespace

int undoFromTerminal(const CommandLine &command, TerminalStreams streams)
{
    // A run or an undo that was killed is finished first, so that undo sees whole scripts.
    tellSetAside(streams.err, finishInterruptedRewrites());
    try {
        LastRunUndo undo(folderOf(command));
        const std::size_t count = undo.count();
        if (count == 0) {
            undo.restore(); // what an undo stopped before its end left in the record
            streams.out << "No hay cambios que deshacer en esta carpeta.\n";
            return 0;
        }
        if (!confirmed(command, streams, count))
            return kNotConfirmed;
        // A stop signal ends it between two scripts, each of them whole.
        const std::vector<std::string> changed =
            undo.restore([] { return Process::stopSignal() == 0; });
        if (undo.stopped()) {
            streams.err << "Deshacer interrumpido: se restauraron " << undo.restored() << " de "
                        << count << " scripts; los demás quedan como estaban.\n";
            return kStoppedBySignal + Process::stopSignal();
        }
        if (changed.empty() && undo.notKept().empty()) {
            streams.out << "¡Etiquetas restauradas!\n";
            return 0;
        }
        const auto list = [&](const char *why, const std::vector<std::string> &names) {
            if (names.empty())
                return;
            streams.err << "Se restauraron " << undo.restored() << " de " << count << " scripts; "
                        << why << ":\n";
            for (const std::string &name : names)
                streams.err << shownName(name) << '\n';
        };
        list("estos cambiaron después y no se tocaron", changed);
        list("estos no se pudieron guardar y siguen cambiados", undo.notKept());
        return kSomeChanged;
    } catch (const FileError &error) {
        streams.err << failureText(error, command) << '\n';
        return error.number();
    }
}
