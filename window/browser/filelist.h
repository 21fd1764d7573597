#pragma once

// moc reads no C++20 library header (<compare>); what it needs of this class is below.
#ifndef Q_MOC_RUN
#include "filekey.h"
#endif

#include <QFileSystemWatcher>
#include <QListWidget>
#include <QTimer>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// File1: the "*.txt" scripts of one folder, for display only. Each entry keeps the file's own
// name bytes, so that the rewrite reaches the very file shown even when its name is not UTF-8.
class FileList : public QListWidget
{
    Q_OBJECT

public:
    explicit FileList(QWidget *parent = nullptr);

    // Lists the folder, or throws FileError and keeps the list as it was.
    void setFolder(const std::string &nativeFolder);
    const std::string &folder() const { return m_folder; }
    // The folder the entries were read from, which the path may no longer lead to; nullopt
    // while nothing was read.
    const std::optional<FileKey> &listedFolder() const { return m_listedFolder; }

    std::int32_t entryCount() const;
    std::string nativeName(std::int32_t index) const;
    // Makes entry i the current one and scrolls it into view.
    void selectEntry(std::int32_t index);
    // Empty when no entry is current.
    std::string currentNativeName() const;

    // While frozen the list keeps what it shows; changes seen meanwhile are read on unfreeze.
    void freeze();
    void unfreeze();
    bool isFrozen() const { return m_frozen; }
    // The folder changed while the list was frozen.
    bool hasPendingChanges() const { return m_changedWhileFrozen; }

signals:
    // The folder's scripts changed on disk and the list shows them now.
    void entriesReloaded();

private:
    void showNames(std::vector<std::string> names);
    void watch(const std::string &nativeFolder);
    void reload();

    std::string m_folder;
    std::optional<FileKey> m_listedFolder;
    std::vector<std::string> m_names;
    bool m_frozen = false;
    bool m_changedWhileFrozen = false;
    QFileSystemWatcher m_watcher;
    // Gathers the burst of notices a copy of many files sends into one reading of the folder.
    QTimer m_reloadTimer;
};
