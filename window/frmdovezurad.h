#pragma once

#include "drivesource.h"
#include "folderbrowser.h"
#include "previewdialog.h"
#include "windowrunoperations.h"
#include "wrappingbutton.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QString>
#include <QWidget>

#include <memory>
#include <string>

class DriveList;
class FileList;
class FolderList;
class MessageBoxes;
class QCloseEvent;
class QContextMenuEvent;
class QKeyEvent;

// The program's only window: where the scripts are, the four delimiters, and the button that
// rewrites the scripts. The rewrite run drives it through operations().
class frmDovezurad : public QWidget
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

    // What the rewrite run reads and drives.
    WindowOperations &operations() { return m_operations; }

    // Lets the window repaint and answer the user in the middle of a run.
    virtual void handlePendingEvents();
    // The user closed the window: a run under way starts nothing more.
    bool isClosing() const { return m_closing; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    void Form_Unload();
    void txtCierreIz_KeyPress(int &keyAscii);
    void txtCierreDer_KeyPress(int &keyAscii);
    void txtNewCierreIz_KeyPress(int &keyAscii);
    void txtNewCierreDer_KeyPress(int &keyAscii);

    void placeControls();
    void cmdCambiar_Click();
    // The context menu's entries: a dry run shown in a dialog, and undo of the folder's last run.
    void mnuVerCambios_Click();
    void mnuDeshacer_Click();
    void undoLastRun();
    void setUpMenu();
    void showMenu(const QPoint &globalPos);
    void setUpDelimiterFields();
    void filterDelimiterKey(int &keyAscii, const QString &allowed, const QString &message);
    // Accessible names and descriptions, and the labels tied to their fields.
    void describeForScreenReaders();

    MessageBoxes &m_messageBoxes;
    bool m_closing = false;
    // A click or a shortcut handled between two scripts starts nothing inside the run, the
    // preview's walk or the undo under way.
    bool m_runUnderWay = false;

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
    WrappingButton m_cmdCambiar{&m_fraGenerar};
    QPlainTextEdit m_txtScript{this};
    WindowRunOperations m_operations{*this,
                                     {*m_browser.drive1(), *m_browser.dir1(), *m_browser.file1(),
                                      m_txtCierreIz, m_txtCierreDer, m_txtNewCierreIz,
                                      m_txtNewCierreDer},
                                     m_messageBoxes};
    QAction m_mnuVerCambios{this};
    QAction m_mnuDeshacer{this};
    QMenu m_mnuContexto{this};
    std::unique_ptr<PreviewDialog> m_preview;
};
