#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

// A drive as this platform has them: a mounted file system that a user would browse.
struct Drive
{
    // Native bytes, without a closing separator except where the root is nothing else: "/", or
    // a drive letter's C:\ alone.
    std::string rootPath;
    QString volumeName;

    bool operator==(const Drive &) const = default;
};

// Where the drive list learns which drives there are, so that tests can offer folders as drives
// and take them away again.
class DriveSource
{
public:
    DriveSource() = default;
    DriveSource(const DriveSource &) = delete;
    DriveSource &operator=(const DriveSource &) = delete;
    virtual ~DriveSource() = default;

    virtual std::vector<Drive> drives() const = 0;
    // False once the drive's root is gone, no longer mounted, or its medium is not ready.
    virtual bool isReady(const std::string &rootPath) const = 0;
};

// The system's drives: on POSIX the mounted volumes, less the pseudo file systems nobody keeps
// scripts on; on Windows the logical drives, with or without a medium.
class StorageDriveSource final : public DriveSource
{
public:
    std::vector<Drive> drives() const override;
    bool isReady(const std::string &rootPath) const override;

    // POSIX only: whether a mount point is a place for a user's files.
    static bool isBrowsable(const QString &rootPath, const QByteArray &fileSystemType);
};

// Whether a folder lies on the drive with this root (the root itself included).
bool isOnDrive(const std::string &rootPath, const std::string &path);
