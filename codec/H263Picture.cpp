#include "codec/H263Picture.h"

#include "codec/AacBitReader.h"

#include <algorithm>

namespace {

// The header's fields up to the picture size fit in this many bytes.
const size_t kHeaderBytes = 12;
// More is asked for in steps of at least this much.
const size_t kStep = 4096;

// Source formats 1 to 5: sub-QCIF, QCIF, CIF, 4CIF, 16CIF.
const int kFormatWidth[] = {0, 128, 176, 352, 704, 1408};
const int kFormatHeight[] = {0, 96, 144, 288, 576, 1152};

bool IsStartCode(const uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && (p[2] & 0xFC) == 0x80;
}

} // namespace

bool ParseH263Header(const uint8_t* pData, size_t nSize, CH263Picture* pPicture) {
    if (nSize < 5 || !IsStartCode(pData))
        return false;
    CBitReader bits(pData, std::min(nSize, kHeaderBytes));
    bits.Skip(22);
    CH263Picture picture;
    picture.nTemporalReference = int(bits.Read(8));
    // PTYPE: a marker bit 1, a bit 0 (H.261's), split screen, document camera, freeze release.
    if (bits.Read(2) != 2)
        return false;
    bits.Skip(3);
    const uint32_t nFormat = bits.Read(3);
    if (nFormat >= 1 && nFormat <= 5) {
        picture.nWidth = kFormatWidth[nFormat];
        picture.nHeight = kFormatHeight[nFormat];
        picture.bIntra = bits.Read(1) == 0;
        bits.Skip(4); // unrestricted vectors, arithmetic coding, advanced prediction, PB-frames
        if (bits.Read(5) == 0) // PQUANT
            return false;
    } else if (nFormat == 7) {
        // PLUSPTYPE: UFEP, then the optional part when it updates, then the mandatory part.
        const uint32_t nUfep = bits.Read(3);
        if (nUfep > 1)
            return false;
        uint32_t nSource = 0;
        if (nUfep == 1) {
            nSource = bits.Read(3);
            if (nSource == 0 || nSource == 7)
                return false;
            bits.Skip(11);
            if (bits.Read(4) != 8)
                return false;
        }
        const uint32_t nType = bits.Read(3);
        if (nType > 5)
            return false;
        picture.bIntra = nType == 0 || nType == 4;
        bits.Skip(3);
        if (bits.Read(3) != 1)
            return false;
        if (bits.Read(1)) // CPM, then PSBI
            bits.Skip(2);
        if (nSource >= 1 && nSource <= 5) {
            picture.nWidth = kFormatWidth[nSource];
            picture.nHeight = kFormatHeight[nSource];
        } else if (nSource == 6) {
            // CPFMT: aspect ratio, width / 4 - 1, a bit 1, height / 4.
            if (bits.Read(4) == 0)
                return false;
            picture.nWidth = int(bits.Read(9) + 1) * 4;
            if (bits.Read(1) != 1)
                return false;
            picture.nHeight = int(bits.Read(9)) * 4;
            if (picture.nHeight == 0)
                return false;
        }
    } else {
        return false;
    }
    if (bits.Past())
        return false;
    *pPicture = picture;
    return true;
}

size_t FindH263StartCode(const uint8_t* pData, size_t nSize, size_t nFrom) {
    for (size_t i = nFrom; i + 3 <= nSize;) {
        // The third byte is the one that tells: skip ahead by it.
        const uint8_t nThird = pData[i + 2];
        if (nThird > 0x83) {
            i += 3;
        } else if (nThird != 0 && (nThird & 0xFC) != 0x80) {
            i += 3;
        } else if (IsStartCode(pData + i)) {
            return i;
        } else {
            ++i;
        }
    }
    return nSize;
}

ESampleParse ScanH263Picture(const uint8_t* pData, size_t nAvail, bool bAtEnd, size_t nMaxSize,
                             CH263Picture* pPicture, size_t* pSize, size_t* pNeed) {
    if (nAvail > nMaxSize) {
        nAvail = nMaxSize;
        bAtEnd = false;
    }
    auto more = [&](size_t nWanted) {
        return AskForMore(nWanted, nAvail, nMaxSize, bAtEnd, kStep, pNeed);
    };
    *pSize = 0;
    if (nAvail < kHeaderBytes && !bAtEnd)
        return more(kHeaderBytes);
    if (!ParseH263Header(pData, nAvail, pPicture))
        return nAvail < 3 || IsStartCode(pData) ? more(kHeaderBytes) : ESampleParse::Invalid;
    const size_t nNext = FindH263StartCode(pData, nAvail, 3);
    *pSize = nNext;
    if (nNext == nAvail) {
        // The picture may go on past these bytes: its size is what there is when the data ends.
        const ESampleParse eMore = more(nAvail + 3);
        if (eMore == ESampleParse::Invalid && bAtEnd)
            return ESampleParse::Truncated;
        return eMore;
    }
    return ESampleParse::Ok;
}
