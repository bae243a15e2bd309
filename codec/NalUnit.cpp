#include "codec/NalUnit.h"

#include <algorithm>

namespace {

// Bytes i..i+7 of p as a little-endian word, whatever the machine.
uint64_t LoadWord(const uint8_t* p) {
    uint64_t nWord = 0;
    for (int i = 7; i >= 0; --i)
        nWord = (nWord << 8) | p[i];
    return nWord;
}

// 0x80 in each byte of the word that is zero.
uint64_t ZeroBytes(uint64_t nWord) {
    const uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    return ~(((nWord & kLow7) + kLow7) | nWord | kLow7);
}

// The rules at one position where two zero bytes start.
bool CleanAt(const uint8_t* p, const uint8_t* pEnd) {
    if (pEnd - p < 3)
        return true; // a zero at the very end is refused on its own
    if (p[2] < 3)
        return false;
    return !(p[2] == 3 && pEnd - p > 3 && p[3] > 3);
}

} // namespace

size_t FindForbiddenPattern(const uint8_t* pNal, size_t nSize) {
    // Every forbidden pattern starts with two zero bytes; a word at a time, only the places
    // where two zeros meet are looked at (compressed video has few, even where zeros abound).
    const uint8_t* const pEnd = pNal + nSize;
    const uint8_t* p = pNal;
    uint64_t nZeros = pEnd - p >= 8 ? ZeroBytes(LoadWord(p)) : 0;
    while (pEnd - p >= 16) {
        const uint64_t nNext = ZeroBytes(LoadWord(p + 8));
        // Byte i and byte i + 1 both zero, the last byte pairing with the next word's first.
        uint64_t nPairs = nZeros & ((nZeros >> 8) | (nNext << 56));
        while (nPairs != 0) {
            int nByte = 0;
            while (!((nPairs >> (8 * nByte)) & 0x80))
                ++nByte;
            if (!CleanAt(p + nByte, pEnd))
                return static_cast<size_t>(p + nByte - pNal);
            nPairs &= ~(uint64_t(0x80) << (8 * nByte));
        }
        nZeros = nNext;
        p += 8;
    }
    for (; p + 1 < pEnd; ++p) {
        if (p[0] == 0 && p[1] == 0 && !CleanAt(p, pEnd))
            return static_cast<size_t>(p - pNal);
    }
    return nSize;
}

size_t NalUnitEnd(const uint8_t* pNal, size_t nSize) {
    size_t nEnd = nSize;
    while (nEnd > 0 && pNal[nEnd - 1] == 0 && nSize - nEnd <= kMaxNalPadding)
        --nEnd;
    return nEnd > 0 && pNal[nEnd - 1] != 0 ? nEnd : 0;
}

bool IsCleanNalUnit(const uint8_t* pNal, size_t nSize) {
    const size_t nEnd = NalUnitEnd(pNal, nSize);
    return nEnd != 0 && FindForbiddenPattern(pNal, nEnd) == nEnd;
}

bool CCleanScan::IsClean(const uint8_t* pNal, size_t nPadded, uint64_t nAt) {
    // The padding is left out of the scan: its zeros are no pattern in the unit's bytes.
    const size_t nSize = NalUnitEnd(pNal, nPadded);
    if (nSize == 0)
        return false;
    if (nAt == kNoOffset)
        return FindForbiddenPattern(pNal, nSize) == nSize;
    const uint64_t nEnd = nAt + nSize;
    if (m_nForbiddenBegin >= nAt && m_nForbiddenEnd <= nEnd && m_nForbiddenEnd > m_nForbiddenBegin)
        return false;
    if (nAt >= m_nCleanBegin && nEnd <= m_nCleanEnd)
        return true;
    // A stretch that begins inside the clean one is scanned from where that one's last whole
    // pattern could begin: a pattern is at most four bytes.
    const uint64_t nJoin = m_nCleanEnd - std::min<uint64_t>(3, m_nCleanEnd - m_nCleanBegin);
    uint64_t nFrom = nAt;
    uint64_t nBegin = nAt;
    if (nAt >= m_nCleanBegin && nAt <= nJoin) {
        nFrom = nJoin;
        nBegin = m_nCleanBegin;
    }
    const size_t nSkip = static_cast<size_t>(nFrom - nAt);
    const size_t nFound = nSkip + FindForbiddenPattern(pNal + nSkip, nSize - nSkip);
    // Of two stretches that do not join, the longer is kept.
    if (nBegin == m_nCleanBegin || nAt + nFound - nBegin >= m_nCleanEnd - m_nCleanBegin) {
        m_nCleanBegin = nBegin;
        m_nCleanEnd = nAt + nFound;
    }
    if (nFound == nSize)
        return true;
    m_nForbiddenBegin = nAt + nFound;
    m_nForbiddenEnd = m_nForbiddenBegin + (pNal[nFound + 2] == 3 ? 4 : 3);
    return false;
}

bool IsWellFormedSei(const uint8_t* pPayload, size_t nSize) {
    // Large SEI (user data) carry nothing the walk needs; their bytes were checked clean.
    const size_t kMaxChecked = 1 << 16;
    if (nSize > kMaxChecked)
        return true;
    // Read as RBSP on the way (emulation prevention bytes dropped), so that garbage is refused
    // at its first message rather than after all of it was unescaped.
    size_t nAt = 0;
    int nZeros = 0;
    auto next = [&](uint8_t* pByte) {
        if (nAt < nSize && nZeros >= 2 && pPayload[nAt] == 3) {
            ++nAt;
            nZeros = 0;
        }
        if (nAt >= nSize)
            return false;
        *pByte = pPayload[nAt++];
        nZeros = *pByte == 0 ? nZeros + 1 : 0;
        return true;
    };
    // Whether only the trailing bits are left: 0x80, the payload's last byte.
    auto trailing = [&]() {
        size_t nLook = nAt;
        if (nLook < nSize && nZeros >= 2 && pPayload[nLook] == 3)
            ++nLook;
        return nLook + 1 == nSize && pPayload[nLook] == 0x80;
    };
    for (int nMessages = 0; !trailing(); ++nMessages) {
        if (nMessages > 64)
            return false;
        for (int nField = 0; nField < 2; ++nField) {
            uint64_t nValue = 0;
            uint8_t nByte = 0;
            do {
                if (!next(&nByte))
                    return false;
                nValue += nByte;
            } while (nByte == 0xFF);
            if (nField == 1 && nValue > nSize - nAt)
                return false;
            for (; nField == 1 && nValue > 0; --nValue) {
                if (!next(&nByte))
                    return false;
            }
        }
    }
    return true;
}

bool IsFillerData(const uint8_t* pPayload, size_t nSize) {
    if (nSize == 0 || pPayload[nSize - 1] != 0x80)
        return false;
    for (size_t i = 0; i + 1 < nSize; ++i) {
        if (pPayload[i] != 0xFF)
            return false;
    }
    return true;
}
