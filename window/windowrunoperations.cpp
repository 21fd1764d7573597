#include "windowrunoperations.h"

#include "drivelist.h"
#include "filelist.h"
#include "folderlist.h"
#include "frmdovezurad.h"
#include "messageboxes.h"

#include <QLineEdit>

#include <stdexcept>

WindowRunOperations::WindowRunOperations(frmDovezurad &window, const Controls &controls,
                                         MessageBoxes &messageBoxes)
    : m_window(window), m_controls(controls), m_messageBoxes(messageBoxes)
{
}

QWidget &WindowRunOperations::control(Control which) const
{
    switch (which) {
    case Control::Dir1:
        return m_controls.dir1;
    case Control::File1:
        return m_controls.file1;
    case Control::Drive1:
        return m_controls.drive1;
    case Control::txtCierreIz:
    case Control::txtCierreDer:
    case Control::txtNewCierreIz:
    case Control::txtNewCierreDer:
        return field(which);
    }
    throw std::invalid_argument("unknown control");
}

QLineEdit &WindowRunOperations::field(Control which) const
{
    switch (which) {
    case Control::txtCierreIz:
        return m_controls.txtCierreIz;
    case Control::txtCierreDer:
        return m_controls.txtCierreDer;
    case Control::txtNewCierreIz:
        return m_controls.txtNewCierreIz;
    case Control::txtNewCierreDer:
        return m_controls.txtNewCierreDer;
    default:
        throw std::invalid_argument("not a delimiter field");
    }
}

std::int32_t WindowRunOperations::fileCount()
{
    return m_controls.file1.entryCount();
}

void WindowRunOperations::selectFile(std::int32_t index)
{
    m_controls.file1.selectEntry(index);
}

std::string WindowRunOperations::currentFileName()
{
    return m_controls.file1.currentNativeName();
}

std::string WindowRunOperations::folderPath()
{
    return m_controls.dir1.path();
}

std::string WindowRunOperations::fieldText(Control which)
{
    // The fields' validators keep them to one character of an ASCII set, so Latin-1 is exact.
    return field(which).text().toLatin1().toStdString();
}

void WindowRunOperations::setEnabled(Control which, bool enabled)
{
    // File1 is display only: it stays disabled whatever the run asks.
    if (which == Control::File1)
        return;
    control(which).setEnabled(enabled);
}

void WindowRunOperations::setFocus(Control which)
{
    field(which).setFocus();
}

int WindowRunOperations::messageBox(const std::string &prompt, int style, const std::string &title)
{
    return m_messageBoxes.messageBox(&m_window, QString::fromStdString(prompt), style,
                                     QString::fromStdString(title));
}

void WindowRunOperations::freezeFileList()
{
    m_controls.file1.freeze();
}

void WindowRunOperations::thawFileList()
{
    m_controls.file1.unfreeze();
}

void WindowRunOperations::handlePendingEvents()
{
    m_window.handlePendingEvents();
}

bool WindowRunOperations::isClosing()
{
    return m_window.isClosing();
}
