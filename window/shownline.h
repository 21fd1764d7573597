#pragma once

#include "linechanges.h"

#include <QString>

#include <vector>

// One side of a changed line as a person reads it. A UTF-16 script shows its characters; any
// other shows as UTF-8 where the line is valid UTF-8 and as Windows-1252 otherwise. What cannot
// be shown (a control character, a lone surrogate, a byte 1252 leaves undefined) shows as an
// escape, \xNN for a byte and \u{NNNN} for a UTF-16 character, so nothing on screen is invented.
class ShownLine
{
public:
    struct Piece
    {
        QString text;
        bool marked = false; // changed: trimmed, or a delimiter replaced
        bool escape = false;
    };

    ShownLine(const LineChanges::Side &side, LineChanges::Road road, bool cutAtStart,
              bool cutAtEnd);

    // The pieces as they read, with "…" where the line was cut.
    QString text() const;
    // For a rich text view: changed characters underlined on a yellow ground, escapes grey.
    QString html() const;

private:
    void add(QString text, bool marked, bool escape);
    void addBytes(const LineChanges::Side &side, std::size_t to);
    void addUtf16(const LineChanges::Side &side, std::size_t to, bool bigEndian);

    std::vector<Piece> m_pieces;
    bool m_cutAtStart = false;
    bool m_cutAtEnd = false;
};
