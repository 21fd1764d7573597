#pragma once

#include <QString>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// File names on this platform are bytes that need not be valid in the user's encoding. These
// helpers keep the bytes as they are and decode them only to show them.
namespace NativeFolder {

enum class Kind
{
    OrdinaryFile,
    Folder,
};

// The names of the folder's entries of one kind that the filter accepts, in no particular order.
// Symbolic links count as what they point to. Throws FileError when the folder cannot be read.
std::vector<std::string> list(const std::string &folder, Kind kind,
                              const std::function<bool(std::string_view)> &wanted);

// Valid UTF-8 as it is; anything else read as Latin-1, as names from old Windows disks are.
QString displayName(std::string_view nativeName);

// In the order the platform's file dialogs show: case-blind, numbers by value.
void sortByName(std::vector<std::string> &nativeNames);

bool isHidden(std::string_view nativeName);

// The process's working folder, however long. Throws FileError when it cannot be told.
std::string workingFolder();

} // namespace NativeFolder
