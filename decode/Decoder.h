// Decodes the samples of one H.264, HEVC or AAC track as an MP4 file stores them (NAL units
// with length prefixes, raw AAC frames), to learn whether they play and what the stream says
// of itself. A thin adapter over FFmpeg's libavcodec, none of which shows here. Portable.
//
// One thread at a time per decoder; several decoders may run on several threads. Nothing is
// logged: what the decoder says about a fault is kept with the fault. No call throws.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class EDecodeCodec { H264, Hevc, Aac };

struct CDecodeLimits {
    int64_t nMaxPixels = 8192 * 4320;           // per picture; a larger one is a fault
    int nMaxSamples = 1 << 18;                  // per sound frame, all channels together
    const std::atomic<bool>* pCancel = nullptr; // when set, checked before each packet
    bool bHashPictures = false;                 // PictureHash() wanted
    // H.264 pictures with errors finished from what decoded (a fault flags them); without it,
    // only the decoder's refusals are faults.
    bool bConceal = true;
};

// What the stream says of itself, taken from the last frame decoded (zero before the first).
struct CStreamFormat {
    int nWidth = 0; // pictures, as shown (after the stream's cropping)
    int nHeight = 0;
    int nBitDepth = 0;          // of the luma samples
    int nChroma = 0;            // 420, 422, 444, or 400 for pictures without colour
    std::string strPixelFormat; // FFmpeg's name, e.g. "yuv420p10le"
    int nSampleRate = 0;
    int nChannels = 0;
};

// A packet the decoder refused, or a frame it finished only by hiding errors.
struct CDecodeFault {
    int64_t nPacket = 0; // the caller's label of the packet the fault is in
    std::string strText; // the decoder's own words, or what the frame's error flags say
};

class CDecoder {
public:
    CDecoder();
    ~CDecoder();
    CDecoder(CDecoder&&) noexcept;
    CDecoder& operator=(CDecoder&&) noexcept;
    CDecoder(const CDecoder&) = delete;
    CDecoder& operator=(const CDecoder&) = delete;

    // Opens a decoder with the track's configuration: the payload of avcC or hvcC, or the
    // AudioSpecificConfig in esds. Forgets what an earlier Open found. False, with the reason in
    // Error(), when the decoder cannot start.
    bool Open(EDecodeCodec eCodec, const uint8_t* pConfig, size_t nConfigSize,
              const CDecodeLimits& limits = {});
    // Decodes one sample; nPacket is the caller's label for it (its number, say), given back
    // in the faults found in it. Pictures come out in display order, so a fault found now may
    // name an earlier packet. False when this call found a fault or was cancelled.
    bool Decode(const uint8_t* pData, size_t nSize, int64_t nPacket);
    // Decodes what the decoder still holds after the last packet; it is then ready for packets
    // from a key frame on. False when that found a fault or was cancelled.
    bool Finish();
    // Drops what the decoder holds, unchecked: the next packet starts at a key frame.
    void Reset();

    bool IsOpen() const;
    bool Cancelled() const;
    // The faults found since Open, the first 64 of them, a packet once; FaultCount() counts
    // them all.
    const std::vector<CDecodeFault>& Faults() const;
    int64_t FaultCount() const;
    int64_t Frames() const; // frames decoded since Open, damaged ones too
    const CStreamFormat& Format() const;
    // A hash of every picture decoded since Open, in order, when the limits asked for it: two
    // decodes of which it is the same showed the same pictures.
    uint64_t PictureHash() const;
    // Why Open failed.
    const std::string& Error() const;

private:
    struct CImpl;
    std::unique_ptr<CImpl> m_pImpl;
};
