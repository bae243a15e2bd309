#include "codec/HevcSample.h"

namespace {

bool IsSliceType(int nType) {
    return nType <= 9 || (nType >= 16 && nType <= 21);
}

} // namespace

ENalHeader HevcNalHeader(const uint8_t* pNal, size_t nSize) {
    if (nSize < 2 || (pNal[0] & 0x80) != 0)
        return ENalHeader::Invalid;
    const int nType = HevcNalType(pNal);
    const int nLayer = ((pNal[0] & 1) << 5) | (pNal[1] >> 3);
    const int nTidPlus1 = pNal[1] & 7;
    if (nLayer != 0 || nTidPlus1 == 0)
        return ENalHeader::Invalid;
    const bool bTid0 = nTidPlus1 == 1;
    if (IsSliceType(nType)) {
        if ((HevcIsIrap(nType) && !bTid0) || (nType >= 2 && nType <= 5 && bTid0))
            return ENalHeader::Invalid;
        return ENalHeader::Slice;
    }
    switch (nType) {
    case 32:
    case 33:
    case 36:
    case 37:
        return bTid0 ? ENalHeader::Other : ENalHeader::Invalid;
    case 34:
    case 35:
    case 38:
    case 39:
    case 40:
    case 62: // unspecified: Dolby Vision's RPU, last in each access unit
    case 63:
        return ENalHeader::Other;
    default:
        return ENalHeader::Invalid;
    }
}

CSampleNal ExamineHevc(const uint8_t* pNal, size_t nSize, bool bComplete, uint64_t nAt,
                       const CHevcParameterSets& sets, CCleanScan* pScan) {
    CSampleNal nal;
    if (HevcNalHeader(pNal, nSize) == ENalHeader::Invalid)
        return nal;
    const int nType = HevcNalType(pNal);
    if (IsSliceType(nType)) {
        if (ParseHevcSliceHeader(pNal, nSize, sets, &nal.hevc))
            nal.eRole = ENalRole::Vcl;
        else if (!bComplete)
            nal.eRole = ENalRole::Suffix;
        return nal;
    }
    switch (nType) {
    case 32:
    case 33:
    case 34:
        nal.eRole = ENalRole::Start;
        return nal;
    case 35:
        if (!bComplete || (nSize == 3 && (pNal[2] & 0x1F) == 0x10 && (pNal[2] >> 5) <= 2))
            nal.eRole = ENalRole::Start;
        return nal;
    case 36:
    case 37:
        if (nSize == 2) {
            nal.eRole = ENalRole::Suffix;
            nal.bEndOfSequence = true;
        }
        return nal;
    case 38:
        if (!bComplete || (pScan->IsClean(pNal, nSize, nAt) &&
                           IsFillerData(pNal + 2, NalUnitEnd(pNal, nSize) - 2)))
            nal.eRole = ENalRole::Suffix;
        return nal;
    case 39:
    case 40:
        if (!bComplete || (pScan->IsClean(pNal, nSize, nAt) &&
                           IsWellFormedSei(pNal + 2, NalUnitEnd(pNal, nSize) - 2)))
            nal.eRole = nType == 39 ? ENalRole::Start : ENalRole::Suffix;
        return nal;
    default: // 62, 63: what they hold is not HEVC's; they follow a picture's slices
        nal.eRole = ENalRole::Suffix;
        return nal;
    }
}

bool HevcContinuesPicture(const CHevcSlice& s, const CHevcSlice& first, const CHevcSlice& last) {
    return s.nPpsId == first.nPpsId && s.nNalType == first.nNalType &&
           s.nTemporalId == first.nTemporalId && s.nAddress > last.nAddress;
}

size_t HevcSliceOfSamePictureAt(const uint8_t* pData, size_t nAvail, size_t nLengthSize) {
    for (size_t nAt = 0; nAvail - nAt >= nLengthSize;) {
        uint64_t nLength = 0;
        for (size_t i = 0; i < nLengthSize; ++i)
            nLength = (nLength << 8) | pData[nAt + i];
        const size_t nNal = nAt + nLengthSize;
        if (nLength < 3 || nLength > nAvail - nNal || (pData[nNal] & 0x80))
            return 0;
        const int nType = HevcNalType(pData + nNal);
        if (IsSliceType(nType))
            return (pData[nNal + 2] & 0x80) == 0 ? nAt : 0; // first_slice_segment_in_pic_flag
        if (!(nType >= 32 && nType <= 35) && nType != 39)
            return 0;
        nAt = nNal + static_cast<size_t>(nLength);
    }
    return 0;
}
