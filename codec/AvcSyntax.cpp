#include "codec/AvcSyntax.h"

#include "codec/RbspReader.h"

namespace {

bool HasChromaInfo(int nProfile) {
    switch (nProfile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
        return true;
    default:
        return false;
    }
}

void SkipScalingList(CRbspReader& bits, int nSize) {
    int nLast = 8, nNext = 8;
    for (int j = 0; j < nSize && !bits.Failed(); ++j) {
        if (nNext != 0) {
            const int nDelta = bits.Se();
            if (nDelta < -128 || nDelta > 127) {
                bits.Fail();
                return;
            }
            nNext = (nLast + nDelta + 256) % 256;
        }
        nLast = nNext == 0 ? nLast : nNext;
    }
}

bool SkipRefPicListModification(CRbspReader& bits) {
    if (!bits.Flag())
        return true;
    for (int i = 0; i < 100 && !bits.Failed(); ++i) {
        const uint32_t nIdc = bits.Ue();
        if (nIdc == 3)
            return true;
        if (nIdc > 2)
            return false;
        bits.Ue(); // abs_diff_pic_num_minus1 or long_term_pic_num
    }
    return false;
}

void SkipWeights(CRbspReader& bits, int nRefs, bool bChroma) {
    for (int i = 0; i < nRefs && !bits.Failed(); ++i) {
        if (bits.Flag()) {
            bits.Se();
            bits.Se();
        }
        if (bChroma && bits.Flag()) {
            for (int j = 0; j < 4; ++j)
                bits.Se();
        }
    }
}

} // namespace

int AvcPicSizeInMbs(const CAvcSps& sps, bool bField) {
    const int nFrameHeight = (sps.bFrameMbsOnly ? 1 : 2) * sps.nHeightInMapUnits;
    return sps.nWidthInMbs * (bField ? nFrameHeight / 2 : nFrameHeight);
}

namespace {

// The clock of the video usability information, where the SPS has one. What follows the
// picture size is not needed otherwise: a VUI that does not read leaves the clock unknown.
void ReadVuiClock(CRbspReader& bits, CAvcSps* pSps) {
    if (!bits.Flag()) // vui_parameters_present_flag
        return;
    if (bits.Flag() && bits.Bits(8) == 255) // aspect_ratio_idc, Extended_SAR
        bits.Skip(32);
    if (bits.Flag()) // overscan_info_present_flag
        bits.Skip(1);
    if (bits.Flag()) { // video_signal_type_present_flag
        bits.Skip(4);
        if (bits.Flag())
            bits.Skip(24);
    }
    if (bits.Flag()) { // chroma_loc_info_present_flag
        bits.Ue();
        bits.Ue();
    }
    if (!bits.Flag()) // timing_info_present_flag
        return;
    const uint32_t nUnits = bits.Bits(32);
    const uint32_t nScale = bits.Bits(32);
    if (bits.Failed() || nUnits == 0 || nScale == 0)
        return;
    pSps->nUnitsInTick = nUnits;
    pSps->nTimeScale = nScale;
}

} // namespace

