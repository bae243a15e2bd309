#include "codec/MotionJpeg.h"

#include <algorithm>
#include <cstring>

namespace {

const uint8_t kSoi = 0xD8;
const uint8_t kEoi = 0xD9;
const uint8_t kSos = 0xDA;
const uint8_t kApp1 = 0xE1;
// More is asked for in steps of at least this much.
const size_t kStep = 4096;

uint16_t Be16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}

uint32_t Be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Start of frame: baseline, extended, progressive and lossless, Huffman or arithmetic.
bool IsFrameHeader(uint8_t nMarker) {
    return nMarker >= 0xC0 && nMarker <= 0xCF && nMarker != 0xC4 && nMarker != 0xC8 &&
           nMarker != 0xCC;
}

// Markers that begin a segment with a length: all from 0xC0 on but RSTn, SOI and EOI.
bool HasLength(uint8_t nMarker) {
    return nMarker >= 0xC0 && nMarker <= 0xFE && !(nMarker >= 0xD0 && nMarker <= kEoi);
}

bool IsSoi(const uint8_t* p) {
    return p[0] == 0xFF && p[1] == kSoi && p[2] == 0xFF;
}

} // namespace

ESampleParse ScanJpegImage(const uint8_t* pData, size_t nAvail, bool bAtEnd, size_t nMaxSize,
                           CJpegImage* pImage, size_t* pNeed) {
    // Past nMaxSize nothing counts: the image would be too long.
    if (nAvail > nMaxSize) {
        nAvail = nMaxSize;
        bAtEnd = false;
    }
    auto more = [&](size_t nWanted) {
        return AskForMore(nWanted, nAvail, nMaxSize, bAtEnd, kStep, pNeed);
    };
    if (nAvail < 2)
        return nAvail == 1 && pData[0] != 0xFF ? ESampleParse::Invalid : more(2);
    if (pData[0] != 0xFF || pData[1] != kSoi)
        return ESampleParse::Invalid;
    CJpegImage image;
    bool bFrame = false, bScan = false;
    size_t nAt = 2;
    for (;;) {
        // A marker, after any fill bytes.
        if (nAt >= nAvail)
            return more(nAt + 2);
        if (pData[nAt] != 0xFF)
            return ESampleParse::Invalid;
        while (nAt < nAvail && pData[nAt] == 0xFF)
            ++nAt;
        if (nAt >= nAvail)
            return more(nAt + 1);
        const uint8_t nMarker = pData[nAt++];
        if (nMarker == kEoi) {
            if (!bScan)
                return ESampleParse::Invalid;
            image.nSize = nAt;
            *pImage = image;
            return ESampleParse::Ok;
        }
        if (!HasLength(nMarker))
            return ESampleParse::Invalid;
        if (nAvail - nAt < 2)
            return more(nAt + 2);
        const size_t nLength = Be16(pData + nAt);
        if (nLength < 2)
            return ESampleParse::Invalid;
        if (nAvail - nAt < nLength)
            return more(nAt + nLength);
        const uint8_t* pSegment = pData + nAt + 2;
        const size_t nSegment = nLength - 2;
        nAt += nLength;
        if (IsFrameHeader(nMarker)) {
            // P, Y, X, Nf, then Nf components of three bytes; one frame an image.
            if (bFrame || nSegment < 6)
                return ESampleParse::Invalid;
            const size_t nComponents = pSegment[5];
            if (nComponents < 1 || nComponents > 4 || nSegment != 6 + 3 * nComponents ||
                Be16(pSegment + 3) == 0)
                return ESampleParse::Invalid;
            image.nHeight = Be16(pSegment + 1);
            image.nWidth = Be16(pSegment + 3);
            bFrame = true;
        } else if (nMarker == kApp1 && nSegment >= 20 && Be32(pSegment) == 0 &&
                   std::memcmp(pSegment + 4, "mjpg", 4) == 0) {
            image.nNextField = Be32(pSegment + 16);
        }
        if (nMarker != kSos)
            continue;
        // Ns, Ns components of two bytes, Ss, Se, Ah/Al; then the entropy-coded data, whose
        // 0xFF bytes are stuffed with a zero or begin a restart marker, up to the next marker.
        if (!bFrame || nSegment < 1)
            return ESampleParse::Invalid;
        const size_t nComponents = pSegment[0];
        if (nComponents < 1 || nComponents > 4 || nSegment != 4 + 2 * nComponents)
            return ESampleParse::Invalid;
        bScan = true;
        for (;;) {
            const void* pFound = std::memchr(pData + nAt, 0xFF, nAvail - nAt);
            if (!pFound)
                return more(nAvail + 1);
            nAt = size_t(static_cast<const uint8_t*>(pFound) - pData);
            if (nAvail - nAt < 2)
                return more(nAt + 2);
            const uint8_t nNext = pData[nAt + 1];
            if (nNext == 0 || (nNext >= 0xD0 && nNext <= 0xD7))
                nAt += 2;
            else if (nNext == 0xFF)
                nAt += 1;
            else
                break;
        }
    }
}

