#pragma once

#include "drivesource.h"
#include "folderbrowser.h"
#include "windowoperations.h"

#include <QString>
#include <QWidget>

#include <memory>
#include <string>

class DriveList;
class FileList;
class FolderList;
class MessageBoxes;
class QCloseEvent;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The program's only window: where the scripts are, the four delimiters, and the button that
// rewrites the scripts. The rewrite run drives it through WindowOperations.
class frmDovezurad : public QWidget, public WindowOperations
{
    Q_OBJECT

public:
    // The drive list offers the drives of the source; the lists open on startFolder (native
    // bytes), the process's working folder unless a caller knows better.
    explicit frmDovezurad(
        MessageBoxes &messageBoxes,
        std::unique_ptr<DriveSource> drives = std::make_unique<StorageDriveSource>(),
        const std::string &startFolder = FolderBrowser::currentWorkingFolder(),
        QWidget *parent = nullptr);

    // The last drive chosen without failure, native bytes.
    const std::string &strUltimaUnidad() const;

    std::int32_t fileCount() override;
    void selectFile(std::int32_t index) override;
    std::string currentFileName() override;
    std::string folderPath() override;
    std::string fieldText(Control field) override;
    using QWidget::setEnabled;
    void setEnabled(Control control, bool enabled) override;
    using QWidget::setFocus;
    void setFocus(Control field) override;
    int messageBox(const std::string &prompt, int style, const std::string &title) override;
    void handlePendingEvents() override;
    bool isClosing() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void Form_Unload();
    void txtCierreIz_KeyPress(int &keyAscii);
    void txtCierreDer_KeyPress(int &keyAscii);
    void txtNewCierreIz_KeyPress(int &keyAscii);
    void txtNewCierreDer_KeyPress(int &keyAscii);

    void buildControls(std::unique_ptr<DriveSource> drives, const std::string &startFolder);
    void setUpDelimiterFields();
    void filterDelimiterKey(int &keyAscii, const QString &allowed, const QString &message);
    QWidget *control(Control which) const;
    // Accessible names and descriptions, and the labels tied to their fields.
    void describeForScreenReaders();

    MessageBoxes &m_messageBoxes;
    bool m_closing = false;

    // Owned by fraExplorador, as its three lists are.
    FolderBrowser *m_browser = nullptr;
    DriveList *m_drive1 = nullptr;
    FolderList *m_dir1 = nullptr;
    FileList *m_file1 = nullptr;
    QLineEdit *m_txtCierreIz = nullptr;
    QLineEdit *m_txtCierreDer = nullptr;
    QLineEdit *m_txtNewCierreIz = nullptr;
    QLineEdit *m_txtNewCierreDer = nullptr;
    QPushButton *m_cmdCambiar = nullptr;
    QPlainTextEdit *m_txtScript = nullptr;
};
