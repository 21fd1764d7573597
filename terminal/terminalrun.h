#pragma once

#include "commandline.h"
#include "terminaltext.h"

// Rewrites the scripts of command.folder as the window's button would, and returns the exit
// status: 0 done or nothing to do, 1 not confirmed, otherwise the failure's number. With
// command.dryRun it only tells what would change, script by script, and returns 0 or the
// failure's number.
int rewriteFromTerminal(const CommandLine &command, TerminalStreams streams);
