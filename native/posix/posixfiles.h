#pragma once

// What the POSIX mechanism's files share: descriptors held by NativeFile, and system errors
// thrown as the program's.
#include "fileerror.h"
#include "nativefiles.h"

#include <sys/stat.h>

#include <cerrno>

namespace posixfiles {

[[noreturn]] inline void fail(int systemError)
{
    throw FileError::fromErrno(systemError);
}

inline int fd(const NativeFile &file)
{
    return static_cast<int>(file.handle());
}

inline int fd(const NativeFolder &folder)
{
    return fd(folder.file);
}

struct stat statOf(int descriptor);

// Leaves errno as the call left it, for the caller to look at.
inline NativeFile adopt(int descriptor)
{
    const int error = errno;
    NativeFile file(descriptor < 0 ? -1 : descriptor);
    errno = error;
    return file;
}

} // namespace posixfiles
