#pragma once

// Numbers and texts as a run's record and its recovery files hold them, and a reader that never
// reads past what it is given.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace recordbytes {

// Fixed-size numbers in the machine's own order: a record is read where it was written.
template <typename Number> inline void put(std::string &out, Number value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

// Two lowercase hexadecimal digits a byte, as tokens stand in names.
inline std::string hexDigits(const unsigned char *bytes, std::size_t size)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0xf];
    }
    return text;
}

inline void putText(std::string &out, std::string_view text)
{
    put(out, static_cast<std::uint32_t>(text.size()));
    out.append(text);
}

class Reader
{
public:
    explicit Reader(std::string_view bytes) : m_bytes(bytes) {}

    bool ok() const { return m_ok; }
    bool atEnd() const { return m_at == m_bytes.size(); }
    std::size_t at() const { return m_at; }

    template <typename Number> Number get()
    {
        Number value{};
        if (!take(sizeof value))
            return value;
        std::memcpy(&value, m_bytes.data() + m_at - sizeof value, sizeof value);
        return value;
    }
    std::string text() { return bytes(get<std::uint32_t>()); }
    std::string bytes(std::size_t size)
    {
        if (!take(size))
            return {};
        return std::string(m_bytes.substr(m_at - size, size));
    }

private:
    bool take(std::size_t size)
    {
        if (!m_ok || size > m_bytes.size() - m_at) {
            m_ok = false;
            return false;
        }
        m_at += size;
        return true;
    }

    std::string_view m_bytes;
    std::size_t m_at = 0;
    bool m_ok = true;
};

} // namespace recordbytes
