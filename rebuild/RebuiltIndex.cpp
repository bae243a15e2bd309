#include "rebuild/RebuiltIndex.h"

#include "rebuild/CompositionPattern.h"

#include <algorithm>
#include <cmath>

namespace {

// The least composition shift: the reference's own, so that pictures are shown at the times
// the recording's own index would have given them.
uint32_t ReferenceShift(const CReferenceTrack& reference) {
    if (!reference.bCompositionOffsets || reference.nTypicalDuration == 0)
        return 0;
    for (const CEdit& edit : reference.edits) {
        // Rounded: a reference of variable frame rate has its mean duration here.
        if (edit.nMediaTime > 0)
            return static_cast<uint32_t>(
                (uint64_t(edit.nMediaTime) + reference.nTypicalDuration / 2) /
                reference.nTypicalDuration);
        if (edit.nMediaTime == 0)
            return 0;
    }
    return 0;
}

// Runs of one duration from each sample's time.
void DurationRuns(const std::vector<uint64_t>& times, CTrackTables* pTables) {
    for (size_t i = 0; i + 1 < times.size(); ++i) {
        const uint64_t nStep = times[i + 1] - times[i];
        const uint32_t nDuration = static_cast<uint32_t>(std::min<uint64_t>(nStep, 0xFFFFFFFFu));
        if (!pTables->durations.empty() && pTables->durations.back().nDuration == nDuration &&
            pTables->durations.back().nCount != 0xFFFFFFFFu)
            ++pTables->durations.back().nCount;
        else
            pTables->durations.push_back(CTrackTables::CDurationRun{1, nDuration});
    }
}

// Where stretches took samples of a track: after how many of its samples, how many.
std::vector<std::pair<uint64_t, uint64_t>> Gaps(const CWalkTrack& track,
                                                const std::vector<uint64_t>& perStretch,
                                                const CMediaWalk& walk, size_t nTrack) {
    const std::vector<CWalkStretch>& stretches = walk.Stretches();
    const std::vector<CWalkChunk>& chunks = walk.Chunks();
    std::vector<std::pair<uint64_t, uint64_t>> gaps;
    uint64_t nFound = 0;
    size_t k = 0;
    for (size_t s = 0; s < stretches.size() && s < perStretch.size(); ++s) {
        for (; k < chunks.size() && k < stretches[s].nChunks; ++k) {
            if (chunks[k].nTrack == nTrack)
                nFound += chunks[k].nSamples;
        }
        if (perStretch[s] != 0 && nFound != 0 && nFound < track.Found())
            gaps.emplace_back(nFound, perStretch[s]);
    }
    return gaps;
}

// Samples of one duration, the one before each stretch lasting as long as what it took too.
void GapRuns(const CWalkTrack& track, const std::vector<std::pair<uint64_t, uint64_t>>& found,
             CTrackTables* pTables) {
    if (found.empty())
        return;
    std::vector<std::pair<uint64_t, uint64_t>> gaps; // after which sample, how many samples
    for (const std::pair<uint64_t, uint64_t>& gap : found)
        gaps.emplace_back(gap.first - 1, gap.second);
    const uint64_t nDuration = pTables->nSampleDuration;
    uint64_t nDone = 0;
    for (size_t g = 0; g < gaps.size(); ++g) {
        if (gaps[g].first < nDone)
            continue;
        if (gaps[g].first > nDone)
            pTables->durations.push_back(CTrackTables::CDurationRun{
                static_cast<uint32_t>(gaps[g].first - nDone), static_cast<uint32_t>(nDuration)});
        uint64_t nLong = nDuration * (1 + gaps[g].second);
        while (g + 1 < gaps.size() && gaps[g + 1].first == gaps[g].first)
            nLong += nDuration * gaps[++g].second;
        pTables->durations.push_back(CTrackTables::CDurationRun{
            1, static_cast<uint32_t>(std::min<uint64_t>(nLong, 0xFFFFFFFFu))});
        nDone = gaps[g].first + 1;
    }
    if (track.Found() > nDone)
        pTables->durations.push_back(CTrackTables::CDurationRun{
            static_cast<uint32_t>(track.Found() - nDone), static_cast<uint32_t>(nDuration)});
}

// Each sample's decode time from its durations, and when the last one ends.
std::vector<uint64_t> DecodeTimes(const CTrackTables& tables, size_t nCount) {
    std::vector<uint64_t> times(nCount + 1, 0);
    size_t nRun = 0;
    uint32_t nInRun = 0;
    for (size_t i = 0; i < nCount; ++i) {
        uint32_t nDuration = tables.nSampleDuration;
        if (nRun < tables.durations.size()) {
            nDuration = tables.durations[nRun].nDuration;
            if (++nInRun == tables.durations[nRun].nCount) {
                ++nRun;
                nInRun = 0;
            }
        }
        times[i + 1] = times[i] + nDuration;
    }
    return times;
}

// Composition offsets: each picture shown in its slot in display order as the reference's
// recorder does it (CompositionPattern). The slots are the samples' decode times, each hole a
// picture lost left in the pictures' order counts taking one, and past the last sample they
// go on at its pace.
void Compose(const CWalkTrack& track, const CReferenceTrack& reference, const CTrackTimes& timing,
             const std::vector<std::pair<uint64_t, uint64_t>>& gaps, CTrackTables* pTables) {
    const CCompositionPattern& pattern = reference.composition;
    const bool bDelayed = pattern.eKind == CCompositionPattern::EKind::Delayed;
    const bool bBunched = pattern.eKind == CCompositionPattern::EKind::Bunched;
    uint32_t nShift = 0;
    const std::vector<uint32_t> frames = track.Order()->CompositionOffsets(
        bDelayed ? pattern.nDelay : ReferenceShift(reference), &nShift);
    if (!std::any_of(frames.begin(), frames.end(), [](uint32_t n) { return n != 0; }))
        return;
    const size_t nCount = frames.size();
    // Each sample's place in display order and among the slots.
    std::vector<uint64_t> display(nCount), place(nCount);
    uint64_t nLost = 0;
    size_t g = 0;
    for (size_t i = 0; i < nCount; ++i) {
        for (; g < gaps.size() && gaps[g].first <= i; ++g)
            nLost += gaps[g].second;
        display[i] = uint64_t(frames[i]) + i - nShift;
        place[i] = i + nLost;
    }
    const uint64_t nDuration = pTables->nSampleDuration;
    // Known times by place: the samples', then the end of the last.
    const bool bTimes = timing.times.size() == nCount + 1;
    const uint64_t nEndPlace = place.back() + 1;
    auto known = [&](size_t k) { return k < nCount ? timing.times[k] : timing.times[nCount]; };
    auto placeOf = [&](size_t k) { return k < nCount ? place[k] : nEndPlace; };
    const uint64_t nLastStep =
        bTimes && nCount != 0 ? known(nCount) - known(nCount - 1) : nDuration;
    auto slot = [&](uint64_t p) -> uint64_t {
        if (!bTimes)
            return p * nDuration;
        if (p >= nEndPlace)
            return known(nCount) + (p - nEndPlace) * nLastStep;
        // The sample at or before the place; a hole between it and the next, evenly.
        const size_t k = static_cast<size_t>(std::upper_bound(place.begin(), place.end(), p) -
                                             place.begin() - 1);
        const uint64_t nA = known(k), nB = std::max(nA, known(k + 1));
        const uint64_t nFrom = placeOf(k), nTo = placeOf(k + 1);
        return nA + (nB - nA) * (p - nFrom) / (nTo - nFrom);
    };
    CPictureTimes laid;
    laid.decoded = DecodeTimes(*pTables, nCount);
    laid.decoded.pop_back();
    LayPictures(pattern, display, slot, nShift, &laid);
    if (bBunched) {
        // Decode times anew: the burst's, the last one lasting until its picture shown last
        // would be due.
        pTables->durations.clear();
        uint64_t nLatest = 0;
        for (int64_t nShown : laid.shown)
            nLatest = std::max<uint64_t>(nLatest, static_cast<uint64_t>(nShown));
        std::vector<uint64_t> decoded = laid.decoded;
        decoded.push_back(std::max<uint64_t>(decoded.back() + pattern.nStep,
                                             nLatest + pattern.nFrame - pattern.nLead));
        DurationRuns(decoded, pTables);
    }
    const bool bNegative = bDelayed && pattern.bNegative;
    pTables->compositionOffsets.resize(nCount);
    int64_t nFirst = INT64_MAX;
    for (size_t i = 0; i < nCount; ++i) {
        // Relative to the sample's own slot: its decode time may be another (a stretch's).
        int64_t nOffset = bBunched ? laid.shown[i] - int64_t(laid.decoded[i])
                                   : laid.shown[i] - int64_t(slot(place[i]));
        if (!bNegative)
            nOffset = std::max<int64_t>(0, nOffset);
        nOffset = std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, nOffset));
        pTables->compositionOffsets[i] = static_cast<int32_t>(nOffset);
        nFirst = std::min(nFirst, int64_t(laid.decoded[i]) + nOffset);
    }
    pTables->nCompositionShift =
        static_cast<uint32_t>(std::max<int64_t>(0, std::min<int64_t>(nFirst, 0xFFFFFFFF)));
    if (std::all_of(pTables->compositionOffsets.begin(), pTables->compositionOffsets.end(),
                    [](int32_t n) { return n == 0; })) {
        pTables->compositionOffsets.clear();
        pTables->nCompositionShift = 0;
    }
}

