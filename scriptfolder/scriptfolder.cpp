#include "scriptfolder.h"

#include "nativefolder.h"

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

std::vector<std::string> scripts(const std::string &nativeFolder)
{
    std::vector<std::string> names =
        NativeFolder::list(nativeFolder, NativeFolder::Kind::OrdinaryFile, &isScriptName);
    NativeFolder::sortByName(names);
    return names;
}

} // namespace ScriptFolder
