#include "rebuild/VideoSample.h"

#include "rebuild/NalUnit.h"

#include <algorithm>

namespace {

CVideoFormat FormatOf(const CAvcSps& sps) {
    return CVideoFormat{sps.nWidth, sps.nHeight, sps.nChromaFormat, sps.nBitDepthLuma};
}

CVideoFormat FormatOf(const CHevcSps& sps) {
    return CVideoFormat{sps.nWidth, sps.nHeight, sps.nChromaFormat, sps.nBitDepthLuma};
}

} // namespace

CVideoSampleParser::CVideoSampleParser(EVideoCodec codec, int nLengthSize, size_t nMaxNalSize)
    : m_codec(codec), m_nLengthSize(nLengthSize), m_nMaxNalSize(nMaxNalSize) {}

void CVideoSampleParser::NoteFormat(const CVideoFormat& format) {
    if (m_bLoadingEntry) {
        if (!m_bEntryFormat)
            m_entryFormat = format;
        m_bEntryFormat = true;
    } else if (!m_bPendingFormat && !m_bInBandFormat) {
        m_pendingFormat = format;
        m_bPendingFormat = true;
    }
}

void CVideoSampleParser::KeepAvc(const CAvcSps& sps) {
    if (!m_bPending && !m_bLoadingEntry) {
        m_avcSaved = m_avc;
        m_bPending = true;
    }
    m_avc.Set(sps);
    NoteFormat(FormatOf(sps));
}

void CVideoSampleParser::KeepAvc(const CAvcPps& pps) {
    if (!m_bPending && !m_bLoadingEntry) {
        m_avcSaved = m_avc;
        m_bPending = true;
    }
    m_avc.Set(pps);
}

void CVideoSampleParser::KeepHevc(const CHevcSps& sps) {
    if (!m_bPending && !m_bLoadingEntry) {
        m_hevcSaved = m_hevc;
        m_bPending = true;
    }
    m_hevc.Set(sps);
    NoteFormat(FormatOf(sps));
}

void CVideoSampleParser::KeepHevc(const CHevcPps& pps) {
    if (!m_bPending && !m_bLoadingEntry) {
        m_hevcSaved = m_hevc;
        m_bPending = true;
    }
    m_hevc.Set(pps);
}

void CVideoSampleParser::Accept() {
    m_bPending = false;
    m_nLastSlices = m_nPendingSlices;
    if (m_bPendingFormat && !m_bInBandFormat) {
        m_inBandFormat = m_pendingFormat;
        m_bInBandFormat = true;
    }
    m_bPendingFormat = false;
}

void CVideoSampleParser::Reject() {
    if (m_bPending) {
        if (m_codec == EVideoCodec::Avc)
            m_avc = m_avcSaved;
        else
            m_hevc = m_hevcSaved;
    }
    m_bPending = false;
    m_bPendingFormat = false;
}

bool CVideoSampleParser::AddParameterSet(const uint8_t* pNal, size_t nSize) {
    if (nSize == 0)
        return false;
    m_bLoadingEntry = true;
    bool bOk = false;
    if (m_codec == EVideoCodec::Avc) {
        const int nType = pNal[0] & 0x1F;
        CAvcSps sps;
        CAvcPps pps;
        if (nType == 7 && (bOk = ParseAvcSps(pNal, nSize, &sps)))
            KeepAvc(sps);
        else if (nType == 8 && (bOk = ParseAvcPps(pNal, nSize, &pps)))
            KeepAvc(pps);
        else if (nType == 6)
            bOk = true;
    } else if (nSize >= 2) {
        const int nType = HevcNalType(pNal);
        CHevcSps sps;
        CHevcPps pps;
        if (nType == 32)
            bOk = CheckHevcVps(pNal, nSize);
        else if (nType == 33 && (bOk = ParseHevcSps(pNal, nSize, &sps)))
            KeepHevc(sps);
        else if (nType == 34 && (bOk = ParseHevcPps(pNal, nSize, &pps)))
            KeepHevc(pps);
        else if (nType == 39 || nType == 40)
            bOk = true;
    }
    m_bLoadingEntry = false;
    return bOk;
}

