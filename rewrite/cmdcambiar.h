#pragma once

#include "cierres.h"
#include "fileerror.h"
#include "windowoperations.h"

#include <array>
#include <optional>

// What a run, and an undo, give back to the user when they end. File1 stays disabled: it is a
// display-only list.
inline constexpr std::array kUnlockedAfterRun{Control::Dir1,           Control::Drive1,
                                              Control::txtCierreIz,    Control::txtCierreDer,
                                              Control::txtNewCierreIz, Control::txtNewCierreDer};

// The rewrite run: what the "Cambiar Etiquetas" button does. A click that comes while a run is
// under way is the caller's to ignore. Returns the failure it reported, for a caller that passes
// its number on as an exit status; the window has shown it already.
std::optional<FileError> cmdCambiar_Click(WindowOperations &window);

// The button's checks, in its order, before anything is asked: false when the file list is empty
// (nothing said) or a delimiter field is ("Debe configurar todo", and the field gets the focus).
bool readyToRun(WindowOperations &window);
// The four delimiters as the fields hold them now.
Cierres readCierres(WindowOperations &window);
