#pragma once

#include "windowoperations.h"

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QWidget>

class MessageBoxes;
class QComboBox;
class QCloseEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

// The program's only window: where the scripts are, the four delimiters, and the button that
// rewrites the scripts. The rewrite run drives it through WindowOperations.
class frmDovezurad : public QWidget, public WindowOperations
{
    Q_OBJECT

public:
    // The lists open on startFolder; the process's working folder unless a caller knows better.
    explicit frmDovezurad(MessageBoxes &messageBoxes,
                          const QString &startFolder = QDir::currentPath(),
                          QWidget *parent = nullptr);

    // The last drive chosen without failure.
    const QString &strUltimaUnidad() const { return m_strUltimaUnidad; }

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

    void buildControls();
    void setUpDelimiterFields();
    void showFolder(const QString &folder);
    void filterDelimiterKey(int &keyAscii, const QString &allowed, const QString &message);
    QWidget *control(Control which) const;

    MessageBoxes &m_messageBoxes;
    QString m_strUltimaUnidad;
    // Dir1's folder as the file system spells it.
    QByteArray m_folderPath;
    bool m_closing = false;

    QComboBox *m_drive1 = nullptr;
    QListWidget *m_dir1 = nullptr;
    QListWidget *m_file1 = nullptr;
    QLineEdit *m_txtCierreIz = nullptr;
    QLineEdit *m_txtCierreDer = nullptr;
    QLineEdit *m_txtNewCierreIz = nullptr;
    QLineEdit *m_txtNewCierreDer = nullptr;
    QPushButton *m_cmdCambiar = nullptr;
    QPlainTextEdit *m_txtScript = nullptr;
};
