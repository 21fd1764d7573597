#pragma once

#include "messagestyle.h"
#include "nativefiles.h"

#include <cstdint>
#include <string>

// The controls of the main window that the rewrite run reads, locks and unlocks.
enum class Control
{
    Dir1,
    File1,
    Drive1,
    txtCierreIz,
    txtCierreDer,
    txtNewCierreIz,
    txtNewCierreDer,
};

// What the rewrite run needs from the window, so that the run can be driven without one.
// Texts are UTF-8; file names and folder paths are the platform's own bytes.
class WindowOperations
{
public:
    WindowOperations() = default;
    WindowOperations(const WindowOperations &) = delete;
    WindowOperations &operator=(const WindowOperations &) = delete;
    virtual ~WindowOperations() = default;

    virtual std::int32_t fileCount() = 0;
    virtual void selectFile(std::int32_t index) = 0;
    virtual std::string currentFileName() = 0;
    virtual std::string folderPath() = 0;
    // The folder whose scripts the file list gives, opened for the run and held to its end (see
    // openRunFolder). Throws FileError: 70 when the folder path leads to another folder than the
    // one listed, or through another user's link.
    virtual NativeFolder holdFolder() = 0;
    // The field's character as one byte of the scripts' code page; empty when the field is.
    virtual std::string fieldText(Control field) = 0;
    virtual void setEnabled(Control control, bool enabled) = 0;
    virtual void setFocus(Control field) = 0;
    // An empty title shows the application title. Returns the button pressed.
    virtual int messageBox(const std::string &prompt, int style, const std::string &title) = 0;
    // Keeps File1's entries as they are, so that the run walks the very list it counted; what
    // changes in the folder meanwhile shows once the list thaws.
    virtual void freezeFileList() = 0;
    virtual void thawFileList() = 0;
    // How far the run has come, for the user to see: script (from 1) of count, and inside that
    // script done of total bytes. Told often; the window shows it at its own pace.
    virtual void showProgress(std::int32_t script, std::int32_t count, std::uint64_t done,
                              std::uint64_t total) = 0;
    // The run is over: the window shows where it ended and drops the progress.
    virtual void endProgress() = 0;
    // Lets the window repaint and answer the user; called before every script and now and then
    // inside one, so the window decides how much to do each time.
    virtual void handlePendingEvents() = 0;
    virtual bool isClosing() = 0;
    // The run ended, having rewritten every script or stopped at a failure: `changed` scripts
    // got their new text by then. Told before the final message; the window's messages say
    // nothing of it.
    virtual void reportChanged(std::int32_t /*changed*/) {}
    // Some original of the run could not be kept for undo, for these reasons
    // (OriginalKeeper::Trouble).
    virtual void originalsNotKept(unsigned /*troubles*/) {}
};
