#include "temporaryfolder.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// True once the program catches `signal`, as the system tells in its status.
bool catches(pid_t program, int signal)
{
    for (int tries = 0; tries < 3000; ++tries) {
        std::ifstream status("/proc/" + std::to_string(program) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("SigCgt:") &&
                ((std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1) != 0)
                return true;
        }
        ::usleep(10000);
    }
    return false;
}

// The program's exit status; -1 when a signal ended it, or when it was still there after a
// minute and had to be killed.
int exitStatus(pid_t program)
{
    int status = 0;
    for (int tries = 0; tries < 6000; ++tries) {
        if (::waitpid(program, &status, WNOHANG) == program)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ::usleep(10000);
    }
    ::kill(program, SIGKILL);
    ::waitpid(program, &status, 0);
    return -1;
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
        ASSERT_TRUE(catches(program, signal)) << ::strsignal(signal);
        ::kill(program, signal);
        EXPECT_EQ(exitStatus(program), 0) << ::strsignal(signal);
    }
}

} // namespace
