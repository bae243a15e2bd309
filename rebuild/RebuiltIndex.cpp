#include "rebuild/RebuiltIndex.h"

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

// Composition offsets: each picture shown at the time of the sample that many places on in
// decoding order (the times known, or, where samples were lost, as far as they go on).
void Compose(const CWalkTrack& track, const CReferenceTrack& reference, const CTrackTimes& timing,
             const std::vector<std::pair<uint64_t, uint64_t>>& gaps, CTrackTables* pTables) {
    uint32_t nShift = 0;
    const std::vector<uint32_t> frames =
        track.Order()->CompositionOffsets(ReferenceShift(reference), &nShift);
    if (!std::any_of(frames.begin(), frames.end(), [](uint32_t n) { return n != 0; }))
        return;
    const uint64_t nDuration = pTables->nSampleDuration;
    if (timing.times.empty()) {
        // Pictures the stretches took that the order counts show are holes in them too.
        uint64_t nLost = 0;
        size_t g = 0;
        pTables->compositionOffsets.resize(frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            for (; g < gaps.size() && gaps[g].first <= i; ++g)
                nLost += gaps[g].second;
            const uint64_t nFrames = frames[i] > nLost ? frames[i] - nLost : 0;
            pTables->compositionOffsets[i] =
                static_cast<uint32_t>(std::min<uint64_t>(nFrames * nDuration, 0xFFFFFFFFu));
        }
        pTables->nCompositionShift = nShift * static_cast<uint32_t>(nDuration);
        if (std::all_of(pTables->compositionOffsets.begin(), pTables->compositionOffsets.end(),
                        [](uint32_t n) { return n == 0; })) {
            pTables->compositionOffsets.clear();
            pTables->nCompositionShift = 0;
        }
        return;
    }
    const std::vector<uint64_t>& times = timing.times;
    const size_t nCount = times.size() - 1;
    const uint64_t nLastStep = nCount != 0 ? times[nCount] - times[nCount - 1] : nDuration;
    auto at = [&](uint64_t n) {
        return n <= nCount ? times[static_cast<size_t>(n)]
                           : times[nCount] + (n - nCount) * nLastStep;
    };
    pTables->compositionOffsets.resize(frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        const uint64_t nShown = at(i + frames[i]);
        pTables->compositionOffsets[i] = static_cast<uint32_t>(
            std::min<uint64_t>(nShown > times[i] ? nShown - times[i] : 0, 0xFFFFFFFFu));
    }
    pTables->nCompositionShift = static_cast<uint32_t>(std::min<uint64_t>(at(nShift), 0xFFFFFFFFu));
}

CTrackTables MakeTables(const CReferenceMovie& movie, const CWalkTrack& track,
                        const CMediaWalk& walk, const CTrackTiming& timing, size_t nTrack,
                        uint64_t nBegin, uint64_t nPayload) {
    const CReferenceTrack& reference = movie.tracks[track.ReferenceIndex()];
    const CTrackTimes& times = timing.Times(nTrack);
    CTrackTables tables;
    tables.pReference = &reference;
    tables.nSampleDuration = times.nDuration;
    // A single sample (a timecode) lasts as long as the recording, not as the reference.
    if (reference.nSamples == 1 && track.Found() == 1)
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
