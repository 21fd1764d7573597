#pragma once

// Message box styles and answers, with the values of the Windows message box (its MB_ styles and
// ID answers): the low nibble of a style picks the buttons, the next one the icon.
namespace MessageStyle {
inline constexpr int Ok = 0;
inline constexpr int OkCancel = 1;
inline constexpr int YesNoCancel = 3;
inline constexpr int YesNo = 4;
inline constexpr int ButtonsMask = 0x0F;

inline constexpr int IconError = 0x10;
inline constexpr int IconQuestion = 0x20;
inline constexpr int IconWarning = 0x30;
inline constexpr int IconInformation = 0x40;
inline constexpr int IconMask = 0xF0;

inline constexpr int Error = Ok | IconError;
inline constexpr int YesNoCancelWarning = YesNoCancel | IconWarning;
} // namespace MessageStyle

namespace MessageAnswer {
inline constexpr int Ok = 1;
inline constexpr int Cancel = 2;
inline constexpr int Yes = 6;
inline constexpr int No = 7;
} // namespace MessageAnswer
