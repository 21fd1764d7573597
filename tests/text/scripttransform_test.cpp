#include "scripttransform.h"
#include "scripttransformreference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

const Cierres kBracesToAngles{"{", "}", "<", ">"};

struct Outcome
{
    std::string output;
    bool unchanged = false;
    ScriptChanges changes;
    std::uint64_t firstDifferent = UINT64_MAX; // offset of the first piece not the input's own
};

// Feeds `input` in chunks ending at `cuts`, and checks what any caller relies on: pieces come
// in order and no larger than a chunk or a piece of spaces, and a piece said to be the input's
// own is so, and that what it counts is what the whole-text reference changed.
Outcome transformed(const std::string &input, const Cierres &cierres,
                    const std::vector<std::size_t> &cuts = {})
{
    Outcome outcome;
    std::size_t largestChunk = 0;
    ScriptTransform transform(
        cierres,
        [&](const unsigned char *data, std::size_t size, std::uint64_t offset, bool sameAsInput) {
            EXPECT_EQ(offset, outcome.output.size());
            EXPECT_LE(size, std::max<std::size_t>(largestChunk, 4096));
            const std::string piece(reinterpret_cast<const char *>(data), size);
            if (sameAsInput) {
                EXPECT_EQ(outcome.firstDifferent, UINT64_MAX) << "same again after a difference";
                EXPECT_EQ(input.substr(offset, size), piece) << "at " << offset;
            } else if (outcome.firstDifferent == UINT64_MAX) {
                outcome.firstDifferent = offset;
            }
            outcome.output += piece;
        },
        ScriptTransform::Counting::On);
    std::string chunks = input; // fed from a copy: the transform may change it in place
    std::size_t begin = 0;
    std::vector<std::size_t> ends = cuts;
    ends.push_back(input.size());
    for (const std::size_t end : ends) {
        largestChunk = std::max(largestChunk, end - begin);
        transform.feed(reinterpret_cast<unsigned char *>(chunks.data()) + begin, end - begin);
        begin = end;
    }
    transform.finish();
    EXPECT_EQ(transform.outputSize(), outcome.output.size());
    outcome.unchanged = transform.unchanged();
    EXPECT_EQ(outcome.unchanged, outcome.output == input);
    outcome.changes = transform.changes();
    EXPECT_EQ(outcome.changes, referenceChanges(input, cierres));
    EXPECT_EQ(outcome.unchanged, outcome.changes == ScriptChanges{});
    return outcome;
}

std::string utf16le(const std::string &ascii)
{
    std::string result = "\xff\xfe";
    for (const char c : ascii)
        result += std::string{c, '\0'};
    return result;
}

std::string utf16be(const std::string &ascii)
{
    std::string result = "\xfe\xff";
    for (const char c : ascii)
        result += std::string{'\0', c};
    return result;
}

} // namespace

