#pragma once

#include <string>

// The delimiter set: the current left and right tag delimiters and their replacements,
// one character (one byte of the script's code page) each.
struct Cierres
{
    std::string CierreIz;
    std::string CierreDer;
    std::string NewCierreIz;
    std::string NewCierreDer;
    bool operator==(const Cierres &) const = default;
};
