#pragma once

#include "fileerror.h"

// The error number a call throws, 0 when it succeeds.
template <typename Call> int errorOf(Call call)
{
    try {
        call();
    } catch (const FileError &error) {
        return error.number();
    }
    return 0;
}
