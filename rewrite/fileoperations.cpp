#include "fileoperations.h"

#include "fileerror.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kCopyChunk = std::size_t{1} << 20;
constexpr std::size_t kBlock = kRecoveryBlock;

bool zeroBlock(const unsigned char *data)
{
    return data[0] == 0 && std::memcmp(data, data + 1, kBlock - 1) == 0;
}

// Makes a block of the destination read as zeros, keeping or making it a hole.
void zeroOver(int to, int toRead, std::uint64_t offset)
{
    std::array<unsigned char, kBlock> now{};
    const std::size_t got = readFull(toRead, now.data(), now.size(), offset);
    if (std::all_of(now.begin(), now.begin() + static_cast<std::ptrdiff_t>(got),
                    [](unsigned char byte) { return byte == 0; }))
        return; // a hole already, zeros, or past the end that the final length fills with zeros
    if (::fallocate(to, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                    kBlock) == 0)
        return;
    if (errno != EOPNOTSUPP && errno != ENOSYS)
        failWith(errno);
    now.fill(0);
    writeAll(to, now.data(), now.size(), offset);
}

} // namespace

void failWith(int systemError)
{
    throw FileError::fromErrno(systemError);
}

std::size_t readFull(int fd, unsigned char *data, std::size_t size, std::uint64_t offset)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, data + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failWith(errno);
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

void writeAll(int fd, const unsigned char *data, std::size_t size, std::uint64_t offset)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failWith(errno);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

void writeSkippingHoles(int fd, const unsigned char *data, std::size_t size, std::uint64_t offset)
{
    std::size_t run = 0;
    std::size_t i = 0;
    while (i < size) {
        const std::uint64_t position = offset + i;
        const std::size_t length =
            std::min<std::size_t>(size - i, kBlock - static_cast<std::size_t>(position % kBlock));
        if (length == kBlock && zeroBlock(data + i)) {
            writeAll(fd, data + run, i - run, offset + run);
            run = i + length;
        }
        i += length;
    }
    writeAll(fd, data + run, size - run, offset + run);
}

bool copyRange(int from, std::uint64_t fromOffset, int to, std::uint64_t toOffset,
               std::uint64_t length, bool keepHoles)
{
    std::vector<unsigned char> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(length, kCopyChunk)));
    for (std::uint64_t done = 0; done < length;) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(length - done, buffer.size()));
        if (readFull(from, buffer.data(), want, fromOffset + done) != want)
            return false;
        if (keepHoles)
            writeSkippingHoles(to, buffer.data(), want, toOffset + done);
        else
            writeAll(to, buffer.data(), want, toOffset + done);
        done += want;
    }
    return true;
}

bool copyOver(int from, std::uint64_t fromOffset, int to, int toRead, std::uint64_t toOffset,
              std::uint64_t length)
{
    std::vector<unsigned char> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(length, kCopyChunk)));
    for (std::uint64_t done = 0; done < length;) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(length - done, buffer.size()));
        if (readFull(from, buffer.data(), want, fromOffset + done) != want)
            return false;
        const std::uint64_t offset = toOffset + done;
        std::size_t run = 0;
        for (std::size_t i = 0; i < want;) {
            const std::size_t block = std::min<std::size_t>(
                want - i, kBlock - static_cast<std::size_t>((offset + i) % kBlock));
            if (block == kBlock && zeroBlock(buffer.data() + i)) {
                writeAll(to, buffer.data() + run, i - run, offset + run);
                zeroOver(to, toRead, offset + i);
                run = i + block;
            }
            i += block;
        }
        writeAll(to, buffer.data() + run, want - run, offset + run);
        done += want;
    }
    return true;
}

void flushFolderFd(int fd)
{
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        failWith(errno);
}

UniqueFd tryOpenFolder(const std::string &path)
{
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    UniqueFd folder(::open(path.c_str(), kFlags));
    if (folder || errno != ENAMETOOLONG)
        return folder;
    folder.reset(::open(path.front() == '/' ? "/" : ".", kFlags));
    std::size_t begin = 0;
    while (folder && begin < path.size()) {
        std::size_t end = path.find('/', begin);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(begin, end - begin);
        begin = end + 1;
        if (part.empty())
            continue;
        const int next = ::openat(folder.get(), part.c_str(), kFlags);
        const int error = errno;
        folder.reset(next);
        errno = error;
    }
    return folder;
}

UniqueFd openFolderWithoutLinks(const std::string &path)
{
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    if (!path.starts_with('/')) {
        errno = ENOENT;
        return UniqueFd();
    }
    UniqueFd folder(::open("/", kFlags));
    std::size_t begin = 1;
    while (folder && begin < path.size()) {
        std::size_t end = path.find('/', begin);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(begin, end - begin);
        begin = end + 1;
        if (part.empty() || part == ".")
            continue;
        const int next = ::openat(folder.get(), part.c_str(), kFlags);
        const int error = errno;
        folder.reset(next);
        errno = error;
    }
    return folder;
}

std::string descriptorPath(int fd)
{
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    std::string path(4096, '\0');
    const ssize_t length = ::readlink(link.c_str(), path.data(), path.size());
    if (length < 0)
        failWith(errno);
    if (static_cast<std::size_t>(length) == path.size())
        failWith(ENAMETOOLONG);
    path.resize(static_cast<std::size_t>(length));
    return path;
}

std::string randomHex(std::size_t count)
{
    std::vector<unsigned char> bytes(count);
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failWith(errno);
        }
        got += static_cast<std::size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0xf];
    }
    return text;
}

FileFacts factsOf(const struct stat &status)
{
    FileFacts facts;
    if (S_ISREG(status.st_mode))
        facts.kind = FileFacts::Kind::Regular;
    else if (S_ISDIR(status.st_mode))
        facts.kind = FileFacts::Kind::Folder;
    else if (S_ISLNK(status.st_mode))
        facts.kind = FileFacts::Kind::Link;
    facts.owner = status.st_uid;
    facts.mode = status.st_mode & 07777;
    facts.links = status.st_nlink;
    facts.identity = {static_cast<std::uint64_t>(status.st_dev),
                      static_cast<std::uint64_t>(status.st_ino)};
    return facts;
}
