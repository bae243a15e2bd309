// FFmpeg's decoders lent to the rebuild engine, which names only its own interface for them.
#pragma once

#include "rebuild/SampleDecoder.h"

class CFfmpegDecoderFactory final : public CDecoderFactory {
public:
    std::unique_ptr<CSampleDecoder> Open(ECodec eCodec, const uint8_t* pConfig, size_t nConfigSize,
                                         EDecoderUse eUse, std::string* pError) override;
};
