#include "drivesource.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>
#include <iterator>
#include <string_view>

namespace {

// Kernel and container plumbing: mounted, but never a place for a user's files.
constexpr std::string_view kPseudoFileSystems[] = {
    "proc",        "sysfs",       "cgroup",    "cgroup2",    "devtmpfs",
    "devpts",      "securityfs",  "debugfs",   "tracefs",    "pstore",
    "bpf",         "mqueue",      "hugetlbfs", "fusectl",    "configfs",
    "autofs",      "binfmt_misc", "efivarfs",  "rpc_pipefs", "nsfs",
    "selinuxfs",   "squashfs",    "ramfs",     "nfsd",       "fuse.gvfsd-fuse",
    "fuse.portal",
};

constexpr std::string_view kSystemTrees[] = {"/proc", "/sys", "/dev", "/run/user", "/snap"};

bool startsWithFolder(std::string_view path, std::string_view folder)
{
    return path == folder ||
           (path.size() > folder.size() && path.substr(0, folder.size()) == folder &&
            path[folder.size()] == '/');
}

} // namespace

bool StorageDriveSource::isBrowsable(const QString &rootPath, const QByteArray &fileSystemType)
{
    if (rootPath == QLatin1String("/"))
        return true;
    const std::string root = QFile::encodeName(rootPath).toStdString();
    const std::string_view type(fileSystemType.constData(),
                                static_cast<std::size_t>(fileSystemType.size()));
    if (std::find(std::begin(kPseudoFileSystems), std::end(kPseudoFileSystems), type) !=
        std::end(kPseudoFileSystems))
        return false;
    for (std::string_view tree : kSystemTrees) {
        if (startsWithFolder(root, tree))
            return false;
    }
    // Memory file systems hold sockets and runtime files; only a /tmp on one is a real place.
    if (type == "tmpfs")
        return root == "/tmp";
    // The lower and upper layers of a container image, as opposed to its merged root.
    if (type == "overlay")
        return false;
    return true;
}

std::vector<Drive> StorageDriveSource::drives() const
{
    std::vector<Drive> result;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !isBrowsable(volume.rootPath(), volume.fileSystemType()))
            continue;
        // Containers bind single files such as /etc/hosts; they are not folders to walk.
        if (!QFileInfo(volume.rootPath()).isDir())
            continue;
        Drive drive{QFile::encodeName(volume.rootPath()).toStdString(), volume.name()};
        const bool known = std::any_of(result.begin(), result.end(), [&](const Drive &other) {
            return other.rootPath == drive.rootPath;
        });
        if (!known)
            result.push_back(std::move(drive));
    }
    std::sort(result.begin(), result.end(),
              [](const Drive &a, const Drive &b) { return a.rootPath < b.rootPath; });
    return result;
}

bool StorageDriveSource::isReady(const std::string &rootPath) const
{
    const QString root = QFile::decodeName(QByteArray::fromStdString(rootPath));
    if (!QFileInfo(root).isDir())
        return false;
    const QStorageInfo volume(root);
    // A folder that was a mount point and now belongs to the file system above it.
    return volume.isValid() && volume.isReady() && volume.rootPath() == root;
}
