// Holds the chunk-fed transform to the whole-text reference over random scripts, delimiter sets,
// roads and chunk splits, with its changes counted or not, and checks what a caller relies on from
// each piece it is handed.
//
// The input: a byte of choices, four delimiter bytes, a count of chunk lengths and the lengths,
// then the script's text.

#include "fuzzfiles.h"
#include "scripttransform.h"
#include "scripttransformreference.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void check(bool holds, const char *what)
{
    fuzzfiles::check(holds, "scripttransform_fuzz", what);
}

using fuzzfiles::Input;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Input input(data, size);
    const std::uint8_t choices = input.byte();
    // Delimiters from a few bytes the text is likely to hold, or any byte.
    const bool fewDelimiters = (choices & 0x04) != 0;
    const auto delimiter = [&] {
        static constexpr char kLikely[] = {' ', '{', '}', '\0', '\xff', '\xfe'};
        const std::uint8_t byte = input.byte();
        return std::string(1, fewDelimiters ? kLikely[byte % sizeof kLikely]
                                            : static_cast<char>(byte));
    };
    Cierres cierres;
    cierres.CierreIz = delimiter();
    cierres.CierreDer = delimiter();
    cierres.NewCierreIz = delimiter();
    cierres.NewCierreDer = delimiter();

    std::vector<std::size_t> lengths(input.byte() % 16);
    for (std::size_t &length : lengths)
        length = input.byte() % 64;
    if (std::all_of(lengths.begin(), lengths.end(), [](std::size_t length) { return length == 0; }))
        lengths.clear(); // chunks of nothing alone would never end

    // The road: as it comes, or behind a little or big endian mark, and with its bytes spread
    // into 16-bit characters U+0000..U+00FF, so that spaces and delimiters are characters.
    std::string text = input.rest();
    const unsigned road = choices & 0x03;
    if (road != 0 && (choices & 0x08) != 0) {
        std::string wide;
        for (const char c : text)
            wide += road == 2 ? std::string{'\0', c} : std::string{c, '\0'};
        if ((choices & 0x10) != 0)
            wide.push_back(text.empty() ? ' ' : text.back()); // an odd last byte
        text = wide;
    }
    if (road == 1)
        text = "\xff\xfe" + text;
    else if (road == 2)
        text = "\xfe\xff" + text;

    const bool counting = (choices & 0x20) != 0;
    std::string output;
    bool differed = false;
    std::size_t largestChunk = 0;
    ScriptTransform transform(
        cierres,
        [&](const unsigned char *piece, std::size_t pieceSize, std::uint64_t offset,
            bool sameAsInput) {
            check(offset == output.size(), "pieces out of order");
            check(pieceSize <= std::max<std::size_t>(largestChunk, 4096),
                  "piece larger than a chunk");
            if (sameAsInput) {
                check(!differed, "same as the input again after a difference");
                check(text.compare(offset, pieceSize, reinterpret_cast<const char *>(piece),
                                   pieceSize) == 0,
                      "piece said to be the input's own is not");
            }
            differed = differed || !sameAsInput;
            output.append(reinterpret_cast<const char *>(piece), pieceSize);
        },
        counting ? ScriptTransform::Counting::On : ScriptTransform::Counting::Off);

    std::string chunks = text;
    std::size_t at = 0;
    for (std::size_t i = 0; at < chunks.size(); ++i) {
        const std::size_t length = lengths.empty()
                                       ? chunks.size()
                                       : std::min(lengths[i % lengths.size()], chunks.size() - at);
        largestChunk = std::max(largestChunk, length);
        transform.feed(reinterpret_cast<unsigned char *>(chunks.data()) + at, length);
        at += length;
    }
    transform.finish();

    check(output == referenceTransform(text, cierres), "output differs from the reference");
    check(transform.outputSize() == output.size(), "wrong output size");
    check(transform.unchanged() == (output == text), "wrong unchanged()");
    check(differed || text.compare(0, output.size(), output) == 0,
          "output never differed yet is not the input's prefix");
    check(!counting || transform.changes() == referenceChanges(text, cierres),
          "changes counted differ from the reference");
    return 0;
}
