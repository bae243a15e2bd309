#include "codec/HevcSyntax.h"

#include "codec/RbspReader.h"

namespace {

// general_profile_space to general_level_idc, then the sub-layers' flags and fields.
bool SkipProfileTierLevel(CRbspReader& bits, int nMaxSubLayersMinus1, int* pProfile, int* pLevel) {
    bits.Skip(2);
    bits.Skip(1);
    *pProfile = static_cast<int>(bits.Bits(5));
    bits.Skip(32);
    bits.Skip(4 + 43 + 1);
    *pLevel = static_cast<int>(bits.Bits(8));
    bool profilePresent[8] = {}, levelPresent[8] = {};
    for (int i = 0; i < nMaxSubLayersMinus1; ++i) {
        profilePresent[i] = bits.Flag();
        levelPresent[i] = bits.Flag();
    }
    if (nMaxSubLayersMinus1 > 0) {
        for (int i = nMaxSubLayersMinus1; i < 8; ++i)
            bits.Skip(2);
    }
    for (int i = 0; i < nMaxSubLayersMinus1; ++i) {
        if (profilePresent[i])
            bits.Skip(88);
        if (levelPresent[i])
            bits.Skip(8);
    }
    return !bits.Failed();
}

} // namespace

bool CheckHevcVps(const uint8_t* pNal, size_t nSize) {
    if (nSize < 8 || HevcNalType(pNal) != 32)
        return false;
    CRbspReader bits(pNal + 2, nSize - 2);
    bits.Skip(4 + 2 + 6); // id, base layer flags, max_layers_minus1
    const uint32_t nSubLayersMinus1 = bits.Bits(3);
    bits.Skip(1);
    // vps_reserved_0xffff_16bits
    return nSubLayersMinus1 <= 6 && bits.Bits(16) == 0xFFFF && !bits.Failed();
}

bool ReadHevcVpsClock(const uint8_t* pNal, size_t nSize, uint32_t* pUnitsInTick,
                      uint32_t* pTimeScale) {
    if (!CheckHevcVps(pNal, nSize))
        return false;
    CRbspReader bits(pNal + 2, nSize - 2);
    bits.Skip(4 + 2 + 6);
    const int nSubLayersMinus1 = static_cast<int>(bits.Bits(3));
    bits.Skip(1 + 16);
    int nProfile = 0, nLevel = 0;
    if (!SkipProfileTierLevel(bits, nSubLayersMinus1, &nProfile, &nLevel))
        return false;
    const bool bOrderingInfo = bits.Flag();
    for (int i = bOrderingInfo ? 0 : nSubLayersMinus1; i <= nSubLayersMinus1; ++i) {
        bits.Ue();
        bits.Ue();
        bits.Ue();
    }
    const uint32_t nMaxLayerId = bits.Bits(6);
    const uint32_t nLayerSetsMinus1 = bits.Ue();
    if (nLayerSetsMinus1 > 1023)
        return false;
    for (uint32_t i = 1; i <= nLayerSetsMinus1 && !bits.Failed(); ++i)
        bits.Skip(static_cast<int>(nMaxLayerId) + 1);
    if (!bits.Flag()) // vps_timing_info_present_flag
        return false;
    const uint32_t nUnits = bits.Bits(32);
    const uint32_t nScale = bits.Bits(32);
    if (bits.Failed() || nUnits == 0 || nScale == 0)
        return false;
    *pUnitsInTick = nUnits;
    *pTimeScale = nScale;
    return true;
}

