#pragma once

#include "windowoperations.h"

// The rewrite run: what the "Cambiar Etiquetas" button does. A click that comes while a run is
// under way is the caller's to ignore.
void cmdCambiar_Click(WindowOperations &window);
