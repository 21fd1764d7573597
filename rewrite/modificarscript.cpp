#include "modificarscript.h"

#include "fileerror.h"
#include "nativepath.h"
#include "uniquefd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr std::size_t kChunkSize = std::size_t{1} << 20;
constexpr unsigned char kSpace = ' ';

[[noreturn]] void fail(int systemError)
{
    throw FileError::fromErrno(systemError);
}

unsigned char delimiterByte(const std::string &delimiter)
{
    if (delimiter.size() != 1)
        throw std::invalid_argument("a delimiter is one byte");
    return static_cast<unsigned char>(delimiter.front());
}

// Both replacement passes folded into one mapping of every byte value; a byte made by the left
// pass is seen by the right one, as when the passes run one after the other.
class ByteMap
{
public:
    explicit ByteMap(const Cierres &cierres)
    {
        const unsigned char left = delimiterByte(cierres.CierreIz);
        const unsigned char newLeft = delimiterByte(cierres.NewCierreIz);
        const unsigned char right = delimiterByte(cierres.CierreDer);
        const unsigned char newRight = delimiterByte(cierres.NewCierreDer);
        std::array<unsigned char, 256> table{};
        for (unsigned value = 0; value < table.size(); ++value) {
            unsigned char byte = static_cast<unsigned char>(value);
            if (byte == left)
                byte = newLeft;
            if (byte == right)
                byte = newRight;
            table[value] = byte;
            if (byte != value)
                m_changes.push_back({static_cast<unsigned char>(value), byte});
        }
        // Only the two current delimiters can change; a lone change is given twice so that
        // apply() needs no branch on how many there are.
        if (m_changes.size() == 1)
            m_changes.push_back(m_changes.front());
    }

    bool changes(const unsigned char *data, std::size_t size) const
    {
        for (const Change &change : m_changes) {
            if (std::memchr(data, change.from, size) != nullptr)
                return true;
        }
        return false;
    }

    void apply(unsigned char *data, std::size_t size) const
    {
        if (m_changes.empty())
            return;
        // Compares and selects rather than looking bytes up, so that the compiler can run it
        // over many bytes at once.
        const auto [from1, to1] = m_changes[0];
        const auto [from2, to2] = m_changes[1];
        for (std::size_t i = 0; i < size; ++i) {
            const unsigned char byte = data[i];
            data[i] = byte == from1 ? to1 : (byte == from2 ? to2 : byte);
        }
    }

private:
    struct Change
    {
        unsigned char from;
        unsigned char to;
    };
    std::vector<Change> m_changes;
};

std::string parentFolder(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// A script that cannot be found may be missing itself, or its whole folder may be.
FileError notFound(int systemError, const std::string &folder)
{
    if (systemError == ENOTDIR)
        return FileError::pathNotFound();
    if (systemError != ENOENT)
        return FileError::fromErrno(systemError);
    struct stat folderStat
    {
    };
    if (::stat(folder.c_str(), &folderStat) != 0 || !S_ISDIR(folderStat.st_mode))
        return FileError::pathNotFound();
    return FileError::fileNotFound();
}

void writeAll(int fd, const unsigned char *data, std::size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, data, size, offset);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        offset += written;
    }
}

// A temporary file beside the script that disappears unless it was renamed over the script.
class TemporaryFile
{
public:
    explicit TemporaryFile(const std::string &folder)
        : m_path(joinPath(folder, ".dovezurad-XXXXXX"))
    {
        m_fd.reset(::mkostemp(m_path.data(), O_CLOEXEC));
        if (!m_fd)
            m_path.clear();
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;
    ~TemporaryFile()
    {
        m_fd.reset();
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }

    bool created() const { return static_cast<bool>(m_fd); }
    int fd() const { return m_fd.get(); }

    void replace(const std::string &target, const struct stat &original)
    {
        // Owner first: changing it may clear the set-id bits that the mode then restores.
        if (::fchown(m_fd.get(), original.st_uid, original.st_gid) != 0 && errno != EPERM)
            fail(errno);
        if (::fchmod(m_fd.get(), original.st_mode & 07777) != 0)
            fail(errno);
        if (::fdatasync(m_fd.get()) != 0)
            fail(errno);
        if (const int error = m_fd.close())
            fail(error);
        if (::rename(m_path.c_str(), target.c_str()) != 0)
            fail(errno);
        m_path.clear();
    }

private:
    std::string m_path;
    UniqueFd m_fd;
};

// Streams one script through the byte map with bounded memory. Nothing is written until the
// first byte that differs; up to there the output is the script's own prefix.
class ScriptRewrite
{
public:
    ScriptRewrite(const UniqueFd &input, const struct stat &original, std::string target,
                  const ByteMap &map, const ScriptProgress &progress)
        : m_input(input), m_original(original), m_target(std::move(target)), m_map(map),
          m_progress(progress)
    {
    }

