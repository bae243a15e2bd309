// Decoders the program lends the engine, to learn whether samples play: before anything is
// written (the reference, the start of the recording, the picture sizes it may have been
// recorded at) and after (the copy). The engine decodes nothing itself and builds without them;
// without them it checks nothing.
#pragma once

#include "codec/Codec.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the stream says of itself, from the last frame decoded (zero before the first).
struct CDecodedFormat {
    int nWidth = 0; // as shown
    int nHeight = 0;
    int nBitDepth = 0;
    int nChroma = 0; // 420, 422, 444, or 400
    int nSampleRate = 0;
    int nChannels = 0;
};

// A sample the decoder refused or finished only by hiding errors.
struct CSampleFault {
    int64_t nLabel = 0;  // the label the sample was given
    std::string strText; // the decoder's words
};

// One decoder of one track. Samples go in as the file stores them, in decoding order.
class CSampleDecoder {
public:
    virtual ~CSampleDecoder() = default;
    // False when this call found a fault; a fault may name an earlier sample, pictures leaving
    // the decoder in display order.
    virtual bool Decode(const uint8_t* pData, size_t nSize, int64_t nLabel) = 0;
    // Decodes what the decoder holds after the last sample; then it takes samples from a key
    // frame on. False when that found a fault.
    virtual bool Finish() = 0;
    // Drops what the decoder holds, unchecked.
    virtual void Reset() = 0;
    // The first faults found since it was opened (a few dozen), and how many there were.
    virtual std::vector<CSampleFault> Faults() const = 0;
    virtual int64_t FaultCount() const = 0;
    virtual int64_t Frames() const = 0; // decoded since it was opened, damaged ones too
    virtual CDecodedFormat Format() const = 0;
    // A hash of the pictures decoded since it was opened, when that was asked for.
    virtual uint64_t PictureHash() const = 0;
};

// What a decoder is opened for.
enum class EDecoderUse {
    Check, // faults, pictures with errors finished as players finish them
    Hash,  // the same, and PictureHash() (it costs a pass over each picture)
    Probe, // faults only, nothing finished: quicker where most of what is tried fails
};

class CDecoderFactory {
public:
    // A decoder with a track's configuration (the avcC or hvcC payload, or the
    // AudioSpecificConfig); null, with the decoder's words in *pError, when it cannot start.
    virtual std::unique_ptr<CSampleDecoder> Open(ECodec eCodec, const uint8_t* pConfig,
                                                 size_t nConfigSize, EDecoderUse eUse,
                                                 std::string* pError) = 0;

protected:
    ~CDecoderFactory() = default;
};
