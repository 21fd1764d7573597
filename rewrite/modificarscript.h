#pragma once

#include "cierres.h"
#include "scriptprogress.h"

#include <string>

// Rewrites one script in place: trims the spaces at both ends, then replaces every CierreIz by
// NewCierreIz and after that every CierreDer by NewCierreDer. The script's bytes are not decoded.
// Throws FileError on any failure of the file system, leaving the script as it was. progress,
// when given, is told how far the script has come at least once a chunk.
void ModificarScript(const std::string &folder, const std::string &fileName, const Cierres &cierres,
                     const ScriptProgress &progress = {});

// Makes the renames done in a folder outlast a power cut.
void flushFolder(const std::string &folder);
