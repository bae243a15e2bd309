// Picture order counts of a video track's samples in decoding order, and from them the
// composition offsets that put B-frames back in display order.
#pragma once

#include "codec/VideoSample.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CPictureOrder {
public:
    explicit CPictureOrder(ECodec codec) : m_codec(codec) {}

    // The next sample in decoding order, with the parser whose parameter sets it was read with.
    void Add(const CVideoSample& sample, const CVideoSampleParser& parser);
    size_t Count() const { return m_poc.size(); }
    // Pictures after which the order count repeats itself (its bits wrap): a loss of pictures
    // is known from the count only up to a multiple of this.
    uint64_t WrapPictures() const { return m_nWrap; }
    // Forgets the last sample (one that damage after it showed to be damaged).
    void RemoveLast() {
        if (m_poc.empty())
            return;
        m_poc.pop_back();
        if (!m_periodStarts.empty() && m_periodStarts.back() == m_poc.size())
            m_periodStarts.pop_back();
    }
    // Where the count starts anew (IDR, IRAP, mmco 5): no picture before shows after these.
    const std::vector<size_t>& PeriodStarts() const { return m_periodStarts; }
    int32_t Poc(size_t nIndex) const { return m_poc[nIndex]; }

    // Display position minus decoding position plus a shift, for each sample, in frames. The
    // shift is the least that makes every offset non-negative, or nMinShift if that is more.
    std::vector<uint32_t> CompositionOffsets(uint32_t nMinShift, uint32_t* pShift) const;

private:
    void AddUnknown();
    void AddAvc(const CAvcSlice& slice, const CAvcSps& sps);
    void AddHevc(const CHevcSlice& slice, const CHevcSps& sps, bool bEndOfSequence);

    ECodec m_codec;
    uint64_t m_nWrap = 16;
    std::vector<int32_t> m_poc;
    std::vector<size_t> m_periodStarts; // where the count starts anew (IDR, IRAP, mmco 5)
    bool m_bStarted = false;
    // H.264
    int64_t m_nPrevRefMsb = 0;
    int64_t m_nPrevRefLsb = 0;
    int64_t m_nPrevFrameNum = 0;
    int64_t m_nPrevFrameNumOffset = 0;
    // HEVC
    int64_t m_nPrevTid0Poc = 0;
    bool m_bAfterEndOfSequence = false;
};
