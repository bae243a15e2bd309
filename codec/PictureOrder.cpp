#include "codec/PictureOrder.h"

#include <algorithm>
#include <map>
#include <numeric>

namespace {

// Steps between order counts that show how far apart pictures are, where there are fewer.
const size_t kFewSteps = 8;

int64_t NextMsb(int64_t nLsb, int64_t nPrevLsb, int64_t nPrevMsb, int64_t nMaxLsb) {
    if (nLsb < nPrevLsb && nPrevLsb - nLsb >= nMaxLsb / 2)
        return nPrevMsb + nMaxLsb;
    if (nLsb > nPrevLsb && nLsb - nPrevLsb > nMaxLsb / 2)
        return nPrevMsb - nMaxLsb;
    return nPrevMsb;
}

int32_t Clamp32(int64_t nValue) {
    return static_cast<int32_t>(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, nValue)));
}

} // namespace

void CPictureOrder::Add(const CVideoSample& sample, const CVideoSampleParser& parser) {
    if (m_codec == ECodec::H264) {
        const CAvcPps* pPps = parser.AvcSets().Pps(sample.avc.nPpsId);
        const CAvcSps* pSps = pPps ? parser.AvcSets().Sps(pPps->nSpsId) : nullptr;
        if (pSps)
            AddAvc(sample.avc, *pSps);
        else
            AddUnknown();
    } else {
        const CHevcPps* pPps = parser.HevcSets().Pps(sample.hevc.nPpsId);
        const CHevcSps* pSps = pPps ? parser.HevcSets().Sps(pPps->nSpsId) : nullptr;
        if (pSps)
            AddHevc(sample.hevc, *pSps, sample.bEndOfSequence);
        else
            AddUnknown();
    }
    m_bStarted = true;
}

// Without its parameter sets a picture is taken to be shown in decoding order.
void CPictureOrder::AddUnknown() {
    if (!m_bStarted)
        m_periodStarts.push_back(0);
    m_poc.push_back(m_poc.empty() ? 0 : m_poc.back() + 1);
}

void CPictureOrder::AddAvc(const CAvcSlice& slice, const CAvcSps& sps) {
    const bool bIdr = slice.IsIdr() || !m_bStarted;
    const bool bRef = slice.nRefIdc != 0;
    if (bIdr)
        m_periodStarts.push_back(m_poc.size());
    // Frame numbers wrap after their count; counts of type 0 go up by two a frame.
    m_nWrap = sps.nPocType == 0 ? uint64_t(1) << std::max(1, sps.nLog2MaxPocLsb - 1)
                                : uint64_t(1) << sps.nLog2MaxFrameNum;
    int64_t nTop = 0, nBottom = 0;
    if (sps.nPocType == 0) {
        const int64_t nMaxLsb = int64_t(1) << sps.nLog2MaxPocLsb;
        const int64_t nPrevMsb = bIdr ? 0 : m_nPrevRefMsb;
        const int64_t nPrevLsb = bIdr ? 0 : m_nPrevRefLsb;
        const int64_t nMsb = NextMsb(slice.nPocLsb, nPrevLsb, nPrevMsb, nMaxLsb);
        nTop = nMsb + slice.nPocLsb;
        nBottom = slice.bField ? nTop : nTop + slice.nDeltaPocBottom;
        if (bRef) {
            m_nPrevRefMsb = nMsb;
            m_nPrevRefLsb = slice.nPocLsb;
        }
    } else {
        const int64_t nMaxFrameNum = int64_t(1) << sps.nLog2MaxFrameNum;
        int64_t nOffset = 0;
        if (!bIdr)
            nOffset =
                m_nPrevFrameNumOffset + (m_nPrevFrameNum > slice.nFrameNum ? nMaxFrameNum : 0);
        if (sps.nPocType == 1) {
            const int64_t nCycle = static_cast<int64_t>(sps.offsetsForRefFrame.size());
            int64_t nAbs = nCycle != 0 ? nOffset + slice.nFrameNum : 0;
            if (!bRef && nAbs > 0)
                --nAbs;
            int64_t nExpected = 0;
            if (nAbs > 0) {
                const int64_t nDeltaPerCycle = std::accumulate(
                    sps.offsetsForRefFrame.begin(), sps.offsetsForRefFrame.end(), int64_t(0));
                const int64_t nCycles = (nAbs - 1) / nCycle;
                const int64_t nInCycle = (nAbs - 1) % nCycle;
                nExpected = nCycles * nDeltaPerCycle;
                for (int64_t i = 0; i <= nInCycle; ++i)
                    nExpected += sps.offsetsForRefFrame[static_cast<size_t>(i)];
            }
            if (!bRef)
                nExpected += sps.nOffsetForNonRefPic;
            if (!slice.bField) {
                nTop = nExpected + slice.deltaPoc[0];
                nBottom = nTop + sps.nOffsetForTopToBottomField + slice.deltaPoc[1];
            } else if (!slice.bBottomField) {
                nTop = nBottom = nExpected + slice.deltaPoc[0];
            } else {
                nTop = nBottom = nExpected + sps.nOffsetForTopToBottomField + slice.deltaPoc[0];
            }
        } else {
            const int64_t nTemp = bIdr ? 0 : 2 * (nOffset + slice.nFrameNum) - (bRef ? 0 : 1);
            nTop = nBottom = nTemp;
        }
        m_nPrevFrameNumOffset = nOffset;
        m_nPrevFrameNum = slice.nFrameNum;
    }
    int64_t nPoc = slice.bField ? (slice.bBottomField ? nBottom : nTop) : std::min(nTop, nBottom);
    if (slice.bMmco5) {
        // The picture becomes the first of a new count, as after an IDR.
        const int64_t nTemp = nPoc;
        nTop -= nTemp;
        m_periodStarts.push_back(m_poc.size());
        nPoc = 0;
        m_nPrevRefMsb = 0;
        m_nPrevRefLsb = slice.bBottomField ? 0 : nTop;
        m_nPrevFrameNumOffset = 0;
        m_nPrevFrameNum = 0;
    }
    m_poc.push_back(Clamp32(nPoc));
}

