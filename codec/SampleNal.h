// What one H.264 or HEVC NAL unit is to the sample (access unit) it stands in: what the rules
// of its codec (AvcSample.h, HevcSample.h) tell the sample parser (VideoSample.h).
#pragma once

#include "codec/AvcSyntax.h"
#include "codec/HevcSyntax.h"

// What a NAL unit's header alone says it is, by the rules the parser checks first.
enum class ENalHeader { Invalid, Slice, Other };

// Where a NAL unit may stand: where a sample begins (parameter sets, prefix SEI, a delimiter),
// as a slice of its picture, or only after the picture's slices.
enum class ENalRole { Invalid, Start, Vcl, Suffix };

struct CSampleNal {
    ENalRole eRole = ENalRole::Invalid;
    CAvcSlice avc;
    CHevcSlice hevc;
    bool bEndOfSequence = false;
    bool bDamaged = false; // a header that parsed over bytes no NAL unit may hold
    bool bScanned = false; // its bytes were checked, unit by unit, as it was examined
};
