#pragma once

#include <cerrno>
#include <unistd.h>

#include <utility>

// Owns a file descriptor and closes it on every path out of its scope.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

    // Closes now and reports the close's own error, which may be the first sign of a failed
    // write on some file systems. Returns 0 or an errno value.
    int close()
    {
        const int fd = std::exchange(m_fd, -1);
        if (fd >= 0 && ::close(fd) != 0)
            return errno;
        return 0;
    }

private:
    int m_fd = -1;
};
