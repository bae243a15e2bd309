#include "codec/VideoSample.h"

#include "codec/AvcSample.h"
#include "codec/HevcSample.h"

ENalHeader ClassifyNalHeader(ECodec codec, const uint8_t* pNal, size_t nSize) {
    return codec == ECodec::H264 ? AvcNalHeader(pNal, nSize) : HevcNalHeader(pNal, nSize);
}

int CountNalUnits(ECodec codec, int nLengthSize, const uint8_t* pData, size_t nSize, int nMax,
                  bool* pSlice) {
    const size_t nPrefix = static_cast<size_t>(nLengthSize);
    int nCount = 0;
    size_t nAt = 0;
    *pSlice = false;
    while (nCount < nMax && nSize - nAt > nPrefix + 1) {
        uint64_t nLength = 0;
        for (size_t i = 0; i < nPrefix; ++i)
            nLength = (nLength << 8) | pData[nAt + i];
        if (nLength < 2 || nLength > nSize - nAt - nPrefix)
            break;
        const uint8_t* pNal = pData + nAt + nPrefix;
        const ENalHeader eHeader = ClassifyNalHeader(codec, pNal, static_cast<size_t>(nLength));
        if (eHeader == ENalHeader::Invalid || !IsCleanNalUnit(pNal, static_cast<size_t>(nLength)))
            break;
        *pSlice = *pSlice || eHeader == ENalHeader::Slice;
        ++nCount;
        nAt += nPrefix + static_cast<size_t>(nLength);
    }
    return nCount;
}

CVideoSampleParser::CVideoSampleParser(ECodec codec, int nLengthSize, size_t nMaxNalSize)
    : m_codec(codec), m_nLengthSize(nLengthSize), m_nMaxNalSize(nMaxNalSize) {}

bool CVideoSampleParser::MayStartSample(const uint8_t* pData, size_t nAvail) const {
    const size_t nPrefix = static_cast<size_t>(m_nLengthSize);
    if (nAvail < nPrefix + 2)
        return false;
    uint64_t nLength = 0;
    for (size_t i = 0; i < nPrefix; ++i)
        nLength = (nLength << 8) | pData[i];
    return nLength >= 2 && nLength <= m_nMaxNalSize &&
           ClassifyNalHeader(m_codec, pData + nPrefix, nAvail - nPrefix) != ENalHeader::Invalid;
}

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

// Before a sample changes the parameter sets: what Reject puts back.
void CVideoSampleParser::SaveSets() {
    if (m_bPending || m_bLoadingEntry)
        return;
    if (m_codec == ECodec::H264)
        m_avcSaved = m_avc;
    else
        m_hevcSaved = m_hevc;
    m_bPending = true;
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
        if (m_codec == ECodec::H264)
            m_avc = m_avcSaved;
        else
            m_hevc = m_hevcSaved;
    }
    m_bPending = false;
    m_bPendingFormat = false;
}

bool CVideoSampleParser::AddParameterSet(const uint8_t* pNal, size_t nSize) {
    if (ClassifyNalHeader(m_codec, pNal, nSize) != ENalHeader::Other)
        return false;
    // A configuration record holds parameter sets and SEI only.
    const int nType = m_codec == ECodec::H264 ? pNal[0] & 0x1F : HevcNalType(pNal);
    const bool bSei = m_codec == ECodec::H264 ? nType == 6 : nType == 39 || nType == 40;
    const bool bSet =
        m_codec == ECodec::H264 ? nType == 7 || nType == 8 : nType >= 32 && nType <= 34;
    if (bSei)
        return true;
    if (!bSet)
        return false;
    m_bLoadingEntry = true;
    const bool bOk = TakeParameterSet(pNal, nSize);
    m_bLoadingEntry = false;
    return bOk;
}