// Whether a track's samples last about as long as the reference's longest track.
bool SpansMovie(const CReferenceMovie& movie, const CReferenceTrack& track) {
    double dLongest = 0;
    for (const CReferenceTrack& other : movie.tracks) {
        if (other.nTimescale != 0)
            dLongest = std::max(dLongest, double(other.nMediaDuration) / other.nTimescale);
    }
    return track.nTimescale != 0 && double(track.nMediaDuration) / track.nTimescale >= dLongest / 2;
}

CTrackTables MakeTables(const CReferenceMovie& movie, const CWalkTrack& track,
                        const CMediaWalk& walk, const CTrackTiming& timing, size_t nTrack,
                        uint64_t nBegin, uint64_t nPayload) {
    const CReferenceTrack& reference = movie.tracks[track.ReferenceIndex()];
    const CTrackTimes& times = timing.Times(nTrack);
    CTrackTables tables;
    tables.pReference = &reference;
    tables.nSampleDuration = times.nDuration;
    // A single sample that lasts as long as the reference (a timecode) lasts as long as the
    // recording; one that marks a moment (a Live Photo's still) as long as the reference's.
    if (reference.nSamples == 1 && track.Found() == 1 && SpansMovie(movie, reference))
        tables.nSampleDuration = static_cast<uint32_t>(
            std::max(1.0, std::floor(walk.LeadSeconds() * reference.nTimescale + 0.5)));
    tables.sizes = track.Sizes();
    tables.bAllSync = track.AllSync() || track.SyncSamples().size() == track.Found();
    if (!tables.bAllSync)
        tables.syncSamples = track.SyncSamples();
    if (!times.times.empty())
        DurationRuns(times.times, &tables);
    else
        GapRuns(track, Gaps(track, times.gaps, walk, nTrack), &tables);
    if (track.Order())
        Compose(track, reference, times, Gaps(track, times.visible, walk, nTrack), &tables);
    // The stretches left out are not in the copy: each chunk moves up by those before it.
    const std::vector<CWalkStretch>& stretches = walk.Stretches();
    size_t nStretch = 0;
    uint64_t nOmitted = 0;
    for (const CWalkChunk& chunk : walk.Chunks()) {
        for (; nStretch < stretches.size() && stretches[nStretch].nEnd <= chunk.nOffset; ++nStretch)
            nOmitted += stretches[nStretch].nEnd - stretches[nStretch].nOmitted;
        if (chunk.nTrack != nTrack)
            continue;
        CTrackTables::CChunk out;
        out.nOffset = nPayload + (chunk.nOffset - nBegin) - nOmitted;
        out.nSamples = chunk.nSamples;
        tables.chunks.push_back(out);
    }
    return tables;
}

} // namespace

