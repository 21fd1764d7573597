#include "undorecord.h"

#include "recoverypolicy.h"

#include <charconv>
#include <cstdint>

namespace {

constexpr std::string_view kVersion = "dovezurad deshacer 2";
constexpr std::string_view kFirstVersion = "dovezurad deshacer 1"; // the originals unshelved
// More names than any folder of the file systems we run on can hold: a count past it comes from
// a damaged record, and nothing is made or looked for from it.
constexpr std::size_t kMostNames = std::size_t{1} << 32;

std::string encoded(std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > 0x20 && byte < 0x7f && byte != '%') {
            text += c;
        } else {
            text += '%';
            text += kHex[byte >> 4];
            text += kHex[byte & 0xf];
        }
    }
    return text;
}

std::optional<std::string> decoded(std::string_view text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            bytes += text[i];
            continue;
        }
        unsigned value = 0;
        if (i + 2 >= text.size())
            return std::nullopt;
        const auto [end, error] =
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
        if (error != std::errc() || end != text.data() + i + 3)
            return std::nullopt;
        bytes += static_cast<char>(value);
        i += 2;
    }
    return bytes;
}

std::string keyText(const FileKey &key)
{
    return std::to_string(key.volume) + ' ' + std::to_string(key.fileLow) + ' ' +
           std::to_string(key.fileHigh);
}

// The words of one line, split at single spaces.
std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> result;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = line.find(' ', begin);
        result.push_back(line.substr(begin, end - begin));
        if (end == std::string_view::npos)
            return result;
        begin = end + 1;
    }
}

template <typename Number> bool number(std::string_view word, Number &value)
{
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    return !word.empty() && error == std::errc() && end == word.data() + word.size();
}

bool key(const std::vector<std::string_view> &line, std::size_t at, FileKey &key)
{
    return number(line[at], key.volume) && number(line[at + 1], key.fileLow) &&
           number(line[at + 2], key.fileHigh);
}

} // namespace

namespace undorecord {

std::string header(const Cierres &cierres, const FileKey &folder, std::size_t previous)
{
    return std::string(kVersion) + "\ncierres " +
           encoded(cierres.CierreIz + cierres.CierreDer + cierres.NewCierreIz +
                   cierres.NewCierreDer) +
           "\ncarpeta " + keyText(folder) + "\nanteriores " + std::to_string(previous) + '\n';
}

std::string entryLine(const UndoEntry &entry)
{
    return "k " + std::to_string(entry.index) + (entry.byLink ? " r " : " c ") +
           keyText(entry.original) + ' ' + std::to_string(entry.size.value_or(0)) + ' ' +
           encoded(entry.name) + '\n';
}

std::string outputLine(std::size_t index, const FileIdentity &output)
{
    return "f " + std::to_string(index) + ' ' + keyText(output.key) + ' ' +
           std::to_string(output.size) + ' ' + std::to_string(output.modified) + ' ' +
           std::to_string(output.changed) + '\n';
}

std::string notKeptLine(const std::string &name)
{
    return "n " + encoded(name) + '\n';
}

std::string endLine(bool complete)
{
    return complete ? "fin\n" : "parcial\n";
}

std::optional<UndoManifest> parse(std::string_view text)
{
    if (!text.ends_with('\n'))
        return std::nullopt;
    std::vector<std::string_view> lines;
    for (std::size_t begin = 0; begin < text.size();) {
        const std::size_t end = text.find('\n', begin);
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    if (lines.size() < 4 || (lines[0] != kVersion && lines[0] != kFirstVersion))
        return std::nullopt;
    UndoManifest manifest;
    manifest.shelved = lines[0] == kVersion;
    const std::vector<std::string_view> delimiters = words(lines[1]);
    std::optional<std::string> bytes;
    if (delimiters.size() != 2 || delimiters[0] != "cierres" || !(bytes = decoded(delimiters[1])) ||
        bytes->size() != 4)
        return std::nullopt;
    manifest.cierres = {bytes->substr(0, 1), bytes->substr(1, 1), bytes->substr(2, 1),
                        bytes->substr(3, 1)};
    const std::vector<std::string_view> folder = words(lines[2]);
    if (folder.size() != 4 || folder[0] != "carpeta" || !key(folder, 1, manifest.folder))
        return std::nullopt;
    const std::vector<std::string_view> previous = words(lines[3]);
    if (previous.size() != 2 || previous[0] != "anteriores" ||
        !number(previous[1], manifest.previous) || manifest.previous > kMostNames)
        return std::nullopt;

    for (std::size_t i = 4; i < lines.size(); ++i) {
        if (manifest.finished)
            return std::nullopt; // nothing after the end
        const std::vector<std::string_view> line = words(lines[i]);
        if (line.size() == 1 && (line[0] == "fin" || line[0] == "parcial")) {
            manifest.finished = true;
            manifest.complete = line[0] == "fin";
            continue;
        }
        UndoEntry entry;
        const std::size_t sized = manifest.shelved ? 1 : 0;
        if (line.size() == 7 + sized && line[0] == "k") {
            std::optional<std::string> name = decoded(line[6 + sized]);
            std::uint64_t size = 0;
            if (!number(line[1], entry.index) || entry.index != manifest.entries.size() + 1 ||
                (line[2] != "r" && line[2] != "c") || !key(line, 3, entry.original) || !name ||
                !singleComponent(*name) || (sized != 0 && !number(line[6], size)))
                return std::nullopt;
            if (sized != 0)
                entry.size = size;
            entry.byLink = line[2] == "r";
            entry.name = std::move(*name);
            manifest.entries.push_back(std::move(entry));
            continue;
        }
        if (line.size() == 2 && line[0] == "n") {
            std::optional<std::string> name = decoded(line[1]);
            if (!name || !singleComponent(*name))
                return std::nullopt;
            manifest.notKept.push_back({std::move(*name), manifest.entries.size()});
            continue;
        }
        std::size_t index = 0;
        FileIdentity output;
        if (line.size() == 8 && line[0] == "f" && number(line[1], index) && index >= 1 &&
            index <= manifest.entries.size() && !manifest.entries[index - 1].output &&
            key(line, 2, output.key) && number(line[5], output.size) &&
            number(line[6], output.modified) && number(line[7], output.changed)) {
            output.kind = FileIdentity::Kind::Regular;
            manifest.entries[index - 1].output = output;
            continue;
        }
        return std::nullopt;
    }
    return manifest;
}

bool singleComponent(std::string_view name)
{
    // A backslash is a character of a name like any other on POSIX: a script named with one
    // must not make the whole record unreadable.
#ifdef _WIN32
    constexpr std::string_view kNotInAName("/\\\0", 3);
#else
    constexpr std::string_view kNotInAName("/\0", 2);
#endif
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(kNotInAName) == std::string_view::npos;
}

bool trustedArea(const FileIdentity &area)
{
    return trustedPrivateFolder(area) && !area.openToOthers;
}

} // namespace undorecord
