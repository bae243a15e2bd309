// Raw AAC-LC frames (the samples of an MP4 audio track, no ADTS header): where one ends, found
// by parsing its syntax, since nothing else in the frame tells its length. Nothing is decoded.
// The parser is strict so that it can also tell audio from other data (a video sample) at the
// boundaries of a file's chunks: it refuses what the standard does not allow for the track's
// configuration. Portable.
#pragma once

#include <cstddef>
#include <cstdint>

enum class EAacElementType : uint8_t {
    Sce = 0,
    Cpe = 1,
    Cce = 2,
    Lfe = 3,
    Dse = 4,
    Pce = 5,
    Fil = 6,
    End = 7
};

// A channel element a frame carries: SCE, CPE, LFE or CCE, and its element_instance_tag.
struct CAacElement {
    EAacElementType type = EAacElementType::Sce;
    uint8_t nTag = 0;
    bool bIndependentCce = false; // a CCE switched independently (it then counts as a channel)

    bool operator==(const CAacElement& other) const {
        return type == other.type && nTag == other.nTag && bIndependentCce == other.bIndependentCce;
    }
};

// The channel elements of a program_config_element (a layout of channel configuration 0).
struct CAacProgram {
    static constexpr int kMaxElements = 15 * 3 + 3 + 15; // front, side, back, LFE, coupling
    int nElements = 0;
    CAacElement aElements[kMaxElements];
};

// From the track's AudioSpecificConfig (the DecoderSpecificInfo of its esds box).
struct CAacConfig {
    int nObjectType = 0;          // 2 = AAC LC; 5 (SBR) and 29 (PS) signalled explicitly, core LC
    int nSampleRateIndex = 0;     // 0..12; an explicit frequency is mapped to its index
    int nChannelConfig = 0;       // 1..7; 0 = the layout of the program config element below
    bool bFrameLength960 = false; // refused by ParseAudioSpecificConfig: never parsed
    CAacProgram program;          // when nChannelConfig is 0
};

// False when the configuration is not one this parser handles: another core than AAC LC,
// 960-sample frames, a reserved sampling frequency index or channel configuration (8 and up,
// the later 11-14 included), a malformed program config element.
bool ParseAudioSpecificConfig(const uint8_t* pData, size_t nSize, CAacConfig* pConfig);

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
