#include "linechanges.h"

#include <cstring>

namespace {

// What a long line keeps before its first change, in bytes, and from it on, in characters.
constexpr std::size_t kBeforeChangeBytes = 96;
constexpr std::size_t kFromChangeUnits = 240;

void append(LineChanges::Side &side, const char *bytes, std::size_t size, bool marked)
{
    side.bytes.append(bytes, size);
    side.marked.insert(side.marked.end(), size, marked);
}

void dropFront(LineChanges::Side &side, std::size_t size)
{
    side.bytes.erase(0, size);
    side.marked.erase(side.marked.begin(), side.marked.begin() + static_cast<std::ptrdiff_t>(size));
}

// Paired bytes go from the front; they are let go once they are most of the buffer.
void compact(std::string &pending, std::size_t &head)
{
    if (head == pending.size()) {
        pending.clear();
        head = 0;
    } else if (head > pending.size() / 2) {
        pending.erase(0, head);
        head = 0;
    }
}

} // namespace

LineChanges::LineChanges(std::size_t maxLines) : m_maxLines(maxLines)
{
    m_line.number = 1;
}

void LineChanges::input(const unsigned char *data, std::size_t size)
{
    if (full())
        return;
    m_in.append(reinterpret_cast<const char *>(data), size);
    pair();
}

void LineChanges::output(const unsigned char *data, std::size_t size)
{
    if (full())
        return;
    m_out.append(reinterpret_cast<const char *>(data), size);
    pair();
}

bool LineChanges::isUnit(Road road, const char *unit, unsigned char low)
{
    const auto byte = [unit](std::size_t at) { return static_cast<unsigned char>(unit[at]); };
    switch (road) {
    case Road::Bytes:
        return byte(0) == low;
    case Road::Utf16Le:
        return byte(0) == low && byte(1) == 0;
    case Road::Utf16Be:
        return byte(0) == 0 && byte(1) == low;
    }
    return false;
}

void LineChanges::decideRoad()
{
    if (m_roadKnown || m_in.size() < 2)
        return;
    const auto first = static_cast<unsigned char>(m_in[0]);
    const auto second = static_cast<unsigned char>(m_in[1]);
    if (first == 0xFF && second == 0xFE)
        m_road = Road::Utf16Le;
    else if (first == 0xFE && second == 0xFF)
        m_road = Road::Utf16Be;
    m_roadKnown = true;
}

void LineChanges::pair()
{
    decideRoad();
    if (!m_roadKnown)
        return;
    const std::size_t unit = unitSize(m_road);
    if (unit == 2 && !m_markPaired) {
        // The mark stays as it is and is no character to show.
        if (m_in.size() - m_inHead < 2 || m_out.size() - m_outHead < 2)
            return;
        m_inHead += 2;
        m_outHead += 2;
        m_markPaired = true;
    }
    while (!full() && m_in.size() - m_inHead >= unit) {
        const char *in = m_in.data() + m_inHead;
        if (m_atStart && isUnit(m_road, in, ' ')) {
            take(in, nullptr, unit);
            m_inHead += unit;
            continue;
        }
        m_atStart = false;
        if (m_out.size() - m_outHead < unit)
            break;
        take(in, m_out.data() + m_outHead, unit);
        m_inHead += unit;
        m_outHead += unit;
    }
    compact(m_in, m_inHead);
    compact(m_out, m_outHead);
}

void LineChanges::finish()
{
    if (!m_roadKnown) {
        m_road = Road::Bytes; // fewer than two bytes
        m_roadKnown = true;
    }
    pair();
    if (full())
        return;
    // An odd last byte of a UTF-16 script is kept as it stands.
    if (m_in.size() - m_inHead == 1 && m_out.size() - m_outHead == 1) {
        take(m_in.data() + m_inHead, m_out.data() + m_outHead, 1);
        ++m_inHead;
    }
    // What the output never reached was trimmed at the end.
    const std::size_t unit = unitSize(m_road);
    for (; m_in.size() - m_inHead >= unit && !full(); m_inHead += unit)
        take(m_in.data() + m_inHead, nullptr, unit);
    if (!full())
        endLine();
}

void LineChanges::take(const char *in, const char *out, std::size_t size)
{
    const bool changed = out == nullptr || std::memcmp(in, out, size) != 0;
    const bool newline = size == unitSize(m_road) && isUnit(m_road, in, '\n');
    if (!m_changed && changed) {
        m_changed = true;
        keepBeforeChange(kBeforeChangeBytes);
    }
    if (!m_changed) {
        append(m_line.before, in, size, false);
        append(m_line.after, in, size, false);
        if (m_line.before.bytes.size() >= 2 * kBeforeChangeBytes)
            keepBeforeChange(kBeforeChangeBytes);
    } else if (m_unitsAfterChange < kFromChangeUnits) {
        append(m_line.before, in, size, changed);
        if (out != nullptr)
            append(m_line.after, out, size, changed);
        ++m_unitsAfterChange;
    } else if (!newline) {
        m_line.cutAtEnd = true;
    }
    if (newline)
        endLine();
}

void LineChanges::keepBeforeChange(std::size_t size)
{
    // Nothing changed yet: both sides are the same bytes, and only their end is kept.
    if (m_line.before.bytes.size() <= size)
        return;
    const std::size_t drop = m_line.before.bytes.size() - size;
    dropFront(m_line.before, drop);
    dropFront(m_line.after, drop);
    m_line.cutAtStart = true;
}

void LineChanges::endLine()
{
    const std::uint64_t next = m_line.number + 1;
    if (m_changed)
        m_lines.push_back(std::move(m_line));
    m_line = Line{};
    m_line.number = next;
    m_changed = false;
    m_unitsAfterChange = 0;
}
