#pragma once

#include <string>
#include <vector>

// What the program was asked to do on its command line.
struct CommandLine
{
    enum class Action
    {
        Window,  // open the window, in folder if one was given
        Help,    // print helpText()
        Version, // print versionText()
        Rewrite, // rewrite folder's scripts without a window
        Undo,    // take back the last run in folder
        Refused, // print message and end with status 2
    };

    Action action = Action::Window;
    // Native bytes; empty: the working folder.
    std::string folder;
    // One byte each, checked against the fields' character sets.
    std::string cierreIz;
    std::string cierreDer;
    std::string newCierreIz;
    std::string newCierreDer;
    // The confirmation answered in advance.
    bool yes = false;
    // Only tell what the rewrite would change (--simular).
    bool dryRun = false;
    // Why the command line was refused, in Spanish.
    std::string message;
};

// Needs no application object, so that it runs before the program knows whether it will open
// a window. arguments holds the program's name first, as Process::arguments() gives them.
CommandLine parseCommandLine(const std::vector<std::string> &arguments);

std::string helpText();
std::string versionText();