bool ParseAvcSps(const uint8_t* pNal, size_t nSize, CAvcSps* pSps) {
    if (nSize < 5 || (pNal[0] & 0x1F) != 7)
        return false;
    CRbspReader bits(pNal + 1, nSize - 1);
    CAvcSps sps;
    sps.nProfile = static_cast<int>(bits.Bits(8));
    bits.Skip(8); // constraint flags
    sps.nLevel = static_cast<int>(bits.Bits(8));
    const uint32_t nId = bits.Ue();
    if (nId > 31)
        return false;
    sps.nId = static_cast<int>(nId);
    if (HasChromaInfo(sps.nProfile)) {
        const uint32_t nChroma = bits.Ue();
        if (nChroma > 3)
            return false;
        sps.nChromaFormat = static_cast<int>(nChroma);
        if (nChroma == 3)
            sps.bSeparateColourPlane = bits.Flag();
        const uint32_t nLuma = bits.Ue(), nChromaDepth = bits.Ue();
        if (nLuma > 6 || nChromaDepth > 6)
            return false;
        sps.nBitDepthLuma = 8 + static_cast<int>(nLuma);
        sps.nBitDepthChroma = 8 + static_cast<int>(nChromaDepth);
        bits.Skip(1); // qpprime_y_zero_transform_bypass_flag
        if (bits.Flag()) {
            const int nLists = nChroma != 3 ? 8 : 12;
            for (int i = 0; i < nLists; ++i) {
                if (bits.Flag())
                    SkipScalingList(bits, i < 6 ? 16 : 64);
            }
        }
    }
    const uint32_t nFrameNumBits = bits.Ue();
    const uint32_t nPocType = bits.Ue();
    if (nFrameNumBits > 12 || nPocType > 2)
        return false;
    sps.nLog2MaxFrameNum = 4 + static_cast<int>(nFrameNumBits);
    sps.nPocType = static_cast<int>(nPocType);
    if (nPocType == 0) {
        const uint32_t nLsbBits = bits.Ue();
        if (nLsbBits > 12)
            return false;
        sps.nLog2MaxPocLsb = 4 + static_cast<int>(nLsbBits);
    } else if (nPocType == 1) {
        sps.bDeltaPicOrderAlwaysZero = bits.Flag();
        sps.nOffsetForNonRefPic = bits.Se();
        sps.nOffsetForTopToBottomField = bits.Se();
        const uint32_t nCycle = bits.Ue();
        if (nCycle > 255)
            return false;
        for (uint32_t i = 0; i < nCycle && !bits.Failed(); ++i)
            sps.offsetsForRefFrame.push_back(bits.Se());
    }
    if (bits.Ue() > 32) // max_num_ref_frames
        return false;
    bits.Skip(1); // gaps_in_frame_num_value_allowed_flag
    sps.nSizeBit = static_cast<uint32_t>(bits.Position());
    const uint32_t nWidth = bits.Ue() + 1, nHeight = bits.Ue() + 1;
    sps.nSizeEndBit = static_cast<uint32_t>(bits.Position());
    if (nWidth > 1024 || nHeight > 1024) // 16384 luma samples, beyond any level
        return false;
    sps.nWidthInMbs = static_cast<int>(nWidth);
    sps.nHeightInMapUnits = static_cast<int>(nHeight);
    sps.bFrameMbsOnly = bits.Flag();
    if (!sps.bFrameMbsOnly)
        sps.bMbAdaptiveFrameField = bits.Flag();
    bits.Skip(1); // direct_8x8_inference_flag
    sps.nCropBit = static_cast<uint32_t>(bits.Position());
    uint32_t crop[4] = {0, 0, 0, 0};
    if (bits.Flag()) {
        for (uint32_t& nCrop : crop)
            nCrop = bits.Ue();
    }
    sps.nCropEndBit = static_cast<uint32_t>(bits.Position());
    if (bits.Failed())
        return false;
    // Crop units follow the chroma subsampling, doubled vertically for field-capable streams.
    const int nChromaArray = sps.bSeparateColourPlane ? 0 : sps.nChromaFormat;
    const int nUnitX = nChromaArray == 1 || nChromaArray == 2 ? 2 : 1;
    const int nUnitY = (nChromaArray == 1 ? 2 : 1) * (sps.bFrameMbsOnly ? 1 : 2);
    const int64_t nW = int64_t(sps.nWidthInMbs) * 16 - int64_t(nUnitX) * (crop[0] + crop[1]);
    const int64_t nH = int64_t(sps.nHeightInMapUnits) * (sps.bFrameMbsOnly ? 1 : 2) * 16 -
                       int64_t(nUnitY) * (crop[2] + crop[3]);
    if (nW <= 0 || nH <= 0)
        return false;
    sps.nWidth = static_cast<int>(nW);
    sps.nHeight = static_cast<int>(nH);
    ReadVuiClock(bits, &sps);
    *pSps = sps;
    return true;
}