std::vector<CTrackTables> IndexFromWalk(const CReferenceMovie& movie,
                                        const std::vector<std::unique_ptr<CWalkTrack>>& tracks,
                                        const CMediaWalk& walk, uint64_t nBegin, uint64_t nPayload,
                                        std::vector<CTrackLeftOut>* pLeftOut,
                                        std::vector<CStretchLeftOut>* pStretches) {
    std::vector<size_t> kept;
    for (size_t t = 0; t < tracks.size(); ++t) {
        if (tracks[t]->Kind() == EWalkKind::Unknown)
            continue;
        if (tracks[t]->Found() == 0) {
            pLeftOut->push_back(TrackLeftOut(movie.tracks[tracks[t]->ReferenceIndex()],
                                             CTrackLeftOut::EReason::NoneFound));
            continue;
        }
        kept.push_back(t);
    }
    std::sort(kept.begin(), kept.end(), [&](size_t a, size_t b) {
        return tracks[a]->ReferenceIndex() < tracks[b]->ReferenceIndex();
    });
    const CTrackTiming timing(movie, tracks, walk);
    std::vector<CTrackTables> tables;
    for (size_t t : kept)
        tables.push_back(MakeTables(movie, *tracks[t], walk, timing, t, nBegin, nPayload));
    if (pStretches) {
        const std::vector<CWalkStretch>& stretches = walk.Stretches();
        for (size_t s = 0; s < stretches.size(); ++s) {
            CStretchLeftOut stretch;
            stretch.eReason = stretches[s].eKind == CWalkStretch::EKind::Zeros
                                  ? CStretchLeftOut::EReason::Zeros
                              : stretches[s].eKind == CWalkStretch::EKind::DamagedFrame
                                  ? CStretchLeftOut::EReason::DamagedFrame
                                  : CStretchLeftOut::EReason::Garbage;
            stretch.nOffset = stretches[s].nOffset;
            stretch.nBytes = stretches[s].nEnd - stretches[s].nOffset;
            stretch.dAt = timing.StretchAt(s);
            stretch.dSeconds = timing.StretchSeconds(s);
            pStretches->push_back(stretch);
        }
    }
    return tables;
}
