#include "linechanges.h"
#include "scripttransform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// A line as "number|before|marks|after|marks", a mark '^' under each changed byte.
std::string described(const LineChanges::Line &line)
{
    const auto marks = [](const LineChanges::Side &side) {
        std::string text;
        for (const bool marked : side.marked)
            text += marked ? '^' : '.';
        return text;
    };
    return std::to_string(line.number) + (line.cutAtStart ? "|<" : "|") + line.before.bytes + "|" +
           marks(line.before) + "|" + line.after.bytes + "|" + marks(line.after) +
           (line.cutAtEnd ? ">" : "");
}

// The script through the real transform in chunks of `chunk`, as the dry run reads it.
std::vector<std::string> changedLines(const std::string &script, std::size_t chunk)
{
    LineChanges lines(3);
    ScriptTransform transform({"{", "}", "<", ">"},
                              [&lines](const unsigned char *data, std::size_t size, std::uint64_t,
                                       bool) { lines.output(data, size); });
    for (std::size_t at = 0; at < script.size() && !lines.full(); at += chunk) {
        std::string piece = script.substr(at, chunk);
        auto *bytes = reinterpret_cast<unsigned char *>(piece.data());
        lines.input(bytes, piece.size());
        transform.feed(bytes, piece.size());
    }
    transform.finish();
    lines.finish();
    std::vector<std::string> shown;
    for (const LineChanges::Line &line : lines.lines())
        shown.push_back(described(line));
    return shown;
}

using namespace std::string_literals;

TEST(LineChanges, PairsEachChangedLineWithItsNewTextSplitAnywhere)
{
    const std::string longLine = std::string(500, 'x') + "{" + std::string(500, 'y');
    const struct
    {
        const char *what;
        std::string script;
        std::vector<std::string> expected;
    } cases[] = {
        {"trimmed at both ends, an unchanged line between",
         "  {a}\r\nb\r\n{c}  ",
         {"1|  {a}\r\n|^^^.^..|<a>\r\n|^.^..", "3|{c}  |^.^^^|<c>|^.^"}},
        {"nothing changes", "a b\nc", {}},
        {"only spaces", "   ", {"1|   |^^^||"}},
        {"UTF-16 by characters, the mark left out",
         "\xFF\xFE \0{\0\n\0"s,
         {"1| \0{\0\n\0|^^^^..|<\0\n\0|^^.."s}},
        {"an odd last byte of UTF-16 stops the trimming",
         "\xFE\xFF\0a\0 \0}\x41"s,
         {"1|\0a\0 \0}\x41|....^^.|\0a\0 \0>\x41|....^^."s}},
        {"no more than the lines asked for",
         "{\n{\n{\n{\n",
         {"1|{\n|^.|<\n|^.", "2|{\n|^.|<\n|^.", "3|{\n|^.|<\n|^."}},
        {"a long line keeps some of it around the change",
         longLine,
         {"1|<" + std::string(96, 'x') + "{" + std::string(239, 'y') + "|" + std::string(96, '.') +
          "^" + std::string(239, '.') + "|" + std::string(96, 'x') + "<" + std::string(239, 'y') +
          "|" + std::string(96, '.') + "^" + std::string(239, '.') + ">"}},
    };
    for (const auto &example : cases) {
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
            SCOPED_TRACE(std::string(example.what) + ", chunks of " + std::to_string(chunk));
            EXPECT_EQ(changedLines(example.script, chunk), example.expected);
        }
    }
}

} // namespace