CVideoSampleParser::CNal CVideoSampleParser::ExamineAvc(const uint8_t* pNal, size_t nSize,
                                                        bool bComplete, uint64_t nAt) {
    CNal nal;
    if (nSize < 1 || (pNal[0] & 0x80) != 0)
        return nal;
    const int nType = pNal[0] & 0x1F;
    const int nRefIdc = (pNal[0] >> 5) & 3;
    switch (nType) {
    case 1:
    case 5:
        if (nType == 5 && nRefIdc == 0)
            return nal;
        if (ParseAvcSliceHeader(pNal, nSize, m_avc, &nal.avc))
            nal.eRole = ERole::Vcl;
        else if (!bComplete)
            nal.eRole = ERole::Suffix; // cut inside its header: cannot start a picture
        return nal;
    case 6:
        if (nRefIdc == 0 &&
            (!bComplete || (IsClean(pNal, nSize, nAt) && IsWellFormedSei(pNal + 1, nSize - 1))))
            nal.eRole = ERole::Start;
        return nal;
    case 7:
    case 8:
        if (nRefIdc != 0)
            nal.eRole = ERole::Start;
        return nal;
    case 9:
        if (nRefIdc == 0 && (!bComplete || (nSize == 2 && (pNal[1] & 0x1F) == 0x10)))
            nal.eRole = ERole::Start;
        return nal;
    case 10:
    case 11:
        if (nRefIdc == 0 && nSize == 1) {
            nal.eRole = ERole::Suffix;
            nal.bEndOfSequence = nType == 10;
        }
        return nal;
    case 12:
        if (nRefIdc == 0 &&
            (!bComplete || (IsClean(pNal, nSize, nAt) && IsFillerData(pNal + 1, nSize - 1))))
            nal.eRole = ERole::Suffix;
        return nal;
    default:
        // Extensions (SVC, MVC, auxiliary pictures) are not in the recordings this rebuilds,
        // and refusing them keeps other bytes from passing for them.
        return nal;
    }
}

CVideoSampleParser::CNal CVideoSampleParser::ExamineHevc(const uint8_t* pNal, size_t nSize,
                                                         bool bComplete, uint64_t nAt) {
    CNal nal;
    if (nSize < 2 || (pNal[0] & 0x80) != 0)
        return nal;
    const int nType = HevcNalType(pNal);
    const int nLayer = ((pNal[0] & 1) << 5) | (pNal[1] >> 3);
    const int nTidPlus1 = pNal[1] & 7;
    if (nLayer != 0 || nTidPlus1 == 0)
        return nal;
    const int nTid = nTidPlus1 - 1;
    if (nType <= 9 || (nType >= 16 && nType <= 21)) {
        if (HevcIsIrap(nType) && nTid != 0)
            return nal;
        if (nType >= 2 && nType <= 5 && nTid == 0)
            return nal;
        if (ParseHevcSliceHeader(pNal, nSize, m_hevc, &nal.hevc))
            nal.eRole = ERole::Vcl;
        else if (!bComplete)
            nal.eRole = ERole::Suffix;
        return nal;
    }
    switch (nType) {
    case 32:
    case 33:
        if (nTid == 0)
            nal.eRole = ERole::Start;
        return nal;
    case 34:
        nal.eRole = ERole::Start;
        return nal;
    case 35:
        if (!bComplete || (nSize == 3 && (pNal[2] & 0x1F) == 0x10 && (pNal[2] >> 5) <= 2))
            nal.eRole = ERole::Start;
        return nal;
    case 36:
    case 37:
        if (nTid == 0 && nSize == 2) {
            nal.eRole = ERole::Suffix;
            nal.bEndOfSequence = true;
        }
        return nal;
    case 38:
        if (!bComplete || (IsClean(pNal, nSize, nAt) && IsFillerData(pNal + 2, nSize - 2)))
            nal.eRole = ERole::Suffix;
        return nal;
    case 39:
    case 40:
        if (!bComplete || (IsClean(pNal, nSize, nAt) && IsWellFormedSei(pNal + 2, nSize - 2)))
            nal.eRole = nType == 39 ? ERole::Start : ERole::Suffix;
        return nal;
    default:
        return nal;
    }
}

