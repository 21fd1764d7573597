#pragma once

#include "drivelist.h"
#include "drivesource.h"
#include "filelist.h"
#include "folderlist.h"

#include <QObject>
#include <QString>

#include <memory>
#include <string>

class FileError;
class MessageBoxes;
class QWidget;

// The three chained lists of the script location: Drive1 chooses a drive, Dir1 walks its
// folders and File1 shows the scripts of Dir1's folder. Keeps the window off a drive that is
// not ready by going back to the last drive that worked.
class FolderBrowser : public QObject
{
    Q_OBJECT

public:
    // The three lists are made as children of parent, which must not be null, and go with the
    // browser; they start on the working folder and its drive.
    FolderBrowser(std::unique_ptr<DriveSource> source, MessageBoxes &messageBoxes, QWidget *parent,
                  const std::string &workingFolder = currentWorkingFolder());

    DriveList *drive1() { return &m_drive1; }
    FolderList *dir1() { return &m_dir1; }
    FileList *file1() { return &m_file1; }

    // The last drive moved to without failure; only its drive counts when it is given back.
    const std::string &strUltimaUnidad() const { return m_strUltimaUnidad; }
    void setStrUltimaUnidad(const std::string &folder) { m_strUltimaUnidad = folder; }

    void Drive1_Change();
    // Throws FileError when the new folder's scripts cannot be listed.
    void Dir1_Change();

    // The process's working folder as native bytes.
    static std::string currentWorkingFolder();

private:
    // Moves Dir1 and then File1, both or neither.
    void moveDir1(const std::string &root, const std::string &folder);
    void openFolder(const QByteArray &nativePath);
    void reportFailure(const FileError &error);
    bool isUnavailable(const std::string &root, const FileError &error) const;

    std::unique_ptr<DriveSource> m_source;
    MessageBoxes &m_messageBoxes;
    std::string m_strUltimaUnidad;
    // After the source that Drive1 reads, so that the lists go before it.
    DriveList m_drive1;
    FolderList m_dir1;
    FileList m_file1;
};
