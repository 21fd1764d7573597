#include "filelist.h"

#include "fileerror.h"
#include "nativepaths.h"
#include "scriptfolder.h"

#include <QStringList>

#include <algorithm>
#include <stdexcept>

namespace {

constexpr int kReloadDelayMs = 50;

} // namespace

FileList::FileList(QWidget *parent) : QListWidget(parent)
{
    setEnabled(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    m_reloadTimer.setSingleShot(true);
    m_reloadTimer.setInterval(kReloadDelayMs);
    connect(&m_reloadTimer, &QTimer::timeout, this, &FileList::reload);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (!m_reloadTimer.isActive())
            m_reloadTimer.start();
    });
}

void FileList::setFolder(const std::string &nativeFolder)
{
    ScriptFolder::Listing listing = ScriptFolder::list(nativeFolder);
    m_folder = nativeFolder;
    m_listedFolder = listing.folder;
    m_changedWhileFrozen = false;
    showNames(std::move(listing.scripts));
    watch(nativeFolder);
}

std::int32_t FileList::entryCount() const
{
    return static_cast<std::int32_t>(m_names.size());
}

std::string FileList::nativeName(std::int32_t index) const
{
    if (index < 0 || index >= entryCount())
        throw std::out_of_range("no such entry in the file list");
    return m_names[static_cast<std::size_t>(index)];
}

void FileList::selectEntry(std::int32_t index)
{
    if (index < 0 || index >= entryCount())
        throw std::out_of_range("no such entry in the file list");
    setCurrentRow(index);
    scrollToItem(item(index));
}

std::string FileList::currentNativeName() const
{
    const int row = currentRow();
    if (row < 0 || row >= entryCount())
        return {};
    return m_names[static_cast<std::size_t>(row)];
}

void FileList::freeze()
{
    m_frozen = true;
}

void FileList::unfreeze()
{
    m_frozen = false;
    if (m_changedWhileFrozen)
        reload();
}

void FileList::showNames(std::vector<std::string> names)
{
    const std::string current = currentNativeName();
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(names.size()));
    for (const std::string &name : names)
        texts.push_back(NativePaths::displayName(name));

    setUpdatesEnabled(false);
    clear();
    addItems(texts);
    m_names = std::move(names);
    // A script that is still there stays the current one when the folder changes around it.
    if (!current.empty()) {
        const auto found = std::find(m_names.begin(), m_names.end(), current);
        if (found != m_names.end())
            setCurrentRow(static_cast<int>(found - m_names.begin()));
    }
    setUpdatesEnabled(true);
}

void FileList::watch(const std::string &nativeFolder)
{
    const QStringList watched = m_watcher.directories();
    if (!watched.isEmpty())
        m_watcher.removePaths(watched);
    const QString path = NativePaths::toQtPath(nativeFolder);
    // The watcher only takes text; a path that does not survive the trip would watch another.
    if (NativePaths::fromQtPath(path) == nativeFolder)
        m_watcher.addPath(path);
}

void FileList::reload()
{
    if (m_folder.empty())
        return;
    if (m_frozen) {
        m_changedWhileFrozen = true;
        return;
    }
    m_changedWhileFrozen = false;
    try {
        ScriptFolder::Listing listing = ScriptFolder::list(m_folder);
        m_listedFolder = listing.folder;
        showNames(std::move(listing.scripts));
        // A folder replaced under the same name drops out of the watcher.
        if (m_watcher.directories().isEmpty())
            watch(m_folder);
    } catch (const FileError &) {
        // The folder itself went away: it holds no scripts any more.
        m_listedFolder.reset();
        showNames({});
    }
    emit entriesReloaded();
}
