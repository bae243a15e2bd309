#include "rebuild/PictureSamples.h"

#include "codec/H263Picture.h"
#include "codec/MotionJpeg.h"

#include <algorithm>

namespace {

// A picture may be this long, or four times the reference's longest, within this.
const size_t kMinMaxSize = 64u << 10;
const size_t kMaxMaxSize = 64u << 20;
// Sample sizes are looked at for an alignment up to this; chunk ends up to this.
const size_t kMaxStep = 4096;
const size_t kMaxChunkAlignment = 64u << 10;
// Padding a camera gives a picture, at most.
const size_t kMaxPadReach = 256u << 10;
// Samples whose sizes must all share an alignment for it to count: fewer share one by chance.
const size_t kStepSamples = 8;

// The largest power of two up to nLimit that divides every value (nLimit for none).
template <class T> size_t CommonAlignment(const std::vector<T>& values, size_t nLimit) {
    size_t nAlign = nLimit;
    for (T nValue : values) {
        while (nAlign > 1 && uint64_t(nValue) % nAlign != 0)
            nAlign /= 2;
    }
    return nAlign;
}

} // namespace

bool CPictureSamples::Learn(const CReferenceTrack& reference) {
    m_eCodec = reference.entry.eCodec;
    m_nMaxSize = std::min(kMaxMaxSize, std::max(kMinMaxSize, size_t(reference.nMaxSampleSize) * 4));
    m_nWidth = reference.entry.nWidth;
    m_nHeight = reference.entry.nHeight;
    m_nSyncPeriod = reference.nSyncPeriod;
    if (m_eCodec == ECodec::H263)
        return true;
    if (m_eCodec != ECodec::Mjpeg)
        return false;
    // Images a sample, their size (a field's, when there are two) and the gap between them; the
    // padding after the last.
    m_nWidth = m_nHeight = 0;
    size_t nMaxPad = 0, nMaxGap = 0;
    for (size_t i = 0; i < reference.firstSamples.size(); ++i) {
        const std::vector<uint8_t>& sample = reference.firstSamples[i];
        CJpegSample found;
        const int nImages = CountJpegImages(sample.data(), sample.size(), &found);
        if (nImages == 0 || (i > 0 && (nImages != m_nImages || found.nWidth != m_nWidth ||
                                       found.nHeight != m_nHeight)))
            return false;
        m_nImages = nImages;
        m_nWidth = found.nWidth;
        m_nHeight = found.nHeight;
        nMaxPad = std::max(nMaxPad, sample.size() - found.nEnd);
        nMaxGap = std::max(nMaxGap, found.nGap);
    }
    m_nMaxGap = m_nImages > 1 ? 2 * nMaxGap + kMaxStep : 0;
    if (nMaxPad == 0)
        return true;
    // Padded: to a multiple of some size, and the last of a chunk maybe further, to where the
    // camera's writes are aligned in the file. A recording's padding may be twice the
    // reference's.
    if (reference.leadSizes.size() >= kStepSamples)
        m_nStep = CommonAlignment(reference.leadSizes, kMaxStep);
    m_nPadReach = std::min(2 * nMaxPad + m_nStep, kMaxPadReach);
    std::vector<uint64_t> chunkEnds;
    for (const CReferenceChunk& chunk : reference.chunks) {
        if (uint64_t(chunk.nFirstSample) + chunk.nSamples > reference.leadSizes.size())
            break;
        uint64_t nEnd = chunk.nOffset;
        for (uint32_t i = 0; i < chunk.nSamples; ++i)
            nEnd += reference.leadSizes[chunk.nFirstSample + i];
        chunkEnds.push_back(nEnd);
    }
    if (chunkEnds.size() >= 2) {
        const size_t nChunkAlign = CommonAlignment(chunkEnds, kMaxChunkAlignment);
        if (nChunkAlign > m_nStep)
            m_nPadReach = std::max(m_nPadReach, nChunkAlign + m_nStep);
    }
    return true;
}

ESampleParse CPictureSamples::Parse(const uint8_t* pData, size_t nAvail, bool bAtEnd, size_t* pSize,
                                    size_t* pNeed, CPictureEnd* pEnd) const {
    *pSize = 0;
    CPictureEnd end;
    if (m_eCodec == ECodec::H263) {
        CH263Picture picture;
        const ESampleParse eParse =
            ScanH263Picture(pData, nAvail, bAtEnd, m_nMaxSize, &picture, pSize, pNeed);
        if ((eParse == ESampleParse::Ok || (eParse == ESampleParse::Truncated && *pSize != 0)) &&
            picture.nWidth != 0 && m_nWidth != 0 &&
            (picture.nWidth != m_nWidth || picture.nHeight != m_nHeight))
            return ESampleParse::Invalid;
        end.eKind = CPictureEnd::EKind::NextStart;
        end.nMost = *pSize;
        end.bSync = picture.bIntra;
        *pEnd = end;
        return eParse;
    }
    CJpegSample sample;
    const ESampleParse eParse =
        ScanJpegSample(pData, nAvail, bAtEnd, m_nMaxSize, m_nImages, m_nMaxGap, &sample, pNeed);
    if (eParse != ESampleParse::Ok)
        return eParse;
    if (m_nWidth != 0 && (sample.nWidth != m_nWidth || sample.nHeight != m_nHeight))
        return ESampleParse::Invalid;
    // The padding to the step, which the data's end may cut short.
    size_t nLeast = (sample.nEnd + m_nStep - 1) / m_nStep * m_nStep;
    if (nLeast > nAvail) {
        if (!bAtEnd) {
            *pNeed = nLeast + m_nPadReach;
            return ESampleParse::NeedMore;
        }
        nLeast = nAvail;
    }
    *pSize = nLeast;
    end.eKind = CPictureEnd::EKind::Padded;
    end.nMost = nLeast + m_nPadReach;
    end.nStep = m_nStep;
    *pEnd = end;
    return ESampleParse::Ok;
}

bool CPictureSamples::MayStart(const uint8_t* pData, size_t nAvail) const {
    if (nAvail < 3)
        return false;
    if (m_eCodec == ECodec::H263)
        return pData[0] == 0 && pData[1] == 0 && (pData[2] & 0xFC) == 0x80;
    return pData[0] == 0xFF && pData[1] == 0xD8 && pData[2] == 0xFF;
}
