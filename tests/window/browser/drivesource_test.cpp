#include "browsertestsupport.h"

#include "drivelist.h"

#include <QSignalSpy>

namespace {

TEST(StorageDriveSource, KeepsRealFileSystemsAndLeavesPseudoOnesOut)
{
    EXPECT_TRUE(StorageDriveSource::isBrowsable("/", "overlay"));
    EXPECT_TRUE(StorageDriveSource::isBrowsable("/", "ext4"));
    EXPECT_TRUE(StorageDriveSource::isBrowsable("/home", "btrfs"));
    EXPECT_TRUE(StorageDriveSource::isBrowsable("/media/ana/USB", "vfat"));
    EXPECT_TRUE(StorageDriveSource::isBrowsable("/run/media/ana/DISCO", "exfat"));
    EXPECT_TRUE(StorageDriveSource::isBrowsable("/mnt/red", "nfs4"));
    EXPECT_TRUE(StorageDriveSource::isBrowsable("/tmp", "tmpfs"));

    EXPECT_FALSE(StorageDriveSource::isBrowsable("/proc", "proc"));
    EXPECT_FALSE(StorageDriveSource::isBrowsable("/sys/fs/cgroup", "cgroup2"));
    EXPECT_FALSE(StorageDriveSource::isBrowsable("/dev", "devtmpfs"));
    EXPECT_FALSE(StorageDriveSource::isBrowsable("/dev/shm", "tmpfs"));
    EXPECT_FALSE(StorageDriveSource::isBrowsable("/run/user/1000", "tmpfs"));
    EXPECT_FALSE(StorageDriveSource::isBrowsable("/run/lock", "tmpfs"));
    EXPECT_FALSE(StorageDriveSource::isBrowsable("/snap/core/123", "squashfs"));
    EXPECT_FALSE(StorageDriveSource::isBrowsable("/var/lib/docker/overlay2/x/merged", "overlay"));
    EXPECT_FALSE(StorageDriveSource::isBrowsable("/proc/sys/fs/binfmt_misc", "binfmt_misc"));
    EXPECT_FALSE(StorageDriveSource::isBrowsable("/sys/kernel/debug", "debugfs"));
    EXPECT_FALSE(StorageDriveSource::isBrowsable("/processed", "proc"));
    EXPECT_TRUE(StorageDriveSource::isBrowsable("/devel", "ext4"));
}

TEST(StorageDriveSource, OffersTheSystemRootAndSeesAPlainFolderIsNoDrive)
{
    StorageDriveSource source;
    const std::vector<Drive> drives = source.drives();
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(drives.front().rootPath, "/");
    EXPECT_TRUE(source.isReady("/"));

    TempPlace place;
    const std::string plain = place.folder("plain");
    EXPECT_FALSE(source.isReady(plain));
    EXPECT_FALSE(source.isReady(place.at("missing")));
}

TEST(DriveSource, TellsWhichFoldersLieOnADrive)
{
    EXPECT_TRUE(isOnDrive("/", "/"));
    EXPECT_TRUE(isOnDrive("/", "/home/ana"));
    EXPECT_TRUE(isOnDrive("/media/usb", "/media/usb"));
    EXPECT_TRUE(isOnDrive("/media/usb", "/media/usb/"));
    EXPECT_TRUE(isOnDrive("/media/usb", "/media/usb/a"));
    EXPECT_FALSE(isOnDrive("/media/usb", "/media/usb2"));
    EXPECT_FALSE(isOnDrive("/media/usb", "/media"));
    EXPECT_FALSE(isOnDrive("", "/"));
}

TEST(DriveList, ShowsRootAndVolumeNameAndPicksTheDriveOfAPath)
{
    TempPlace place;
    FolderDriveSource source;
    source.add("/");
    source.add(place.folder("usb"), QStringLiteral("MI USB"));
    source.add(place.folder("usb/inner"));

    DriveList list(source);
    QSignalSpy changes(&list, &DriveList::driveChanged);
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(list.itemText(0), QStringLiteral("/"));
    EXPECT_EQ(list.itemText(1), QString::fromStdString(place.at("usb") + " [MI USB]"));

    EXPECT_EQ(list.driveOf(place.at("usb/inner/x")), place.at("usb/inner"));
    EXPECT_EQ(list.driveOf(place.at("usb/innerx")), place.at("usb"));
    EXPECT_EQ(list.driveOf("/etc"), "/");

    ASSERT_TRUE(list.selectDriveOf(place.at("usb/a")));
    EXPECT_EQ(list.drive(), place.at("usb"));
    EXPECT_EQ(changes.count(), 1);
    list.selectDriveOf(place.at("usb/b"));
    EXPECT_EQ(changes.count(), 1) << "the same drive again is no change";
}

TEST(DriveList, RemembersEachDrivesCurrentFolderAndKeepsAVanishedCurrentDrive)
{
    TempPlace place;
    FolderDriveSource source;
    source.add(place.folder("a"));
    source.add(place.folder("b"));

    DriveList list(source);
    EXPECT_EQ(list.currentFolder(place.at("a")), place.at("a"));
    list.setCurrentFolder(place.at("a"), place.at("a/x"));
    EXPECT_EQ(list.currentFolder(place.at("a")), place.at("a/x"));
    EXPECT_EQ(list.currentFolder(place.at("b")), place.at("b"));

    list.selectDriveOf(place.at("b"));
    QSignalSpy changes(&list, &DriveList::driveChanged);
    source.takeAway(place.at("b"));
    source.add(place.folder("c"));
    list.refresh();
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(list.drive(), place.at("b"));
    EXPECT_EQ(list.driveOf(place.at("c/x")), place.at("c"));
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(list.currentFolder(place.at("a")), place.at("a/x"));
}

} // namespace
