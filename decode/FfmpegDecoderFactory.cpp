#include "decode/FfmpegDecoderFactory.h"

#include "decode/Decoder.h"

#include <new>

namespace {

class CFfmpegSampleDecoder final : public CSampleDecoder {
public:
    explicit CFfmpegSampleDecoder(CDecoder&& decoder) : m_decoder(std::move(decoder)) {}

    bool Decode(const uint8_t* pData, size_t nSize, int64_t nLabel) override {
        return m_decoder.Decode(pData, nSize, nLabel);
    }
    bool Finish() override { return m_decoder.Finish(); }
    void Reset() override { m_decoder.Reset(); }
    std::vector<CSampleFault> Faults() const override {
        std::vector<CSampleFault> faults;
        for (const CDecodeFault& fault : m_decoder.Faults())
            faults.push_back(CSampleFault{fault.nPacket, fault.strText});
        return faults;
    }
    int64_t FaultCount() const override { return m_decoder.FaultCount(); }
    int64_t Frames() const override { return m_decoder.Frames(); }
    CDecodedFormat Format() const override {
        const CStreamFormat& stream = m_decoder.Format();
        CDecodedFormat format;
        format.nWidth = stream.nWidth;
        format.nHeight = stream.nHeight;
        format.nBitDepth = stream.nBitDepth;
        format.nChroma = stream.nChroma;
        format.nSampleRate = stream.nSampleRate;
        format.nChannels = stream.nChannels;
        return format;
    }
    uint64_t PictureHash() const override { return m_decoder.PictureHash(); }

private:
    CDecoder m_decoder;
};

} // namespace

std::unique_ptr<CSampleDecoder> CFfmpegDecoderFactory::Open(ECodec eCodec, const uint8_t* pConfig,
                                                            size_t nConfigSize, EDecoderUse eUse,
                                                            std::string* pError) {
    EDecodeCodec eDecode = EDecodeCodec::Aac;
    switch (eCodec) {
    case ECodec::H264:
        eDecode = EDecodeCodec::H264;
        break;
    case ECodec::Hevc:
        eDecode = EDecodeCodec::Hevc;
        break;
    case ECodec::Aac:
        eDecode = EDecodeCodec::Aac;
        break;
    default:
        if (pError)
            *pError = "no decoder for this codec";
        return nullptr;
    }
    CDecoder decoder;
    CDecodeLimits limits;
    limits.bHashPictures = eUse == EDecoderUse::Hash;
    limits.bConceal = eUse != EDecoderUse::Probe;
    if (!decoder.Open(eDecode, pConfig, nConfigSize, limits)) {
        if (pError)
            *pError = decoder.Error();
        return nullptr;
    }
    return std::unique_ptr<CSampleDecoder>(new (std::nothrow)
                                               CFfmpegSampleDecoder(std::move(decoder)));
}
