// What the play checks share: where a track's samples lie in a file, and decoding runs of them,
// read in blocks, with the decoders the program lends (CDecoderFactory). The checks themselves
// are PlayReference, PlayStart and PlayCopy.
#pragma once

#include "media/ByteSource.h"
#include "rebuild/ReferenceMovie.h"
#include "rebuild/SampleDecoder.h"
#include "rebuild/SampleSizes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Where a track's samples lie in a file: runs of consecutive samples, and their sizes.
class CSampleLayout {
public:
    explicit CSampleLayout(const CSampleSizes& sizes) : m_sizes(sizes) {}
    // Runs come in the order of their samples.
    void AddRun(uint64_t nOffset, uint64_t nFirst, uint64_t nCount);
    uint64_t Count() const { return m_sizes.Count(); }

    struct CSpan {
        uint64_t nIndex = 0;
        uint64_t nOffset = 0;
        uint32_t nSize = 0;
    };
    // Samples [nFrom, nTo) that the runs place, in order.
    std::vector<CSpan> Locate(uint64_t nFrom, uint64_t nTo) const;

private:
    struct CRun {
        uint64_t nOffset, nFirst, nCount;
    };
    const CSampleSizes& m_sizes;
    std::vector<CRun> m_runs;
};

enum class EDecodeRun { Clean, Faults, Cancelled, ReadFailed };

// The steady clock, in seconds: what deadlines are given in.
double SteadySeconds();

// Decodes samples [nFrom, nTo) of a layout, read from source in blocks, each labelled with its
// number; nothing is finished, so the caller may go on with the next samples. Stops early when
// pDeadline passes (*pTo says where it stopped).
EDecodeRun DecodeSamples(CByteSource& source, const CSampleLayout& layout, uint64_t nFrom,
                         uint64_t nTo, CSampleDecoder& decoder, CCancelPoll* pCancel,
                         const double* pDeadline = nullptr, uint64_t* pTo = nullptr);

// Decodes [nFrom, nTo) and what the decoder holds then; Clean when that found no fault and
// gave frames.
EDecodeRun DecodeWhole(CByteSource& source, const CSampleLayout& layout, uint64_t nFrom,
                       uint64_t nTo, CSampleDecoder& decoder, CCancelPoll* pCancel);

// The codec of a sample entry a decoder can be opened for (one it names, with its configuration);
// false for any other.
bool DecodableCodecOf(const CSampleEntry& entry, ECodec* pCodec);

// A decoder with a track's configuration, pictures unhashed; null, with why in *pError.
std::unique_ptr<CSampleDecoder> OpenDecoder(CDecoderFactory& decoders, ECodec eCodec,
                                            const std::vector<uint8_t>& config,
                                            std::string* pError);

// The first fault a decoder found, or what it lacked when nothing came out.
std::string FirstFault(const CSampleDecoder& decoder, int64_t* pLabel);
