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

// Renames done so far must outlast a power cut whether the run ends well or not.
class FolderFlush
{
public:
    FolderFlush() = default;
    FolderFlush(const FolderFlush &) = delete;
    FolderFlush &operator=(const FolderFlush &) = delete;
    ~FolderFlush()
    {
        if (m_folder) {
            try {
                flushFolder(*m_folder);
            } catch (const FileError &) {
                // The run already failed or was abandoned; its own outcome is what counts.
            }
        }
    }

    void touched(const std::string &folder) { m_folder = folder; }

    // On success a failed flush is a failure of the run, never a success message.
    void flushNow()
    {
        if (m_folder) {
            const std::string folder = *m_folder;
            m_folder.reset();
            flushFolder(folder);
        }
    }

private:
    std::optional<std::string> m_folder;
};

// Runs steps that may fail on the file system; false when the window is closing.
bool rewriteAll(WindowOperations &window)
{
    for (Control control : kLockedSet)
        window.setEnabled(control, false);
    window.freezeFileList();

    FolderFlush folderFlush;
    const std::int32_t count = window.fileCount();
    const std::int32_t last = count - 1;
    for (std::int32_t index = 0; index <= last; ++index) {
        window.handlePendingEvents();
        if (window.isClosing())
            return false;
        window.selectFile(index);
        window.showProgress(index + 1, count, 0, 0);
        const std::string folder = window.folderPath();
        folderFlush.touched(folder);
        // A huge script keeps the window alive, and a close abandons it cleanly.
        const ScriptProgress progress = [&window, index, count](std::uint64_t done,
                                                                std::uint64_t total) {
            window.showProgress(index + 1, count, done, total);
            window.handlePendingEvents();
            return !window.isClosing();
        };
        ModificarScript(folder, window.currentFileName(), readCierres(window), progress);
    }
    // A close that came during the last script ends the program without a word.
    window.handlePendingEvents();
    if (window.isClosing())
        return false;
    folderFlush.flushNow();

    for (Control control : kUnlockedAfterRun)
        window.setEnabled(control, true);
    // A failed run leaves Dir1 locked, so the list has nothing to catch up with until then.
    window.thawFileList();
    return true;
}

} // namespace

void cmdCambiar_Click(WindowOperations &window)
{
    if (window.fileCount() <= 0)
        return;

    for (Control field : kDelimiterFields) {
        if (window.fieldText(field).empty()) {
            window.messageBox("Debe configurar todo", MessageStyle::Ok, "");
            window.setFocus(field);
            return;
        }
    }

    if (window.messageBox(kConfirmation, MessageStyle::YesNoCancelWarning, "Advertencia") !=
        MessageAnswer::Yes)
        return;

    std::optional<FileError> failure;
    try {
        const bool finished = rewriteAll(window);
        window.endProgress();
        if (!finished)
            return;
    } catch (const RewriteAbandoned &) {
        window.endProgress();
        return;
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
}
