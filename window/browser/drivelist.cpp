#include "drivelist.h"

#include "nativepaths.h"

#include <QSignalBlocker>

#include <algorithm>

namespace {

QByteArray rootData(const std::string &root)
{
    return QByteArray::fromStdString(root);
}

} // namespace

DriveList::DriveList(const DriveSource &source, QWidget *parent)
    : QComboBox(parent), m_source(source)
{
    showDrives(m_source.drives(), {});
    connect(this, &QComboBox::currentIndexChanged, this, &DriveList::driveChanged);
}

QString DriveList::entryText(const Drive &drive)
{
    const QString root = NativePaths::displayName(drive.rootPath);
    if (drive.volumeName.isEmpty())
        return root;
    return QStringLiteral("%1 [%2]").arg(root, drive.volumeName);
}

std::string DriveList::drive() const
{
    return currentData().toByteArray().toStdString();
}

std::string DriveList::driveOf(const std::string &path) const
{
    std::string best;
    for (int i = 0; i < count(); ++i) {
        std::string root = itemData(i).toByteArray().toStdString();
        if (isOnDrive(root, path) && root.size() > best.size())
            best = std::move(root);
    }
    return best;
}

bool DriveList::selectDriveOf(const std::string &path)
{
    const int index = findData(rootData(driveOf(path)));
    if (index < 0)
        return false;
    setCurrentIndex(index);
    return true;
}

std::string DriveList::currentFolder(const std::string &root) const
{
    const auto found = m_currentFolders.find(root);
    return found != m_currentFolders.end() ? found->second : root;
}

void DriveList::setCurrentFolder(const std::string &root, const std::string &folder)
{
    m_currentFolders[root] = folder;
}

void DriveList::refresh()
{
    showDrives(m_source.drives(), drive());
}

void DriveList::showPopup()
{
    // Sticks plugged in since the last look belong in the list the user is about to see.
    refresh();
    QComboBox::showPopup();
}

void DriveList::showDrives(const std::vector<Drive> &drives, const std::string &keep)
{
    const QSignalBlocker blocker(this);
    clear();
    bool kept = keep.empty();
    for (const Drive &each : drives) {
        addItem(entryText(each), rootData(each.rootPath));
        kept = kept || each.rootPath == keep;
    }
    if (!kept) {
        // Taking the current drive out from under the user would pick another one for them.
        const auto place = std::find_if(drives.begin(), drives.end(),
                                        [&](const Drive &d) { return d.rootPath > keep; });
        const int index = static_cast<int>(place - drives.begin());
        insertItem(index, NativePaths::displayName(keep), rootData(keep));
    }
    if (!keep.empty())
        setCurrentIndex(findData(rootData(keep)));
}
