#include "rebuild/NalUnit.h"

#include "rebuild/RbspReader.h"

bool IsCleanNalUnit(const uint8_t* pNal, size_t nSize) {
    if (nSize == 0 || pNal[nSize - 1] == 0)
        return false;
    // Skips ahead while the byte at i cannot end a zero-zero-small pattern.
    size_t i = 2;
    while (i < nSize) {
        if (pNal[i] > 3) {
            i += 3;
            continue;
        }
        if (pNal[i - 1] == 0 && pNal[i - 2] == 0) {
            if (pNal[i] != 3)
                return false;
            if (i + 1 < nSize && pNal[i + 1] > 3)
                return false;
        }
        ++i;
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
