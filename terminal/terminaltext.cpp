#include "terminaltext.h"

#include "fileerror.h"
#include "nativepaths.h"

#include <algorithm>
#include <ostream>

namespace {

// How long the UTF-8 sequence at `at` is, or 0 where no valid one starts there.
std::size_t utf8Length(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) -> unsigned char {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
    };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf; // the second byte's range, narrower where it would be overlong
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf; // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xbf)
            return 0;
    }
    return length;
}

// Every text that names a script or a folder reaches the terminal through here. Another user
// may name them with control characters, to break a listing into false lines or to command the
// terminal: C0 and C1 controls, and any byte that is not part of a UTF-8 character (a lone
// 0x9B is a control to an 8-bit terminal), are shown as escapes; where a backslash is part of a
// name, it is shown doubled, so that no name passes for another.
std::string escaped(std::string_view text, bool backslashes)
{
    constexpr const char *kHex = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\\' && backslashes) {
            shown += "\\\\";
        } else if (byte < 0x20 || byte == 0x7f) {
            shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xf]};
        } else if (byte >= 0x80) {
            const std::size_t length = utf8Length(text, i);
            const auto next = static_cast<unsigned char>(length == 2 ? text[i + 1] : 0);
            if (length == 0) {
                shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xf]};
            } else if (byte == 0xc2 && next <= 0x9f) { // U+0080 to U+009F
                shown += {'\\', 'u', '0', '0', kHex[next >> 4], kHex[next & 0xf]};
            } else {
                shown.append(text.substr(i, length));
            }
            i += std::max<std::size_t>(length, 1);
            continue;
        } else {
            shown += static_cast<char>(byte);
        }
        ++i;
    }
    return shown;
}

} // namespace

std::string shownName(std::string_view name)
{
    return escaped(name, true);
}

std::string shownPath(std::string_view path)
{
#ifdef _WIN32
    constexpr bool kBackslashesAreInNames = false; // they separate a path's folders
#else
    constexpr bool kBackslashesAreInNames = true;
#endif
    return escaped(path, kBackslashesAreInNames);
}

void tellSetAside(std::ostream &err, const std::vector<std::string> &messages)
{
    for (const std::string &message : messages)
        err << shownPath(message) << '\n';
}

std::string folderOf(const CommandLine &command)
{
    return command.folder.empty() ? NativePaths::workingFolder() : command.folder;
}

std::string failureText(const FileError &error, const CommandLine &command)
{
    std::string text = error.what();
    if (!error.detail().empty())
        text += ": " + shownPath(error.detail());
    else if (error.number() == FileError::pathNotFound().number() && !command.folder.empty())
        text += ": no existe la carpeta " + shownPath(command.folder);
    return text;
}

bool answeredYes(const std::string &answer)
{
    return answer == "s" || answer == "S" || answer == "si" || answer == "sí" || answer == "Si" ||
           answer == "Sí";
}
