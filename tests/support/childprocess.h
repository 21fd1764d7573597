#pragma once

#include "temporaryfolder.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

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

// Runs `work` as another, unprivileged user with its own state folder (98: could not become it).
inline int asUser(uid_t uid, gid_t gid, std::vector<gid_t> groups, const std::function<int()> &work)
{
    TemporaryFolder state;
    ::chown(state.path().c_str(), uid, gid);
    return inChild([&] {
        if (::setgroups(groups.size(), groups.data()) != 0 || ::setresgid(gid, gid, gid) != 0 ||
            ::setresuid(uid, uid, uid) != 0)
            return 98;
        ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
        return work();
    });
}

// What another user who may rename `folder` does to lead whoever works in it elsewhere: moves
// it aside and puts a link to `target` in its place. 0 when done.
inline int swapForLink(uid_t user, const std::filesystem::path &folder,
                       const std::filesystem::path &target)
{
    return asUser(user, user, {}, [&] {
        std::filesystem::path aside = folder;
        aside += ".old";
        std::filesystem::rename(folder, aside);
        std::filesystem::create_directory_symlink(target, folder);
        return 0;
    });
}
