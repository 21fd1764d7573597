#include "cmdcambiar.h"

#include "cierres.h"
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

// File1 stays disabled: it is a display-only list.
constexpr std::array kUnlockedAfterRun{Control::Dir1,           Control::Drive1,
                                       Control::txtCierreIz,    Control::txtCierreDer,
                                       Control::txtNewCierreIz, Control::txtNewCierreDer};

constexpr const char *kConfirmation = "Todos los scripts contenidos en el\r\n"
                                      "directorio actual serán modificados.\r\n"
                                      "\r\n"
                                      "¿Desea continuar?";

Cierres readCierres(WindowOperations &window)
{
    return Cierres{window.fieldText(Control::txtCierreIz), window.fieldText(Control::txtCierreDer),
                   window.fieldText(Control::txtNewCierreIz),
                   window.fieldText(Control::txtNewCierreDer)};
}

// Runs steps that may fail on the file system; false when the window is closing.
bool rewriteAll(WindowOperations &window)
{
    for (Control control : kLockedSet)
        window.setEnabled(control, false);

    RewriteRun run(RewriteRun::Flushes::Batched);
    const std::int32_t last = window.fileCount() - 1;
    for (std::int32_t index = 0; index <= last; ++index) {
        window.handlePendingEvents();
        if (window.isClosing())
            return false;
        window.selectFile(index);
        run.rewrite(window.folderPath(), window.currentFileName(), readCierres(window));
    }
    run.finish();

    for (Control control : kUnlockedAfterRun)
        window.setEnabled(control, true);
    return true;
}

} // namespace

std::optional<FileError> cmdCambiar_Click(WindowOperations &window)
{
    if (window.m_runUnderWay)
        return std::nullopt;

    if (window.fileCount() <= 0)
        return std::nullopt;

    for (Control field : kDelimiterFields) {
        if (window.fieldText(field).empty()) {
            window.messageBox("Debe configurar todo", MessageStyle::Ok, "");
            window.setFocus(field);
            return std::nullopt;
        }
    }

    if (window.messageBox(kConfirmation, MessageStyle::YesNoCancelWarning, "Advertencia") !=
        MessageAnswer::Yes)
        return std::nullopt;

    window.m_runUnderWay = true;
    struct RunFlag
    {
        bool &flag;
        ~RunFlag() { flag = false; }
    } runFlag{window.m_runUnderWay};

    std::optional<FileError> failure;
    try {
        if (!rewriteAll(window))
            return std::nullopt;
    } catch (const FileError &error) {
        failure = error;
    } catch (const std::bad_alloc &) {
        failure = FileError::outOfMemory();
    }

    if (failure)
        window.messageBox(std::to_string(failure->number()) + " " + failure->description(),
                          MessageStyle::Ok, "");
    else
        window.messageBox("¡Etiquetas modificadas!", MessageStyle::Ok, "");
    return failure;
}
