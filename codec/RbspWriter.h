// Writes H.264 and HEVC syntax bit by bit, and makes a NAL unit of it: the counterpart of
// CRbspReader, for parameter sets the engine rewrites.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CRbspWriter {
public:
    void Bits(int nCount, uint32_t nValue); // nCount <= 32
    void Flag(bool bValue) { Bits(1, bValue ? 1 : 0); }
    void Ue(uint32_t nValue);
    void Se(int32_t nValue);
    // Bits [nBegin, nEnd) of an RBSP, as they are.
    void Copy(const uint8_t* pRbsp, uint64_t nBegin, uint64_t nEnd);
    // What was written, with zeros to the byte.
    std::vector<uint8_t> Bytes();
    // The stop bit and the zeros to the byte, then the NAL unit (see MakeNalUnit).
    std::vector<uint8_t> Nal(const uint8_t* pHeader, size_t nHeader);

private:
    std::vector<uint8_t> m_bytes;
    uint32_t m_nByte = 0;
    int m_nBits = 0;
};

// A NAL unit: its header bytes, then the RBSP with emulation prevention bytes put in.
std::vector<uint8_t> MakeNalUnit(std::vector<uint8_t> header, const std::vector<uint8_t>& rbsp);

// Where the RBSP's stop bit is: its position in bits, or 0 when there is none.
uint64_t RbspStopBit(const uint8_t* pRbsp, size_t nSize);
