#include "codec/PcmLayout.h"

#include <cstring>

namespace {

const uint32_t kMaxChannels = 64;
const uint32_t kMaxFrameBytes = 1024;
// Version 2's flag for channels stored one after another rather than frame by frame.
const uint32_t kFlagNonInterleaved = 32;

constexpr uint32_t Tag(const char (&text)[5]) {
    return (uint32_t(uint8_t(text[0])) << 24) | (uint32_t(uint8_t(text[1])) << 16) |
           (uint32_t(uint8_t(text[2])) << 8) | uint32_t(uint8_t(text[3]));
}

uint16_t Be16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}

uint32_t Be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// The sample size a format has whatever the description says, 0 when the description tells.
int FormatBits(uint32_t nFormat) {
    switch (nFormat) {
    case Tag("in24"):
        return 24;
    case Tag("in32"):
    case Tag("fl32"):
        return 32;
    case Tag("fl64"):
        return 64;
    case Tag("ulaw"):
    case Tag("alaw"):
        return 8;
    default:
        return 0;
    }
}

} // namespace

bool IsPcmFormat(uint32_t nFormat) {
    switch (nFormat) {
    case Tag("raw "):
    case Tag("twos"):
    case Tag("sowt"):
    case Tag("in24"):
    case Tag("in32"):
    case Tag("fl32"):
    case Tag("fl64"):
    case Tag("lpcm"):
    case Tag("NONE"):
    case Tag("ulaw"):
    case Tag("alaw"):
        return true;
    default:
        return false;
    }
}

bool ReadPcmLayout(uint32_t nFormat, const uint8_t* pEntry, size_t nSize, CPcmLayout* pLayout) {
    // Reserved (6), data reference (2), version, revision, vendor, channels, sample size,
    // compression id, packet size, sample rate (16.16).
    if (!IsPcmFormat(nFormat) || nSize < 28)
        return false;
    CPcmLayout layout;
    const uint16_t nVersion = Be16(pEntry + 8);
    if (nVersion == 2) {
        // The rate as a float64, the channels, 0x7F000000, bits, flags, bytes and frames a
        // packet.
        if (nSize < 64 || Be32(pEntry + 44) != 0x7F000000u)
            return false;
        double dRate = 0;
        uint64_t nRate = 0;
        for (int i = 0; i < 8; ++i)
            nRate = (nRate << 8) | pEntry[32 + i];
        std::memcpy(&dRate, &nRate, sizeof dRate);
        if (!(dRate >= 1 && dRate <= 1e7))
            return false;
        layout.nSampleRate = static_cast<uint32_t>(dRate + 0.5);
        const uint32_t nChannels = Be32(pEntry + 40);
        const uint32_t nBits = Be32(pEntry + 48);
        const uint32_t nFlags = Be32(pEntry + 52);
        const uint32_t nPacketBytes = Be32(pEntry + 56);
        const uint32_t nPacketFrames = Be32(pEntry + 60);
        if (nChannels == 0 || nChannels > kMaxChannels || nBits == 0 || nBits > 64 ||
            nPacketFrames != 1 || (nFlags & kFlagNonInterleaved) || nPacketBytes == 0 ||
            nPacketBytes > kMaxFrameBytes || nPacketBytes < nChannels * ((nBits + 7) / 8))
            return false;
        layout.nChannels = int(nChannels);
        layout.nBits = int(nBits);
        layout.nFrameBytes = nPacketBytes;
        *pLayout = layout;
        return true;
    }
    if (nVersion > 1)
        return false;
    const uint32_t nChannels = Be16(pEntry + 16);
    const int nFormatBits = FormatBits(nFormat);
    const uint32_t nBits = nFormatBits != 0 ? uint32_t(nFormatBits) : Be16(pEntry + 18);
    if (nChannels == 0 || nChannels > kMaxChannels || nBits == 0 || nBits > 64)
        return false;
    layout.nChannels = int(nChannels);
    layout.nBits = int(nBits);
    layout.nSampleRate = Be32(pEntry + 24) >> 16;
    layout.nFrameBytes = nChannels * ((nBits + 7) / 8);
    // Version 1: samples a packet, bytes a packet, bytes a frame, bytes a sample.
    if (nVersion == 1 && nSize >= 44) {
        const uint32_t nFrameBytes = Be32(pEntry + 36);
        if (nFrameBytes != 0 && nFrameBytes != layout.nFrameBytes)
            return false;
    }
    *pLayout = layout;
    return layout.nFrameBytes <= kMaxFrameBytes;
}
