#pragma once

#include <string>
#include <string_view>

// Joins a folder and a name with one separator: at a root the folder already ends in it, and
// "/" + "a" must name the same entry as any other spelling would.
inline std::string joinPath(const std::string &folder, std::string_view name)
{
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}
