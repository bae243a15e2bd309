#include "codec/AmrFrame.h"

namespace {

// Frame bytes by type, header included: speech modes, SID, then the types a recording does not
// hold (0) and NO_DATA. AMR-WB's type 14 is a lost frame, a byte like NO_DATA.
const uint8_t kNarrowSizes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 0, 0, 0, 0, 0, 0, 1};
const uint8_t kWideSizes[16] = {18, 24, 33, 37, 41, 47, 51, 59, 61, 6, 0, 0, 0, 0, 1, 1};

} // namespace

size_t AmrFrameSize(bool bWide, uint8_t nHeader) {
    if ((nHeader & 0x87) != 0x04)
        return 0;
    return (bWide ? kWideSizes : kNarrowSizes)[(nHeader >> 3) & 0x0F];
}

size_t AmrFramesSize(bool bWide, const uint8_t* pData, size_t nSize, int nFrames, bool* pCut) {
    *pCut = false;
    size_t nAt = 0;
    for (int i = 0; i < nFrames; ++i) {
        if (nAt >= nSize) {
            *pCut = true;
            return 0;
        }
        const size_t nFrame = AmrFrameSize(bWide, pData[nAt]);
        if (nFrame == 0)
            return 0;
        if (nFrame > nSize - nAt) {
            *pCut = true;
            return 0;
        }
        nAt += nFrame;
    }
    return nAt;
}

int CountAmrFrames(bool bWide, const uint8_t* pData, size_t nSize) {
    int nFrames = 0;
    for (size_t nAt = 0; nAt < nSize; ++nFrames) {
        const size_t nFrame = AmrFrameSize(bWide, pData[nAt]);
        if (nFrame == 0 || nFrame > nSize - nAt)
            return 0;
        nAt += nFrame;
    }
    return nFrames;
}