ESampleParse ScanJpegSample(const uint8_t* pData, size_t nAvail, bool bAtEnd, size_t nMaxSize,
                            int nImages, size_t nMaxGap, CJpegSample* pSample, size_t* pNeed) {
    if (nAvail > nMaxSize) {
        nAvail = nMaxSize;
        bAtEnd = false;
    }
    CJpegSample sample;
    size_t nAt = 0, nStart = 0;
    CJpegImage image;
    for (int i = 0; i < nImages && i < kMaxJpegImages; ++i) {
        if (i > 0) {
            // The next field: where the one before says, else at the first SOI past its fill.
            size_t nNext = 0;
            if (image.nNextField != 0) {
                nNext = nStart + image.nNextField;
                if (nNext < nAt || nNext - nAt > nMaxGap)
                    return ESampleParse::Invalid;
            } else {
                const size_t nLook = std::min(nAvail - nAt, nMaxGap + 3);
                size_t k = 0;
                while (k + 3 <= nLook && !IsSoi(pData + nAt + k))
                    ++k;
                if (k + 3 > nLook) {
                    const size_t nWanted = nAt + nMaxGap + 3;
                    if (nLook == nMaxGap + 3 || nWanted > nMaxSize)
                        return ESampleParse::Invalid;
                    if (bAtEnd)
                        return ESampleParse::Truncated;
                    *pNeed = std::max(nWanted, std::min(nMaxSize, nAvail + kStep));
                    return ESampleParse::NeedMore;
                }
                nNext = nAt + k;
            }
            sample.nGap += nNext - nAt;
            nAt = nNext;
        }
        if (nAt >= nAvail) {
            if (bAtEnd)
                return ESampleParse::Truncated;
            if (nAt + 2 > nMaxSize)
                return ESampleParse::Invalid;
            *pNeed = std::min(nMaxSize, nAt + kStep);
            return ESampleParse::NeedMore;
        }
        size_t nNeed = 0;
        const ESampleParse eImage =
            ScanJpegImage(pData + nAt, nAvail - nAt, bAtEnd, nMaxSize - nAt, &image, &nNeed);
        if (eImage == ESampleParse::NeedMore)
            *pNeed = nAt + nNeed;
        if (eImage != ESampleParse::Ok)
            return eImage;
        if (i == 0) {
            sample.nWidth = image.nWidth;
            sample.nHeight = image.nHeight;
        }
        nStart = nAt;
        nAt += image.nSize;
    }
    sample.nEnd = nAt;
    *pSample = sample;
    return ESampleParse::Ok;
}

int CountJpegImages(const uint8_t* pData, size_t nSize, CJpegSample* pSample) {
    int nFound = 0;
    for (int n = 1; n <= kMaxJpegImages; ++n) {
        CJpegSample sample;
        size_t nNeed = 0;
        if (ScanJpegSample(pData, nSize, true, nSize, n, nSize, &sample, &nNeed) !=
            ESampleParse::Ok)
            break;
        nFound = n;
        *pSample = sample;
    }
    return nFound;
}
