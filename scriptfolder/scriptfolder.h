#pragma once

#include "nativefiles.h"

#include <string>
#include <string_view>
#include <vector>

// The scripts of a folder as the rewrite walks them: the same list in the window and on the
// command line.
namespace ScriptFolder {

// A name ending in ".txt", whatever the case of the extension, as Windows matches "*.txt".
bool isScriptName(std::string_view nativeName);

// The names (native bytes, without folder) of the open folder's visible ordinary files that
// are scripts, sorted as the platform's file dialogs show them. Throws FileError when the folder
// cannot be read.
std::vector<std::string> scripts(const NativeFolder &folder);

// The scripts of the folder at a path, and which folder they were read from: the path may lead
// to another one by the time a run comes.
struct Listing
{
    FileKey folder;
    std::vector<std::string> scripts;
};
Listing list(const std::string &nativeFolder);

} // namespace ScriptFolder