bool CVideoSampleParser::IsClean(const uint8_t* pNal, size_t nSize, uint64_t nAt) {
    if (nSize == 0 || pNal[nSize - 1] == 0)
        return false;
    if (nAt == kNoOffset)
        return FindForbiddenPattern(pNal, nSize) == nSize;
    const uint64_t nEnd = nAt + nSize;
    if (m_nForbiddenBegin >= nAt && m_nForbiddenEnd <= nEnd && m_nForbiddenEnd > m_nForbiddenBegin)
        return false;
    if (nAt >= m_nCleanBegin && nEnd <= m_nCleanEnd)
        return true;
    // A stretch that begins inside the clean one is scanned from where that one's last whole
    // pattern could begin: a pattern is at most four bytes.
    const uint64_t nJoin = m_nCleanEnd - std::min<uint64_t>(3, m_nCleanEnd - m_nCleanBegin);
    uint64_t nFrom = nAt;
    uint64_t nBegin = nAt;
    if (nAt >= m_nCleanBegin && nAt <= nJoin) {
        nFrom = nJoin;
        nBegin = m_nCleanBegin;
    }
    const size_t nSkip = static_cast<size_t>(nFrom - nAt);
    const size_t nFound = nSkip + FindForbiddenPattern(pNal + nSkip, nSize - nSkip);
    // Of two stretches that do not join, the longer is kept.
    if (nBegin == m_nCleanBegin || nAt + nFound - nBegin >= m_nCleanEnd - m_nCleanBegin) {
        m_nCleanBegin = nBegin;
        m_nCleanEnd = nAt + nFound;
    }
    if (nFound == nSize)
        return true;
    m_nForbiddenBegin = nAt + nFound;
    m_nForbiddenEnd = m_nForbiddenBegin + (pNal[nFound + 2] == 3 ? 4 : 3);
    return false;
}

CVideoSampleParser::CNal CVideoSampleParser::Examine(const uint8_t* pNal, size_t nSize,
                                                     bool bComplete, uint64_t nAt) {
    CNal nal = m_codec == EVideoCodec::Avc ? ExamineAvc(pNal, nSize, bComplete, nAt)
                                           : ExamineHevc(pNal, nSize, bComplete, nAt);
    // The scan of every byte comes last, when the cheap checks have passed.
    if (nal.eRole != ERole::Invalid && bComplete && !IsClean(pNal, nSize, nAt)) {
        nal.bDamaged = nal.eRole == ERole::Vcl;
        nal.eRole = ERole::Invalid;
    }
    return nal;
}

bool CVideoSampleParser::StartsNewPicture(const CNal& nal) const {
    if (nal.eRole == ERole::Start)
        return true;
    if (nal.eRole != ERole::Vcl)
        return false;
    if (m_codec == EVideoCodec::Avc)
        return nal.avc.nFirstMb == 0 && nal.avc.nRedundantPicCnt == 0;
    return nal.hevc.bFirstInPicture;
}

bool CVideoSampleParser::ContinuesPicture(const CNal& nal, const CNal& first,
                                          const CNal& last) const {
    if (m_codec == EVideoCodec::Avc) {
        const CAvcSlice& s = nal.avc;
        const CAvcSlice& f = first.avc;
        if (s.nPpsId != f.nPpsId || s.nFrameNum != f.nFrameNum || s.bField != f.bField ||
            s.bBottomField != f.bBottomField || s.IsIdr() != f.IsIdr() ||
            s.nIdrPicId != f.nIdrPicId || s.nPocLsb != f.nPocLsb ||
            (s.nRefIdc == 0) != (f.nRefIdc == 0))
            return false;
        // Slices of the primary picture come in order; redundant ones start over.
        return s.nRedundantPicCnt > 0 || last.avc.nRedundantPicCnt > 0 ||
               s.nFirstMb > last.avc.nFirstMb;
    }
    const CHevcSlice& s = nal.hevc;
    return s.nPpsId == first.hevc.nPpsId && s.nNalType == first.hevc.nNalType &&
           s.nTemporalId == first.hevc.nTemporalId && s.nAddress > last.hevc.nAddress;
}

