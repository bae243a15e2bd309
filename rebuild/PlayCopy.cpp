#include "rebuild/PlayCopy.h"

#include <algorithm>
#include <memory>
#include <set>
#include <string>

namespace {

// A place in the copy: a key frame and this many pictures after it, or this many sound frames
// (about a second).
const uint64_t kPlacePictures = 4;
const uint64_t kPlaceFrames = 48;
// Places between the start and the end: at 1/2, 1/4, 3/4, ... 4095/4096 of the way at most.
const uint64_t kPlaceParts = 4096;

// Where each sample of a copy's track is shown, in seconds.
double SampleSeconds(const CTrackTables& tables, uint64_t nSample) {
    uint64_t nTime = 0;
    if (tables.durations.empty()) {
        nTime = nSample * tables.nSampleDuration;
    } else {
        uint64_t nLeft = nSample;
        uint32_t nLast = tables.nSampleDuration;
        for (const CTrackTables::CDurationRun& run : tables.durations) {
            const uint64_t nTake = std::min<uint64_t>(nLeft, run.nCount);
            nTime += nTake * run.nDuration;
            nLeft -= nTake;
            nLast = run.nDuration;
            if (nLeft == 0)
                break;
        }
        nTime += nLeft * nLast;
    }
    int64_t nShown = static_cast<int64_t>(nTime);
    if (nSample < tables.compositionOffsets.size())
        nShown += int64_t(tables.compositionOffsets[static_cast<size_t>(nSample)]) -
                  int64_t(tables.nCompositionShift);
    const uint32_t nTimescale = tables.pReference->nTimescale;
    return nShown > 0 && nTimescale ? double(nShown) / nTimescale : 0.0;
}

// The faults a decoder of a copy's track found, at their times.
void TakeFaults(const CSampleDecoder& decoder, const CTrackTables& tables, bool bVideo,
                CPlayResult* pCheck) {
    pCheck->nDamaged += static_cast<uint64_t>(decoder.FaultCount());
    for (const CSampleFault& fault : decoder.Faults()) {
        CDamagedFrame frame;
        frame.bVideo = bVideo;
        frame.dAt =
            SampleSeconds(tables, static_cast<uint64_t>(std::max<int64_t>(0, fault.nLabel)));
        frame.strDecoder = fault.strText;
        pCheck->damaged.push_back(frame);
    }
}

// One track of the copy: its decoder, where its samples are, and what its first samples cost
// to decode.
struct CCopyTrack {
    const CTrackTables* pTables = nullptr;
    bool bVideo = false;
    std::unique_ptr<CSampleDecoder> pDecoder;
    std::unique_ptr<CSampleLayout> pLayout;
    uint64_t nCount = 0;
    uint64_t nStartEnd = 0;         // its start, decoded first: [0, nStartEnd)
    double dPerSample = 0;          // what a sample of the start took
    bool bWhole = false;            // all of it decoded
    bool bEnd = false;              // its last sample decoded
    int nPlaces = 0;                // places decoded, the start among them
    std::set<uint64_t> done = {0};  // where places began
    uint64_t nDepth = 1, nPart = 1; // the next place: nPart / 2^nDepth of the way

