#include "windowrunoperations.h"

#include "drivelist.h"
#include "fileerror.h"
#include "filelist.h"
#include "folderlist.h"
#include "frmdovezurad.h"
#include "messageboxes.h"
#include "runfolder.h"

#include <QLineEdit>

#include <stdexcept>

namespace {

// Often enough to look alive, seldom enough that painting costs next to nothing.
constexpr qint64 kShowEveryMs = 40;

} // namespace

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
    if (!m_controls.file1.isFrozen()) {
        m_controls.file1.selectEntry(index);
        return;
    }
    if (index < 0 || index >= m_controls.file1.entryCount())
        throw std::out_of_range("no such entry in the file list");
    m_selected = index;
}

std::string WindowRunOperations::currentFileName()
{
    if (m_selected >= 0)
        return m_controls.file1.nativeName(m_selected);
    return m_controls.file1.currentNativeName();
}

std::string WindowRunOperations::folderPath()
{
    return m_controls.dir1.path();
}

NativeFolder WindowRunOperations::holdFolder()
{
    NativeFolder folder = openRunFolder(folderPath());
    // File1 was read by path, and the run walks its list: what it walks must be what it holds.
    const std::optional<FileKey> &listed = m_controls.file1.listedFolder();
    if (!listed)
        throw FileError::heldByAnotherProgram();
    checkListed(folder, *listed);
    return folder;
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

void WindowRunOperations::showProgress(std::int32_t script, std::int32_t count, std::uint64_t done,
                                       std::uint64_t total)
{
    m_script = script;
    m_count = count;
    m_done = done;
    m_total = total;
}

void WindowRunOperations::endProgress()
{
    m_count = 0;
    showRunState();
    m_selected = -1;
    m_sinceShown.invalidate();
}

void WindowRunOperations::handlePendingEvents()
{
    if (!m_sinceShown.isValid() || m_sinceShown.elapsed() >= kShowEveryMs) {
        showRunState();
        m_sinceShown.start();
    }
    m_window.handlePendingEvents();
}

void WindowRunOperations::showRunState()
{
    if (m_selected >= 0 && m_controls.file1.currentRow() != m_selected)
        m_controls.file1.selectEntry(m_selected);
    const QString title = m_count > 0 ? progressTitle(m_script, m_count, m_done, m_total)
                                      : QStringLiteral("Dovezurad");
    if (m_window.windowTitle() != title)
        m_window.setWindowTitle(title);
}

QString WindowRunOperations::progressTitle(std::int32_t script, std::int32_t count,
                                           std::uint64_t done, std::uint64_t total)
{
    QString title = QStringLiteral("Dovezurad — %1 de %2").arg(grouped(script), grouped(count));
    if (total > 0 && done < total)
        title += QStringLiteral(" (%1 %)").arg(done * 100 / total);
    return title;
}

QString WindowRunOperations::grouped(std::int64_t number)
{
    QString digits = QString::number(number);
    for (qsizetype at = digits.size() - 3; at > 0 && digits[at - 1].isDigit(); at -= 3)
        digits.insert(at, QLatin1Char('.'));
    return digits;
}

bool WindowRunOperations::isClosing()
{
    return m_window.isClosing();
}