// HEVC lets parameter sets and prefix SEI stand between the slices of one picture: they start
// the next access unit only after the picture's last slice. Where that slice is, or 0.
size_t CVideoSampleParser::SliceOfSamePictureAt(const uint8_t* pData, size_t nAvail) const {
    const size_t nLengthSize = static_cast<size_t>(m_nLengthSize);
    for (size_t nAt = 0; nAvail - nAt >= nLengthSize;) {
        uint64_t nLength = 0;
        for (size_t i = 0; i < nLengthSize; ++i)
            nLength = (nLength << 8) | pData[nAt + i];
        const size_t nNal = nAt + nLengthSize;
        if (nLength < 3 || nLength > nAvail - nNal || (pData[nNal] & 0x80))
            return 0;
        const int nType = HevcNalType(pData + nNal);
        if (nType <= 9 || (nType >= 16 && nType <= 21))
            return (pData[nNal + 2] & 0x80) == 0 ? nAt : 0; // first_slice_segment_in_pic_flag
        if (!(nType >= 32 && nType <= 35) && nType != 39)
            return 0;
        nAt = nNal + static_cast<size_t>(nLength);
    }
    return 0;
}

ESampleParse CVideoSampleParser::Parse(const uint8_t* pData, size_t nAvail, bool bAtEnd,
                                       CVideoSample* pSample, size_t* pNeed, uint64_t nOffset) {
    Reject();
    CVideoSample sample;
    CNal first, last;
    bool bVcl = false;
    int nSlices = 0;
    size_t nPos = 0;
    // Where a slice of this picture was found past parameter sets: those before it are the
    // picture's, without looking again.
    size_t nSameSliceAt = 0;
    const size_t nLengthSize = static_cast<size_t>(m_nLengthSize);
    auto finish = [&](ESampleParse eResult) {
        if (eResult == ESampleParse::Ok) {
            sample.nSize = nPos;
            sample.avc = first.avc;
            sample.hevc = first.hevc;
            sample.bSync = m_codec == EVideoCodec::Avc
                               ? first.avc.IsIdr()
                               : first.hevc.nNalType >= 16 && first.hevc.nNalType <= 21;
            *pSample = sample;
            m_nPendingSlices = nSlices;
        } else {
            Reject();
        }
        return eResult;
    };
    for (;;) {
        if (nAvail - nPos < nLengthSize) {
            if (!bAtEnd) {
                *pNeed = nPos + nLengthSize;
                return finish(ESampleParse::NeedMore);
            }
            // Cut right after a slice: whole only if it has all the slices a picture had.
            return finish(bVcl && nSlices >= m_nLastSlices ? ESampleParse::Ok
                                                           : ESampleParse::Truncated);
        }
        uint64_t nLength = 0;
        for (size_t i = 0; i < nLengthSize; ++i)
            nLength = (nLength << 8) | pData[nPos + i];
        // Zeros right after a slice may have overwritten the picture's other slices.
        if (nLength == 0 && bVcl && nSlices < m_nLastSlices)
            return finish(ESampleParse::Invalid);
        if (nLength == 0 || nLength > m_nMaxNalSize)
            return finish(bVcl ? ESampleParse::Ok : ESampleParse::Invalid);
        const size_t nNalStart = nPos + nLengthSize;
        const size_t nNalSize = static_cast<size_t>(nLength);
        const uint64_t nNalAt = nOffset == kNoOffset ? kNoOffset : nOffset + nNalStart;
        const bool bComplete = nNalSize <= nAvail - nNalStart;
        if (!bComplete && !bAtEnd) {
            // Bytes that cannot start a NAL unit are refused before more are read for them.
            const size_t nPeek = nNalSize < 256 ? nNalSize : 256;
            if (nAvail - nNalStart < nPeek) {
                *pNeed = nNalStart + nPeek;
                return finish(ESampleParse::NeedMore);
            }
            if (Examine(pData + nNalStart, nAvail - nNalStart, false, nNalAt).eRole ==
                ERole::Invalid)
                return finish(bVcl ? ESampleParse::Ok : ESampleParse::Invalid);
            *pNeed = nNalStart + nNalSize;
            return finish(ESampleParse::NeedMore);
        }
        const CNal nal = Examine(pData + nNalStart, bComplete ? nNalSize : nAvail - nNalStart,
                                 bComplete, nNalAt);
        if (!bComplete) {
            // The data ends inside this NAL unit: the sample before it is whole only if this
            // one would have begun the next.
            if (bVcl && (nal.eRole == ERole::Invalid || StartsNewPicture(nal)))
                return finish(ESampleParse::Ok);
            return finish(ESampleParse::Truncated);
        }
        if (nal.eRole == ERole::Invalid) {
            // A slice of this very picture whose bytes were overwritten (zeros, garbage): the
            // picture is damaged, not complete.
            CNal slice = nal;
            slice.eRole = ERole::Vcl;
            if (bVcl && nal.bDamaged && !StartsNewPicture(slice) &&
                ContinuesPicture(slice, first, last))
                return finish(ESampleParse::Invalid);
            return finish(bVcl ? ESampleParse::Ok : ESampleParse::Invalid);
        }
        if (bVcl) {
            bool bSameFollows = false;
            if (nal.eRole == ERole::Start && m_codec == EVideoCodec::Hevc) {
                bSameFollows = nPos < nSameSliceAt;
                if (!bSameFollows) {
                    const size_t nSlice = SliceOfSamePictureAt(pData + nPos, nAvail - nPos);
                    bSameFollows = nSlice != 0;
                    nSameSliceAt = nPos + nSlice;
                }
            }
            if (StartsNewPicture(nal) && !bSameFollows)
                return finish(ESampleParse::Ok);
            if (nal.eRole == ERole::Vcl && !ContinuesPicture(nal, first, last))
                return finish(ESampleParse::Ok);
        } else if (nal.eRole == ERole::Suffix ||
                   (nal.eRole == ERole::Vcl && !StartsNewPicture(nal))) {
            return finish(ESampleParse::Invalid);
        }
        // The NAL unit belongs to this sample.
        const uint8_t* pNal = pData + nNalStart;
        if (m_codec == EVideoCodec::Avc) {
            const int nType = pNal[0] & 0x1F;
            CAvcSps sps;
            CAvcPps pps;
            if (nType == 7) {
                if (!ParseAvcSps(pNal, nNalSize, &sps))
                    return finish(bVcl ? ESampleParse::Ok : ESampleParse::Invalid);
                KeepAvc(sps);
            } else if (nType == 8) {
                if (!ParseAvcPps(pNal, nNalSize, &pps))
                    return finish(bVcl ? ESampleParse::Ok : ESampleParse::Invalid);
                KeepAvc(pps);
            }
        } else {
            const int nType = HevcNalType(pNal);
            CHevcSps sps;
            CHevcPps pps;
            bool bValid = true;
            if (nType == 32) {
                bValid = CheckHevcVps(pNal, nNalSize);
            } else if (nType == 33) {
                bValid = ParseHevcSps(pNal, nNalSize, &sps);
                if (bValid)
                    KeepHevc(sps);
            } else if (nType == 34) {
                bValid = ParseHevcPps(pNal, nNalSize, &pps);
                if (bValid)
                    KeepHevc(pps);
            }
            if (!bValid)
                return finish(bVcl ? ESampleParse::Ok : ESampleParse::Invalid);
        }
        if (nal.eRole == ERole::Vcl) {
            if (!bVcl)
                first = nal;
            last = nal;
            bVcl = true;
            ++nSlices;
        }
        if (nal.bEndOfSequence)
            sample.bEndOfSequence = true;
        nPos = nNalStart + nNalSize;
    }
}
