#include "cmdcambiar.h"

#include "fileerror.h"
#include "modificarscript.h"

#include <array>
#include <new>
#include <optional>

namespace {

constexpr std::array kDelimiterFields{Control::txtCierreIz, Control::txtCierreDer,
                                      Control::txtNewCierreIz, Control::txtNewCierreDer};

constexpr std::array kLockedSet{
    Control::Dir1,         Control::File1,          Control::Drive1,         Control::txtCierreIz,
    Control::txtCierreDer, Control::txtNewCierreIz, Control::txtNewCierreDer};

constexpr const char *kConfirmation = "Todos los scripts contenidos en el\r\n"
                                      "directorio actual serán modificados.\r\n"
                                      "\r\n"
                                      "¿Desea continuar?";

// Rewrites the scripts of the list one by one, then makes the run final; false when the window
// is closing.
bool rewriteEach(WindowOperations &window, RewriteRun &run)
{
    const std::int32_t count = window.fileCount();
    const std::int32_t last = count - 1;
    for (std::int32_t index = 0; index <= last; ++index) {
        window.handlePendingEvents();
        if (window.isClosing())
            return false;
        window.selectFile(index);
        window.showProgress(index + 1, count, 0, 0);
        // A huge script keeps the window alive, and a close abandons it cleanly.
        const ScriptProgress progress = [&window, index, count](std::uint64_t done,
                                                                std::uint64_t total) {
            window.showProgress(index + 1, count, done, total);
            // A script read whole goes on to its replacement; the round before the next script
            // comes soon enough, and one round a script is what a run of small ones can afford.
            if (done >= total)
                return true;
            window.handlePendingEvents();
            return !window.isClosing();
        };
        run.rewrite(window.currentFileName(), readCierres(window), progress);
    }
    // A close that came during the last script ends the program without a word.
    window.handlePendingEvents();
    if (window.isClosing())
        return false;
    run.finish();
    return true;
}

// Runs steps that may fail on the file system; false when the window is closing.
bool rewriteAll(WindowOperations &window)
{
    for (Control control : kLockedSet)
        window.setEnabled(control, false);
    window.freezeFileList();

    // Held before anything is written, so that the whole run works in the folder listed.
    RewriteRun run(window.holdFolder(), RewriteRun::Flushes::Batched);
    run.keepOriginals(readCierres(window));
    // Told however the run ends: what it changed is what an undo takes back.
    struct Teller
    {
        RewriteRun &run;
        WindowOperations &window;
        ~Teller()
        {
            if (!run.originalsKept())
                window.originalsNotKept(run.keepTroubles());
        }
    } teller{run, window};
    // A failure tells how many scripts were changed before it, as a finished run does.
    try {
        if (!rewriteEach(window, run))
            return false;
    } catch (const FileError &) {
        window.reportChanged(static_cast<std::int32_t>(run.replaced()));
        throw;
    }
    for (Control control : kUnlockedAfterRun)
        window.setEnabled(control, true);
    // A failed run leaves Dir1 locked, so the list has nothing to catch up with until then.
    window.thawFileList();
    window.reportChanged(static_cast<std::int32_t>(run.replaced()));
    return true;
}

} // namespace

Cierres readCierres(WindowOperations &window)
{
    return Cierres{window.fieldText(Control::txtCierreIz), window.fieldText(Control::txtCierreDer),
                   window.fieldText(Control::txtNewCierreIz),
                   window.fieldText(Control::txtNewCierreDer)};
}

bool readyToRun(WindowOperations &window)
{
    if (window.fileCount() <= 0)
        return false;

    for (Control field : kDelimiterFields) {
        if (window.fieldText(field).empty()) {
            window.messageBox("Debe configurar todo", MessageStyle::Ok, "");
            window.setFocus(field);
            return false;
        }
    }
    return true;
}

std::optional<FileError> cmdCambiar_Click(WindowOperations &window)
{
    if (!readyToRun(window))
        return std::nullopt;

    if (window.messageBox(kConfirmation, MessageStyle::YesNoCancelWarning, "Advertencia") !=
        MessageAnswer::Yes)
        return std::nullopt;

    std::optional<FileError> failure;
    try {
        const bool finished = rewriteAll(window);
        window.endProgress();
        if (!finished)
            return std::nullopt;
    } catch (const RewriteAbandoned &) {
        window.endProgress();
        return std::nullopt;
    } catch (const FileError &error) {
        window.endProgress();
        failure = error;
    } catch (const std::bad_alloc &) {
        window.endProgress();
        failure = FileError::outOfMemory();
    }

    if (failure)
        window.messageBox(failure->what(), MessageStyle::Ok, "");
    else
        window.messageBox("¡Etiquetas modificadas!", MessageStyle::Ok, "");
    return failure;
}
