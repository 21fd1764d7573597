#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

// The Wine version when the tests run under Wine, else null: a few tests skip what Wine lacks.
inline const char *wineVersion()
{
#ifdef _WIN32
    using Version = const char *(__cdecl *)();
    const auto version = reinterpret_cast<Version>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    return version ? version() : nullptr;
#else
    return nullptr;
#endif
}
