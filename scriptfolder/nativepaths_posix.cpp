#include "nativepaths.h"

#include "fileerror.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace NativePaths {

namespace {

struct DirCloser
{
    void operator()(DIR *dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool hasKind(DIR *dir, const dirent &entry, Kind kind)
{
    const unsigned char wantedType = kind == Kind::Folder ? DT_DIR : DT_REG;
    if (entry.d_type == wantedType)
        return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN)
        return false;
    struct stat status
    {
    };
    if (fstatat(dirfd(dir), entry.d_name, &status, 0) != 0)
        return false; // a dangling link is neither
    return kind == Kind::Folder ? S_ISDIR(status.st_mode) : S_ISREG(status.st_mode);
}

std::vector<std::string> listing(DirHandle dir, Kind kind,
                                 const std::function<bool(std::string_view)> &wanted)
{
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0)
                throw FileError::fromErrno(errno);
            break;
        }
        const std::string_view name(entry->d_name);
        // Also leaves out "." and "..".
        if (name.front() == '.')
            continue;
        if (wanted(name) && hasKind(dir.get(), *entry, kind))
            names.emplace_back(name);
    }
    return names;
}

} // namespace

std::vector<std::string> list(const std::string &folder, Kind kind,
                              const std::function<bool(std::string_view)> &wanted)
{
    DirHandle dir(opendir(folder.c_str()));
    if (!dir) {
        const int error = errno;
        // A folder that is not there is a missing path, not a missing file.
        throw error == ENOENT ? FileError::pathNotFound() : FileError::fromErrno(error);
    }
    return listing(std::move(dir), kind, wanted);
}

std::vector<std::string> list(const NativeFolder &folder, Kind kind,
                              const std::function<bool(std::string_view)> &wanted)
{
    // A handle of its own, read from the start: the folder's stays as it is.
    const int own = ::fcntl(static_cast<int>(folder.file.handle()), F_DUPFD_CLOEXEC, 0);
    DirHandle dir(own >= 0 ? ::fdopendir(own) : nullptr);
    if (!dir) {
        const int error = errno;
        if (own >= 0)
            ::close(own);
        throw FileError::fromErrno(error);
    }
    ::rewinddir(dir.get());
    return listing(std::move(dir), kind, wanted);
}

std::string workingFolder()
{
    std::vector<char> buffer(256);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            throw FileError::fromErrno(errno);
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

bool isGone(const std::string &path)
{
    struct stat status = {};
    return ::stat(path.c_str(), &status) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

bool isSeparator(char character)
{
    return character == '/';
}

bool sameSpelling(std::string_view a, std::string_view b)
{
    return a == b;
}

std::string fromQtPath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

QString toQtPath(const std::string &nativePath)
{
    return QFile::decodeName(QByteArray::fromStdString(nativePath));
}

} // namespace NativePaths
