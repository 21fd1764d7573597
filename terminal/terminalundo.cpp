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
        LastRunUndo undo(command.folder.empty() ? std::string(".") : command.folder);
        const std::size_t count = undo.count();
        if (count == 0) {
            undo.restore(); // what an undo stopped before its end left in the record
            streams.out << "No hay cambios que deshacer en esta carpeta.\n";
            return 0;
        }
        if (!confirmed(command, streams, count))
            return kNotConfirmed;
        const std::vector<std::string> changed = undo.restore();
        if (changed.empty()) {
            streams.out << "¡Etiquetas restauradas!\n";
            return 0;
        }
        streams.err << "Se restauraron " << count - changed.size() << " de " << count
                    << " scripts; estos cambiaron después y no se tocaron:\n";
        for (const std::string &name : changed)
            streams.err << shownName(name) << '\n';
        return kSomeChanged;
    } catch (const FileError &error) {
        streams.err << failureText(error, command) << '\n';
        return error.number();
    }
}