bool ParseHevcSps(const uint8_t* pNal, size_t nSize, CHevcSps* pSps) {
    if (nSize < 4 || HevcNalType(pNal) != 33)
        return false;
    CRbspReader bits(pNal + 2, nSize - 2);
    CHevcSps sps;
    bits.Skip(4); // sps_video_parameter_set_id
    const int nSubLayersMinus1 = static_cast<int>(bits.Bits(3));
    if (nSubLayersMinus1 > 6)
        return false;
    bits.Skip(1);
    if (!SkipProfileTierLevel(bits, nSubLayersMinus1, &sps.nProfile, &sps.nLevel))
        return false;
    const uint32_t nId = bits.Ue();
    const uint32_t nChroma = bits.Ue();
    if (nId > 15 || nChroma > 3)
        return false;
    sps.nId = static_cast<int>(nId);
    sps.nChromaFormat = static_cast<int>(nChroma);
    if (nChroma == 3)
        sps.bSeparateColourPlane = bits.Flag();
    sps.nSizeBit = static_cast<uint32_t>(bits.Position());
    const uint32_t nWidth = bits.Ue(), nHeight = bits.Ue();
    if (nWidth == 0 || nHeight == 0 || nWidth > 16888 || nHeight > 16888)
        return false;
    uint32_t window[4] = {0, 0, 0, 0};
    if (bits.Flag()) {
        for (uint32_t& nOffset : window)
            nOffset = bits.Ue();
    }
    const uint32_t nLuma = bits.Ue(), nChromaDepth = bits.Ue();
    sps.nSizeEndBit = static_cast<uint32_t>(bits.Position());
    const uint32_t nPocBits = bits.Ue();
    if (nLuma > 8 || nChromaDepth > 8 || nPocBits > 12)
        return false;
    sps.nBitDepthLuma = 8 + static_cast<int>(nLuma);
    sps.nBitDepthChroma = 8 + static_cast<int>(nChromaDepth);
    sps.nLog2MaxPocLsb = 4 + static_cast<int>(nPocBits);
    const bool bOrderingInfo = bits.Flag();
    for (int i = bOrderingInfo ? 0 : nSubLayersMinus1; i <= nSubLayersMinus1; ++i) {
        bits.Ue();
        bits.Ue();
        bits.Ue();
    }
    const uint32_t nMinCbMinus3 = bits.Ue(), nCbDiff = bits.Ue();
    const uint32_t nCtbLog2 = nMinCbMinus3 + 3 + nCbDiff;
    if (nMinCbMinus3 > 3 || nCtbLog2 < 4 || nCtbLog2 > 6 || bits.Failed())
        return false;
    sps.nMinCbSize = 1 << (nMinCbMinus3 + 3);
    const uint32_t nCtb = 1u << nCtbLog2;
    sps.nCtbsInPic = static_cast<int>(((nWidth + nCtb - 1) / nCtb) * ((nHeight + nCtb - 1) / nCtb));
    const int nChromaArray = sps.bSeparateColourPlane ? 0 : sps.nChromaFormat;
    const int64_t nUnitX = nChromaArray == 1 || nChromaArray == 2 ? 2 : 1;
    const int64_t nUnitY = nChromaArray == 1 ? 2 : 1;
    const int64_t nW = int64_t(nWidth) - nUnitX * (int64_t(window[0]) + window[1]);
    const int64_t nH = int64_t(nHeight) - nUnitY * (int64_t(window[2]) + window[3]);
    if (nW <= 0 || nH <= 0)
        return false;
    sps.nWidth = static_cast<int>(nW);
    sps.nHeight = static_cast<int>(nH);
    *pSps = sps;
    return true;
}

bool ParseHevcPps(const uint8_t* pNal, size_t nSize, CHevcPps* pPps) {
    if (nSize < 3 || HevcNalType(pNal) != 34)
        return false;
    CRbspReader bits(pNal + 2, nSize - 2);
    CHevcPps pps;
    const uint32_t nId = bits.Ue(), nSpsId = bits.Ue();
    if (nId > 63 || nSpsId > 15)
        return false;
    pps.nId = static_cast<int>(nId);
    pps.nSpsId = static_cast<int>(nSpsId);
    pps.bDependentSliceSegments = bits.Flag();
    pps.bOutputFlagPresent = bits.Flag();
    pps.nExtraSliceHeaderBits = static_cast<int>(bits.Bits(3));
    if (bits.Failed())
        return false;
    *pPps = pps;
    return true;
}

bool ParseHevcSliceHeader(const uint8_t* pNal, size_t nSize, const CHevcParameterSets& sets,
                          CHevcSlice* pSlice) {
    if (nSize < 3)
        return false;
    CHevcSlice slice;
    slice.nNalType = HevcNalType(pNal);
    slice.nTemporalId = (pNal[1] & 7) - 1;
    if (!(slice.nNalType <= 9 || (slice.nNalType >= 16 && slice.nNalType <= 21)))
        return false;
    CRbspReader bits(pNal + 2, nSize - 2);
    slice.bFirstInPicture = bits.Flag();
    if (HevcIsIrap(slice.nNalType))
        bits.Skip(1); // no_output_of_prior_pics_flag
    const uint32_t nPpsId = bits.Ue();
    if (nPpsId > 63)
        return false;
    slice.nPpsId = static_cast<int>(nPpsId);
    const CHevcPps* pPps = sets.Pps(slice.nPpsId);
    const CHevcSps* pSps = pPps ? sets.Sps(pPps->nSpsId) : nullptr;
    if (!pSps)
        return false;
    if (!slice.bFirstInPicture) {
        if (pPps->bDependentSliceSegments)
            slice.bDependent = bits.Flag();
        int nAddressBits = 0;
        while ((1 << nAddressBits) < pSps->nCtbsInPic)
            ++nAddressBits;
        const uint32_t nAddress = bits.Bits(nAddressBits);
        if (nAddress == 0 || nAddress >= uint32_t(pSps->nCtbsInPic))
            return false;
        slice.nAddress = static_cast<int>(nAddress);
    }
    if (!slice.bDependent) {
        bits.Skip(pPps->nExtraSliceHeaderBits);
        const uint32_t nType = bits.Ue();
        if (nType > 2)
            return false;
        // IRAP pictures hold only I slices.
        if (HevcIsIrap(slice.nNalType) && nType != 2)
            return false;
        if (pPps->bOutputFlagPresent)
            bits.Skip(1);
        if (pSps->bSeparateColourPlane)
            bits.Skip(2);
        if (slice.nNalType != 19 && slice.nNalType != 20)
            slice.nPocLsb = static_cast<int>(bits.Bits(pSps->nLog2MaxPocLsb));
    }
    if (bits.Failed())
        return false;
    *pSlice = slice;
    return true;
}
