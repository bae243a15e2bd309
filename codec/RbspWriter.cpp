#include "codec/RbspWriter.h"

void CRbspWriter::Bits(int nCount, uint32_t nValue) {
    for (int i = nCount - 1; i >= 0; --i) {
        m_nByte = (m_nByte << 1) | ((nValue >> i) & 1);
        if (++m_nBits == 8) {
            m_bytes.push_back(static_cast<uint8_t>(m_nByte));
            m_nByte = 0;
            m_nBits = 0;
        }
    }
}

void CRbspWriter::Ue(uint32_t nValue) {
    const uint64_t nCode = uint64_t(nValue) + 1;
    int nLength = 0;
    while (nCode >> (nLength + 1))
        ++nLength;
    Bits(nLength, 0);
    // Up to 33 bits: the leading one, then the rest.
    Bits(1, 1);
    Bits(nLength, static_cast<uint32_t>(nCode));
}

void CRbspWriter::Se(int32_t nValue) {
    Ue(nValue > 0 ? uint32_t(2 * int64_t(nValue) - 1) : uint32_t(-2 * int64_t(nValue)));
}

void CRbspWriter::Copy(const uint8_t* pRbsp, uint64_t nBegin, uint64_t nEnd) {
    for (uint64_t n = nBegin; n < nEnd; ++n)
        Bits(1, (pRbsp[n / 8] >> (7 - n % 8)) & 1);
}

std::vector<uint8_t> CRbspWriter::Bytes() {
    while (m_nBits != 0)
        Bits(1, 0);
    return m_bytes;
}

std::vector<uint8_t> CRbspWriter::Nal(const uint8_t* pHeader, size_t nHeader) {
    Bits(1, 1);
    return MakeNalUnit(std::vector<uint8_t>(pHeader, pHeader + nHeader), Bytes());
}

std::vector<uint8_t> MakeNalUnit(std::vector<uint8_t> header, const std::vector<uint8_t>& rbsp) {
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

uint64_t RbspStopBit(const uint8_t* pRbsp, size_t nSize) {
    while (nSize != 0 && pRbsp[nSize - 1] == 0)
        --nSize;
    if (nSize == 0)
        return 0;
    int nTrailing = 0;
    while (((pRbsp[nSize - 1] >> nTrailing) & 1) == 0)
        ++nTrailing;
    return uint64_t(nSize) * 8 - 1 - static_cast<uint64_t>(nTrailing);
}