    void run()
    {
        // Small scripts are read whole in one piece; large ones stream through a fixed chunk.
        const std::size_t bufferSize = static_cast<std::size_t>(
            std::min<off_t>(m_original.st_size + 1, static_cast<off_t>(kChunkSize)));
        const auto buffer = std::make_unique_for_overwrite<unsigned char[]>(bufferSize);
        for (;;) {
            const ssize_t got = ::read(m_input.get(), buffer.get(), bufferSize);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                fail(errno);
            }
            if (got == 0)
                break;
            consume(buffer.get(), static_cast<std::size_t>(got));
            m_read += static_cast<std::uint64_t>(got);
            if (m_progress && !m_progress(m_read, static_cast<std::uint64_t>(m_original.st_size)))
                throw RewriteAbandoned(); // the temporary file goes with m_temporary
        }
        // Trailing spaces still held back are dropped.
        if (m_pendingSpaces > 0)
            startOutput();
        finish();
    }

private:
    void consume(unsigned char *data, std::size_t size)
    {
        std::size_t begin = 0;
        if (m_atStart) {
            while (begin < size && data[begin] == kSpace)
                ++begin;
            if (begin > 0)
                startOutput();
            if (begin == size)
                return;
            m_atStart = false;
        }
        std::size_t end = size;
        while (end > begin && data[end - 1] == kSpace)
            --end;
        if (end == begin) {
            m_pendingSpaces += size - begin;
            return;
        }
        emitPendingSpaces();
        emit(data + begin, end - begin);
        m_pendingSpaces = static_cast<off_t>(size - end);
    }

    void emitPendingSpaces()
    {
        if (m_pendingSpaces == 0)
            return;
        std::array<unsigned char, 4096> spaces{};
        while (m_pendingSpaces > 0) {
            spaces.fill(kSpace); // emit() maps the bytes where they stand
            const std::size_t count = static_cast<std::size_t>(
                std::min<off_t>(m_pendingSpaces, static_cast<off_t>(spaces.size())));
            emit(spaces.data(), count);
            m_pendingSpaces -= static_cast<off_t>(count);
        }
    }

    void emit(unsigned char *data, std::size_t size)
    {
        if (m_output < 0 && m_map.changes(data, size))
            startOutput();
        if (m_output >= 0) {
            m_map.apply(data, size);
            writeAll(m_output, data, size, m_written);
        }
        m_written += static_cast<off_t>(size);
    }

    void startOutput()
    {
        if (m_output >= 0)
            return;
        // A script with more than one name is rewritten where it is, so that every name sees
        // the new text; a temporary file would leave the other names on the old one.
        if (m_original.st_nlink <= 1) {
            m_temporary = std::make_unique<TemporaryFile>(parentFolder(m_target));
            if (m_temporary->created()) {
                m_output = m_temporary->fd();
                copyPrefix();
                return;
            }
            m_temporary.reset();
        }
        // The output never grows past what was read, so writing over the script in place
        // cannot overtake the reading.
        m_inPlace.reset(::open(m_target.c_str(), O_WRONLY | O_CLOEXEC));
        if (!m_inPlace)
            fail(errno);
        m_output = m_inPlace.get();
    }

    void copyPrefix()
    {
        std::vector<unsigned char> buffer(m_written < static_cast<off_t>(kChunkSize)
                                              ? static_cast<std::size_t>(m_written)
                                              : kChunkSize);
        off_t offset = 0;
        while (offset < m_written) {
            const std::size_t wanted = static_cast<std::size_t>(
                std::min<off_t>(m_written - offset, static_cast<off_t>(buffer.size())));
            const ssize_t got = ::pread(m_input.get(), buffer.data(), wanted, offset);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                fail(errno);
            }
            if (got == 0)
                fail(EIO); // the script shrank under us
            writeAll(m_output, buffer.data(), static_cast<std::size_t>(got), offset);
            offset += got;
        }
    }

    void finish()
    {
        if (m_temporary) {
            m_temporary->replace(m_target, m_original);
        } else if (m_inPlace) {
            if (::ftruncate(m_inPlace.get(), m_written) != 0 || ::fdatasync(m_inPlace.get()) != 0)
                fail(errno);
            if (const int error = m_inPlace.close())
                fail(error);
        }
    }

    const UniqueFd &m_input;
    const struct stat &m_original;
    const std::string m_target;
    const ByteMap &m_map;
    const ScriptProgress &m_progress;

    std::uint64_t m_read = 0;
    bool m_atStart = true;
    off_t m_pendingSpaces = 0;
    off_t m_written = 0;
    int m_output = -1;
    std::unique_ptr<TemporaryFile> m_temporary;
    UniqueFd m_inPlace;
};

std::string resolveLink(const std::string &path)
{
    struct stat linkStat
    {
    };
    if (::lstat(path.c_str(), &linkStat) != 0)
        fail(errno);
    if (!S_ISLNK(linkStat.st_mode))
        return path;
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved)
        fail(errno);
    return resolved.get();
}

} // namespace

void ModificarScript(const std::string &folder, const std::string &fileName, const Cierres &cierres,
                     const ScriptProgress &progress)
{
    const ByteMap map(cierres);
    if (folder.empty())
        throw FileError::pathNotFound();
    const std::string path = joinPath(folder, fileName);

    // Looked at before opening: opening a FIFO would block and opening a device may act on it.
    struct stat original
    {
    };
    if (::stat(path.c_str(), &original) != 0)
        throw notFound(errno, folder);
    if (!S_ISREG(original.st_mode))
        throw FileError::accessError();

    UniqueFd input(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!input)
        throw notFound(errno, folder);
    if (::fstat(input.get(), &original) != 0)
        fail(errno);
    if (!S_ISREG(original.st_mode))
        throw FileError::accessError();

    // A script marked read-only stays so, even for a user the system would let write it.
    if ((original.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        throw FileError::accessError();
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
        fail(errno);

    const std::string target = resolveLink(path);
    ScriptRewrite(input, original, target, map, progress).run();

    // The run flushes the scripts' folder; a linked script's own folder is flushed here.
    if (parentFolder(target) != parentFolder(path))
        flushFolder(parentFolder(target));
}

void flushFolder(const std::string &folder)
{
    UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory)
        return; // nothing of ours can be flushed through a folder we cannot open
    if (::fsync(directory.get()) != 0 && errno != EINVAL && errno != EROFS)
        fail(errno);
}
