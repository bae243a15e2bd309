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
        if (edit.nMediaTime > 0)
            return static_cast<uint32_t>(edit.nMediaTime / reference.nTypicalDuration);
        if (edit.nMediaTime == 0)
            return 0;
    }
    return 0;
}

CTrackTables MakeTables(const CReferenceMovie& movie, const CWalkTrack& track,
                        const CMediaWalk& walk, size_t nTrack, uint64_t nBegin, uint64_t nPayload) {
    const CReferenceTrack& reference = movie.tracks[track.ReferenceIndex()];
    CTrackTables tables;
    tables.pReference = &reference;
    tables.nSampleDuration = reference.nTypicalDuration ? reference.nTypicalDuration : 1;
    // A single sample (a timecode) lasts as long as the recording, not as the reference.
    if (reference.nSamples == 1 && track.Found() == 1)
        tables.nSampleDuration = static_cast<uint32_t>(
            std::max(1.0, std::floor(walk.LeadSeconds() * reference.nTimescale + 0.5)));
    tables.sizes = track.Sizes();
    tables.bAllSync = track.AllSync() || track.SyncSamples().size() == track.Found();
    if (!tables.bAllSync)
        tables.syncSamples = track.SyncSamples();
    if (track.Order()) {
        uint32_t nShift = 0;
        std::vector<uint32_t> offsets =
            track.Order()->CompositionOffsets(ReferenceShift(reference), &nShift);
        if (std::any_of(offsets.begin(), offsets.end(), [](uint32_t n) { return n != 0; })) {
            for (uint32_t& nOffset : offsets)
                nOffset *= tables.nSampleDuration;
            tables.compositionOffsets = std::move(offsets);
            tables.nCompositionShift = nShift * tables.nSampleDuration;
        }
    }
    for (const CWalkChunk& chunk : walk.Chunks()) {
        if (chunk.nTrack != nTrack)
            continue;
        CTrackTables::CChunk out;
        out.nOffset = nPayload + (chunk.nOffset - nBegin);
        out.nSamples = chunk.nSamples;
        tables.chunks.push_back(out);
    }
    return tables;
}

// A reference of variable frame rate gives its pictures an average duration that the
// recording need not share; its sound, whose frames last exactly so long, tells how long
// the pictures lasted on average. Within a chunk's worth (the tracks end a little apart),
// the reference's average stands.
void TimeVideoBySound(const std::vector<std::unique_ptr<CWalkTrack>>& tracks,
                      const std::vector<size_t>& kept, std::vector<CTrackTables>* pTables) {
    const CWalkTrack* pSound = nullptr;
    for (size_t t : kept) {
        if (tracks[t]->Kind() == EWalkKind::Audio &&
            (!pSound || tracks[t]->Found() > pSound->Found()))
            pSound = tracks[t].get();
    }
    if (!pSound)
        return;
    const double dSound = double(pSound->Found()) * pSound->SampleSeconds();
    for (size_t i = 0; i < kept.size(); ++i) {
        const CWalkTrack& video = *tracks[kept[i]];
        CTrackTables& table = (*pTables)[i];
        if (video.Kind() != EWalkKind::Video || video.SteadyDurations() || dSound <= 0)
            continue;
        const double dPictures = double(video.Found()) * video.SampleSeconds();
        if (std::fabs(dPictures / dSound - 1) <= 0.02 + 1.0 / dSound)
            continue;
        const double dDuration = dSound * table.pReference->nTimescale / double(video.Found());
        const uint32_t nOld = table.nSampleDuration;
        table.nSampleDuration = static_cast<uint32_t>(std::max(1.0, std::floor(dDuration + 0.5)));
        for (uint32_t& nOffset : table.compositionOffsets)
            nOffset = nOffset / nOld * table.nSampleDuration;
        table.nCompositionShift = table.nCompositionShift / nOld * table.nSampleDuration;
    }
}

} // namespace

std::vector<CTrackTables> IndexFromWalk(const CReferenceMovie& movie,
                                        const std::vector<std::unique_ptr<CWalkTrack>>& tracks,
                                        const CMediaWalk& walk, uint64_t nBegin, uint64_t nPayload,
                                        std::vector<CTrackLeftOut>* pLeftOut) {
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
    std::vector<CTrackTables> tables;
    for (size_t t : kept)
        tables.push_back(MakeTables(movie, *tracks[t], walk, t, nBegin, nPayload));
    TimeVideoBySound(tracks, kept, &tables);
    return tables;
}
