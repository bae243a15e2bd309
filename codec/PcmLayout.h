// Uncompressed sound as QuickTime sound descriptions give it ('raw ', 'twos', 'sowt', 'in24',
// 'in32', 'fl32', 'fl64', 'lpcm', 'NONE', and G.711's 'ulaw' and 'alaw', a byte a sample):
// how many bytes one frame (a sample of every channel) takes. Versions 0 and 1 of the
// description say it by the format and the sample size, or in version 1's bytes per frame;
// version 2 by its own fields. Portable.
#pragma once

#include <cstddef>
#include <cstdint>

struct CPcmLayout {
    int nChannels = 0;
    int nBits = 0; // of one channel's sample
    uint32_t nFrameBytes = 0;
    uint32_t nSampleRate = 0; // Hz, whole
};

// Whether nFormat is one of the formats above.
bool IsPcmFormat(uint32_t nFormat);

// The layout the sound sample entry of format nFormat gives, from its payload (after the box
// header: reserved bytes, data reference, version... then the fields of its version); false
// when it is not PCM or its fields do not hold together.
bool ReadPcmLayout(uint32_t nFormat, const uint8_t* pEntry, size_t nSize, CPcmLayout* pLayout);
