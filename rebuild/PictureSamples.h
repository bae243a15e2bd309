// Pictures of Motion JPEG or H.263 as the walk finds them, each sample one picture, checked by
// its markers or start code and its size against the reference's. Neither pins its sample's
// end: a Motion JPEG sample ends past its EOI, after what padding the camera gave it; an H.263
// picture ends before the next picture's start code, or before the samples of other tracks
// that lie between. What the reference's own samples show bounds how far the walk looks.
// Portable.
#pragma once

#include "codec/Codec.h"
#include "codec/VideoSample.h"
#include "rebuild/ReferenceMovie.h"

#include <cstddef>
#include <cstdint>

// Where a picture found at a position may end, from its start.
struct CPictureEnd {
    enum class EKind {
        Padded,    // at nSize or later, up to nMost, in steps of nStep (Motion JPEG)
        NextStart, // at nSize, where the next picture starts, or earlier where other tracks'
                   // samples fill the rest (H.263)
    } eKind = EKind::Padded;
    size_t nMost = 0;
    size_t nStep = 1;
    bool bSync = true;
};

class CPictureSamples {
public:
    // Learns how the reference's pictures are made; false when they are not of its codec.
    bool Learn(const CReferenceTrack& reference);

    // The picture at pData: Ok with its least size (Motion JPEG) or its size up to the next start
    // code (H.263), Truncated (with *pSize what there is) when the data ends first, NeedMore
    // (with *pNeed), or Invalid.
    ESampleParse Parse(const uint8_t* pData, size_t nAvail, bool bAtEnd, size_t* pSize,
                       size_t* pNeed, CPictureEnd* pEnd) const;
    // Whether a picture may begin at pData, by its first bytes alone.
    bool MayStart(const uint8_t* pData, size_t nAvail) const;
    bool AllSync() const { return m_eCodec == ECodec::Mjpeg; }
    // Key frames every n-th picture, as the reference's writer marks them; 0 when its key frames
    // are its intra pictures.
    uint32_t SyncPeriod() const { return m_nSyncPeriod; }

private:
    ECodec m_eCodec = ECodec::Other;
    size_t m_nMaxSize = 0;
    int m_nWidth = 0; // of the pictures (their first field's), 0 when not known
    int m_nHeight = 0;
    uint32_t m_nSyncPeriod = 0;
    // Motion JPEG
    int m_nImages = 1;
    size_t m_nMaxGap = 0;   // between its fields
    size_t m_nStep = 1;     // the samples' sizes are multiples of it
    size_t m_nPadReach = 0; // how far past its last EOI a sample may end
};
