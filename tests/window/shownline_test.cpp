#include "shownline.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;
using Road = LineChanges::Road;

TEST(ShownLine, ShowsEachEncodingAsItsCharactersAndEscapesWhatCannotBeShown)
{
    const struct
    {
        const char *what;
        std::string bytes;
        Road road;
        bool cutAtStart;
        bool cutAtEnd;
        QString shown;
    } cases[] = {
        {"UTF-8, the line end left out", "café {x}\r\n", Road::Bytes, false, false,
         QStringLiteral("café {x}")},
        {"not UTF-8: Windows-1252, an undefined byte escaped", "caf\xe9 \x80 \x81", Road::Bytes,
         false, false, QStringLiteral("café € \\x81")},
        {"a control character", "a\x01\tb", Road::Bytes, false, false, QStringLiteral("a\\x01\tb")},
        {"a character cut at both ends of a long line", "\xa9x\xc3", Road::Bytes, true, true,
         QStringLiteral("…\\xA9x\\xC3…")},
        {"UTF-16 little endian", "h\0\xe9\0\x3d\xd8\x00\xde"s, Road::Utf16Le, false, false,
         QStringLiteral("hé\U0001F600")},
        {"UTF-16 big endian, a lone surrogate", "\0h\xd8\0"s, Road::Utf16Be, false, false,
         QStringLiteral("h\\u{D800}")},
        {"UTF-16, an odd last byte", "a\0\x41"s, Road::Utf16Le, false, false,
         QStringLiteral("a\\x41")},
    };
    for (const auto &example : cases) {
        SCOPED_TRACE(example.what);
        const LineChanges::Side side{example.bytes, std::vector<bool>(example.bytes.size())};
        EXPECT_EQ(ShownLine(side, example.road, example.cutAtStart, example.cutAtEnd).text(),
                  example.shown);
    }
}

} // namespace
