#pragma once

#include "windowoperations.h"

#include <QElapsedTimer>
#include <QString>

#include <utility>

class DriveList;
class FileList;
class FolderList;
class MessageBoxes;
class QLineEdit;
class QWidget;
class frmDovezurad;

// The window as the rewrite run sees it: its lists, its four fields and its message boxes.
class WindowRunOperations final : public WindowOperations
{
public:
    struct Controls
    {
        DriveList &drive1;
        FolderList &dir1;
        FileList &file1;
        QLineEdit &txtCierreIz;
        QLineEdit &txtCierreDer;
        QLineEdit &txtNewCierreIz;
        QLineEdit &txtNewCierreDer;
    };

    WindowRunOperations(frmDovezurad &window, const Controls &controls, MessageBoxes &messageBoxes);

    std::int32_t fileCount() override;
    void selectFile(std::int32_t index) override;
    std::string currentFileName() override;
    std::string folderPath() override;
    NativeFolder holdFolder() override;
    std::string fieldText(Control field) override;
    void setEnabled(Control control, bool enabled) override;
    void setFocus(Control field) override;
    int messageBox(const std::string &prompt, int style, const std::string &title) override;
    void freezeFileList() override;
    void thawFileList() override;
    void showProgress(std::int32_t script, std::int32_t count, std::uint64_t done,
                      std::uint64_t total) override;
    void endProgress() override;
    void handlePendingEvents() override;
    bool isClosing() override;

    // "Dovezurad — 1.234 de 20.000", with the script's percentage while it is part done.
    static QString progressTitle(std::int32_t script, std::int32_t count, std::uint64_t done,
                                 std::uint64_t total);
    // Dots between thousands, as Spanish users write numbers, whatever the system's locale.
    static QString grouped(std::int64_t number);

    void originalsNotKept(unsigned) override { m_originalsNotKept = true; }
    // Whether the last run could not keep some original, told once.
    bool takeOriginalsNotKept() { return std::exchange(m_originalsNotKept, false); }

private:
    void showRunState();

    QWidget &control(Control which) const;
    QLineEdit &field(Control which) const;

    frmDovezurad &m_window;
    Controls m_controls;
    MessageBoxes &m_messageBoxes;

    // While the run holds File1 its selection and the title follow at the window's pace, not
    // at every script: a repaint per script would cost more than the script itself.
    std::int32_t m_selected = -1;
    std::int32_t m_script = 0;
    std::int32_t m_count = 0;
    std::uint64_t m_done = 0;
    std::uint64_t m_total = 0;
    QElapsedTimer m_sinceShown;
    bool m_originalsNotKept = false;
};
