// An AAC track's configuration (the AudioSpecificConfig of its esds box) and the channel
// layouts and sampling frequencies it names: what frame parsing and the match check go by.
// Portable.
#pragma once

#include "codec/AacBitReader.h"

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

// The channel elements of channel configurations 1 to 7, in the order they come in a frame.
struct CAacImplicitLayout {
    int nCount;
    EAacElementType aTypes[5];
};
const CAacImplicitLayout& AacImplicitLayout(int nChannelConfig); // 0 to 7

// Channels an element brings to the decoder's input buffer.
int AacConsideredChannels(const CAacElement& element);

// program_config_element, from its tag on. Its byte alignment is relative to the start of the
// reader (the frame, or the AudioSpecificConfig).
bool ReadAacProgramConfig(CBitReader& bits, CAacProgram* pProgram, int* pProfile, int* pRateIndex);
bool AacSameProgram(const CAacProgram& a, const CAacProgram& b);

// Whether frames of this configuration can be parsed at all.
bool AacConfigUsable(const CAacConfig& config);

// The frequency of a sampling_frequency_index (0 to 12), 0 for another index.
int AacSampleRate(int nRateIndex);
// The index a frequency is decoded with (a frequency outside the table gets the nearest).
int AacRateIndexOf(uint32_t nFrequency);
// Frequencies that share one table of scale factor bands, whose frames cannot be told apart.
bool AacSameBandTables(int nRateIndexA, int nRateIndexB);
