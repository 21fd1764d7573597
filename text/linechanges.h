#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The lines of one script that its new text changes, each as it is and as it would be, with the
// changed bytes marked. Fed the script's bytes and, in step, what ScriptTransform makes of them:
// the output is the input less the spaces trimmed at both ends, each character mapped to one of
// the same size, so the two pair character by character and line by line. Holds no whole line:
// a line longer than a screen keeps a little before its first change and a little after it.
class LineChanges
{
public:
    // How the script's characters are stored, as ScriptTransform tells them by the first two
    // bytes.
    enum class Road
    {
        Bytes,
        Utf16Le,
        Utf16Be
    };

    struct Side
    {
        std::string bytes;
        std::vector<bool> marked; // one a byte
    };

    struct Line
    {
        std::uint64_t number = 0; // from 1
        Side before;
        Side after;
        bool cutAtStart = false; // the line goes on before what is kept, or after it
        bool cutAtEnd = false;
    };

    explicit LineChanges(std::size_t maxLines = 50);

    // The script's next bytes, before the transform sees them.
    void input(const unsigned char *data, std::size_t size);
    // The transform's next output, in order.
    void output(const unsigned char *data, std::size_t size);
    // After the transform's finish(): what is left of the input was trimmed.
    void finish();

    // maxLines lines were found: reading on would add none.
    bool full() const { return m_lines.size() >= m_maxLines; }
    Road road() const { return m_road; }
    const std::vector<Line> &lines() const { return m_lines; }

    // How many bytes a character unit takes on a road, and whether the unit at `unit` is the
    // character `low` (below 0x80).
    static std::size_t unitSize(Road road) { return road == Road::Bytes ? 1 : 2; }
    static bool isUnit(Road road, const char *unit, unsigned char low);

private:
    void decideRoad();
    void pair();
    // One character of the input and what became of it (`out` null: trimmed).
    void take(const char *in, const char *out, std::size_t size);
    void keepBeforeChange(std::size_t size);
    void endLine();

    std::size_t m_maxLines;
    std::vector<Line> m_lines;
    Road m_road = Road::Bytes;
    bool m_roadKnown = false;
    bool m_atStart = true; // leading spaces are still being trimmed
    bool m_markPaired = false;
    std::string m_in; // input not paired yet, from m_inHead
    std::size_t m_inHead = 0;
    std::string m_out; // output not paired yet, from m_outHead
    std::size_t m_outHead = 0;

    Line m_line; // the line under way
    bool m_changed = false;
    std::size_t m_unitsAfterChange = 0;
};
