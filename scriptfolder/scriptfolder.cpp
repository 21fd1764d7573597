#include "scriptfolder.h"

#include "nativepaths.h"

#include <algorithm>

namespace ScriptFolder {

bool isScriptName(std::string_view nativeName)
{
    constexpr std::string_view kExtension = ".txt";
    if (nativeName.size() < kExtension.size())
        return false;
    const std::string_view tail = nativeName.substr(nativeName.size() - kExtension.size());
    return std::equal(tail.begin(), tail.end(), kExtension.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
}

std::vector<std::string> scripts(const NativeFolder &folder)
{
    std::vector<std::string> names =
        NativePaths::list(folder, NativePaths::Kind::OrdinaryFile, &isScriptName);
    NativePaths::sortByName(names);
    return names;
}

Listing list(const std::string &nativeFolder)
{
    const NativeFolder folder = nativefiles::openFolder(nativeFolder);
    return {nativefiles::identityOf(folder.file).key, scripts(folder)};
}

} // namespace ScriptFolder
