#include "rebuild/SoundOrder.h"

#include <algorithm>

namespace {

// Frames of the reference that the rule is checked on: minutes of sound.
const uint64_t kMaxDecisions = 200000;

// When a track's media begins on the recording's time line: its edit list's first edit that
// shows media, after the empty ones before it (a writer's audio priming, a video's delay).
double EditOffset(const CReferenceMovie& movie, const CReferenceTrack& track) {
    double dEmpty = 0;
    for (const CEdit& edit : track.edits) {
        if (edit.nMediaTime == -1) {
            dEmpty += movie.nTimescale ? double(edit.nSegmentDuration) / movie.nTimescale : 0;
            continue;
        }
        return double(edit.nMediaTime) / track.nTimescale - dEmpty;
    }
    return -dEmpty;
}

} // namespace

double CSoundOrder::Due(size_t nTrack, uint64_t nCount) const {
    const CTrack& track = m_tracks[nTrack];
    return double(nCount) * track.dFrame - track.dOffset;
}

size_t CSoundOrder::First(const std::vector<size_t>& candidates,
                          const std::vector<uint64_t>& counts) const {
    size_t nBest = candidates.front();
    for (size_t t : candidates) {
        const double dDue = Due(t, counts[t]), dBest = Due(nBest, counts[nBest]);
        if (dDue < dBest - Tie() || (dDue <= dBest + Tie() && t < nBest))
            nBest = t;
    }
    return nBest;
}

uint64_t CSoundOrder::Misses(const CReferenceMovie& movie, const std::vector<size_t>& sound,
                             bool bChunks, uint64_t* pDecisions) const {
    const size_t nTracks = sound.size();
    std::vector<size_t> next(nTracks, 0);     // each track's next chunk
    std::vector<uint64_t> counts(nTracks, 0); // frames of each track so far
    std::vector<uint64_t> totals(nTracks, 0);
    for (size_t t = 0; t < nTracks; ++t) {
        if (sound[t] == kSilent)
            continue;
        for (const CReferenceChunk& chunk : movie.tracks[sound[t]].chunks)
            totals[t] += chunk.nSamples;
    }
    uint64_t nMisses = 0;
    *pDecisions = 0;
    std::vector<size_t> live;
    while (*pDecisions < kMaxDecisions) {
        // The chunk that comes first in the file among the tracks' next ones.
        size_t nTrack = kSilent;
        uint64_t nOffset = 0;
        for (size_t t = 0; t < nTracks; ++t) {
            if (sound[t] == kSilent || next[t] >= movie.tracks[sound[t]].chunks.size())
                continue;
            const uint64_t nAt = movie.tracks[sound[t]].chunks[next[t]].nOffset;
            if (nTrack == kSilent || nAt < nOffset) {
                nTrack = t;
                nOffset = nAt;
            }
        }
        if (nTrack == kSilent)
            break;
        const uint32_t nSamples = movie.tracks[sound[nTrack]].chunks[next[nTrack]].nSamples;
        ++next[nTrack];
        for (uint32_t i = 0; i < (bChunks ? 1u : nSamples); ++i) {
            live.clear();
            for (size_t t = 0; t < nTracks; ++t) {
                if (sound[t] != kSilent && counts[t] < totals[t])
                    live.push_back(t);
            }
            if (live.size() > 1) {
                ++*pDecisions;
                const size_t nFirst = First(live, counts);
                if (nFirst != nTrack &&
                    Due(nTrack, counts[nTrack]) > Due(nFirst, counts[nFirst]) + Tie())
                    ++nMisses;
            }
            ++counts[nTrack];
        }
        if (bChunks)
            counts[nTrack] += nSamples - 1;
    }
    return nMisses;
}

void CSoundOrder::Learn(const CReferenceMovie& movie, const std::vector<size_t>& sound) {
    m_eLevel = ELevel::None;
    m_tracks.assign(sound.size(), CTrack());
    size_t nSound = 0;
    for (size_t t = 0; t < sound.size(); ++t) {
        if (sound[t] == kSilent)
            continue;
        const CReferenceTrack& track = movie.tracks[sound[t]];
        if (track.nTimescale == 0 || track.nTypicalDuration == 0 || !track.bSteadyDurations)
            continue;
        m_tracks[t].dFrame = double(track.nTypicalDuration) / track.nTimescale;
        ++nSound;
    }
    if (nSound < 2)
        return;
    std::vector<size_t> timed(sound);
    for (size_t t = 0; t < timed.size(); ++t) {
        if (m_tracks[t].dFrame <= 0)
            timed[t] = kSilent;
    }
    // Each track's place on the time line by its edits, else all starting together.
    const std::vector<CTrack> frames = m_tracks;
    std::vector<CTrack> withEdits = frames;
    const std::vector<CTrack>& placed = withEdits;
    for (size_t t = 0; t < timed.size(); ++t) {
        if (timed[t] != kSilent)
            withEdits[t].dOffset = EditOffset(movie, movie.tracks[timed[t]]);
    }
    for (bool bChunks : {false, true}) {
        for (const std::vector<CTrack>* pTracks : {&placed, &frames}) {
            m_tracks = *pTracks;
            uint64_t nDecisions = 0;
            const uint64_t nMisses = Misses(movie, timed, bChunks, &nDecisions);
            if (nDecisions != 0 && nMisses * (bChunks ? 100 : 500) <= nDecisions) {
                m_eLevel = bChunks ? ELevel::Chunk : ELevel::Sample;
                return;
            }
        }
    }
    m_tracks = frames;
}
