#include "undotexts.h"

namespace {

std::string scripts(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " script" : " scripts");
}

// "se restauraron n de N scripts", with the verb agreeing with n.
std::string restoredOf(std::size_t restored, std::size_t count)
{
    return (restored == 1 ? "se restauró " : "se restauraron ") + std::to_string(restored) +
           " de " + scripts(count);
}

std::string capitalized(std::string text)
{
    text[0] = 'S';
    return text;
}

} // namespace

namespace undotexts {

std::string question(std::size_t count)
{
    const std::string what =
        count == 1 ? "Se restaurará el script modificado"
                   : "Se restaurarán los " + std::to_string(count) + " scripts modificados";
    return what + " por la última ejecución en esta carpeta. ¿Desea continuar?";
}

std::string changedSince(std::size_t restored, std::size_t count, std::size_t listed)
{
    return capitalized(restoredOf(restored, count)) +
           (listed == 1 ? "; este cambió después y no se tocó:"
                        : "; estos cambiaron después y no se tocaron:");
}

std::string notKept(std::size_t restored, std::size_t count, std::size_t listed)
{
    return capitalized(restoredOf(restored, count)) +
           (listed == 1 ? "; este no se pudo guardar y sigue cambiado:"
                        : "; estos no se pudieron guardar y siguen cambiados:");
}

std::string stopped(std::size_t restored, std::size_t count)
{
    return "Deshacer interrumpido: " + restoredOf(restored, count) + restStays(restored, count);
}

std::string restStays(std::size_t done, std::size_t count)
{
    if (done >= count)
        return ".";
    if (count - done > 1)
        return "; los demás quedan como estaban.";
    return count == 1 ? "; queda como estaba." : "; el otro queda como estaba.";
}

} // namespace undotexts
