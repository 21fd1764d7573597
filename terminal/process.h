#pragma once

#include <string>
#include <vector>

// What the program gets from its platform as a process: its arguments, and the signals that ask
// it to stop from outside (Ctrl+C, kill's SIGTERM, and SIGHUP when its terminal goes away or the
// user logs out). Caught, a stop signal ends the run under way the way closing the window does,
// instead of killing the program between two writes.
namespace Process {

// The arguments as the program received them, its name first: the platform's own bytes, which
// name files exactly whatever their encoding.
std::vector<std::string> arguments(int argc, char *argv[]);

enum class StopSignals
{
    Terminal, // SIGINT, SIGTERM and SIGHUP
    Window,   // SIGTERM and SIGHUP; the window has its own way to be closed by the user
};

// Catches the stop signals from now on, and ignores a reader that went away (SIGPIPE), so that
// a closed output never changes a run's outcome. Call once, before any thread starts.
void catchStopSignals(StopSignals which);

// The first stop signal caught, or 0.
int stopSignal() noexcept;

// Becomes readable, and stays so, when a stop signal is caught, for an event loop to watch; -1
// when the signals are not caught.
int stopNotifier() noexcept;

// Waits until standard input has something to read: false when a stop signal came first.
bool waitForInput();

} // namespace Process