    // The key frame at or before sample n (every sound frame is one).
    uint64_t KeyAtOrBefore(uint64_t n) const {
        const std::vector<uint32_t>& syncs = pTables->syncSamples;
        if (!bVideo || pTables->bAllSync)
            return n;
        const auto it = std::upper_bound(syncs.begin(), syncs.end(), n);
        return it == syncs.begin() ? 0 : *(it - 1);
    }
    // Where a place that begins at nKey ends: a few pictures on (not past the next key frame),
    // or a second of sound.
    uint64_t PlaceEnd(uint64_t nKey) const {
        if (!bVideo)
            return std::min(nCount, nKey + kPlaceFrames);
        uint64_t nNext = nCount;
        if (pTables->bAllSync) {
            nNext = nKey + 1;
        } else {
            const std::vector<uint32_t>& syncs = pTables->syncSamples;
            const auto it = std::upper_bound(syncs.begin(), syncs.end(), nKey);
            if (it != syncs.end())
                nNext = *it;
        }
        return std::min({nCount, nNext, nKey + 1 + kPlacePictures});
    }
};

bool Stopped(EDecodeRun eRun) {
    return eRun == EDecodeRun::Cancelled || eRun == EDecodeRun::ReadFailed;
}

// Opens a track's decoder and decodes its start, whatever that takes; it tells what a sample
// costs. The decoder is left unfinished, to go on.
EDecodeRun StartTrack(CByteSource& copy, CCancelPoll* pCancel, CCopyTrack* pTrack) {
    CCopyTrack& track = *pTrack;
    const double dBegin = SteadySeconds();
    track.nStartEnd = track.PlaceEnd(0);
    const EDecodeRun eRun =
        DecodeSamples(copy, *track.pLayout, 0, track.nStartEnd, *track.pDecoder, pCancel);
    track.nPlaces = 1;
    track.bEnd = track.nStartEnd == track.nCount;
    track.dPerSample = (SteadySeconds() - dBegin) / double(std::max<uint64_t>(1, track.nStartEnd));
    return eRun;
}

// Where a track's end begins: its last group of pictures, or its last second of sound.
uint64_t EndPlace(const CCopyTrack& track) {
    return track.bVideo ? track.KeyAtOrBefore(track.nCount - 1)
                        : track.nCount - std::min(track.nCount, kPlaceFrames);
}

// A track's end, decoded whatever the time, the decoder having reached nReached: on from
// there when the end begins before it, else afresh from where the end begins.
EDecodeRun DecodeEndFrom(CByteSource& copy, uint64_t nReached, CCancelPoll* pCancel,
                         CCopyTrack* pTrack) {
    CCopyTrack& track = *pTrack;
    uint64_t nFrom = nReached;
    const uint64_t nEnd = EndPlace(track);
    if (nEnd > nReached) {
        track.pDecoder->Finish();
        track.pDecoder->Reset();
        track.done.insert(nEnd);
        ++track.nPlaces;
        nFrom = nEnd;
    }
    const EDecodeRun eRun =
        DecodeSamples(copy, *track.pLayout, nFrom, track.nCount, *track.pDecoder, pCancel);
    if (Stopped(eRun))
        return eRun;
    track.pDecoder->Finish();
    track.bEnd = true;
    return EDecodeRun::Clean;
}

// The rest of a started track, as far as the time allows; its end whatever the time.
EDecodeRun DecodeRest(CByteSource& copy, double dDeadline, CCancelPoll* pCancel,
                      CCopyTrack* pTrack) {
    CCopyTrack& track = *pTrack;
    uint64_t nReached = track.nStartEnd;
    const EDecodeRun eRun = DecodeSamples(copy, *track.pLayout, track.nStartEnd, track.nCount,
                                          *track.pDecoder, pCancel, &dDeadline, &nReached);
    if (Stopped(eRun))
        return eRun;
    track.bWhole = nReached == track.nCount;
    return DecodeEndFrom(copy, nReached, pCancel, pTrack);
}

// The end of a started track whose rest does not fit in the time.
EDecodeRun DecodeEnd(CByteSource& copy, CCancelPoll* pCancel, CCopyTrack* pTrack) {
    return DecodeEndFrom(copy, pTrack->nStartEnd, pCancel, pTrack);
}

// The next place between the start and the end, halving the gaps: 1/2, 1/4, 3/4, 1/8...;
// *pPlaced false when none is left or it would not end before dDeadline.
EDecodeRun DecodePlace(CByteSource& copy, double dDeadline, CCancelPoll* pCancel,
                       CCopyTrack* pTrack, bool* pPlaced) {
    CCopyTrack& track = *pTrack;
    *pPlaced = false;
    while ((uint64_t(1) << track.nDepth) <= kPlaceParts) {
        const uint64_t nParts = uint64_t(1) << track.nDepth;
        const uint64_t nKey = track.KeyAtOrBefore(track.nCount * track.nPart / nParts);
        track.nPart += 2;
        if (track.nPart >= nParts) {
            ++track.nDepth;
            track.nPart = 1;
        }
        if (!track.done.insert(nKey).second)
            continue;
        const uint64_t nEnd = track.PlaceEnd(nKey);
        if (SteadySeconds() + track.dPerSample * double(nEnd - nKey) > dDeadline)
            return EDecodeRun::Clean;
        track.pDecoder->Reset();
        const EDecodeRun eRun =
            DecodeSamples(copy, *track.pLayout, nKey, nEnd, *track.pDecoder, pCancel);
        if (Stopped(eRun))
            return eRun;
        track.pDecoder->Finish();
        ++track.nPlaces;
        *pPlaced = true;
        return EDecodeRun::Clean;
    }
    return EDecodeRun::Clean;
}

// The decoders of the copy's tracks that can be decoded, their samples placed.
std::vector<CCopyTrack> OpenTracks(const std::vector<CTrackTables>& tables,
                                   CDecoderFactory& decoders, CPlayResult* pCheck) {
    std::vector<CCopyTrack> tracks;
    for (const CTrackTables& tablesOfTrack : tables) {
        const CReferenceTrack& reference = *tablesOfTrack.pReference;
        ECodec eCodec = ECodec::Aac;
        if (!DecodableCodecOf(reference.entry, &eCodec)) {
            if (reference.nHandler == FourCC("vide") || reference.nHandler == FourCC("soun")) {
                CPlayResult::CUndecoded undecoded;
                undecoded.bVideo = reference.nHandler == FourCC("vide");
                undecoded.strCodec = reference.entry.eCodec != ECodec::Other
                                         ? CodecText(reference.entry.eCodec)
                                         : FourCCText(reference.entry.nFormat);
                pCheck->undecoded.push_back(undecoded);
            }
            continue;
        }
        if (tablesOfTrack.sizes.Count() == 0)
            continue;
        CCopyTrack track;
        track.pTables = &tablesOfTrack;
        track.bVideo = eCodec != ECodec::Aac;
        track.nCount = tablesOfTrack.sizes.Count();
        track.pLayout.reset(new CSampleLayout(tablesOfTrack.sizes));
        uint64_t nFirst = 0;
        for (const CTrackTables::CChunk& chunk : tablesOfTrack.chunks) {
            track.pLayout->AddRun(chunk.nOffset, nFirst, chunk.nSamples);
            nFirst += chunk.nSamples;
        }
        std::string strError;
        track.pDecoder =
            OpenDecoder(decoders, eCodec, tablesOfTrack.pReference->entry.decoderConfig, &strError);
        // The same configuration decoded the reference: this does not happen.
        if (!track.pDecoder)
            continue;
        pCheck->bHevc = pCheck->bHevc || eCodec == ECodec::Hevc;
        tracks.push_back(std::move(track));
    }
    return tracks;
}

// Each track's start, whatever it takes. Then all of it, when that fits; else all the sound
// that fits in half the time left, the end of each track, and places between in turn. False
// when a run stopped (*pRun says how).
bool DecodeTracks(CByteSource& copy, double dDeadline, CCancelPoll* pCancel,
                  std::vector<CCopyTrack>* pTracks, EDecodeRun* pRun) {
    std::vector<CCopyTrack>& tracks = *pTracks;
    for (CCopyTrack& track : tracks) {
        *pRun = StartTrack(copy, pCancel, &track);
        if (Stopped(*pRun))
            return false;
    }
    double dRest = 0;
    for (const CCopyTrack& track : tracks)
        dRest += double(track.nCount - track.nStartEnd) * track.dPerSample;
    const bool bAll = dRest <= dDeadline - SteadySeconds();
    for (int nPass = 0; nPass < 2; ++nPass) {
        for (CCopyTrack& track : tracks) {
            if (track.bVideo != (nPass == 1))
                continue;
            const double dLeft = dDeadline - SteadySeconds();
            const double dTrackRest = double(track.nCount - track.nStartEnd) * track.dPerSample;
            *pRun = bAll || dTrackRest <= (track.bVideo ? dLeft : dLeft / 2)
                        ? DecodeRest(copy, dDeadline, pCancel, &track)
                        : DecodeEnd(copy, pCancel, &track);
            if (Stopped(*pRun))
                return false;
        }
    }
    for (bool bPlaced = true; bPlaced;) {
        bPlaced = false;
        for (CCopyTrack& track : tracks) {
            bool bThis = false;
            if (!track.bWhole)
                *pRun = DecodePlace(copy, dDeadline, pCancel, &track, &bThis);
            if (Stopped(*pRun))
                return false;
            bPlaced = bPlaced || bThis;
        }
    }
    return true;
}

// What the decoded tracks say of the copy: how much of it was decoded, and what was damaged.
void Tally(const std::vector<CCopyTrack>& tracks, CPlayResult* pCheck) {
    CPlayResult& check = *pCheck;
    check.bSoundWhole = check.bVideoWhole = check.bVideoStart = check.bVideoEnd = true;
    check.bSoundEnd = true;
    for (const CCopyTrack& track : tracks) {
        (track.bVideo ? check.bVideoWhole : check.bSoundWhole) &= track.bWhole;
        (track.bVideo ? check.bVideoEnd : check.bSoundEnd) &= track.bEnd;
        if (track.bVideo)
            check.nVideoPlaces += track.nPlaces;
        else
            check.nSoundPlaces += track.nPlaces;
        TakeFaults(*track.pDecoder, *track.pTables, track.bVideo, &check);
        check.bPlays = check.bPlays || track.pDecoder->Frames() > track.pDecoder->FaultCount();
    }
    std::stable_sort(check.damaged.begin(), check.damaged.end(),
                     [](const CDamagedFrame& a, const CDamagedFrame& b) { return a.dAt < b.dAt; });
    if (check.damaged.size() > kMaxDamagedNamed)
        check.damaged.resize(kMaxDamagedNamed);
}

} // namespace

CPlayResult PlayCopy(CByteSource& copy, const std::vector<CTrackTables>& tables,
                     CDecoderFactory& decoders, double dBudget, CCancelPoll* pCancel,
                     EDecodeRun* pRun) {
    *pRun = EDecodeRun::Clean;
    CPlayResult check;
    const double dBegin = SteadySeconds();
    const double dDeadline = dBegin + dBudget;
    std::vector<CCopyTrack> tracks = OpenTracks(tables, decoders, &check);
    if (tracks.empty())
        return check;
    check.bChecked = true;
    if (!DecodeTracks(copy, dDeadline, pCancel, &tracks, pRun))
        return check;
    Tally(tracks, &check);
    check.dSeconds = SteadySeconds() - dBegin;
    return check;
}
