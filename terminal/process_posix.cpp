#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <span>

namespace Process {

namespace {

// A signal handler can reach nothing but what is global, so what the stop signals leave for the
// program lives here, and only here: the first signal caught, and a pipe that wakes whoever
// waits for it. The pipe is made once, before the handlers, and lives as long as the process,
// since a handler may still write to it while the program ends.
struct CaughtStop
{
    std::atomic<int> signal{0};
    int notifyRead = -1;
    int notifyWrite = -1;
};
CaughtStop g_caught;
static_assert(std::atomic<int>::is_always_lock_free, "the handler must not take a lock");

void onStopSignal(int signal)
{
    const int savedErrno = errno;
    int none = 0;
    g_caught.signal.compare_exchange_strong(none, signal);
    const char byte = 0;
    // A full pipe already wakes its reader.
    [[maybe_unused]] const ssize_t written = ::write(g_caught.notifyWrite, &byte, 1);
    errno = savedErrno;
}

} // namespace

std::vector<std::string> arguments(int argc, char *argv[])
{
    return {argv, argv + argc};
}

void catchStopSignals(StopSignals which)
{
    std::signal(SIGPIPE, SIG_IGN);
    if (g_caught.notifyWrite < 0) {
        std::array<int, 2> ends{-1, -1};
        if (::pipe2(ends.data(), O_CLOEXEC | O_NONBLOCK) != 0)
            return; // uncaught, the signals end the program as they always did
        g_caught.notifyRead = ends[0];
        g_caught.notifyWrite = ends[1];
    }

    const std::array terminalSet{SIGINT, SIGTERM, SIGHUP};
    const std::array windowSet{SIGTERM, SIGHUP};
    struct sigaction action
    {
    };
    action.sa_handler = onStopSignal;
    // The run's own reads and writes go on; it looks at stopSignal() between steps.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : terminalSet)
        sigaddset(&action.sa_mask, signal);
    for (const int signal :
         which == StopSignals::Terminal ? std::span<const int>(terminalSet) : windowSet)
        ::sigaction(signal, &action, nullptr);
}

int stopSignal() noexcept
{
    return g_caught.signal.load();
}

int stopNotifier() noexcept
{
    return g_caught.notifyRead;
}

bool waitForInput()
{
    std::array<pollfd, 2> watched{pollfd{STDIN_FILENO, POLLIN, 0},
                                  pollfd{g_caught.notifyRead, POLLIN, 0}};
    for (;;) {
        if (stopSignal() != 0)
            return false;
        const int ready = ::poll(watched.data(), watched.size(), -1);
        if (stopSignal() != 0)
            return false;
        // A failing poll leaves it to the read to tell what is wrong with the input.
        if ((ready < 0 && errno != EINTR) || (ready > 0 && watched[0].revents != 0))
            return true;
    }
}

} // namespace Process
