#include "rebuild/PlayDecode.h"

#include <algorithm>
#include <chrono>

namespace {

// Bytes read at once from runs of samples that follow one another.
const size_t kReadBlock = 4u << 20;

bool Cancelled(CCancelPoll* pCancel) {
    return pCancel && pCancel->Cancelled();
}

} // namespace

void CSampleLayout::AddRun(uint64_t nOffset, uint64_t nFirst, uint64_t nCount) {
    if (nCount != 0)
        m_runs.push_back(CRun{nOffset, nFirst, nCount});
}

std::vector<CSampleLayout::CSpan> CSampleLayout::Locate(uint64_t nFrom, uint64_t nTo) const {
    std::vector<CSpan> spans;
    nTo = std::min(nTo, m_sizes.Count());
    const std::vector<CSampleSizes::CRun>& sizes = m_sizes.Runs();
    size_t nSizeRun = 0;
    uint64_t nSizeRunFirst = 0;
    for (const CRun& run : m_runs) {
        if (run.nFirst >= nTo)
            break;
        if (run.nFirst + run.nCount <= nFrom)
            continue;
        uint64_t nOffset = run.nOffset;
        for (uint64_t i = run.nFirst; i < run.nFirst + run.nCount && i < nTo; ++i) {
            while (nSizeRun < sizes.size() && nSizeRunFirst + sizes[nSizeRun].nCount <= i)
                nSizeRunFirst += sizes[nSizeRun++].nCount;
            if (nSizeRun == sizes.size() || i < nSizeRunFirst)
                return spans;
            const uint32_t nSize = sizes[nSizeRun].nSize;
            if (i >= nFrom)
                spans.push_back(CSpan{i, nOffset, nSize});
            nOffset += nSize;
        }
    }
    return spans;
}

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

EDecodeRun DecodeSamples(CByteSource& source, const CSampleLayout& layout, uint64_t nFrom,
                         uint64_t nTo, CSampleDecoder& decoder, CCancelPoll* pCancel,
                         const double* pDeadline, uint64_t* pTo) {
    const std::vector<CSampleLayout::CSpan> spans = layout.Locate(nFrom, nTo);
    if (pTo)
        *pTo = nFrom;
    std::vector<uint8_t> block;
    bool bClean = true;
    for (size_t i = 0; i < spans.size();) {
        if (Cancelled(pCancel))
            return EDecodeRun::Cancelled;
        // Samples that follow one another in the file, read at once.
        size_t j = i + 1;
        uint64_t nBytes = spans[i].nSize;
        while (j < spans.size() && spans[j].nOffset == spans[j - 1].nOffset + spans[j - 1].nSize &&
               nBytes + spans[j].nSize <= kReadBlock)
            nBytes += spans[j++].nSize;
        // A size the table claims but the file cannot hold is refused before it is allocated.
        if (spans[i].nOffset > source.Size() || nBytes > source.Size() - spans[i].nOffset)
            return EDecodeRun::ReadFailed;
        block.resize(static_cast<size_t>(nBytes));
        if (!source.ReadAt(spans[i].nOffset, block.data(), block.size()))
            return EDecodeRun::ReadFailed;
        size_t nAt = 0;
        for (size_t k = i; k < j; ++k) {
            if (pDeadline && SteadySeconds() > *pDeadline)
                return bClean ? EDecodeRun::Clean : EDecodeRun::Faults;
            if ((k - i) % 32 == 31 && Cancelled(pCancel))
                return EDecodeRun::Cancelled;
            bClean = decoder.Decode(block.data() + nAt, spans[k].nSize,
                                    static_cast<int64_t>(spans[k].nIndex)) &&
                     bClean;
            nAt += spans[k].nSize;
            if (pTo)
                *pTo = spans[k].nIndex + 1;
        }
        i = j;
    }
    return bClean ? EDecodeRun::Clean : EDecodeRun::Faults;
}

EDecodeRun DecodeWhole(CByteSource& source, const CSampleLayout& layout, uint64_t nFrom,
                       uint64_t nTo, CSampleDecoder& decoder, CCancelPoll* pCancel) {
    const EDecodeRun eRun = DecodeSamples(source, layout, nFrom, nTo, decoder, pCancel);
    if (eRun == EDecodeRun::Cancelled || eRun == EDecodeRun::ReadFailed)
        return eRun;
    const bool bFinished = decoder.Finish();
    return eRun == EDecodeRun::Clean && bFinished && decoder.FaultCount() == 0 &&
                   decoder.Frames() != 0
               ? EDecodeRun::Clean
               : EDecodeRun::Faults;
}

bool DecodableCodecOf(const CSampleEntry& entry, ECodec* pCodec) {
    // The decoders the program lends: H.264, HEVC and AAC.
    if (entry.decoderConfig.empty() ||
        (entry.eCodec != ECodec::H264 && entry.eCodec != ECodec::Hevc &&
         entry.eCodec != ECodec::Aac))
        return false;
    *pCodec = entry.eCodec;
    return true;
}

std::unique_ptr<CSampleDecoder> OpenDecoder(CDecoderFactory& decoders, ECodec eCodec,
                                            const std::vector<uint8_t>& config,
                                            std::string* pError) {
    return decoders.Open(eCodec, config.data(), config.size(), EDecoderUse::Check, pError);
}

std::string FirstFault(const CSampleDecoder& decoder, int64_t* pLabel) {
    const std::vector<CSampleFault> faults = decoder.Faults();
    if (!faults.empty()) {
        *pLabel = faults[0].nLabel;
        return faults[0].strText;
    }
    *pLabel = 0;
    return "nothing came out of the decoder";
}
