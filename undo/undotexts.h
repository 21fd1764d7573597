#pragma once

#include <cstddef>
#include <string>

// What undo says, the same on the command line and in the window, in Spanish that agrees with
// its counts.
namespace undotexts {

inline constexpr const char *kRestored = "¡Etiquetas restauradas!";
inline constexpr const char *kNothingToUndo = "No hay cambios que deshacer en esta carpeta.";
inline constexpr const char *kNothingKept =
    "La última ejecución no guardó los originales; no se puede deshacer.";

// "Se restaurarán los N scripts modificados por la última ejecución en esta carpeta. ¿Desea
// continuar?"
std::string question(std::size_t count);
// "Se restauraron n de N scripts; estos cambiaron después y no se tocaron:", before the names
// of `listed` scripts.
std::string changedSince(std::size_t restored, std::size_t count, std::size_t listed);
// "Se restauraron n de N scripts; estos no se pudieron guardar y siguen cambiados:"
std::string notKept(std::size_t restored, std::size_t count, std::size_t listed);
// "Deshacer interrumpido: se restauraron n de N scripts; los demás quedan como estaban."
std::string stopped(std::size_t restored, std::size_t count);
// What follows "n de N scripts ..." when a run or an undo stopped after `done` of `count`:
// "; los demás quedan como estaban.", "; el otro queda como estaba.", or "." when none is left.
std::string restStays(std::size_t done, std::size_t count);

} // namespace undotexts
