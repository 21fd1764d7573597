#pragma once

#include "cierres.h"
#include "scriptchanges.h"

#include <algorithm>
#include <cstddef>
#include <string>

// The script's new text worked out the plain way, the whole text at once: trim, then the left
// pass, then the right pass. The transform's tests and its fuzz target hold it to this.
inline std::string referenceTransform(const std::string &input, const Cierres &cierres)
{
    const bool littleEndian = input.rfind("\xff\xfe", 0) == 0;
    const bool bigEndian = input.rfind("\xfe\xff", 0) == 0;
    if (!littleEndian && !bigEndian) {
        const auto first = input.find_first_not_of(' ');
        if (first == std::string::npos)
            return {};
        std::string text = input.substr(first, input.find_last_not_of(' ') - first + 1);
        std::replace(text.begin(), text.end(), cierres.CierreIz[0], cierres.NewCierreIz[0]);
        std::replace(text.begin(), text.end(), cierres.CierreDer[0], cierres.NewCierreDer[0]);
        return text;
    }

    // By characters, each a pair of bytes: the low byte first in little endian.
    const std::size_t low = littleEndian ? 0 : 1;
    const auto isChar = [&](const std::string &text, std::size_t at, char value) {
        return text[at + low] == value && text[at + 1 - low] == '\0';
    };
    const std::string mark = input.substr(0, 2);
    const std::string body = input.substr(2, (input.size() - 2) & ~std::size_t{1});
    const std::string odd = input.substr(2 + body.size());

    std::size_t begin = 0;
    while (begin < body.size() && isChar(body, begin, ' '))
        begin += 2;
    std::size_t end = body.size();
    if (odd.empty()) {
        while (end > begin && isChar(body, end - 2, ' '))
            end -= 2;
    }
    std::string text = body.substr(begin, end - begin);
    for (const auto &[from, to] : {std::pair{cierres.CierreIz[0], cierres.NewCierreIz[0]},
                                   std::pair{cierres.CierreDer[0], cierres.NewCierreDer[0]}}) {
        for (std::size_t at = 0; at < text.size(); at += 2) {
            if (isChar(text, at, from))
                text[at + low] = to;
        }
    }
    return mark + text + odd;
}

// What the passes changed, compared character by character with the text only trimmed: a left
// delimiter where it was one, a right one otherwise; and every character the trimming took.
inline ScriptChanges referenceChanges(const std::string &input, const Cierres &cierres)
{
    const bool littleEndian = input.rfind("\xff\xfe", 0) == 0;
    const bool bigEndian = input.rfind("\xfe\xff", 0) == 0;
    const std::size_t width = littleEndian || bigEndian ? 2 : 1;
    const std::string left = bigEndian      ? '\0' + cierres.CierreIz
                             : littleEndian ? cierres.CierreIz + '\0'
                                            : cierres.CierreIz;
    const std::string before = referenceTransform(
        input, {cierres.CierreIz, cierres.CierreDer, cierres.CierreIz, cierres.CierreDer});
    const std::string after = referenceTransform(input, cierres);
    ScriptChanges changes{(input.size() - before.size()) / width, 0, 0};
    // From the mark on; an odd last byte is the same in both.
    for (std::size_t at = 2 * (width - 1); at + width <= before.size(); at += width) {
        if (before.compare(at, width, after, at, width) != 0)
            ++(before.compare(at, width, left) == 0 ? changes.left : changes.right);
    }
    return changes;
}
