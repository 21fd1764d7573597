#pragma once

#include "nativefiles.h"

#include <QString>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Folders and the names in them as this platform has them. Native names and paths are kept as
// bytes: the file system's own on POSIX, which need not be valid in the user's encoding, and
// UTF-8 on Windows, converted from the system's UTF-16 only in the platform file. What differs
// between platforms lives in nativepaths_posix.cpp and nativepaths_win32.cpp.
namespace NativePaths {

enum class Kind
{
    OrdinaryFile,
    Folder,
};

// The names of the folder's visible entries of one kind that the filter accepts, in no
// particular order. Hidden means what the platform's file dialogs leave out: a leading dot on
// POSIX, the hidden or system attribute on Windows. Symbolic links count as what they point
// to. Throws FileError when the folder cannot be read.
std::vector<std::string> list(const std::string &folder, Kind kind,
                              const std::function<bool(std::string_view)> &wanted);
// The same of a folder already open, which is read itself whatever its path leads to now.
std::vector<std::string> list(const NativeFolder &folder, Kind kind,
                              const std::function<bool(std::string_view)> &wanted);

// Valid UTF-8 as it is; anything else read as Latin-1, as names from old Windows disks are.
QString displayName(std::string_view nativeName);

// In the order the platform's file dialogs show: case-blind, numbers by value.
void sortByName(std::vector<std::string> &nativeNames);

// The process's working folder, however long. Throws FileError when it cannot be told.
std::string workingFolder();

// True only when nothing is there any more, so that any other fault is reported instead.
bool isGone(const std::string &path);

// '/' on POSIX; '\\' and '/' on Windows.
bool isSeparator(char character);

// Whether two paths or names are spelt the same as the file system compares them: byte for
// byte on POSIX, case-blind on Windows.
bool sameSpelling(std::string_view a, std::string_view b);

// Between native paths and the standard library's, without any code page in between.
std::filesystem::path toPath(std::string_view nativePath);
std::string fromPath(const std::filesystem::path &path);

// Between native paths and Qt's, which writes "/" on every platform.
std::string fromQtPath(const QString &path);
QString toQtPath(const std::string &nativePath);

} // namespace NativePaths
