// Raw AAC-LC frames (the samples of an MP4 audio track, no ADTS header): where one ends, found
// by parsing its syntax, since nothing else in the frame tells its length. Nothing is decoded.
// The parser is strict so that it can also tell audio from other data (a video sample) at the
// boundaries of a file's chunks: it refuses what the standard does not allow for the track's
// configuration. Portable.
#pragma once

#include "codec/AacConfig.h"

#include <cstddef>
#include <cstdint>

// Tools seen in a frame (CAacFrameInfo::nTools).
enum : uint32_t {
    kAacToolShortWindow = 1u << 0,
    kAacToolStartStop = 1u << 1, // LONG_START or LONG_STOP windows
    kAacToolCommonWindow = 1u << 2,
    kAacToolMidSide = 1u << 3,
    kAacToolIntensity = 1u << 4,
    kAacToolNoise = 1u << 5,
    kAacToolPulse = 1u << 6,
    kAacToolTns = 1u << 7,
    kAacToolEscape = 1u << 8, // codebook 11 with escape sequences
    kAacToolFill = 1u << 9,
    kAacToolDataStream = 1u << 10,
    kAacToolProgramConfig = 1u << 11,
    kAacToolDynamicRange = 1u << 12,
    kAacToolSbr = 1u << 13,
    kAacToolCoupling = 1u << 14,
};

// What a frame holds, for checking one frame against the one before it.
struct CAacFrameInfo {
    static constexpr int kMaxStreams = 2 * CAacProgram::kMaxElements;
    int nElements = 0; // channel elements in bitstream order
    CAacElement aElements[CAacProgram::kMaxElements];
    int nStreams = 0;                     // individual channel streams, in bitstream order
    uint8_t aWindowSequence[kMaxStreams]; // 0 long, 1 long start, 2 eight short, 3 long stop
    uint32_t nTools = 0;
};

enum class EAacFrame {
    Ok,        // a whole frame of this configuration; *pLength is its length
    Invalid,   // these bytes are not a frame of this configuration
    Truncated, // a valid start that runs past the data: more bytes are needed to decide
};

// Parses the raw_data_block at pData and gives its length in bytes, through its END element
// and the padding to a byte. The padding bits are not checked (decoders ignore them); a caller
// that knows a frame's size compares it with *pLength.
// With pPrevious (the info of the frame just before), the frame must also continue it: the
// same channel elements, and each channel's window sequence one that may follow the previous
// one's (a long start is followed by short or long stop windows, and so on).
EAacFrame ParseAacFrame(const CAacConfig& config, const uint8_t* pData, size_t nSize,
                        size_t* pLength, CAacFrameInfo* pInfo = nullptr,
                        const CAacFrameInfo* pPrevious = nullptr);

// Whether a frame may follow another in one track: the same channel elements, and windows that
// overlap as they must.
bool AacFrameContinues(const CAacFrameInfo& previous, const CAacFrameInfo& info);
