#pragma once

#include "cierres.h"
#include "scripttransform.h"

#include <algorithm>
#include <cstddef>
#include <string>

// The script's new text worked out the plain way, the whole text at once: trim, then the left
// pass, then the right pass. The transform's tests and its fuzz target hold it to this.
struct ReferenceText
{
    std::string mark;   // a UTF-16 script's byte order mark, kept
    std::string before; // the trimmed text, before the passes
    std::string after;  // and after them
    std::string odd;    // a UTF-16 script's odd last byte, kept
    std::size_t width = 1;
};

inline ReferenceText referenceText(const std::string &input, const Cierres &cierres)
{
    ReferenceText result;
    const bool littleEndian = input.rfind("\xff\xfe", 0) == 0;
    const bool bigEndian = input.rfind("\xfe\xff", 0) == 0;
    if (!littleEndian && !bigEndian) {
        const auto first = input.find_first_not_of(' ');
        if (first != std::string::npos)
            result.before = input.substr(first, input.find_last_not_of(' ') - first + 1);
        result.after = result.before;
        std::replace(result.after.begin(), result.after.end(), cierres.CierreIz[0],
                     cierres.NewCierreIz[0]);
        std::replace(result.after.begin(), result.after.end(), cierres.CierreDer[0],
                     cierres.NewCierreDer[0]);
        return result;
    }

    // By characters, each a pair of bytes: the low byte first in little endian.
    result.width = 2;
    const std::size_t low = littleEndian ? 0 : 1;
    const auto isChar = [&](const std::string &text, std::size_t at, char value) {
        return text[at + low] == value && text[at + 1 - low] == '\0';
    };
    result.mark = input.substr(0, 2);
    const std::string body = input.substr(2, (input.size() - 2) & ~std::size_t{1});
    result.odd = input.substr(2 + body.size());

    std::size_t begin = 0;
    while (begin < body.size() && isChar(body, begin, ' '))
        begin += 2;
    std::size_t end = body.size();
    if (result.odd.empty()) {
        while (end > begin && isChar(body, end - 2, ' '))
            end -= 2;
    }
    result.before = body.substr(begin, end - begin);
    result.after = result.before;
    for (const auto &[from, to] : {std::pair{cierres.CierreIz[0], cierres.NewCierreIz[0]},
                                   std::pair{cierres.CierreDer[0], cierres.NewCierreDer[0]}}) {
        for (std::size_t at = 0; at < result.after.size(); at += 2) {
            if (isChar(result.after, at, from))
                result.after[at + low] = to;
        }
    }
    return result;
}

inline std::string referenceTransform(const std::string &input, const Cierres &cierres)
{
    const ReferenceText text = referenceText(input, cierres);
    return text.mark + text.after + text.odd;
}

// What the passes changed, character by character: a left delimiter where it was one, a right
// one otherwise; and every character the trimming took.
inline ScriptChanges referenceChanges(const std::string &input, const Cierres &cierres)
{
    const ReferenceText text = referenceText(input, cierres);
    ScriptChanges changes;
    changes.spaces =
        (input.size() - text.mark.size() - text.before.size() - text.odd.size()) / text.width;
    const std::string left = text.width == 1 ? cierres.CierreIz
                                             : (text.mark == "\xff\xfe" ? cierres.CierreIz + '\0'
                                                                        : '\0' + cierres.CierreIz);
    for (std::size_t at = 0; at < text.before.size(); at += text.width) {
        if (text.before.compare(at, text.width, text.after, at, text.width) != 0)
            ++(text.before.compare(at, text.width, left) == 0 ? changes.left : changes.right);
    }
    return changes;
}
