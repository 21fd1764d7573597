#include "temporaryfolder.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

namespace {

// Waits until `done` holds, for a minute at most.
bool waitUntil(const std::function<bool()> &done)
{
    for (int tries = 0; tries < 6000; ++tries) {
        if (done())
            return true;
        ::usleep(10000);
    }
    return false;
}

// True when the program catches `signal`, as the system tells in its status.
bool catches(pid_t program, int signal)
{
    std::ifstream status("/proc/" + std::to_string(program) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("SigCgt:"))
            return ((std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1) != 0;
    }
    return false;
}

// A session manager ends programs with SIGTERM, and a logout sends SIGHUP: the window closes as
// if the user had closed it, and the program ends as it then does.
TEST(ProgramWindow, SigtermAndSighupCloseTheWindowAsTheUserWould)
{
    TemporaryFolder folder;
    for (const int signal : {SIGTERM, SIGHUP}) {
        const pid_t program = ::fork();
        if (program == 0) {
            // Qt's own buffers at the end of a real program are not this test's business.
            ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            ::execl(DOVEZURAD_PROGRAM, DOVEZURAD_PROGRAM, folder.path().c_str(), nullptr);
            ::_exit(127);
        }
        ASSERT_TRUE(waitUntil([&] { return catches(program, signal); }));
        ::kill(program, signal);
        int status = -1;
        if (!waitUntil([&] { return ::waitpid(program, &status, WNOHANG) == program; }))
            ::kill(program, SIGKILL); // and the check below fails
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ::strsignal(signal);
    }
}

} // namespace
