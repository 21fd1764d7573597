#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>

// Names and paths on Windows. The rest of the program keeps them as UTF-8; they become UTF-16
// here only, never through the ANSI code page, and every path handed to the system is a
// verbatim one. Each function throws FileError.
namespace win32names {

// 75 for bytes that are not UTF-8, or hold a NUL: no file has such a name.
std::wstring toWide(const std::string &utf8);
// nullopt for a name UTF-8 cannot spell (NTFS allows a lone surrogate).
std::optional<std::string> tryFromWide(const std::wstring &wide);
std::string fromWide(const std::wstring &wide); // 75 where tryFromWide() has nothing

// The absolute path, as the system spells it; a verbatim path is kept as it is.
std::wstring fullPath(const std::wstring &path);
// "\\?\C:\..." or "\\?\UNC\server\share\..." for an absolute path.
std::wstring verbatim(const std::wstring &fullPath);
// The verbatim path of one entry of a folder. 75 for a name that is not one entry: empty, "."
// or "..", or holding a separator or a colon (which would name a stream of another file).
std::wstring entryPath(const std::string &folder, const std::string &name);

// The system's own verbatim name for an open file or folder, links resolved; empty on failure.
std::wstring finalPath(HANDLE file);
// A verbatim path without its prefix, where the plain spelling names the same file.
std::wstring plainPath(const std::wstring &verbatimPath);
// Folder and name of a plain path, as UTF-8; a root folder keeps its separator.
std::pair<std::string, std::string> splitPath(const std::wstring &path);
// Where the folders of a verbatim path begin: past "\\?\C:\" or "\\?\UNC\server\share\".
std::size_t rootLength(const std::wstring &verbatimPath);

// %LOCALAPPDATA%: the user's own folder on this machine, as the variable names it when it holds
// an absolute path, else as the system knows it; empty where there is none.
std::wstring localAppData();
// Every entry of a folder but "." and "..".
void forEachEntry(const std::wstring &verbatimFolder,
                  const std::function<void(const WIN32_FIND_DATAW &)> &visit);

} // namespace win32names
