#pragma once

#include "commandline.h"

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

class FileError;

// What a run and an undo from the terminal share: where they talk, the folder they work in, and
// how they show names, failures and what recovery set aside, and read a yes.

// The exit statuses a run and an undo share: "no" at the question, and the shell's way to tell a
// program ended by a signal (128 and the signal's number).
inline constexpr int kNotConfirmed = 1;
inline constexpr int kStoppedBySignal = 128;

// Where a run from the terminal talks, and whether a person sits at either end.
struct TerminalStreams
{
    std::istream &in;
    std::ostream &out;
    std::ostream &err;
    bool inIsTerminal = false;
    bool errIsTerminal = false;
};

// The folder they work in: the working folder when none was given.
std::string folderOf(const CommandLine &command);
// A failure's line, in the window's words where the folder given is not there or is not a
// folder, with what it concerns where the error says.
std::string failureText(const FileError &error, const CommandLine &command);
// Whether a typed answer says yes.
bool answeredYes(const std::string &answer);
// A script's name, or a path, as a line of the terminal shows it. Another user may name a
// script or a folder with control characters, to break a listing into false lines or to command
// the terminal: they are shown as escapes (\x0a, \u009b, and \x9b for a byte outside any UTF-8
// character), and a backslash that is part of a name as two, so that no name passes for another.
std::string shownName(std::string_view name);
std::string shownPath(std::string_view path);
// What the recovery of a killed run set aside, a message a line. Each names a script, and is
// shown as its name would be, a path's separators aside.
void tellSetAside(std::ostream &err, const std::vector<std::string> &messages);
