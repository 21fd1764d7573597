#include "shownline.h"

#include <array>
#include <optional>

namespace {

// Windows-1252's characters for 0x80..0x9F; 0 where it defines none.
constexpr std::array<char16_t, 32> kCp1252High{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

QString byteEscape(unsigned char byte)
{
    return QStringLiteral("\\x") +
           QString::number(byte, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

QString unitEscape(char32_t unit)
{
    return QStringLiteral("\\u{%1}").arg(
        QString::number(unit, 16).rightJustified(4, QLatin1Char('0')).toUpper());
}

// A tab and every printable character show as themselves.
bool showable(char32_t code)
{
    return code == U'\t' || QChar::isPrint(code);
}

// The UTF-8 character at `at`, and its length; nullopt where the bytes are no valid UTF-8.
std::optional<std::pair<char32_t, std::size_t>> utf8At(const std::string &bytes, std::size_t at,
                                                       std::size_t end)
{
    const auto byte = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return std::pair{char32_t{lead}, std::size_t{1}};
    std::size_t length = 0;
    char32_t code = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return std::nullopt;
    }
    if (end - at < length)
        return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return std::nullopt;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return std::nullopt;
    return std::pair{code, length};
}

bool anyMarked(const std::vector<bool> &marked, std::size_t from, std::size_t to)
{
    for (std::size_t i = from; i < to; ++i) {
        if (marked[i])
            return true;
    }
    return false;
}

} // namespace

ShownLine::ShownLine(const LineChanges::Side &side, LineChanges::Road road, bool cutAtStart,
                     bool cutAtEnd)
    : m_cutAtStart(cutAtStart), m_cutAtEnd(cutAtEnd)
{
    const std::size_t unit = LineChanges::unitSize(road);
    const auto isUnit = [&](std::size_t at, unsigned char low) {
        return LineChanges::isUnit(road, side.bytes.data() + at, low);
    };
    // The line's end is no character of it.
    std::size_t to = side.bytes.size();
    if (to >= unit && isUnit(to - unit, '\n')) {
        to -= unit;
        if (to >= unit && isUnit(to - unit, '\r'))
            to -= unit;
    }
    if (road == LineChanges::Road::Bytes)
        addBytes(side, to);
    else
        addUtf16(side, to, road == LineChanges::Road::Utf16Be);
}

void ShownLine::add(QString text, bool marked, bool escape)
{
    if (!m_pieces.empty() && m_pieces.back().marked == marked && m_pieces.back().escape == escape)
        m_pieces.back().text += text;
    else
        m_pieces.push_back(Piece{std::move(text), marked, escape});
}

void ShownLine::addBytes(const LineChanges::Side &side, std::size_t to)
{
    const std::string &bytes = side.bytes;
    // A cut may fall inside a character: its pieces at either end do not count against UTF-8.
    std::size_t start = 0;
    while (m_cutAtStart && start < to && start < 3 &&
           (static_cast<unsigned char>(bytes[start]) & 0xC0) == 0x80)
        ++start;
    std::size_t end = to;
    bool utf8 = true;
    for (std::size_t at = start; at < to && utf8;) {
        if (const auto character = utf8At(bytes, at, to)) {
            at += character->second;
        } else if (m_cutAtEnd && to - at < 4 &&
                   (static_cast<unsigned char>(bytes[at]) & 0xC0) == 0xC0) {
            end = at; // a character begun where the kept part ends
            break;
        } else {
            utf8 = false;
        }
    }
    if (!utf8) {
        for (std::size_t at = 0; at < to; ++at) {
            const auto byte = static_cast<unsigned char>(bytes[at]);
            const char32_t code = byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
            if (code != 0 && showable(code))
                add(QString::fromUcs4(&code, 1), side.marked[at], false);
            else
                add(byteEscape(byte), side.marked[at], true);
        }
        return;
    }
    for (std::size_t at = 0; at < start; ++at)
        add(byteEscape(static_cast<unsigned char>(bytes[at])), side.marked[at], true);
    for (std::size_t at = start; at < end;) {
        const auto [code, length] = *utf8At(bytes, at, end);
        const bool marked = anyMarked(side.marked, at, at + length);
        if (showable(code)) {
            add(QString::fromUcs4(&code, 1), marked, false);
        } else {
            for (std::size_t i = at; i < at + length; ++i)
                add(byteEscape(static_cast<unsigned char>(bytes[i])), marked, true);
        }
        at += length;
    }
    for (std::size_t at = end; at < to; ++at)
        add(byteEscape(static_cast<unsigned char>(bytes[at])), side.marked[at], true);
}

void ShownLine::addUtf16(const LineChanges::Side &side, std::size_t to, bool bigEndian)
{
    const auto unitAt = [&](std::size_t at) {
        const auto first = static_cast<unsigned char>(side.bytes[at]);
        const auto second = static_cast<unsigned char>(side.bytes[at + 1]);
        return static_cast<char32_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
    };
    std::size_t at = 0;
    for (; at + 2 <= to;) {
        const char32_t unit = unitAt(at);
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && at + 4 <= to && unitAt(at + 2) >= 0xDC00 && unitAt(at + 2) <= 0xDFFF) {
            const char32_t code = 0x10000 + ((unit - 0xD800) << 10) + (unitAt(at + 2) - 0xDC00);
            const bool marked = anyMarked(side.marked, at, at + 4);
            if (showable(code))
                add(QString::fromUcs4(&code, 1), marked, false);
            else
                add(unitEscape(unit) + unitEscape(unitAt(at + 2)), marked, true);
            at += 4;
            continue;
        }
        const bool marked = anyMarked(side.marked, at, at + 2);
        const bool surrogate = unit >= 0xD800 && unit <= 0xDFFF;
        if (!surrogate && showable(unit))
            add(QString::fromUcs4(&unit, 1), marked, false);
        else
            add(unitEscape(unit), marked, true);
        at += 2;
    }
    if (at < to) // an odd last byte
        add(byteEscape(static_cast<unsigned char>(side.bytes[at])), side.marked[at], true);
}

QString ShownLine::text() const
{
    QString text = m_cutAtStart ? QStringLiteral("…") : QString();
    for (const Piece &piece : m_pieces)
        text += piece.text;
    if (m_cutAtEnd)
        text += QStringLiteral("…");
    return text;
}

QString ShownLine::html() const
{
    const QString cut = QStringLiteral("<span style=\"color:#707070\">…</span>");
    QString html = m_cutAtStart ? cut : QString();
    for (const Piece &piece : m_pieces) {
        QString style;
        if (piece.marked)
            style += QStringLiteral("background-color:#ffd966;text-decoration:underline;");
        if (piece.escape)
            style += QStringLiteral("color:#707070;");
        const QString text = piece.text.toHtmlEscaped();
        html += style.isEmpty() ? text
                                : QStringLiteral("<span style=\"%1\">%2</span>").arg(style, text);
    }
    if (m_cutAtEnd)
        html += cut;
    return html;
}
