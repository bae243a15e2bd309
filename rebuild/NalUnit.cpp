#include "rebuild/NalUnit.h"

#include "rebuild/RbspReader.h"

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

bool IsCleanNalUnit(const uint8_t* pNal, size_t nSize) {
    if (nSize == 0 || pNal[nSize - 1] == 0)
        return false;
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
                return false;
            nPairs &= ~(uint64_t(0x80) << (8 * nByte));
        }
        nZeros = nNext;
        p += 8;
    }
    for (; p + 1 < pEnd; ++p) {
        if (p[0] == 0 && p[1] == 0 && !CleanAt(p, pEnd))
            return false;
    }
    return true;
}

bool IsWellFormedSei(const uint8_t* pPayload, size_t nSize, std::vector<uint8_t>& scratch) {
    // Large SEI (user data) carry nothing the walk needs; their bytes were checked clean.
    const size_t kMaxChecked = 1 << 16;
    if (nSize > kMaxChecked)
        return true;
    scratch.resize(nSize);
    const size_t nRbsp = UnescapeRbsp(pPayload, nSize, scratch.data());
    const uint8_t* p = scratch.data();
    size_t nAt = 0;
    for (int nMessages = 0; nAt + 1 < nRbsp; ++nMessages) {
        if (nMessages > 64)
            return false;
        for (int nField = 0; nField < 2; ++nField) {
            uint64_t nValue = 0;
            while (nAt < nRbsp && p[nAt] == 0xFF)
                nValue += p[nAt++];
            if (nAt >= nRbsp)
                return false;
            nValue += p[nAt++];
            if (nField == 1) {
                if (nValue > nRbsp - nAt)
                    return false;
                nAt += static_cast<size_t>(nValue);
            }
        }
    }
    return nAt + 1 == nRbsp && p[nAt] == 0x80;
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
