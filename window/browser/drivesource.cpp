#include "drivesource.h"

#include "nativepaths.h"

#include <string_view>

bool isOnDrive(const std::string &rootPath, const std::string &path)
{
    if (rootPath.empty() || path.size() < rootPath.size() ||
        !NativePaths::sameSpelling(std::string_view(path).substr(0, rootPath.size()), rootPath))
        return false;
    // A root that ends in its separator ("/", or C:\ on Windows) holds every path that starts
    // with it; any other holds only what follows it after a separator.
    return path.size() == rootPath.size() || NativePaths::isSeparator(rootPath.back()) ||
           NativePaths::isSeparator(path[rootPath.size()]);
}
