// What the fuzz targets share: a failed property stops the run like a crash
// (libFuzzer keeps the input), the input cut into text parts, and a reader
// that hands the input out in uneven pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define FUZZ_CHECK(cond)                                                                     \
    ((cond) ? (void)0                                                                        \
            : (std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond), \
               std::abort()))

namespace trv::fuzz {

// `count` parts separated by '\n'; the last takes the rest, newlines and all.
inline std::vector<std::string> Lines(const std::uint8_t* data, std::size_t size,
                                      std::size_t count) {
    std::vector<std::string> parts;
    const char* p = reinterpret_cast<const char*>(data);
    const char* end = p + size;
    while (parts.size() + 1 < count) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
        if (!nl) break;
        parts.emplace_back(p, nl);
        p = nl + 1;
    }
    parts.emplace_back(p, end);
    parts.resize(count);
    return parts;
}

// Hands out `bytes` in pieces whose sizes follow `plan` (1 to 8 bytes each,
// cycling), as a pipe does; 0 at the end. Counts the reads asked for after
// the end, which a reader that stopped must not make.
class PieceReader {
public:
    PieceReader(const std::uint8_t* bytes, std::size_t size, std::uint8_t plan)
        : m_bytes(bytes), m_size(size), m_plan(plan) {}
    long Read(char* buffer, std::size_t want) {
        if (m_pos == m_size) return ++m_readsAtEnd, 0;
        std::size_t n = 1 + ((m_plan >> (m_turn++ % 3 * 3)) & 7);
        if (n > want) n = want;
        if (n > m_size - m_pos) n = m_size - m_pos;
        std::memcpy(buffer, m_bytes + m_pos, n);
        m_pos += n;
        return static_cast<long>(n);
    }
    std::size_t Position() const { return m_pos; }
    int ReadsAtEnd() const { return m_readsAtEnd; }

private:
    const std::uint8_t* m_bytes;
    std::size_t m_size;
    std::uint8_t m_plan;
    std::size_t m_pos = 0;
    unsigned m_turn = 0;
    int m_readsAtEnd = 0;
};

}  // namespace trv::fuzz
