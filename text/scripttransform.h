#pragma once

#include "cierres.h"
#include "scriptchanges.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

// The new text of one script: spaces trimmed at both ends, then every current left delimiter
// replaced by the new left one, then every current right one by the new right one (the right pass
// sees what the left pass made). It is fed the script in chunks of any size, split anywhere, and
// holds back no more than one byte and a count of spaces, so that a script of any length streams
// through the caller's fixed buffer without being copied.
//
// A script that starts with FF FE (little endian) or FE FF (big endian) is UTF-16 and is read by
// 16-bit characters in its own byte order, so that no character is cut in half: the mark is kept,
// U+0020 is trimmed after it and at the end, and the delimiters are U+0000..U+00FF. An odd last
// byte is no character: it is kept as it stands and, like any other text, stops the trimming of
// the spaces before it. Every other script, UTF-8 with or without its mark included, is read byte
// by byte: its spaces are 0x20 bytes and its delimiters are bytes. (A one-byte code page script
// that starts with the two characters of a mark, as "ÿþ" in Latin-1, is taken for UTF-16.)
class ScriptTransform
{
public:
    // Gets the output in order, piece by piece; a piece starts at `offset` in the output and
    // may be the caller's own chunk, mapped in place, valid only during the call. `sameAsInput`
    // stays true while the output so far, this piece included, is the input's own prefix, so that
    // the caller writes nothing for a script that does not change. Once it turns false it stays
    // false: the caller copies the first `offset` bytes from the script, then writes this piece
    // and every later one. It turns false at the first changed byte, and at the first piece after
    // spaces were dropped at the start, even if the shifted text happened to match there (the
    // script gets shorter, so it changes anyway).
    using Sink = std::function<void(const unsigned char *data, std::size_t size,
                                    std::uint64_t offset, bool sameAsInput)>;

    // Counting the delimiters costs a pass over the text, so only a caller that asks pays it.
    enum class Counting
    {
        Off,
        On
    };

    // Throws std::invalid_argument unless every delimiter is exactly one byte.
    ScriptTransform(const Cierres &cierres, Sink sink, Counting counting = Counting::Off);

    // The next bytes of the script. They may be changed in place.
    void feed(unsigned char *data, std::size_t size);

    // Ends the script: hands over what was held back. Trailing spaces are dropped.
    void finish();

    // After finish(): how long the output is, and whether it is the input byte for byte. When
    // it is not but every piece came `sameAsInput` (only spaces at the end were dropped), the
    // output is the script's first outputSize() bytes.
    std::uint64_t outputSize() const { return m_written; }
    bool unchanged() const { return m_same && m_written == m_read; }
    // After finish(), with Counting::On. Nothing trimmed and nothing replaced is unchanged().
    const ScriptChanges &changes() const { return m_changes; }

private:
    enum class Road
    {
        Undecided,
        Bytes,
        Utf16
    };

    struct Change
    {
        std::uint16_t from;
        std::uint16_t to;
    };

    void decideRoad(unsigned char first, unsigned char second);
    template <typename Unit> void consume(unsigned char *data, std::size_t size);
    template <typename Unit> void emitPendingSpaces();
    template <typename Unit> void emitMapped(unsigned char *data, std::size_t size);
    void emitOddByte();
    template <typename Unit> void countChanges(const unsigned char *data, std::size_t size);
    void hand(const unsigned char *data, std::size_t size);

    Sink m_sink;
    // Both passes folded into one mapping: only the two current delimiters can change, and when
    // only one does it is listed twice, so that the mapping loop needs no branch on how many
    // there are.
    bool m_maps = false;
    std::array<Change, 2> m_byteChanges{};
    std::size_t m_changeCount = 0;
    std::array<bool, 2> m_changeIsLeft{};
    // The same changes and the space as 16-bit characters in the script's byte order, read as
    // native integers.
    std::array<Change, 2> m_unitChanges{};
    std::uint16_t m_unitSpace = 0;

    Road m_road = Road::Undecided;
    bool m_atStart = true;
    bool m_dropped = false; // spaces at the start were left out
    bool m_same = true;
    std::uint64_t m_pendingSpaces = 0; // characters, not bytes
    std::uint64_t m_read = 0;
    std::uint64_t m_written = 0;
    // The first byte, until the second tells the road; on the UTF-16 road, the first half of a
    // character split between chunks.
    unsigned char m_held = 0;
    bool m_holding = false;
    bool m_counting = false;
    ScriptChanges m_changes;
};
