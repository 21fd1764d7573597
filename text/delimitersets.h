#pragma once

#include <string_view>

// The characters each delimiter field takes, and what a refused one is told. The window's four
// fields and the command line's --cambiar and --por check against the same sets. UTF-8.
namespace DelimiterSets {

inline constexpr std::string_view kLeftSet = "{[(</\\~";
inline constexpr std::string_view kRightSet = "}])>/\\~";
inline constexpr std::string_view kLeftMessage = "Entradas permitidas: { [ ( < / \\~";
inline constexpr std::string_view kRightMessage = "Entradas permitidas: } ] ) > / \\ ~";

} // namespace DelimiterSets
