// Samples of tracks the engine does not decode whose own structure marks where they end: timed
// text (a 16-bit text length, the text, then modifier boxes), KLV metadata (GoPro's GPMF: a
// key, a type, a size and a repeat count, padded to 32 bits, nested under DEVC) and boxed
// metadata (Apple's timed metadata: each item a box). Which one a track has is learnt from the
// reference's own samples. Portable.
#pragma once

#include "codec/VideoSample.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CSampleShape {
public:
    enum class EKind { None, TimedText, Klv, Boxes };

    // Learns the shape every one of samples has (at least two of them), and what keys or box
    // types begin them; EKind::None when no shape fits them all.
    void Learn(const std::vector<std::vector<uint8_t>>& samples);
    EKind Kind() const { return m_eKind; }

    // The sample at pData: Ok with its size, Truncated when the data ends inside it, NeedMore
    // (with *pNeed) when more bytes are needed to tell, or Invalid. A sample is never larger
    // than nMaxSize.
    ESampleParse Parse(const uint8_t* pData, size_t nAvail, bool bAtEnd, size_t nMaxSize,
                       size_t* pSize, size_t* pNeed) const;

private:
    ESampleParse ParseAs(EKind eKind, const uint8_t* pData, size_t nAvail, bool bAtEnd,
                         size_t nMaxSize, size_t* pSize, size_t* pNeed) const;
    bool KnownKey(uint32_t nKey) const;

    EKind m_eKind = EKind::None;
    std::vector<uint32_t> m_keys; // KLV keys or box types that begin an item of a sample
};
