// The first sample entry of a track's stsd box: its format, and the decoder configuration the
// rebuild needs to recognise the track's samples (avcC, hvcC, the AudioSpecificConfig of esds),
// or, for the codecs older devices wrote, the picture size or the sound's layout.
#pragma once

#include "codec/AacFrame.h"
#include "codec/Codec.h"
#include "media/Box.h"
#include "codec/PcmLayout.h"

#include <cstdint>
#include <vector>

struct CSampleEntry {
    uint32_t nFormat = 0; // the entry's box type: 'avc1', 'hvc1', 'mp4a', ...
    ECodec eCodec = ECodec::Other;
    // H.264 and HEVC
    int nLengthSize = 0; // bytes of each NAL unit's length prefix
    std::vector<std::vector<uint8_t>> parameterSets;
    int nWidth = 0; // from the visual sample entry
    int nHeight = 0;
    // AAC
    CAacConfig aac;
    int nChannels = 0; // from the audio sample entry
    uint32_t nSampleRate = 0;
    // PCM
    CPcmLayout pcm;
    // The configuration as a decoder takes it: the avcC or hvcC payload, or the
    // AudioSpecificConfig; empty when eCodec is Other.
    std::vector<uint8_t> decoderConfig;
};

// Reads the first entry of stsd; false if the box is malformed. A format this engine does not
// know, or a configuration it cannot use, gives eCodec Other.
bool ReadSampleEntry(CByteSource& source, const CBox& stsd, CSampleEntry* pEntry);

// Finds the AudioSpecificConfig in an esds payload (after its version and flags).
bool FindAudioSpecificConfig(const uint8_t* pData, size_t nSize, const uint8_t** ppConfig,
                             size_t* pConfigSize);
