#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

// Runs `work` in a child process and gives its exit status, or 1000 + the signal that ended it.
inline int inChild(const std::function<int()> &work)
{
    const pid_t child = ::fork();
    if (child == 0) {
        int status = 99;
        try {
            status = work();
        } catch (...) {
        }
        ::_exit(status);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}
