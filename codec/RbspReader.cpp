#include "codec/RbspReader.h"

bool CRbspReader::NextByte() {
    if (m_nPos < m_nSize && m_nZeros >= 2 && m_pData[m_nPos] == 3) {
        ++m_nPos;
        m_nZeros = 0;
    }
    if (m_nPos >= m_nSize) {
        m_bFailed = true;
        m_nByte = 0;
        m_nBitsLeft = 8;
        return false;
    }
    m_nByte = m_pData[m_nPos++];
    ++m_nDelivered;
    m_nZeros = m_nByte == 0 ? m_nZeros + 1 : 0;
    m_nBitsLeft = 8;
    return true;
}

uint32_t CRbspReader::Bits(int nCount) {
    uint32_t nValue = 0;
    while (nCount > 0) {
        if (m_nBitsLeft == 0)
            NextByte();
        const int nTake = nCount < m_nBitsLeft ? nCount : m_nBitsLeft;
        const uint32_t nPart = (m_nByte >> (m_nBitsLeft - nTake)) & ((1u << nTake) - 1);
        nValue = (nValue << nTake) | nPart;
        m_nBitsLeft -= nTake;
        nCount -= nTake;
    }
    return nValue;
}

void CRbspReader::Skip(int nCount) {
    while (nCount > 0 && !m_bFailed) {
        const int nTake = nCount < 32 ? nCount : 32;
        Bits(nTake);
        nCount -= nTake;
    }
}

uint32_t CRbspReader::Ue() {
    int nZeros = 0;
    while (!Flag()) {
        if (m_bFailed || ++nZeros > 31) {
            m_bFailed = true;
            return 0;
        }
    }
    if (nZeros == 0)
        return 0;
    return ((1u << nZeros) - 1) + Bits(nZeros);
}

int32_t CRbspReader::Se() {
    const uint32_t nCode = Ue();
    if (nCode & 1)
        return static_cast<int32_t>((nCode >> 1) + 1);
    return -static_cast<int32_t>(nCode >> 1);
}

size_t UnescapeRbsp(const uint8_t* pData, size_t nSize, uint8_t* pOut) {
    size_t nOut = 0;
    int nZeros = 0;
    for (size_t i = 0; i < nSize; ++i) {
        if (nZeros >= 2 && pData[i] == 3) {
            nZeros = 0;
            continue;
        }
        nZeros = pData[i] == 0 ? nZeros + 1 : 0;
        pOut[nOut++] = pData[i];
    }
    return nOut;
}
