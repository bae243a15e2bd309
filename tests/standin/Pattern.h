// The bytes the stand-in tool writes when asked for a given amount of output, shared with the
// tests that check it arrived whole and in order.
#pragma once

#include <cstddef>
#include <cstdint>

enum EPatternStream { kPatternStdOut = 1, kPatternStdErr = 2 };

// Printable and never zero (the runner delivers zero-terminated text), different for each
// stream and not periodic, so a lost, repeated, swapped or mixed chunk shows.
inline char PatternByte(int stream, uint64_t index) {
    uint64_t x = (index + 1) * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(stream) * 0x632BE5AB;
    x ^= x >> 31;
    return static_cast<char>('!' + x % 90);
}

// FNV-1a: order-sensitive.
class CPatternChecksum {
public:
    void Add(const char* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            m_hash = (m_hash ^ static_cast<unsigned char>(data[i])) * 1099511628211ull;
        }
        m_size += size;
    }
    uint64_t Hash() const { return m_hash; }
    uint64_t Size() const { return m_size; }

    // The checksum of the first size bytes of a stream's pattern.
    static CPatternChecksum Expected(int stream, uint64_t size) {
        CPatternChecksum sum;
        for (uint64_t i = 0; i < size; ++i) {
            const char c = PatternByte(stream, i);
            sum.Add(&c, 1);
        }
        return sum;
    }

private:
    uint64_t m_hash = 14695981039346656037ull;
    uint64_t m_size = 0;
};
