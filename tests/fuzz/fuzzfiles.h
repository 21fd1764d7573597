#pragma once

// What the fuzz targets share: the input read a piece at a time, whole files in and out, and a
// broken rule that ends the run.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fuzzfiles {

// Ends the fuzz run where a rule does not hold: libFuzzer keeps the input that broke it.
inline void check(bool holds, const char *target, const char *what)
{
    if (!holds) {
        std::fprintf(stderr, "%s: %s\n", target, what);
        std::abort();
    }
}

// Reads the fuzzer's bytes in order; past their end, numbers read as zero and texts as empty.
class Input
{
public:
    Input(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::uint16_t number()
    {
        const std::uint16_t high = byte();
        return static_cast<std::uint16_t>(high << 8 | byte());
    }
    std::string bytes(std::size_t count)
    {
        count = std::min(count, m_size - m_at);
        m_at += count;
        return std::string(reinterpret_cast<const char *>(m_data) + m_at - count, count);
    }
    std::string rest() { return bytes(m_size - m_at); }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

inline std::string readFile(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::filesystem::path &file, const std::string &bytes)
{
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

} // namespace fuzzfiles
