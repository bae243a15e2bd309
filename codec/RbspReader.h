// Reads the syntax of an H.264 or HEVC NAL unit payload as its RBSP: emulation prevention bytes
// (0x03 after two zero bytes) are dropped as the bits are read. Reading past the end yields
// zeros and marks the reader failed, so a parser checks Failed() once at the end.
#pragma once

#include <cstddef>
#include <cstdint>

class CRbspReader {
public:
    CRbspReader(const uint8_t* pData, size_t nSize) : m_pData(pData), m_nSize(nSize) {}

    uint32_t Bits(int nCount); // nCount <= 32
    bool Flag() { return Bits(1) != 0; }
    void Skip(int nCount);
    uint32_t Ue(); // unsigned exp-Golomb; more than 31 leading zeros fails
    int32_t Se();
    bool Failed() const { return m_bFailed; }
    // Bits of the RBSP read so far (emulation prevention bytes not counted).
    uint64_t Position() const { return uint64_t(m_nDelivered) * 8 - uint64_t(m_nBitsLeft); }
    void Fail() { m_bFailed = true; }

private:
    bool NextByte();

    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nPos = 0;
    size_t m_nDelivered = 0; // RBSP bytes read
    int m_nZeros = 0;        // zero bytes just read, for the emulation prevention rule
    uint32_t m_nByte = 0;
    int m_nBitsLeft = 0;
    bool m_bFailed = false;
};

// Copies a NAL unit payload to its RBSP (emulation prevention bytes removed); returns the
// RBSP's length. pOut holds at least nSize bytes.
size_t UnescapeRbsp(const uint8_t* pData, size_t nSize, uint8_t* pOut);