bool ParseAvcPps(const uint8_t* pNal, size_t nSize, CAvcPps* pPps) {
    if (nSize < 2 || (pNal[0] & 0x1F) != 8)
        return false;
    CRbspReader bits(pNal + 1, nSize - 1);
    CAvcPps pps;
    const uint32_t nId = bits.Ue(), nSpsId = bits.Ue();
    if (nId > 255 || nSpsId > 31)
        return false;
    pps.nId = static_cast<int>(nId);
    pps.nSpsId = static_cast<int>(nSpsId);
    bits.Skip(1); // entropy_coding_mode_flag
    pps.bBottomFieldPicOrderInFramePresent = bits.Flag();
    const uint32_t nSliceGroups = bits.Ue() + 1;
    if (nSliceGroups > 8)
        return false;
    if (nSliceGroups > 1) {
        const uint32_t nMapType = bits.Ue();
        if (nMapType > 6)
            return false;
        if (nMapType == 0) {
            for (uint32_t i = 0; i < nSliceGroups; ++i)
                bits.Ue();
        } else if (nMapType == 2) {
            for (uint32_t i = 0; i + 1 < nSliceGroups; ++i) {
                bits.Ue();
                bits.Ue();
            }
        } else if (nMapType >= 3 && nMapType <= 5) {
            bits.Skip(1);
            bits.Ue();
        } else if (nMapType == 6) {
            const uint32_t nUnits = bits.Ue() + 1;
            int nIdBits = 0;
            while ((1u << nIdBits) < nSliceGroups)
                ++nIdBits;
            if (nUnits > 1024u * 1024u)
                return false;
            for (uint32_t i = 0; i < nUnits && !bits.Failed(); ++i)
                bits.Skip(nIdBits);
        }
    }
    const uint32_t nL0 = bits.Ue() + 1, nL1 = bits.Ue() + 1;
    if (nL0 > 32 || nL1 > 32)
        return false;
    pps.nRefIdxL0Default = static_cast<int>(nL0);
    pps.nRefIdxL1Default = static_cast<int>(nL1);
    pps.bWeightedPred = bits.Flag();
    pps.nWeightedBipredIdc = static_cast<int>(bits.Bits(2));
    if (pps.nWeightedBipredIdc == 3)
        return false;
    const int32_t nQp = bits.Se(), nQs = bits.Se(), nChromaQp = bits.Se();
    if (nQp < -26 - 36 || nQp > 25 || nQs < -26 || nQs > 25 || nChromaQp < -12 || nChromaQp > 12)
        return false;
    bits.Skip(2); // deblocking_filter_control_present_flag, constrained_intra_pred_flag
    pps.bRedundantPicCntPresent = bits.Flag();
    if (bits.Failed())
        return false;
    *pPps = pps;
    return true;
}

