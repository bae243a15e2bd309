#include "codec/AvcSample.h"

namespace {

// An SVC prefix unit that holds the rest of its access unit after start codes.
CSampleNal ExamineAvcWrapped(const uint8_t* pNal, size_t nSize, bool bComplete, uint64_t nAt,
                             const CAvcParameterSets& sets, CCleanScan* pScan);

} // namespace

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
    case 14:
        // An SVC prefix unit: its extension's header, with its reserved bits set.
        return nSize >= 4 && (pNal[1] & 0x80) != 0 && (pNal[3] & 3) == 3 ? ENalHeader::Other
                                                                         : ENalHeader::Invalid;
    default:
        // Extensions (SVC, MVC, auxiliary pictures) are not in the recordings this rebuilds,
        // and refusing them keeps other bytes from passing for them.
        return ENalHeader::Invalid;
    }
}

CSampleNal ExamineAvc(const uint8_t* pNal, size_t nSize, bool bComplete, uint64_t nAt,
                      const CAvcParameterSets& sets, CCleanScan* pScan) {
    CSampleNal nal;
    if (AvcNalHeader(pNal, nSize) == ENalHeader::Invalid)
        return nal;
    switch (pNal[0] & 0x1F) {
    case 14:
        return ExamineAvcWrapped(pNal, nSize, bComplete, nAt, sets, pScan);
    case 1:
    case 5:
        if (ParseAvcSliceHeader(pNal, nSize, sets, &nal.avc))
            nal.eRole = ENalRole::Vcl;
        else if (!bComplete)
            nal.eRole = ENalRole::Suffix; // cut inside its header: cannot start a picture
        return nal;
    case 6:
        if (!bComplete || (pScan->IsClean(pNal, nSize, nAt) &&
                           IsWellFormedSei(pNal + 1, NalUnitEnd(pNal, nSize) - 1)))
            nal.eRole = ENalRole::Start;
        return nal;
    case 7:
    case 8:
        nal.eRole = ENalRole::Start;
        return nal;
    case 9:
        if (!bComplete || (nSize == 2 && (pNal[1] & 0x1F) == 0x10))
            nal.eRole = ENalRole::Start;
        return nal;
    case 10:
    case 11:
        if (nSize == 1) {
            nal.eRole = ENalRole::Suffix;
            nal.bEndOfSequence = (pNal[0] & 0x1F) == 10;
        }
        return nal;
    default: // 12
        if (!bComplete || (pScan->IsClean(pNal, nSize, nAt) &&
                           IsFillerData(pNal + 1, NalUnitEnd(pNal, nSize) - 1)))
            nal.eRole = ENalRole::Suffix;
        return nal;
    }
}

namespace {

// Samsung's slow-motion encoder writes each picture as an SVC prefix unit whose length takes
// in the rest of its Annex B access unit: a start code, an SEI or not, a start code, the
// picture's one slice. Each unit is checked as if it stood alone; the slice stands for all.
CSampleNal ExamineAvcWrapped(const uint8_t* pNal, size_t nSize, bool bComplete, uint64_t nAt,
                             const CAvcParameterSets& sets, CCleanScan* pScan) {
    const int kMaxUnits = 6;
    CSampleNal nal; // what the units up to the slice say: a picture begins
    nal.eRole = ENalRole::Start;
    nal.bScanned = true;
    bool bSei = false;
    size_t nFrom = 0;
    for (int nUnit = 0; nUnit < kMaxUnits; ++nUnit) {
        // The unit ends at the next start code; zeros up to the end are its padding.
        const size_t nEnd = nFrom + FindForbiddenPattern(pNal + nFrom, nSize - nFrom);
        size_t nNext = nEnd;
        while (nNext < nSize && pNal[nNext] == 0)
            ++nNext;
        const bool bStartCode = nNext < nSize;
        if (bStartCode && pNal[nNext] != 1)
            return CSampleNal();
        const bool bWhole = bStartCode || bComplete;
        const uint8_t* pUnit = pNal + nFrom;
        const size_t nUnitSize = bStartCode ? nEnd - nFrom : nSize - nFrom;
        const uint64_t nUnitAt = nAt == CCleanScan::kNoOffset ? CCleanScan::kNoOffset : nAt + nFrom;
        if (nUnitSize == 0)
            return CSampleNal();
        if (nUnit == 0) {
            // The prefix unit itself, whose header AvcNalHeader checked.
            if (bWhole && !pScan->IsClean(pUnit, nUnitSize, nUnitAt))
                return CSampleNal();
        } else {
            const int nType = pUnit[0] & 0x1F;
            const bool bSlice = nType == 1 || nType == 5;
            if ((!bSlice && nType != 6) || AvcNalHeader(pUnit, nUnitSize) == ENalHeader::Invalid)
                return CSampleNal();
            CSampleNal inner = ExamineAvc(pUnit, nUnitSize, bWhole, nUnitAt, sets, pScan);
            if (inner.eRole == ENalRole::Invalid)
                return CSampleNal();
            if (bSlice && inner.eRole != ENalRole::Vcl)
                return nal; // cut inside the slice's header
            if (bSlice) {
                // The last unit: an SEI before a slice begins a picture with it.
                if (bStartCode || (bSei && !AvcStartsPicture(inner.avc)))
                    return CSampleNal();
                if (bWhole && !pScan->IsClean(pUnit, nUnitSize, nUnitAt)) {
                    inner.bDamaged = true;
                    inner.eRole = ENalRole::Invalid;
                }
                inner.bScanned = true;
                return inner;
            }
            bSei = true;
        }
        if (!bStartCode)
            // Whole without a slice; or cut before it, where a picture may begin.
            return bComplete ? CSampleNal() : nal;
        nFrom = nNext + 1;
    }
    return CSampleNal();
}

} // namespace

bool AvcStartsPicture(const CAvcSlice& slice) {
    return slice.nFirstMb == 0 && slice.nRedundantPicCnt == 0;
}

bool AvcContinuesPicture(const CAvcSlice& s, const CAvcSlice& f, const CAvcSlice& last) {
    if (s.nPpsId != f.nPpsId || s.nFrameNum != f.nFrameNum || s.bField != f.bField ||
        s.bBottomField != f.bBottomField || s.IsIdr() != f.IsIdr() || s.nIdrPicId != f.nIdrPicId ||
        s.nPocLsb != f.nPocLsb || (s.nRefIdc == 0) != (f.nRefIdc == 0))
        return false;
    // Slices of the primary picture come in order; redundant ones start over.
    return s.nRedundantPicCnt > 0 || last.nRedundantPicCnt > 0 || s.nFirstMb > last.nFirstMb;
}
