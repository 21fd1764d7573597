#pragma once

#include "windowoperations.h"

// The rewrite run: what the "Cambiar Etiquetas" button does.
void cmdCambiar_Click(WindowOperations &window);