bool ParseAvcSliceHeader(const uint8_t* pNal, size_t nSize, const CAvcParameterSets& sets,
                         CAvcSlice* pSlice) {
    if (nSize < 2)
        return false;
    CAvcSlice slice;
    slice.nNalType = pNal[0] & 0x1F;
    slice.nRefIdc = (pNal[0] >> 5) & 3;
    if (slice.nNalType != 1 && slice.nNalType != 5)
        return false;
    CRbspReader bits(pNal + 1, nSize - 1);
    const uint32_t nFirstMb = bits.Ue();
    const uint32_t nSliceType = bits.Ue();
    const uint32_t nPpsId = bits.Ue();
    if (nSliceType > 9 || nPpsId > 255 || bits.Failed())
        return false;
    slice.nSliceType = static_cast<int>(nSliceType % 5);
    slice.nPpsId = static_cast<int>(nPpsId);
    // An IDR picture holds only I and SI slices.
    if (slice.IsIdr() && slice.nSliceType != 2 && slice.nSliceType != 4)
        return false;
    const CAvcPps* pPps = sets.Pps(slice.nPpsId);
    const CAvcSps* pSps = pPps ? sets.Sps(pPps->nSpsId) : nullptr;
    if (!pSps)
        return false;
    if (pSps->bSeparateColourPlane)
        bits.Skip(2);
    slice.nFrameNum = static_cast<int>(bits.Bits(pSps->nLog2MaxFrameNum));
    if (slice.IsIdr() && slice.nFrameNum != 0)
        return false;
    if (!pSps->bFrameMbsOnly) {
        slice.bField = bits.Flag();
        if (slice.bField)
            slice.bBottomField = bits.Flag();
    }
    const bool bMbaff = pSps->bMbAdaptiveFrameField && !slice.bField;
    if (uint64_t(nFirstMb) * (bMbaff ? 2 : 1) >= uint64_t(AvcPicSizeInMbs(*pSps, slice.bField)))
        return false;
    slice.nFirstMb = static_cast<int>(nFirstMb);
    if (slice.IsIdr()) {
        const uint32_t nIdrId = bits.Ue();
        if (nIdrId > 65535)
            return false;
        slice.nIdrPicId = static_cast<int>(nIdrId);
    }
    if (pSps->nPocType == 0) {
        slice.nPocLsb = static_cast<int>(bits.Bits(pSps->nLog2MaxPocLsb));
        if (pPps->bBottomFieldPicOrderInFramePresent && !slice.bField)
            slice.nDeltaPocBottom = bits.Se();
    } else if (pSps->nPocType == 1 && !pSps->bDeltaPicOrderAlwaysZero) {
        slice.deltaPoc[0] = bits.Se();
        if (pPps->bBottomFieldPicOrderInFramePresent && !slice.bField)
            slice.deltaPoc[1] = bits.Se();
    }
    if (pPps->bRedundantPicCntPresent) {
        const uint32_t nRedundant = bits.Ue();
        if (nRedundant > 127)
            return false;
        slice.nRedundantPicCnt = static_cast<int>(nRedundant);
    }
    const bool bB = slice.nSliceType == 1;
    const bool bP = slice.nSliceType == 0 || slice.nSliceType == 3;
    if (bB)
        bits.Skip(1); // direct_spatial_mv_pred_flag
    int nL0 = pPps->nRefIdxL0Default, nL1 = pPps->nRefIdxL1Default;
    if (bP || bB) {
        if (bits.Flag()) {
            const uint32_t nOverride0 = bits.Ue() + 1;
            const uint32_t nOverride1 = bB ? bits.Ue() + 1 : 1;
            if (nOverride0 > 32 || nOverride1 > 32)
                return false;
            nL0 = static_cast<int>(nOverride0);
            nL1 = static_cast<int>(nOverride1);
        }
        if (!SkipRefPicListModification(bits))
            return false;
        if (bB && !SkipRefPicListModification(bits))
            return false;
    }
    if ((pPps->bWeightedPred && bP) || (pPps->nWeightedBipredIdc == 1 && bB)) {
        const bool bChroma = !pSps->bSeparateColourPlane && pSps->nChromaFormat != 0;
        if (bits.Ue() > 7)
            return false;
        if (bChroma && bits.Ue() > 7)
            return false;
        SkipWeights(bits, nL0, bChroma);
        if (bB)
            SkipWeights(bits, nL1, bChroma);
    }
    if (slice.nRefIdc != 0) {
        if (slice.IsIdr()) {
            bits.Skip(2); // no_output_of_prior_pics_flag, long_term_reference_flag
        } else if (bits.Flag()) {
            // The operations end with 0; 5 resets the picture order, like an IDR would.
            for (int i = 0;; ++i) {
                const uint32_t nOp = bits.Ue();
                if (nOp == 0)
                    break;
                if (nOp > 6 || i > 66 || bits.Failed())
                    return false;
                if (nOp == 1 || nOp == 3)
                    bits.Ue();
                if (nOp == 2)
                    bits.Ue();
                if (nOp == 3 || nOp == 6)
                    bits.Ue();
                if (nOp == 4)
                    bits.Ue();
                if (nOp == 5)
                    slice.bMmco5 = true;
            }
        }
    }
    if (bits.Failed())
        return false;
    *pSlice = slice;
    return true;
}
