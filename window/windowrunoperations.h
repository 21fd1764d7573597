#pragma once

#include "windowoperations.h"

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
    std::string fieldText(Control field) override;
    void setEnabled(Control control, bool enabled) override;
    void setFocus(Control field) override;
    int messageBox(const std::string &prompt, int style, const std::string &title) override;
    void freezeFileList() override;
    void thawFileList() override;
    void handlePendingEvents() override;
    bool isClosing() override;

private:
    QWidget &control(Control which) const;
    QLineEdit &field(Control which) const;

    frmDovezurad &m_window;
    Controls m_controls;
    MessageBoxes &m_messageBoxes;
};
