// The parts of HEVC syntax the rebuild needs: video, sequence and picture parameter sets, and
// the slice segment header up to the picture order count. Each parser takes a whole NAL unit
// (its two header bytes included) and fails on anything out of range.
#pragma once

#include "codec/ParameterSetTable.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct CHevcSps {
    int nId = 0;
    int nProfile = 0;
    int nLevel = 0;
    int nChromaFormat = 1;
    bool bSeparateColourPlane = false;
    int nBitDepthLuma = 8;
    int nBitDepthChroma = 8;
    int nLog2MaxPocLsb = 4;
    int nCtbsInPic = 0; // coding tree blocks in a picture, for slice segment addresses
    int nWidth = 0;     // cropped to the conformance window, in luma samples
    int nHeight = 0;
    int nMinCbSize = 8; // coded sizes are multiples of it
    // Where the size and bit depths are written, in bits of the RBSP after the NAL header:
    // pic_width_in_luma_samples up to bit_depth_chroma_minus8.
    uint32_t nSizeBit = 0, nSizeEndBit = 0;
};

struct CHevcPps {
    int nId = 0;
    int nSpsId = 0;
    bool bDependentSliceSegments = false;
    bool bOutputFlagPresent = false;
    int nExtraSliceHeaderBits = 0;
};

struct CHevcSlice {
    int nNalType = 0;
    int nTemporalId = 0;
    bool bFirstInPicture = false;
    bool bDependent = false;
    int nAddress = 0;
    int nPpsId = 0;
    int nPocLsb = 0;
};

using CHevcParameterSets = CParameterSetTable<CHevcSps, CHevcPps, 16, 64>;

inline int HevcNalType(const uint8_t* pNal) {
    return (pNal[0] >> 1) & 0x3F;
}
inline bool HevcIsIrap(int nType) {
    return nType >= 16 && nType <= 23;
}

bool CheckHevcVps(const uint8_t* pNal, size_t nSize);
// The clock a VPS gives its pictures (a picture lasts one tick); false where it gives none.
bool ReadHevcVpsClock(const uint8_t* pNal, size_t nSize, uint32_t* pUnitsInTick,
                      uint32_t* pTimeScale);
bool ParseHevcSps(const uint8_t* pNal, size_t nSize, CHevcSps* pSps);
bool ParseHevcPps(const uint8_t* pNal, size_t nSize, CHevcPps* pPps);
// The slice segment header of a VCL NAL unit (types 0-9 and 16-21).
bool ParseHevcSliceHeader(const uint8_t* pNal, size_t nSize, const CHevcParameterSets& sets,
                          CHevcSlice* pSlice);
