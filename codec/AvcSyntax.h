// The parts of H.264 syntax the rebuild needs: sequence and picture parameter sets, and the
// slice header up to the reference picture marking (enough to find access unit boundaries and
// compute picture order counts). Each parser takes a whole NAL unit, header byte included, and
// fails on anything out of range, so that it also tells real NAL units from other bytes.
#pragma once

#include "codec/ParameterSetTable.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct CAvcSps {
    int nId = 0;
    int nProfile = 0;
    int nLevel = 0;
    int nChromaFormat = 1;
    bool bSeparateColourPlane = false;
    int nBitDepthLuma = 8;
    int nBitDepthChroma = 8;
    int nLog2MaxFrameNum = 4;
    int nPocType = 0;
    int nLog2MaxPocLsb = 4;
    bool bDeltaPicOrderAlwaysZero = false;
    int nOffsetForNonRefPic = 0;
    int nOffsetForTopToBottomField = 0;
    std::vector<int> offsetsForRefFrame;
    bool bFrameMbsOnly = true;
    bool bMbAdaptiveFrameField = false;
    int nWidthInMbs = 0;
    int nHeightInMapUnits = 0;
    int nWidth = 0; // cropped, in luma samples
    int nHeight = 0;
    // Where the size is written, in bits of the RBSP after the NAL header: the two sizes in
    // macroblocks, and frame_cropping_flag with its offsets.
    uint32_t nSizeBit = 0, nSizeEndBit = 0, nCropBit = 0, nCropEndBit = 0;
    // Its video usability information's clock, 0 where it has none: a frame lasts two ticks.
    uint32_t nUnitsInTick = 0;
    uint32_t nTimeScale = 0;
};

struct CAvcPps {
    int nId = 0;
    int nSpsId = 0;
    bool bBottomFieldPicOrderInFramePresent = false;
    int nRefIdxL0Default = 1;
    int nRefIdxL1Default = 1;
    bool bWeightedPred = false;
    int nWeightedBipredIdc = 0;
    bool bRedundantPicCntPresent = false;
};

struct CAvcSlice {
    int nNalType = 0;
    int nRefIdc = 0;
    int nFirstMb = 0;
    int nSliceType = 0; // 0..4 (P, B, I, SP, SI)
    int nPpsId = 0;
    int nFrameNum = 0;
    bool bField = false;
    bool bBottomField = false;
    int nIdrPicId = 0;
    int nPocLsb = 0;
    int nDeltaPocBottom = 0;
    int deltaPoc[2] = {0, 0};
    int nRedundantPicCnt = 0;
    bool bMmco5 = false;
    bool IsIdr() const { return nNalType == 5; }
};

// Parameter sets by id, as a decoder keeps them.
using CAvcParameterSets = CParameterSetTable<CAvcSps, CAvcPps, 32, 256>;

bool ParseAvcSps(const uint8_t* pNal, size_t nSize, CAvcSps* pSps);
bool ParseAvcPps(const uint8_t* pNal, size_t nSize, CAvcPps* pPps);
// The slice header of a slice of type 1 or 5, with the parameter sets it refers to.
bool ParseAvcSliceHeader(const uint8_t* pNal, size_t nSize, const CAvcParameterSets& sets,
                         CAvcSlice* pSlice);
// Picture size in macroblocks of a slice's picture (a field counts half a frame).
int AvcPicSizeInMbs(const CAvcSps& sps, bool bField);
