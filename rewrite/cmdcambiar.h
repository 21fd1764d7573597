#pragma once

#include "fileerror.h"
#include "windowoperations.h"

#include <optional>

// The rewrite run: what the "Cambiar Etiquetas" button does. Returns the failure it reported,
// for a caller that passes its number on as an exit status; the window has shown it already.
std::optional<FileError> cmdCambiar_Click(WindowOperations &window);
