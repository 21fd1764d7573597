#pragma once

#include "drivesource.h"
#include "folderbrowser.h"
#include "windowoperations.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <memory>
#include <string>

class DriveList;
class FileList;
class FolderList;
class MessageBoxes;
class QCloseEvent;

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

    void placeControls();
    void setUpDelimiterFields();
    void filterDelimiterKey(int &keyAscii, const QString &allowed, const QString &message);
    QWidget *control(Control which);

    MessageBoxes &m_messageBoxes;
    bool m_closing = false;

    // Children are declared after their parents, so each goes before the one that holds it.
    QGroupBox m_fraExplorador{this};
    // Makes Drive1, Dir1 and File1 inside fraExplorador.
    FolderBrowser m_browser;
    QGroupBox m_fraGenerar{this};
    QLabel m_label1{&m_fraGenerar};
    QLineEdit m_txtCierreIz{&m_fraGenerar};
    QLabel m_label7{&m_fraGenerar};
    QLineEdit m_txtCierreDer{&m_fraGenerar};
    QLabel m_label2{&m_fraGenerar};
    QLineEdit m_txtNewCierreIz{&m_fraGenerar};
    QLabel m_label3{&m_fraGenerar};
    QLineEdit m_txtNewCierreDer{&m_fraGenerar};
    QPushButton m_cmdCambiar{&m_fraGenerar};
    QPlainTextEdit m_txtScript{this};
};
