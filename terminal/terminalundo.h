#pragma once

#include "commandline.h"
#include "terminaltext.h"

// Takes back the last run in command.folder (--deshacer), asking first unless told --si, and
// returns the exit status: 0 restored or nothing to undo, 1 not confirmed, 3 some scripts left
// because they changed since, otherwise the failure's number.
int undoFromTerminal(const CommandLine &command, TerminalStreams streams);
