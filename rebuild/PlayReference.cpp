#include "rebuild/PlayReference.h"

#include <memory>
#include <string>

namespace {

// The reference: this many of its first pictures and sound frames.
const uint64_t kReferencePictures = 10;
const uint64_t kReferenceFrames = 48;

} // namespace

bool PlayReference(CByteSource& source, const CReferenceMovie& movie,
                   const std::vector<size_t>& tracks, CDecoderFactory& decoders,
                   CCancelPoll* pCancel, CDamagedFrame* pFault, std::vector<CDecodedFormat>* pVideo,
                   EDecodeRun* pRun) {
    *pRun = EDecodeRun::Clean;
    pVideo->assign(movie.tracks.size(), CDecodedFormat());
    for (size_t t : tracks) {
        const CReferenceTrack& track = movie.tracks[t];
        ECodec eCodec = ECodec::Aac;
        if (!DecodableCodecOf(track.entry, &eCodec))
            continue;
        const bool bVideo = eCodec != ECodec::Aac;
        CSampleSizes sizes;
        for (size_t i = 0;
             i < track.leadSizes.size() && i < (bVideo ? kReferencePictures : kReferenceFrames);
             ++i)
            sizes.Add(track.leadSizes[i]);
        CSampleLayout layout(sizes);
        for (const CReferenceChunk& chunk : track.chunks) {
            if (chunk.nFirstSample >= sizes.Count())
                break;
            layout.AddRun(chunk.nOffset, chunk.nFirstSample, chunk.nSamples);
        }
        pFault->bVideo = bVideo;
        std::string strError;
        const std::unique_ptr<CSampleDecoder> pDecoder =
            OpenDecoder(decoders, eCodec, track.entry.decoderConfig, &strError);
        if (!pDecoder) {
            pFault->strDecoder = strError;
            return false;
        }
        const EDecodeRun eRun = DecodeWhole(source, layout, 0, sizes.Count(), *pDecoder, pCancel);
        if (eRun == EDecodeRun::Cancelled || eRun == EDecodeRun::ReadFailed) {
            *pRun = eRun;
            return false;
        }
        if (eRun != EDecodeRun::Clean) {
            int64_t nLabel = 0;
            pFault->strDecoder = FirstFault(*pDecoder, &nLabel);
            pFault->dAt =
                track.nTimescale ? double(nLabel) * track.nTypicalDuration / track.nTimescale : 0.0;
            return false;
        }
        if (bVideo)
            (*pVideo)[t] = pDecoder->Format();
    }
    return true;
}
