// The H.264 rules of CVideoSampleParser: what each NAL unit type may be and hold, where a
// picture's slices begin and continue, and the parameter sets a sample carries.
#include "codec/VideoSample.h"

#include "codec/NalUnit.h"

ENalHeader AvcNalHeader(const uint8_t* pNal, size_t nSize) {
    if (nSize < 1 || (pNal[0] & 0x80) != 0)
        return ENalHeader::Invalid;
    const int nType = pNal[0] & 0x1F;
    const int nRefIdc = (pNal[0] >> 5) & 3;
    switch (nType) {
    case 1:
        return ENalHeader::Slice;
    case 5:
        return nRefIdc != 0 ? ENalHeader::Slice : ENalHeader::Invalid;
    case 6:
    case 9:
    case 10:
    case 11:
    case 12:
        return nRefIdc == 0 ? ENalHeader::Other : ENalHeader::Invalid;
    case 7:
    case 8:
        return nRefIdc != 0 ? ENalHeader::Other : ENalHeader::Invalid;
    default:
        // Extensions (SVC, MVC, auxiliary pictures) are not in the recordings this rebuilds,
        // and refusing them keeps other bytes from passing for them.
        return ENalHeader::Invalid;
    }
}

CVideoSampleParser::CNal CVideoSampleParser::ExamineAvc(const uint8_t* pNal, size_t nSize,
                                                        bool bComplete, uint64_t nAt) {
    CNal nal;
    if (AvcNalHeader(pNal, nSize) == ENalHeader::Invalid)
        return nal;
    switch (pNal[0] & 0x1F) {
    case 1:
    case 5:
        if (ParseAvcSliceHeader(pNal, nSize, m_avc, &nal.avc))
            nal.eRole = ERole::Vcl;
        else if (!bComplete)
            nal.eRole = ERole::Suffix; // cut inside its header: cannot start a picture
        return nal;
    case 6:
        if (!bComplete || (IsClean(pNal, nSize, nAt) && IsWellFormedSei(pNal + 1, nSize - 1)))
            nal.eRole = ERole::Start;
        return nal;
    case 7:
    case 8:
        nal.eRole = ERole::Start;
        return nal;
    case 9:
        if (!bComplete || (nSize == 2 && (pNal[1] & 0x1F) == 0x10))
            nal.eRole = ERole::Start;
        return nal;
    case 10:
    case 11:
        if (nSize == 1) {
            nal.eRole = ERole::Suffix;
            nal.bEndOfSequence = (pNal[0] & 0x1F) == 10;
        }
        return nal;
    default: // 12
        if (!bComplete || (IsClean(pNal, nSize, nAt) && IsFillerData(pNal + 1, nSize - 1)))
            nal.eRole = ERole::Suffix;
        return nal;
    }
}

bool CVideoSampleParser::AvcStartsPicture(const CAvcSlice& slice) const {
    return slice.nFirstMb == 0 && slice.nRedundantPicCnt == 0;
}

bool CVideoSampleParser::AvcContinuesPicture(const CAvcSlice& s, const CAvcSlice& f,
                                             const CAvcSlice& last) const {
    if (s.nPpsId != f.nPpsId || s.nFrameNum != f.nFrameNum || s.bField != f.bField ||
        s.bBottomField != f.bBottomField || s.IsIdr() != f.IsIdr() || s.nIdrPicId != f.nIdrPicId ||
        s.nPocLsb != f.nPocLsb || (s.nRefIdc == 0) != (f.nRefIdc == 0))
        return false;
    // Slices of the primary picture come in order; redundant ones start over.
    return s.nRedundantPicCnt > 0 || last.nRedundantPicCnt > 0 || s.nFirstMb > last.nFirstMb;
}

bool CVideoSampleParser::TakeAvcParameterSet(const uint8_t* pNal, size_t nSize) {
    const int nType = pNal[0] & 0x1F;
    if (nType == 7) {
        CAvcSps sps;
        if (!ParseAvcSps(pNal, nSize, &sps))
            return false;
        SaveSets();
        m_avc.Set(sps);
        NoteFormat(CVideoFormat{sps.nWidth, sps.nHeight, sps.nChromaFormat, sps.nBitDepthLuma});
    } else if (nType == 8) {
        CAvcPps pps;
        if (!ParseAvcPps(pNal, nSize, &pps))
            return false;
        SaveSets();
        m_avc.Set(pps);
    }
    return true;
}