TEST(ScriptTransformBytes, TrimsSpacesThenLeftPassThenRightPass)
{
    struct Case
    {
        std::string input;
        Cierres cierres;
        std::string expected;
    };
    const Case cases[] = {
        {"x {a} y {b}", kBracesToAngles, "x <a> y <b>"},
        {"   {a}   ", kBracesToAngles, "<a>"},
        {"{{}}", kBracesToAngles, "<<>>"},
        // The right pass sees what the left pass made.
        {"/a~", {"/", "~", "~", ")"}, ")a)"},
        {"/a/", {"/", "/", "<", ">"}, "<a<"},
        {"/a/", {"/", "/", "/", ">"}, ">a>"},
        {"  {a}\r\n  ", {"{", "}", "{", "}"}, "{a}\r\n"},
        // Only 0x20 is trimmed, and only at the ends; a space delimiter is mapped inside.
        {"\t {a} \t", kBracesToAngles, "\t <a> \t"},
        {"\r\n {a} \r\n", kBracesToAngles, "\r\n <a> \r\n"},
        {"  a  b  ", {" ", "}", "_", ">"}, "a__b"},
        {"\0{\r\n\x80\xff\xe9}\x1a\0"s, kBracesToAngles, "\0<\r\n\x80\xff\xe9>\x1a\0"s},
        {"\xab x \xbb", {"\xab", "\xbb", "{", "}"}, "{ x }"},
        {"a\0b"s, {"\0"s, "b", "b", "\0"s}, "a\0\0"s},
        // UTF-8, with or without its mark, is bytes: the spaces after the mark are not at an end.
        {"\xef\xbb\xbf {\xc3\xa9} ", kBracesToAngles, "\xef\xbb\xbf <\xc3\xa9>"},
        {"", kBracesToAngles, ""},
        {"      ", kBracesToAngles, ""},
        {" ", kBracesToAngles, ""},
        // Lone first bytes of a UTF-16 mark are text.
        {"\xff", {"\xff", "}", "<", ">"}, "<"},
        {"\xfe\xfe \xff", {"\xfe", "}", "<", ">"}, "<< \xff"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(transformed(c.input, c.cierres).output, c.expected) << c.input;
        EXPECT_EQ(referenceTransform(c.input, c.cierres), c.expected) << c.input;
    }
}

TEST(ScriptTransformBytes, MatchesTwoPassesOverEveryByteValue)
{
    std::string every = "x";
    for (int value = 0; value < 256; ++value)
        every += static_cast<char>(value);
    every += "x";
    const Cierres cases[] = {
        {"{", "}", "<", ">"},
        {"/", "~", "~", ")"},
        {"/", "/", "<", ">"},
        {"/", "/", "/", ">"},
        {"<", ">", ">", "<"},
        {"{", "}", "{", "}"},
        {"\x80", "\xff", "\0"s, "\x7f"},
    };
    for (const Cierres &cierres : cases) {
        std::string expected = every;
        std::replace(expected.begin(), expected.end(), cierres.CierreIz[0], cierres.NewCierreIz[0]);
        std::replace(expected.begin(), expected.end(), cierres.CierreDer[0],
                     cierres.NewCierreDer[0]);
        EXPECT_EQ(transformed(every, cierres).output, expected)
            << cierres.CierreIz << cierres.CierreDer << cierres.NewCierreIz << cierres.NewCierreDer;
    }
}

TEST(ScriptTransformBytes, DelimiterIsOneByte)
{
    const auto sink = [](const unsigned char *, std::size_t, std::uint64_t, bool) {};
    EXPECT_THROW(ScriptTransform(Cierres{"{", "}", "", ">"}, sink), std::invalid_argument);
    EXPECT_THROW(ScriptTransform(Cierres{"{", "}", "\xc3\xa9", ">"}, sink), std::invalid_argument);
    EXPECT_THROW(ScriptTransform(Cierres{"{{", "}", "<", ">"}, sink), std::invalid_argument);
}

TEST(ScriptTransformUtf16, ByCharactersInTheScriptsByteOrder)
{
    // The delimiter bytes and 0x20 inside other characters are left alone.
    const std::string le = utf16le("  {a} ") + "\x7b\x20\x20\x7d" + utf16le(" ").substr(2);
    EXPECT_EQ(transformed(le, kBracesToAngles).output,
              utf16le("<a>") + "\x20\x00"s + "\x7b\x20\x20\x7d");
    const std::string be = utf16be(" {a} ") + "\x20\x7b\x7d\x20" + utf16be("  ").substr(2);
    EXPECT_EQ(transformed(be, kBracesToAngles).output, utf16be("<a> ") + "\x20\x7b\x7d\x20");
    // Both passes as characters, and U+00xx delimiters.
    EXPECT_EQ(transformed(utf16le("/a~\xab"), {"/", "~", "~", "\xbb"}).output,
              utf16le("\xbb"
                      "a\xbb\xab"));
    EXPECT_EQ(transformed(utf16be(" "), kBracesToAngles).output, "\xfe\xff");
    EXPECT_EQ(transformed("\xff\xfe", kBracesToAngles).output, "\xff\xfe");
}

TEST(ScriptTransformUtf16, OddLastByteIsKeptAndEndsTheText)
{
    EXPECT_EQ(transformed(utf16le(" {a} ") + "{", kBracesToAngles).output, utf16le("<a> ") + "{");
    EXPECT_EQ(transformed(utf16be("   ") + " ", kBracesToAngles).output, "\xfe\xff ");
    EXPECT_EQ(transformed("\xff\xfe\x20", kBracesToAngles).output, "\xff\xfe\x20");
}

TEST(ScriptTransformChunks, AnySplitGivesTheWholeTextsResult)
{
    const Cierres chaining{"/", ")", ")", "("};
    const std::string inputs[] = {
        "   {a} /x) {b}  \r\n  ",
        "  " + std::string(5000, ' ') + "{" + std::string(9000, ' ') + "}" + std::string(5000, ' '),
        utf16le("  /a) {b}  ") + "}",
        utf16be("  /a) {b}   "),
        utf16le(std::string(3000, ' ') + "/" + std::string(3000, ' ') + ")" +
                std::string(3000, ' ')),
        "\xff\xfe\x20\x00\x2f",
        "\xfe",
    };
    for (const std::string &input : inputs) {
        for (const Cierres &cierres : {kBracesToAngles, chaining}) {
            const std::string expected = referenceTransform(input, cierres);
            const auto size = input.size();
            // Every cut into two pieces, cuts close together, and every byte its own chunk.
            for (std::size_t cut = 0; cut <= size; cut += size < 64 ? 1 : 97)
                EXPECT_EQ(transformed(input, cierres, {cut}).output, expected) << cut;
            for (std::size_t cut = 0; cut + 3 <= size; cut += size < 64 ? 1 : 331)
                EXPECT_EQ(transformed(input, cierres, {cut, cut + 1, cut + 3}).output, expected)
                    << cut;
            std::vector<std::size_t> everyByte(size);
            for (std::size_t i = 0; i < size; ++i)
                everyByte[i] = i;
            EXPECT_EQ(transformed(input, cierres, everyByte).output, expected);
        }
    }
}

TEST(ScriptTransformChunks, SaysWhetherTheOutputIsStillTheInput)
{
    // Nothing to change: every piece is the input's own and the whole is unchanged.
    const Outcome plain = transformed("a b\r\nc", kBracesToAngles, {1, 2, 4});
    EXPECT_TRUE(plain.unchanged);
    EXPECT_EQ(plain.firstDifferent, UINT64_MAX);
    EXPECT_TRUE(transformed(utf16le("a{b"), {"}", "{", ">", "{"}, {3}).unchanged);

    // The first difference is in the piece that holds the first mapped delimiter.
    const Outcome mapped = transformed("abc{de", kBracesToAngles, {2, 4});
    EXPECT_EQ(mapped.firstDifferent, 2u);
    EXPECT_FALSE(mapped.unchanged);
    // 0x7b inside a UTF-16 character is not a delimiter.
    EXPECT_TRUE(transformed("\xff\xfe\x7b\x01", kBracesToAngles).unchanged);
    // Either delimiter alone is a change, in both roads.
    EXPECT_FALSE(transformed(utf16le("a}b"), kBracesToAngles, {3}).unchanged);
    EXPECT_FALSE(transformed(utf16be("a{b"), kBracesToAngles, {3}).unchanged);

    // Spaces dropped at the end only: the output is the input's prefix, yet not unchanged.
    const Outcome trailing = transformed("ab   ", kBracesToAngles, {1, 3});
    EXPECT_EQ(trailing.firstDifferent, UINT64_MAX);
    EXPECT_FALSE(trailing.unchanged);
    EXPECT_EQ(trailing.output, "ab");

    // Spaces dropped at the start shift everything after them.
    EXPECT_EQ(transformed("  ab", kBracesToAngles).firstDifferent, 0u);
    EXPECT_EQ(transformed(utf16be(" a"), kBracesToAngles, {1}).firstDifferent, 2u);
    EXPECT_FALSE(transformed("   ", kBracesToAngles).unchanged);
}

TEST(ScriptTransformChanges, CountsTheSpacesTrimmedAndTheDelimitersEachPassLeftChanged)
{
    struct Case
    {
        std::string input;
        Cierres cierres;
        ScriptChanges expected; // spaces, left, right
    };
    const Cierres chaining{"/", ")", "(", "/"};
    const Case cases[] = {
        {"  {a} {b}", kBracesToAngles, {2, 2, 2}},
        {"{a}}   ", kBracesToAngles, {3, 1, 2}},
        {" a ", kBracesToAngles, {2, 0, 0}},
        // The new right delimiter is the old left one: ")" counts as a right one changed, and
        // what it becomes is not taken for a left one.
        {" /a) /b) ", chaining, {2, 2, 2}},
        // A left delimiter the right pass turns back into itself is no change; one it changes
        // again counts once, as left.
        {"/a\\", {"/", "\\", "\\", "/"}, {0, 0, 1}},
        {"(a/", {"(", "/", "/", ">"}, {0, 1, 1}},
        // A delimiter that stays itself is no change, and one that is both sides counts once.
        {"{a}", {"{", "}", "{", ">"}, {0, 0, 1}},
        {"/a/", {"/", "/", "<", ">"}, {0, 2, 0}},
        // UTF-16: characters, not bytes, and an odd last byte keeps the spaces before it.
        {utf16le("  {a} ") + "\x7b\x20", kBracesToAngles, {2, 1, 1}},
        {utf16be(" /a)  "), chaining, {3, 1, 1}},
        {utf16le(" {a} ") + "{", kBracesToAngles, {1, 1, 1}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(referenceChanges(c.input, c.cierres), c.expected) << c.input;
        // Spaces and delimiters split across chunks count once.
        for (std::size_t cut = 0; cut <= c.input.size(); ++cut)
            EXPECT_EQ(transformed(c.input, c.cierres, {cut}).changes, c.expected) << c.input;
    }
}
