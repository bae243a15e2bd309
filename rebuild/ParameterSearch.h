// The parameter sets of an H.264 stream that carries none, found by trying what its slice
// headers allow on the decoders: the layout of the key frame's slice header, its entropy coder
// and starting quantiser by how far the decoder gets along one very wide row of macroblocks,
// the picture's width by where that row breaks, its height by where the key frame's data ends,
// and the fields of later pictures' headers by decoding them.
//
// Some fields change the pictures without ever making them fail to decode: the chroma
// quantiser offset, the scaling lists, implicit B weighting, and, where the stream is coded with
// CAVLC, the starting quantiser. Those are read from the note x264 leaves of its settings, where
// there is one; else taken as most encoders write them and said to be assumed.
#pragma once

#include "media/Box.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CDecoderFactory;

// How far a search has come, 0..100.
class CSearchProgress {
public:
    virtual void Searched(int nPercent) = 0;

protected:
    ~CSearchProgress() = default;
};

struct CSearchedSets {
    std::vector<std::vector<uint8_t>> sets; // an SPS and a PPS, whole NAL units
    size_t nKeyFrame = 0;                   // the key frame's first slice (its length prefix)
    bool bQpAssumed = false;                // the starting quantiser, which CAVLC does not show
    int nCropLines = 0;                     // hidden for a common shape (1088 shown as 1080)
    bool bBipredAssumed = false;            // B pictures: how they weigh their two references
    bool bChromaAssumed = true;             // the chroma quantiser offset
    bool bScalingAssumed = true;            // flat scaling lists
};

// The first H.264 key frame slice with a 4-byte length prefix in data, where a search could
// begin; false when there is none.
bool FindAvcKeyFrame(const std::vector<uint8_t>& data, size_t* pAt);

// False when nothing tried decodes the key frame whole, or when cancelled. data holds the
// media data's start.
bool SearchAvcParameterSets(const std::vector<uint8_t>& data, size_t nKeyFrame,
                            CDecoderFactory& decoders, CCancelPoll* pCancel,
                            CSearchProgress* pProgress, CSearchedSets* pFound);
