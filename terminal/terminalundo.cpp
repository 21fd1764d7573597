#include "terminalundo.h"

#include "fileerror.h"
#include "lastrunundo.h"
#include "process.h"
#include "recovery.h"
#include "undotexts.h"

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace {

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
    streams.err << undotexts::question(count) << " [s/N] " << std::flush;
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
        if (!undo.anyToRestore()) {
            undo.restore(); // what an undo stopped before its end left in the record
            if (count == 0) {
                streams.out << undotexts::kNothingToUndo << '\n';
                return 0;
            }
            streams.err << undotexts::kNothingKept << '\n';
            return kSomeChanged;
        }
        if (!confirmed(command, streams, count))
            return kNotConfirmed;
        // A stop signal ends it between two scripts, each of them whole.
        const std::vector<std::string> changed =
            undo.restore([] { return Process::stopSignal() == 0; });
        if (undo.stopped()) {
            streams.err << undotexts::stopped(undo.restored(), count) << '\n';
            return kStoppedBySignal + Process::stopSignal();
        }
        if (changed.empty() && undo.notKept().empty()) {
            streams.out << undotexts::kRestored << '\n';
            return 0;
        }
        if (!changed.empty()) {
            // Each with where its original is kept, for the user to compare and choose.
            streams.err << undotexts::changedSince(undo.restored(), count, changed.size()) << '\n';
            for (const std::string &name : changed)
                streams.err << shownName(name)
                            << "  (original: " << shownPath(undo.keptPathOf(name)) << ")\n";
        }
        if (!undo.notKept().empty()) {
            streams.err << undotexts::notKept(undo.restored(), count, undo.notKept().size())
                        << '\n';
            for (const std::string &name : undo.notKept())
                streams.err << shownName(name) << '\n';
        }
        return kSomeChanged;
    } catch (const FileError &error) {
        streams.err << failureText(error, command) << '\n';
        return error.number();
    }
}
