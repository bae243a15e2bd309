// Writes H.264 syntax and AAC frames bit by bit, for tests and fuzzers that need real
// parameter sets, slices and frames without a media file.
#pragma once

#include <cstdint>
#include <vector>

class CBitWriter {
public:
    void Bits(int nCount, uint32_t nValue) {
        for (int i = nCount - 1; i >= 0; --i) {
            m_nByte = (m_nByte << 1) | ((nValue >> i) & 1);
            if (++m_nBits == 8) {
                m_bytes.push_back(static_cast<uint8_t>(m_nByte));
                m_nByte = 0;
                m_nBits = 0;
            }
        }
    }
    void Ue(uint32_t nValue) {
        int nLength = 0;
        while ((uint64_t(nValue) + 1) >> (nLength + 1))
            ++nLength;
        Bits(nLength, 0);
        Bits(nLength + 1, nValue + 1);
    }
    void Se(int32_t nValue) { Ue(nValue > 0 ? 2 * uint32_t(nValue) - 1 : 2 * uint32_t(-nValue)); }
    // Zeros to the byte (the padding of an AAC frame).
    std::vector<uint8_t> Pad() {
        while (m_nBits != 0)
            Bits(1, 0);
        return m_bytes;
    }
    // The RBSP stop bit, then zeros to the byte.
    std::vector<uint8_t> Finish() {
        Bits(1, 1);
        return Pad();
    }

private:
    std::vector<uint8_t> m_bytes;
    uint32_t m_nByte = 0;
    int m_nBits = 0;
};

// A NAL unit from its header and RBSP, with emulation prevention bytes.
inline std::vector<uint8_t> MakeNalUnit(std::vector<uint8_t> header,
                                        const std::vector<uint8_t>& rbsp) {
    int nZeros = 0;
    for (uint8_t b : rbsp) {
        if (nZeros >= 2 && b <= 3) {
            header.push_back(3);
            nZeros = 0;
        }
        header.push_back(b);
        nZeros = b == 0 ? nZeros + 1 : 0;
    }
    return header;
}
