#pragma once

#include "drivesource.h"

#include <QComboBox>

#include <map>
#include <string>

// Drive1: the drives a user can browse. Each drive remembers its current folder, so coming back
// to a drive comes back to where the user left it.
class DriveList : public QComboBox
{
    Q_OBJECT

public:
    explicit DriveList(const DriveSource &source, QWidget *parent = nullptr);

    // The current drive's root, native bytes; empty when there are no drives.
    std::string drive() const;
    // Makes the drive that holds this path the current one. Returns false when no drive does.
    bool selectDriveOf(const std::string &path);
    // The drive holding the path: the one with the longest root that contains it.
    std::string driveOf(const std::string &path) const;

    // The drive's root until a folder on it has been recorded.
    std::string currentFolder(const std::string &root) const;
    void setCurrentFolder(const std::string &root, const std::string &folder);

    // Reads the drives again, keeping the current one even if it has gone away.
    void refresh();

    static QString entryText(const Drive &drive);

signals:
    // The current drive changed, by the user or by the program.
    void driveChanged();

protected:
    void showPopup() override;

private:
    void showDrives(const std::vector<Drive> &drives, const std::string &keep);

    const DriveSource &m_source;
    std::map<std::string, std::string> m_currentFolders;
};
