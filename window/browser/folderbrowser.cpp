#include "folderbrowser.h"

#include "fileerror.h"
#include "messageboxes.h"
#include "nativepaths.h"

#include <QWidget>

#include <cerrno>
#include <stdexcept>

namespace {

std::unique_ptr<DriveSource> required(std::unique_ptr<DriveSource> source, QWidget *parent)
{
    if (parent == nullptr || !source)
        throw std::invalid_argument("the browser needs a parent widget and a drive source");
    return source;
}

// The drive's remembered folder may have been deleted since; going back to it would fail every
// time and keep the user off the drive, so the nearest folder above it that is still there
// stands in for it. The root itself is never replaced: a root that is gone is reported.
std::string nearestExistingFolder(const std::string &root, std::string folder)
{
    // Only a folder that is not there any more gives way; any other fault is the user's to see.
    while (folder.size() > root.size() && NativePaths::isGone(folder)) {
        std::string parent = NativePaths::fromPath(NativePaths::toPath(folder).parent_path());
        if (parent.size() >= folder.size() || parent.size() < root.size())
            return root;
        folder = std::move(parent);
    }
    return folder;
}

} // namespace

FolderBrowser::FolderBrowser(std::unique_ptr<DriveSource> source, MessageBoxes &messageBoxes,
                             QWidget *parent, const std::string &workingFolder)
    : m_source(required(std::move(source), parent)), m_messageBoxes(messageBoxes),
      m_drive1(*m_source, parent), m_dir1(parent), m_file1(parent)
{
    // The names the window and its tests look the controls up by.
    m_drive1.setObjectName(QStringLiteral("Drive1"));
    m_dir1.setObjectName(QStringLiteral("Dir1"));
    m_file1.setObjectName(QStringLiteral("File1"));

    // The lists open on the working folder, as the platform starts them; nothing is reported
    // yet, so a folder that cannot be read just leaves them empty.
    if (m_drive1.selectDriveOf(workingFolder)) {
        const std::string root = m_drive1.drive();
        m_drive1.setCurrentFolder(root, workingFolder);
        try {
            moveDir1(root, workingFolder);
        } catch (const FileError &) {
            m_drive1.setCurrentFolder(root, root);
        }
    }
    connect(&m_drive1, &DriveList::driveChanged, this, &FolderBrowser::Drive1_Change);
    connect(&m_dir1, &FolderList::openRequested, this, &FolderBrowser::openFolder);
}

std::string FolderBrowser::currentWorkingFolder()
{
    try {
        return NativePaths::workingFolder();
    } catch (const FileError &) {
        return "/"; // a working folder that was deleted: the lists open on the root
    }
}

void FolderBrowser::Drive1_Change()
{
    const std::string drive = m_drive1.drive();
    try {
        if (!m_source->isReady(drive))
            throw FileError::deviceUnavailable();
        moveDir1(drive, nearestExistingFolder(drive, m_drive1.currentFolder(drive)));
        m_strUltimaUnidad = drive;
    } catch (const FileError &error) {
        if (isUnavailable(drive, error)) {
            m_messageBoxes.messageBox(
                m_drive1.window(), QStringLiteral("El dispositivo aún no está preparado."),
                MessageStyle::Error, QStringLiteral("No hay disco en la unidad"));
            // Runs this handler again for the drive given back.
            m_drive1.selectDriveOf(m_strUltimaUnidad);
        } else {
            reportFailure(error);
        }
    }
}

void FolderBrowser::Dir1_Change()
{
    m_file1.setFolder(m_dir1.path());
}

void FolderBrowser::moveDir1(const std::string &root, const std::string &folder)
{
    FolderList::Listing before = m_dir1.listing();
    m_dir1.setPath(root, folder);
    try {
        Dir1_Change();
    } catch (...) {
        m_dir1.restore(std::move(before));
        throw;
    }
    m_drive1.setCurrentFolder(root, m_dir1.path());
}

void FolderBrowser::openFolder(const QByteArray &nativePath)
{
    const std::string target = nativePath.toStdString();
    if (target == m_dir1.path())
        return;
    try {
        moveDir1(m_dir1.root(), target);
    } catch (const FileError &error) {
        reportFailure(error);
        // A folder that is gone leaves the list, which still offered it.
        if (NativePaths::isGone(target)) {
            try {
                moveDir1(m_dir1.root(), nearestExistingFolder(m_dir1.root(), m_dir1.path()));
            } catch (const FileError &) {
                // The list stays as it was; the next move reads it again.
            }
        }
    }
}

void FolderBrowser::reportFailure(const FileError &error)
{
    m_messageBoxes.messageBox(m_drive1.window(),
                              QString::number(error.number()) + QLatin1Char(':') +
                                  QString::fromStdString(error.description()),
                              MessageStyle::Ok, QString());
}

bool FolderBrowser::isUnavailable(const std::string &root, const FileError &error) const
{
    // The medium reports a read error when it is pulled out in the middle of a listing.
    if (error.number() == FileError::deviceUnavailable().number() ||
        error.number() == FileError::fromErrno(EIO).number())
        return true;
    // A drive pulled out while it was being listed fails as whatever the listing hit first.
    return !m_source->isReady(root);
}