bool CVideoSampleParser::TakeParameterSet(const uint8_t* pNal, size_t nSize) {
    return m_codec == ECodec::H264 ? TakeAvcParameterSet(pNal, nSize)
                                   : TakeHevcParameterSet(pNal, nSize);
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

bool CVideoSampleParser::TakeHevcParameterSet(const uint8_t* pNal, size_t nSize) {
    const int nType = HevcNalType(pNal);
    if (nType == 32)
        return CheckHevcVps(pNal, nSize);
    if (nType == 33) {
        CHevcSps sps;
        if (!ParseHevcSps(pNal, nSize, &sps))
            return false;
        SaveSets();
        m_hevc.Set(sps);
        NoteFormat(CVideoFormat{sps.nWidth, sps.nHeight, sps.nChromaFormat, sps.nBitDepthLuma});
    } else if (nType == 34) {
        CHevcPps pps;
        if (!ParseHevcPps(pNal, nSize, &pps))
            return false;
        SaveSets();
        m_hevc.Set(pps);
    }
    return true;
}

CSampleNal CVideoSampleParser::Examine(const uint8_t* pNal, size_t nSize, bool bComplete,
                                       uint64_t nAt) {
    CSampleNal nal = m_codec == ECodec::H264
                         ? ExamineAvc(pNal, nSize, bComplete, nAt, m_avc, &m_scan)
                         : ExamineHevc(pNal, nSize, bComplete, nAt, m_hevc, &m_scan);
    // The scan of every byte comes last, when the cheap checks have passed.
    if (nal.eRole != ENalRole::Invalid && bComplete && !nal.bScanned &&
        !m_scan.IsClean(pNal, nSize, nAt)) {
        nal.bDamaged = nal.eRole == ENalRole::Vcl;
        nal.eRole = ENalRole::Invalid;
    }
    return nal;
}

bool CVideoSampleParser::StartsNewPicture(const CSampleNal& nal) const {
    if (nal.eRole == ENalRole::Start)
        return true;
    if (nal.eRole != ENalRole::Vcl)
        return false;
    return m_codec == ECodec::H264 ? AvcStartsPicture(nal.avc) : nal.hevc.bFirstInPicture;
}

bool CVideoSampleParser::ContinuesPicture(const CSampleNal& nal, const CSampleNal& first,
                                          const CSampleNal& last) const {
    return m_codec == ECodec::H264 ? AvcContinuesPicture(nal.avc, first.avc, last.avc)
                                   : HevcContinuesPicture(nal.hevc, first.hevc, last.hevc);
}

bool CVideoSampleParser::IsSync(const CSampleNal& first) const {
    return m_codec == ECodec::H264 ? first.avc.IsIdr()
                                   : first.hevc.nNalType >= 16 && first.hevc.nNalType <= 21;
}

ESampleParse CVideoSampleParser::Parse(const uint8_t* pData, size_t nAvail, bool bAtEnd,
                                       CVideoSample* pSample, size_t* pNeed, uint64_t nOffset) {
    Reject();
    CVideoSample sample;
    CSampleNal first, last;
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
            sample.bSync = IsSync(first);
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
                ENalRole::Invalid)
                return finish(bVcl ? ESampleParse::Ok : ESampleParse::Invalid);
            *pNeed = nNalStart + nNalSize;
            return finish(ESampleParse::NeedMore);
        }
        const CSampleNal nal = Examine(pData + nNalStart, bComplete ? nNalSize : nAvail - nNalStart,
                                       bComplete, nNalAt);
        if (!bComplete) {
            // The data ends inside this NAL unit: the sample before it is whole only if this
            // one would have begun the next.
            if (bVcl && (nal.eRole == ENalRole::Invalid || StartsNewPicture(nal)))
                return finish(ESampleParse::Ok);
            return finish(ESampleParse::Truncated);
        }
        if (nal.eRole == ENalRole::Invalid) {
            // A slice of this very picture whose bytes were overwritten (zeros, garbage): the
            // picture is damaged, not complete.
            CSampleNal slice = nal;
            slice.eRole = ENalRole::Vcl;
            if (bVcl && nal.bDamaged && !StartsNewPicture(slice) &&
                ContinuesPicture(slice, first, last))
                return finish(ESampleParse::Invalid);
            return finish(bVcl ? ESampleParse::Ok : ESampleParse::Invalid);
        }
        if (bVcl) {
            // HEVC lets parameter sets and prefix SEI stand between the slices of a picture.
            bool bSameFollows = false;
            if (nal.eRole == ENalRole::Start && m_codec == ECodec::Hevc) {
                bSameFollows = nPos < nSameSliceAt;
                if (!bSameFollows) {
                    const size_t nSlice =
                        HevcSliceOfSamePictureAt(pData + nPos, nAvail - nPos, nLengthSize);
                    bSameFollows = nSlice != 0;
                    nSameSliceAt = nPos + nSlice;
                }
            }
            if (StartsNewPicture(nal) && !bSameFollows)
                return finish(ESampleParse::Ok);
            if (nal.eRole == ENalRole::Vcl && !ContinuesPicture(nal, first, last))
                return finish(ESampleParse::Ok);
        } else if (nal.eRole == ENalRole::Suffix ||
                   (nal.eRole == ENalRole::Vcl && !StartsNewPicture(nal))) {
            return finish(ESampleParse::Invalid);
        }
        // The NAL unit belongs to this sample.
        if (!TakeParameterSet(pData + nNalStart, nNalSize))
            return finish(bVcl ? ESampleParse::Ok : ESampleParse::Invalid);
        if (nal.eRole == ENalRole::Vcl) {
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
