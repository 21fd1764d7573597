#include "scripttransform.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

constexpr unsigned char kSpace = ' ';
constexpr std::size_t kSpacesPiece = 4096;

unsigned char delimiterByte(const std::string &delimiter)
{
    if (delimiter.size() != 1)
        throw std::invalid_argument("a delimiter is one byte");
    return static_cast<unsigned char>(delimiter.front());
}

// A character as its two bytes lie in the script, read as a native integer, so that the script's
// byte order costs nothing in the loops.
std::uint16_t unitInScript(std::uint16_t character, bool bigEndian)
{
    const auto high = static_cast<unsigned char>(character >> 8);
    const auto low = static_cast<unsigned char>(character & 0xff);
    const unsigned char bytes[2] = {bigEndian ? high : low, bigEndian ? low : high};
    std::uint16_t unit = 0;
    std::memcpy(&unit, bytes, sizeof unit);
    return unit;
}

template <typename Unit> Unit load(const unsigned char *data)
{
    Unit unit;
    std::memcpy(&unit, data, sizeof unit);
    return unit;
}

// Compares and selects rather than looking values up, so that the compiler can run these loops
// over many bytes at once.
void mapBytes(unsigned char *data, std::size_t size, unsigned char from1, unsigned char to1,
              unsigned char from2, unsigned char to2)
{
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char byte = data[i];
        data[i] = byte == from1 ? to1 : (byte == from2 ? to2 : byte);
    }
}

void mapUnits(unsigned char *data, std::size_t units, std::uint16_t from1, std::uint16_t to1,
              std::uint16_t from2, std::uint16_t to2)
{
    for (std::size_t i = 0; i < units; ++i) {
        std::uint16_t unit;
        std::memcpy(&unit, data + 2 * i, sizeof unit);
        unit = unit == from1 ? to1 : (unit == from2 ? to2 : unit);
        std::memcpy(data + 2 * i, &unit, sizeof unit);
    }
}

std::uint64_t countBytes(const unsigned char *data, std::size_t size, unsigned char value)
{
    std::uint64_t found = 0;
    for (std::size_t i = 0; i < size; ++i)
        found += data[i] == value;
    return found;
}

std::uint64_t countUnits(const unsigned char *data, std::size_t units, std::uint16_t value)
{
    std::uint64_t found = 0;
    for (std::size_t i = 0; i < units; ++i)
        found += load<std::uint16_t>(data + 2 * i) == value;
    return found;
}

bool holdsUnit(const unsigned char *data, std::size_t units, std::uint16_t first,
               std::uint16_t second)
{
    constexpr std::size_t kBlock = 1024;
    for (std::size_t start = 0; start < units; start += kBlock) {
        const std::size_t end = std::min(units, start + kBlock);
        std::uint16_t found = 0;
        for (std::size_t i = start; i < end; ++i) {
            const auto unit = load<std::uint16_t>(data + 2 * i);
            found |= static_cast<std::uint16_t>((unit == first) | (unit == second));
        }
        if (found != 0)
            return true;
    }
    return false;
}

} // namespace

ScriptTransform::ScriptTransform(const Cierres &cierres, Sink sink, Counting counting)
    : m_sink(std::move(sink)), m_counting(counting == Counting::On)
{
    const unsigned char left = delimiterByte(cierres.CierreIz);
    const unsigned char newLeft = delimiterByte(cierres.NewCierreIz);
    const unsigned char right = delimiterByte(cierres.CierreDer);
    const unsigned char newRight = delimiterByte(cierres.NewCierreDer);
    std::size_t count = 0;
    for (unsigned value = 0; value < 256; ++value) {
        unsigned char byte = static_cast<unsigned char>(value);
        if (byte == left)
            byte = newLeft;
        if (byte == right)
            byte = newRight;
        if (byte != value) {
            m_changeIsLeft[count] = value == left;
            m_byteChanges[count++] = {static_cast<std::uint16_t>(value), byte};
        }
    }
    m_changeCount = count;
    m_maps = count > 0;
    if (count == 1)
        m_byteChanges[1] = m_byteChanges[0];
}

void ScriptTransform::feed(unsigned char *data, std::size_t size)
{
    if (size == 0)
        return;
    m_read += size;
    if (m_road == Road::Undecided) {
        if (!m_holding && size == 1) {
            m_held = data[0];
            m_holding = true;
            return;
        }
        const unsigned char first = m_holding ? m_held : data[0];
        const std::size_t fromChunk = m_holding ? 1 : 2; // bytes of the mark in this chunk
        const bool held = std::exchange(m_holding, false);
        decideRoad(first, held ? data[0] : data[1]);
        if (m_road == Road::Utf16) {
            const unsigned char mark[2] = {first, held ? data[0] : data[1]};
            hand(mark, sizeof mark);
            data += fromChunk;
            size -= fromChunk;
        } else if (held) {
            unsigned char byte = first;
            consume<unsigned char>(&byte, 1);
        }
    }
    if (m_road == Road::Bytes) {
        consume<unsigned char>(data, size);
        return;
    }
    if (m_holding && size > 0) {
        unsigned char unit[2] = {m_held, data[0]};
        m_holding = false;
        consume<std::uint16_t>(unit, sizeof unit);
        ++data;
        --size;
    }
    const std::size_t whole = size & ~std::size_t{1};
    consume<std::uint16_t>(data, whole);
    if (whole < size) {
        m_held = data[whole];
        m_holding = true;
    }
}

