#include "nativefolder.h"

#include "fileerror.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>
#include <QStringDecoder>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <numeric>

namespace NativeFolder {

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

QCollator makeCollator()
{
    // The "C" locale of servers and containers would fall back to plain code-point order; the
    // platform's file dialogs sort numbers by value whatever the locale, so use a real one.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
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
        if (name == "." || name == "..")
            continue;
        if (wanted(name) && hasKind(dir.get(), *entry, kind))
            names.emplace_back(name);
    }
    return names;
}

QString displayName(std::string_view nativeName)
{
    const auto size = static_cast<qsizetype>(nativeName.size());
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(nativeName.data(), size));
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(nativeName.data(), size);
}

void sortByName(std::vector<std::string> &nativeNames)
{
    const QCollator collator = makeCollator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(nativeNames.size());
    for (const std::string &name : nativeNames)
        keys.push_back(collator.sortKey(displayName(name)));
    std::vector<std::size_t> order(nativeNames.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const int compared = keys[a].compare(keys[b]);
        // Names equal to the collator ("a.txt", "A.txt") still need a fixed order.
        return compared != 0 ? compared < 0 : nativeNames[a] < nativeNames[b];
    });
    std::vector<std::string> sorted;
    sorted.reserve(nativeNames.size());
    for (std::size_t index : order)
        sorted.push_back(std::move(nativeNames[index]));
    nativeNames = std::move(sorted);
}

bool isHidden(std::string_view nativeName)
{
    return !nativeName.empty() && nativeName.front() == '.';
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

} // namespace NativeFolder