void CPictureOrder::AddHevc(const CHevcSlice& slice, const CHevcSps& sps, bool bEndOfSequence) {
    const int nType = slice.nNalType;
    const bool bIrap = HevcIsIrap(nType);
    // IDR and BLA always start anew; a CRA does when it begins the stream or follows an end
    // of sequence.
    const bool bNoRaslOutput = bIrap && (nType <= 20 || !m_bStarted || m_bAfterEndOfSequence);
    const int64_t nMaxLsb = int64_t(1) << sps.nLog2MaxPocLsb;
    m_nWrap = uint64_t(nMaxLsb);
    int64_t nMsb = 0;
    if (bNoRaslOutput || !m_bStarted) {
        m_periodStarts.push_back(m_poc.size());
    } else {
        const int64_t nPrevLsb = m_nPrevTid0Poc & (nMaxLsb - 1);
        nMsb = NextMsb(slice.nPocLsb, nPrevLsb, m_nPrevTid0Poc - nPrevLsb, nMaxLsb);
    }
    const int64_t nPoc = nMsb + slice.nPocLsb;
    const bool bSubLayerNonRef = nType <= 14 && nType % 2 == 0;
    const bool bLeading = nType >= 6 && nType <= 9;
    if (slice.nTemporalId == 0 && !bLeading && !bSubLayerNonRef)
        m_nPrevTid0Poc = nPoc;
    m_bAfterEndOfSequence = bEndOfSequence;
    m_poc.push_back(Clamp32(nPoc));
}

std::vector<uint32_t> CPictureOrder::CompositionOffsets(uint32_t nMinShift,
                                                        uint32_t* pShift) const {
    const size_t nCount = m_poc.size();
    // Each period's pictures in display order.
    std::vector<std::vector<size_t>> periods;
    std::map<int64_t, size_t> steps;
    for (size_t p = 0; p < m_periodStarts.size(); ++p) {
        const size_t nBegin = m_periodStarts[p];
        const size_t nEnd = p + 1 < m_periodStarts.size() ? m_periodStarts[p + 1] : nCount;
        std::vector<size_t> order(nEnd - nBegin);
        std::iota(order.begin(), order.end(), nBegin);
        std::stable_sort(order.begin(), order.end(),
                         [this](size_t a, size_t b) { return m_poc[a] < m_poc[b]; });
        for (size_t i = 1; i < order.size(); ++i)
            ++steps[int64_t(m_poc[order[i]]) - m_poc[order[i - 1]]];
        periods.push_back(std::move(order));
    }
    // The count advances by a step a picture (2 for most H.264 encoders, 1 for HEVC); where it
    // jumps by more, pictures are missing (cut off after the last one decoded), and the ones
    // shown after the gap keep their place.
    int64_t nStep = 1;
    size_t nMost = 0;
    for (const auto& step : steps) {
        if (step.first > 0 && step.second > nMost) {
            nMost = step.second;
            nStep = step.first;
        }
    }
    // A few pictures tell little: 0, 4, 2 are three of five pictures, the others still to be
    // decoded. There the codec's usual step holds, where it divides every step seen.
    const int64_t nUsual = m_codec == ECodec::H264 ? 2 : 1;
    if (nMost < kFewSteps && nStep % nUsual == 0 &&
        std::all_of(steps.begin(), steps.end(),
                    [nUsual](const std::pair<const int64_t, size_t>& s) {
                        return s.first <= 0 || s.first % nUsual == 0;
                    }))
        nStep = nUsual;
    std::vector<size_t> display(nCount);
    size_t nNext = 0;
    for (const std::vector<size_t>& order : periods) {
        for (size_t i = 0; i < order.size(); ++i) {
            if (i > 0) {
                const int64_t nGap = int64_t(m_poc[order[i]]) - m_poc[order[i - 1]];
                nNext += static_cast<size_t>(std::max<int64_t>(1, (nGap + nStep / 2) / nStep)) - 1;
            }
            display[order[i]] = nNext++;
        }
    }
    size_t nShift = nMinShift;
    for (size_t i = 0; i < nCount; ++i) {
        if (display[i] < i)
            nShift = std::max(nShift, i - display[i]);
    }
    std::vector<uint32_t> offsets(nCount);
    for (size_t i = 0; i < nCount; ++i)
        offsets[i] = static_cast<uint32_t>(display[i] + nShift - i);
    *pShift = static_cast<uint32_t>(nShift);
    return offsets;
}