void ScriptTransform::finish()
{
    if (m_holding) {
        m_holding = false;
        if (m_road == Road::Undecided) {
            m_road = Road::Bytes;
            unsigned char byte = m_held;
            consume<unsigned char>(&byte, 1);
        } else {
            emitOddByte();
        }
    }
    m_changes.spaces += m_pendingSpaces;
    m_pendingSpaces = 0;
}

void ScriptTransform::decideRoad(unsigned char first, unsigned char second)
{
    const bool littleEndian = first == 0xff && second == 0xfe;
    const bool bigEndian = first == 0xfe && second == 0xff;
    if (!littleEndian && !bigEndian) {
        m_road = Road::Bytes;
        return;
    }
    m_road = Road::Utf16;
    m_unitSpace = unitInScript(kSpace, bigEndian);
    for (std::size_t i = 0; i < m_byteChanges.size(); ++i)
        m_unitChanges[i] = {unitInScript(m_byteChanges[i].from, bigEndian),
                            unitInScript(m_byteChanges[i].to, bigEndian)};
}

// data holds whole characters of the script's road.
template <typename Unit> void ScriptTransform::consume(unsigned char *data, std::size_t size)
{
    const Unit space = sizeof(Unit) == 1 ? Unit{kSpace} : static_cast<Unit>(m_unitSpace);
    const std::size_t units = size / sizeof(Unit);
    std::size_t begin = 0;
    if (m_atStart) {
        while (begin < units && load<Unit>(data + begin * sizeof(Unit)) == space)
            ++begin;
        if (begin > 0)
            m_dropped = true;
        m_changes.spaces += begin;
        if (begin == units)
            return;
        m_atStart = false;
    }
    std::size_t end = units;
    while (end > begin && load<Unit>(data + (end - 1) * sizeof(Unit)) == space)
        --end;
    if (end == begin) {
        m_pendingSpaces += units - begin;
        return;
    }
    emitPendingSpaces<Unit>();
    emitMapped<Unit>(data + begin * sizeof(Unit), (end - begin) * sizeof(Unit));
    m_pendingSpaces = units - end;
}

template <typename Unit> void ScriptTransform::emitPendingSpaces()
{
    std::array<unsigned char, kSpacesPiece> spaces;
    while (m_pendingSpaces > 0) {
        // emitMapped() maps the characters where they stand, so the piece is filled each time.
        if constexpr (sizeof(Unit) == 1) {
            spaces.fill(kSpace);
        } else {
            for (std::size_t i = 0; i < spaces.size(); i += 2)
                std::memcpy(spaces.data() + i, &m_unitSpace, 2);
        }
        const std::size_t count = static_cast<std::size_t>(
            std::min<std::uint64_t>(m_pendingSpaces, spaces.size() / sizeof(Unit)));
        emitMapped<Unit>(spaces.data(), count * sizeof(Unit));
        m_pendingSpaces -= count;
    }
}

template <typename Unit> void ScriptTransform::emitMapped(unsigned char *data, std::size_t size)
{
    if (m_dropped)
        m_same = false;
    if (m_counting)
        countChanges<Unit>(data, size);
    if constexpr (sizeof(Unit) == 1) {
        const auto [from1, to1] = m_byteChanges[0];
        const auto [from2, to2] = m_byteChanges[1];
        if (m_same && m_maps &&
            (std::memchr(data, from1, size) != nullptr ||
             std::memchr(data, from2, size) != nullptr))
            m_same = false;
        if (!m_same && m_maps)
            mapBytes(data, size, static_cast<unsigned char>(from1), static_cast<unsigned char>(to1),
                     static_cast<unsigned char>(from2), static_cast<unsigned char>(to2));
    } else {
        const auto [from1, to1] = m_unitChanges[0];
        const auto [from2, to2] = m_unitChanges[1];
        if (m_same && m_maps && holdsUnit(data, size / 2, from1, from2))
            m_same = false;
        if (!m_same && m_maps)
            mapUnits(data, size / 2, from1, to1, from2, to2);
    }
    hand(data, size);
}

// Before the characters are mapped in place.
template <typename Unit>
void ScriptTransform::countChanges(const unsigned char *data, std::size_t size)
{
    for (std::size_t i = 0; i < m_changeCount; ++i) {
        const std::uint64_t found =
            sizeof(Unit) == 1
                ? countBytes(data, size, static_cast<unsigned char>(m_byteChanges[i].from))
                : countUnits(data, size / 2, m_unitChanges[i].from);
        (m_changeIsLeft[i] ? m_changes.left : m_changes.right) += found;
    }
}

// The odd last byte of a UTF-16 script is no character: kept as it is, it ends the text.
void ScriptTransform::emitOddByte()
{
    m_atStart = false;
    emitPendingSpaces<std::uint16_t>();
    if (m_dropped)
        m_same = false;
    const unsigned char byte = m_held;
    hand(&byte, 1);
}

void ScriptTransform::hand(const unsigned char *data, std::size_t size)
{
    m_sink(data, size, m_written, m_same);
    m_written += size;
}
