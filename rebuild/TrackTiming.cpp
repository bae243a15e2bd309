#include "rebuild/TrackTiming.h"

#include <algorithm>
#include <cmath>

namespace {

const size_t kNone = static_cast<size_t>(-1);
// Chunks of the reference whose times are learnt from: hours of any recording.
const size_t kMaxResiduals = 100000;
// Of the reference's chunks, the share whose times may stray further than the spread learnt.
const double kSpreadQuantile = 0.95;
// Seconds over which the pace of the last pictures is taken for those after the last sound.
const double kTailSeconds = 1.0;
// Pictures decoded after a stretch that may show before the last one decoded ahead of it.
const uint64_t kReorder = 16;
// Pictures before a stretch whose sizes tell what the pictures in it were like.
const uint64_t kRecentPictures = 64;
// Pictures a stretch is taken to have held at most, where nothing else tells: four times what
// its bytes hold at the reference's mean, within this.
const double kMaxGuess = 1e6;

bool IsClock(const CWalkTrack& track, const CReferenceTrack& reference) {
    return reference.nHandler == FourCC("soun") && track.SteadyDurations() &&
           reference.nTypicalDuration != 0 && reference.nTimescale != 0 &&
           (track.Sound() || track.Kind() == EWalkKind::Fixed);
}

} // namespace

CTrackTiming::CTrackTiming(const CReferenceMovie& movie,
                           const std::vector<std::unique_ptr<CWalkTrack>>& tracks,
                           const CMediaWalk& walk)
    : m_movie(movie), m_tracks(tracks), m_walk(walk), m_nClock(kNone) {
    const size_t nTracks = tracks.size();
    const std::vector<CWalkStretch>& stretches = walk.Stretches();
    m_learnt.assign(nTracks, CLearnt());
    m_times.assign(nTracks, CTrackTimes());
    m_lost.assign(stretches.size(), std::vector<uint64_t>(nTracks, 0));
    for (size_t s = 0; s < stretches.size(); ++s) {
        for (size_t t = 0; t < nTracks && t < stretches[s].lost.size(); ++t)
            m_lost[s][t] = stretches[s].lost[t];
    }
    for (size_t t = 0; t < nTracks; ++t) {
        const CReferenceTrack& reference = movie.tracks[tracks[t]->ReferenceIndex()];
        // Samples that all last nothing (GoPro's records) last nothing in the copy too.
        const bool bTimeless = reference.nMediaDuration == 0 && reference.nSamples != 0;
        m_times[t].nDuration = bTimeless ? 0 : std::max<uint32_t>(1, reference.nTypicalDuration);
    }
    ChooseClock();
    CountBefore();
    Learn();
    TimeTracks();
    for (size_t t = 0; t < nTracks; ++t) {
        m_times[t].gaps.resize(stretches.size());
        for (size_t s = 0; s < stretches.size(); ++s)
            m_times[t].gaps[s] = m_lost[s][t];
    }
    PlaceStretches();
}

// The clock: of the sound tracks of steady frames the recording has, the one the reference has
// the most samples of.
void CTrackTiming::ChooseClock() {
    uint32_t nMost = 0;
    for (size_t t = 0; t < m_tracks.size(); ++t) {
        const CReferenceTrack& reference = m_movie.tracks[m_tracks[t]->ReferenceIndex()];
        if (IsClock(*m_tracks[t], reference) && m_tracks[t]->Found() != 0 &&
            reference.nSamples > nMost) {
            nMost = reference.nSamples;
            m_nClock = t;
        }
    }
    if (m_nClock != kNone) {
        const CReferenceTrack& clock = m_movie.tracks[m_tracks[m_nClock]->ReferenceIndex()];
        m_dClockFrame = double(clock.nTypicalDuration) / clock.nTimescale;
    }
}

// Each track's times but the clock's. Pictures first: their order counts tell what damage took,
// and constant-rate pictures then tell what it took of the sound.
void CTrackTiming::TimeTracks() {
    const size_t nTracks = m_tracks.size();
    std::vector<size_t> order;
    for (size_t t = 0; t < nTracks; ++t) {
        if (m_tracks[t]->Pictures())
            order.push_back(t);
    }
    for (size_t t = 0; t < nTracks; ++t) {
        if (!m_tracks[t]->Pictures() && t != m_nClock)
            order.push_back(t);
    }
    std::vector<std::pair<uint64_t, double>> anchors;
    for (size_t t : order) {
        CWalkTrack& track = *m_tracks[t];
        const CReferenceTrack& reference = m_movie.tracks[track.ReferenceIndex()];
        if (track.Pictures())
            LostPictures(t);
        if (m_nClock == kNone || !m_learnt[t].bKnown || track.Found() == 0 ||
            (!track.Confirms() && track.Kind() != EWalkKind::Shaped)) {
            if (t != m_nClock && !reference.bSteadyDurations)
                TimeByReference(t);
            continue;
        }
        const double dDuration = double(reference.nTypicalDuration) / reference.nTimescale;
        if (track.SteadyDurations()) {
            std::vector<std::vector<uint64_t>> lost = m_lost;
            if (track.Pictures() && !LostSound(t, &lost))
                lost = m_lost;
            Anchors(t, lost, &anchors);
            if (KeepsRate(t, anchors, dDuration)) {
                m_lost = lost;
                continue;
            }
        }
        Anchors(t, m_lost, &anchors);
        if (track.SteadyDurations() && TimeByRuns(t, anchors))
            continue;
        uint32_t nSteady = 0;
        if (!track.SteadyDurations() && KeepsSomeRate(t, anchors, &nSteady)) {
            m_times[t].nDuration = nSteady;
            continue;
        }
        TimeBySound(t, anchors);
    }
}

// The track whose time the copy is told in: its video, else its first track found.
size_t CTrackTiming::LeadTrack() const {
    size_t nLead = kNone;
    for (size_t t = 0; t < m_tracks.size() && nLead == kNone; ++t) {
        if (m_tracks[t]->Pictures() && m_tracks[t]->Found() != 0)
            nLead = t;
    }
    for (size_t t = 0; t < m_tracks.size() && nLead == kNone; ++t) {
        if (m_tracks[t]->Found() != 0 && m_tracks[t]->Kind() != EWalkKind::Unknown)
            nLead = t;
    }
    return nLead;
}

// The copy's time at each stretch, and how long the stretch lasted: the lead track's.
void CTrackTiming::PlaceStretches() {
    const std::vector<CWalkStretch>& stretches = m_walk.Stretches();
    const size_t nLead = LeadTrack();
    m_stretchAt.assign(stretches.size(), 0);
    m_stretchSeconds.assign(stretches.size(), 0);
    uint64_t nLeadLost = 0;
    for (size_t s = 0; s < stretches.size(); ++s) {
        m_stretchSeconds[s] = stretches[s].dSeconds;
        if (nLead == kNone)
            continue;
        const CReferenceTrack& lead = m_movie.tracks[m_tracks[nLead]->ReferenceIndex()];
        const CTrackTimes& times = m_times[nLead];
        const uint64_t nBefore = m_before[s][nLead];
        const uint64_t nVirtual = nBefore + nLeadLost;
        nLeadLost += m_lost[s][nLead];
        if (times.times.empty()) {
            m_stretchAt[s] = double(nVirtual) * times.nDuration / lead.nTimescale;
            if (m_lost[s][nLead] != 0)
                m_stretchSeconds[s] = double(m_lost[s][nLead]) * times.nDuration / lead.nTimescale;
        } else if (nBefore < times.times.size()) {
            // The gap is in the duration of the sample before it.
            m_stretchAt[s] = double(times.times[nBefore]) / lead.nTimescale;
            if (nBefore > 0 && m_lost[s][nLead] != 0) {
                const double dBefore =
                    double(times.times[nBefore] - times.times[nBefore - 1]) / lead.nTimescale;
                m_stretchSeconds[s] =
                    dBefore * double(m_lost[s][nLead]) / double(m_lost[s][nLead] + 1);
                m_stretchAt[s] -= m_stretchSeconds[s];
            }
        }
    }
}

// Samples of each track found before each stretch.
void CTrackTiming::CountBefore() {
    const std::vector<CWalkStretch>& stretches = m_walk.Stretches();
    const std::vector<CWalkChunk>& chunks = m_walk.Chunks();
    m_before.assign(stretches.size(), std::vector<uint64_t>(m_tracks.size(), 0));
    std::vector<uint64_t> counts(m_tracks.size(), 0);
    size_t k = 0;
    for (size_t s = 0; s < stretches.size(); ++s) {
        for (; k < chunks.size() && k < stretches[s].nChunks; ++k) {
            if (chunks[k].nTrack < counts.size())
                counts[chunks[k].nTrack] += chunks[k].nSamples;
        }
        m_before[s] = counts;
    }
}

// From the reference: for each track, when its chunks are decoded against the clock's frames
// written before them, half a frame back (the chunk came between that frame and the next).
void CTrackTiming::Learn() {
    if (m_nClock == kNone)
        return;
    const size_t nTracks = m_tracks.size();
    std::vector<const CReferenceTrack*> references(nTracks);
    for (size_t t = 0; t < nTracks; ++t)
        references[t] = &m_movie.tracks[m_tracks[t]->ReferenceIndex()];
    // Sized after construction: i686 GCC 12 sees a free of a non-heap pointer in the other form.
    std::vector<size_t> next;
    next.resize(nTracks);
    std::vector<std::vector<double>> residuals(nTracks), lastResiduals(nTracks);
    // Per track, the gaps between its chunks, those with sound in them, and the sound before
    // its last chunk.
    std::vector<uint64_t> gaps(nTracks, 0), soundGaps(nTracks, 0), soundBefore(nTracks, 0);
    std::vector<bool> seen(nTracks, false);
    uint64_t nClock = 0;
    size_t nSeen = 0;
    for (;;) {
        // The chunk that comes first in the file among the tracks' next ones.
        size_t nTrack = kNone;
        uint64_t nOffset = 0;
        for (size_t t = 0; t < nTracks; ++t) {
            if (next[t] >= references[t]->chunks.size())
                continue;
            const uint64_t nAt = references[t]->chunks[next[t]].nOffset;
            if (nTrack == kNone || nAt < nOffset) {
                nTrack = t;
                nOffset = nAt;
            }
        }
        if (nTrack == kNone || ++nSeen > 4 * kMaxResiduals)
            break;
        const CReferenceChunk& chunk = references[nTrack]->chunks[next[nTrack]++];
        if (nTrack == m_nClock) {
            nClock += chunk.nSamples;
            continue;
        }
        if (seen[nTrack]) {
            ++gaps[nTrack];
            soundGaps[nTrack] += nClock > soundBefore[nTrack] ? 1 : 0;
        }
        seen[nTrack] = true;
        soundBefore[nTrack] = nClock;
        if (nClock == 0 || residuals[nTrack].size() >= kMaxResiduals ||
            references[nTrack]->nTimescale == 0)
            continue;
        const double dClock = (double(nClock) - 0.5) * m_dClockFrame;
        residuals[nTrack].push_back(double(chunk.nTime) / references[nTrack]->nTimescale - dClock);
        lastResiduals[nTrack].push_back(double(chunk.nLastTime) / references[nTrack]->nTimescale -
                                        dClock);
    }
    // The typical residual and how far the residuals stray from it.
    auto spread = [](std::vector<double>& r, double* pOffset) {
        std::vector<double> sorted(r);
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        *pOffset = sorted[sorted.size() / 2];
        for (double& d : r)
            d = std::fabs(d - *pOffset);
        const size_t nQuantile = static_cast<size_t>(double(r.size() - 1) * kSpreadQuantile);
        std::nth_element(r.begin(), r.begin() + nQuantile, r.end());
        return r[nQuantile];
    };
    for (size_t t = 0; t < nTracks; ++t) {
        // Where the sound comes before or after all the track's chunks, what was written
        // before them tells nothing of their times.
        if (residuals[t].size() < 3 || 2 * soundGaps[t] < gaps[t])
            continue;
        CLearnt& learnt = m_learnt[t];
        learnt.dSpread = spread(residuals[t], &learnt.dOffset);
        double dLastOffset = 0;
        const double dLastSpread = spread(lastResiduals[t], &dLastOffset);
        if (dLastSpread < learnt.dSpread) {
            learnt.dSpread = dLastSpread;
            learnt.dOffset = dLastOffset;
            learnt.bLast = true;
        }
        learnt.bKnown = true;
    }
}

// Pictures a stretch took, by the holes it left in their order counts: known where the
// picture after it continues the count (no key frame began it anew). B-frames shown before the
// last picture decoded ahead of the stretch leave their holes below it, so holes are counted
// up to the pictures decoded soon after it.
void CTrackTiming::LostPictures(size_t t) {
    const CPictureOrder* pOrder = m_tracks[t]->Order();
    const std::vector<CWalkStretch>& stretches = m_walk.Stretches();
    m_times[t].visible.assign(stretches.size(), 0);
    m_known.assign(stretches.size(), false);
    if (!pOrder || stretches.empty() || pOrder->Count() == 0)
        return;
    uint32_t nShift = 0;
    const std::vector<uint32_t> offsets = pOrder->CompositionOffsets(0, &nShift);
    const size_t nCount = offsets.size();
    std::vector<uint64_t> display(nCount);
    uint64_t nLast = 0;
    for (size_t i = 0; i < nCount; ++i) {
        display[i] = uint64_t(offsets[i]) + i - nShift;
        nLast = std::max(nLast, display[i]);
    }
    std::vector<uint8_t> taken(static_cast<size_t>(nLast) + 1, 0);
    for (uint64_t slot : display)
        taken[static_cast<size_t>(slot)] = 1;
    std::vector<uint32_t> holes(static_cast<size_t>(nLast) + 2, 0); // holes below each slot
    for (size_t slot = 0; slot <= nLast; ++slot)
        holes[slot + 1] = holes[slot] + (taken[slot] ? 0 : 1);
    const std::vector<size_t>& periods = pOrder->PeriodStarts();
    uint64_t nCounted = 0, nUpTo = 0;
    size_t nSeen = 0;
    for (size_t s = 0; s < stretches.size(); ++s) {
        const uint64_t b = m_before[s][t];
        if (b == 0 || b >= nCount)
            continue;
        for (; nSeen < std::min<uint64_t>(nCount, b + kReorder); ++nSeen)
            nUpTo = std::max(nUpTo, display[nSeen]);
        const uint64_t nHoles = holes[static_cast<size_t>(nUpTo) + 1];
        const uint64_t nHere = nHoles > nCounted ? nHoles - nCounted : 0;
        nCounted = std::max(nCounted, nHoles);
        m_times[t].visible[s] = nHere;
        if (std::find(periods.begin(), periods.end(), static_cast<size_t>(b)) != periods.end())
            continue;
        m_lost[s][t] = nHere;
        m_known[s] = true;
    }
}

// For each stretch, the typical size of the pictures just before it: the median of the last
// ones, which key frames do not sway. One pass over the sizes.
std::vector<double> CTrackTiming::RecentPictureBytes(size_t t) const {
    std::vector<double> typical(m_before.size(), 0);
    std::vector<uint32_t> recent(kRecentPictures, 0), sorted;
    uint64_t nAt = 0;
    size_t s = 0;
    auto note = [&]() {
        for (; s < m_before.size() && m_before[s][t] <= nAt; ++s) {
            const size_t nHave = static_cast<size_t>(std::min<uint64_t>(nAt, kRecentPictures));
            if (nHave == 0)
                continue;
            sorted.assign(recent.begin(), recent.begin() + static_cast<std::ptrdiff_t>(nHave));
            std::nth_element(sorted.begin(), sorted.begin() + nHave / 2, sorted.end());
            typical[s] = sorted[nHave / 2];
        }
    };
    for (const CSampleSizes::CRun& run : m_tracks[t]->Sizes().Runs()) {
        for (uint32_t i = 0; i < run.nCount && s < m_before.size(); ++i) {
            note();
            recent[static_cast<size_t>(nAt % kRecentPictures)] = run.nSize;
            ++nAt;
        }
    }
    note();
    return typical;
}

// What stretches took of the sound, when the pictures keep a constant rate: the first
// picture after each is due when the sound before it says, as the reference shows. Where the
// order counts do not tell the pictures a stretch took, they and the sound are what fits both
// that and the stretch's bytes best, at the reference's mean sample sizes.
bool CTrackTiming::LostSound(size_t nVideo, std::vector<std::vector<uint64_t>>* pLost) const {
    if (m_nClock == kNone || !m_learnt[nVideo].bKnown)
        return false;
    const CReferenceTrack& video = m_movie.tracks[m_tracks[nVideo]->ReferenceIndex()];
    const CReferenceTrack& clock = m_movie.tracks[m_tracks[m_nClock]->ReferenceIndex()];
    const double dPicture = double(video.nTypicalDuration) / video.nTimescale;
    const CPictureOrder* pOrder = m_tracks[nVideo]->Order();
    const std::vector<double> pictureBytes = RecentPictureBytes(nVideo);
    const double dFrameBytes =
        clock.nSamples ? double(clock.nTotalSampleBytes) / clock.nSamples : 0;
    const std::vector<CWalkStretch>& stretches = m_walk.Stretches();
    const std::vector<CWalkChunk>& chunks = m_walk.Chunks();
    std::vector<std::vector<uint64_t>>& lost = *pLost;
    uint64_t nClock = 0, nLostClock = 0, nLostPictures = 0;
    size_t k = 0;
    for (size_t s = 0; s < stretches.size(); ++s) {
        // The first picture at or after the stretch, with the sound found before it.
        for (; k < chunks.size() && (k < stretches[s].nChunks || chunks[k].nTrack != nVideo); ++k) {
            if (chunks[k].nTrack == m_nClock)
                nClock += chunks[k].nSamples;
        }
        if (k == chunks.size())
            break;
        // Frames of sound due before the picture once nPictures pictures are counted lost.
        auto soundFor = [&](uint64_t nPictures) {
            const double dDue =
                double(chunks[k].nFirstSample + nLostPictures + nPictures) * dPicture;
            return static_cast<int64_t>(
                       std::floor((dDue - m_learnt[nVideo].dOffset) / m_dClockFrame + 1.0)) -
                   int64_t(nClock) - int64_t(nLostClock);
        };
        // Of the counts of pictures the stretch may have held, the one whose pictures (at the
        // size of those before it) and sound (at the reference's) fit its bytes best, where
        // the pictures' order counts do not tell.
        const double dBytes = double(stretches[s].nEnd - stretches[s].nOffset);
        const double dPictureBytes = pictureBytes[s];
        // Counts tell only of a stretch too short to have held more pictures than they wrap
        // after.
        const uint64_t nWrap = pOrder ? std::max<uint64_t>(1, pOrder->WrapPictures()) : 1;
        const bool bKnown =
            !m_known.empty() && m_known[s] && dBytes < double(nWrap) * dPictureBytes / 2;
        const uint64_t nMost = static_cast<uint64_t>(
            std::min(kMaxGuess, 4 * dBytes / std::max(1.0, dPictureBytes) + 64));
        uint64_t nPictures = lost[s][nVideo];
        double dBest = -1;
        for (uint64_t n = 0; n <= nMost && !bKnown; ++n) {
            const int64_t nSound = soundFor(n);
            if (nSound < 0)
                continue;
            const double dOff =
                std::fabs(dBytes - double(n) * dPictureBytes - double(nSound) * dFrameBytes);
            if (dBest < 0 || dOff < dBest) {
                dBest = dOff;
                nPictures = n;
            }
        }
        lost[s][nVideo] = nPictures;
        const int64_t nHere = soundFor(nPictures);
        lost[s][m_nClock] = nHere > 0 ? uint64_t(nHere) : 0;
        nLostClock += lost[s][m_nClock];
        nLostPictures += nPictures;
        // Other sound of steady frames: the time the pictures say.
        for (size_t t = 0; t < m_tracks.size(); ++t) {
            const CWalkTrack& track = *m_tracks[t];
            if (t == m_nClock || !track.Sound() || track.SampleSeconds() <= 0)
                continue;
            lost[s][t] = static_cast<uint64_t>(
                std::floor(double(nPictures) * dPicture / track.SampleSeconds() + 0.5));
        }
    }
    return true;
}

void CTrackTiming::Anchors(size_t t, const std::vector<std::vector<uint64_t>>& lost,
                           std::vector<std::pair<uint64_t, double>>* pAnchors) const {
    pAnchors->clear();
    const std::vector<CWalkStretch>& stretches = m_walk.Stretches();
    const std::vector<CWalkChunk>& chunks = m_walk.Chunks();
    uint64_t nClock = 0, nLost = 0;
    size_t s = 0;
    for (size_t k = 0; k < chunks.size(); ++k) {
        for (; s < stretches.size() && stretches[s].nChunks <= k; ++s) {
            nClock += lost[s][m_nClock];
            nLost += lost[s][t];
        }
        const CWalkChunk& chunk = chunks[k];
        if (chunk.nTrack == m_nClock) {
            nClock += chunk.nSamples;
        } else if (chunk.nTrack == t && nClock != 0) {
            const uint64_t nSample =
                chunk.nFirstSample + (m_learnt[t].bLast ? chunk.nSamples - 1 : 0);
            pAnchors->emplace_back(nSample + nLost,
                                   (double(nClock) - 0.5) * m_dClockFrame + m_learnt[t].dOffset);
        }
    }
}

// Whether the track's chunks came when samples of dDuration each would have them, within what
// the reference's own chunks stray.
bool CTrackTiming::KeepsRate(size_t t, const std::vector<std::pair<uint64_t, double>>& anchors,
                             double dDuration) const {
    const double dTolerance =
        std::max(m_learnt[t].dSpread, m_dClockFrame / 2) + m_dClockFrame / 2 + 0.002;
    for (const std::pair<uint64_t, double>& anchor : anchors) {
        if (std::fabs(anchor.second - double(anchor.first) * dDuration) > dTolerance)
            return false;
    }
    return true;
}

// A reference of variable rate, a recording that keeps one: the rate its chunks' times show,
// the standard rate nearest to it where there is one.
bool CTrackTiming::KeepsSomeRate(size_t t, const std::vector<std::pair<uint64_t, double>>& anchors,
                                 uint32_t* pDuration) const {
    if (anchors.size() < 3)
        return false;
    double dSumV = 0, dSumS = 0, dSumVV = 0, dSumVS = 0;
    for (const std::pair<uint64_t, double>& anchor : anchors) {
        const double v = double(anchor.first);
        dSumV += v;
        dSumS += anchor.second;
        dSumVV += v * v;
        dSumVS += v * anchor.second;
    }
    const double n = double(anchors.size());
    const double dDenominator = n * dSumVV - dSumV * dSumV;
    if (dDenominator <= 0)
        return false;
    const double dSlope = (n * dSumVS - dSumV * dSumS) / dDenominator;
    const double dScale = m_movie.tracks[m_tracks[t]->ReferenceIndex()].nTimescale;
    static const double kRates[] = {
        24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 48, 50, 60000.0 / 1001, 60, 100, 120};
    std::vector<double> ticks;
    for (double dRate : kRates) {
        const double dTicks = dScale / dRate;
        if (std::fabs(dTicks - std::floor(dTicks + 0.5)) < 1e-6 &&
            std::fabs(dTicks / (dSlope * dScale) - 1) < 0.01)
            ticks.push_back(std::floor(dTicks + 0.5));
    }
    ticks.push_back(std::floor(dSlope * dScale + 0.5));
    for (double dTicks : ticks) {
        if (dTicks >= 1 && dTicks <= 0xFFFFFFFFu && KeepsRate(t, anchors, dTicks / dScale)) {
            *pDuration = static_cast<uint32_t>(dTicks);
            return true;
        }
    }
    return false;
}

// The reference's rate, kept between pauses (a camera that stalls, a recorder that drops
// pictures): runs of chunks that come when samples of the reference's duration would have them,
// each at its own phase, which the sound tells to within a tick or two over the run. The first
// run starts at 0; a pause ends a run where the next chunk and the one after it come later than
// the run's rate says. False where the chunks keep no such runs (variable frame rate).
bool CTrackTiming::TimeByRuns(size_t t, const std::vector<std::pair<uint64_t, double>>& anchors) {
    const CWalkTrack& track = *m_tracks[t];
    const CReferenceTrack& reference = m_movie.tracks[track.ReferenceIndex()];
    const uint64_t nFound = track.Found();
    if (anchors.size() < 3 || reference.nTypicalDuration == 0 || nFound == 0)
        return false;
    const double dScale = reference.nTimescale;
    const double dDuration = double(reference.nTypicalDuration) / dScale;
    const double dTolerance =
        std::max(m_learnt[t].dSpread, m_dClockFrame / 2) + m_dClockFrame / 2 + 0.002;
    struct CRun {
        uint64_t nFirst = 0; // the first sample (virtual) in it
        std::vector<double> phases;
    };
    std::vector<CRun> runs(1);
    size_t nStray = 0;
    double dPhase = 0;
    for (size_t a = 0; a < anchors.size(); ++a) {
        const double dHere = anchors[a].second - double(anchors[a].first) * dDuration;
        if (std::fabs(dHere - dPhase) <= dTolerance) {
            runs.back().phases.push_back(dHere);
            continue;
        }
        // A pause: the next chunk keeps the new phase. Anything else is a chunk written late.
        const bool bNext =
            a + 1 < anchors.size() &&
            std::fabs(anchors[a + 1].second - double(anchors[a + 1].first) * dDuration - dHere) <=
                dTolerance;
        if (!bNext || dHere < dPhase || runs.back().phases.size() < 2) {
            ++nStray;
            continue;
        }
        CRun run;
        // The run begins with the chunk: at its first sample, or after the chunk before.
        run.nFirst = m_learnt[t].bLast ? anchors[a - 1].first + 1 : anchors[a].first;
        if (a == 0 || run.nFirst <= runs.back().nFirst)
            return false;
        run.phases.push_back(dHere);
        runs.push_back(run);
        dPhase = dHere;
    }
    if (runs.size() < 2 || 10 * nStray > anchors.size())
        return false;
    uint64_t nVirtual = nFound;
    for (size_t s = 0; s < m_lost.size(); ++s)
        nVirtual += m_lost[s][t];
    // Each run's phase in ticks: the first's is 0, the others' the middle of the range their
    // chunks' take (a chunk lies anywhere within a frame of sound, evenly), less the first
    // run's (what the clock's chunks stray by the same way in every run).
    std::vector<double> middles(runs.size(), 0);
    for (size_t r = 0; r < runs.size(); ++r) {
        const std::vector<double>& p = runs[r].phases;
        const auto range = std::minmax_element(p.begin(), p.end());
        middles[r] = (*range.first + *range.second) / 2;
    }
    std::vector<uint64_t> phases(runs.size(), 0);
    for (size_t r = 1; r < runs.size(); ++r)
        phases[r] = static_cast<uint64_t>(
            std::floor(std::max(0.0, middles[r] - middles[0]) * dScale + 0.5));
    const uint64_t nTicks = reference.nTypicalDuration;
    CTrackTimes& times = m_times[t];
    times.times.resize(static_cast<size_t>(nFound) + 1);
    size_t r = 0, s = 0;
    uint64_t nLost = 0, nPrevious = 0;
    auto at = [&](uint64_t v) {
        while (r + 1 < runs.size() && runs[r + 1].nFirst <= v)
            ++r;
        return std::max(v == 0 ? 0 : nPrevious + 1, phases[r] + v * nTicks);
    };
    for (uint64_t i = 0; i < nFound; ++i) {
        for (; s < m_lost.size() && m_before[s][t] <= i; ++s)
            nLost += m_lost[s][t];
        nPrevious = at(i + nLost);
        times.times[static_cast<size_t>(i)] = nPrevious;
    }
    times.times[static_cast<size_t>(nFound)] = at(std::max(nVirtual, nFound + nLost));
    return true;
}

// Each sample's time from the clock: between the anchors of two chunks, evenly; after the last,
// at the pace of the last second.
void CTrackTiming::TimeBySound(size_t t, const std::vector<std::pair<uint64_t, double>>& anchors) {
    const CWalkTrack& track = *m_tracks[t];
    const CReferenceTrack& reference = m_movie.tracks[track.ReferenceIndex()];
    const double dScale = reference.nTimescale;
    const uint64_t nFound = track.Found();
    uint64_t nVirtual = nFound;
    for (size_t s = 0; s < m_lost.size(); ++s)
        nVirtual += m_lost[s][t];
    // Anchors in ticks, rising by a tick a sample at least; the first sample at 0.
    std::vector<std::pair<uint64_t, uint64_t>> points(1, std::make_pair(uint64_t(0), uint64_t(0)));
    for (const std::pair<uint64_t, double>& anchor : anchors) {
        if (anchor.first >= nVirtual || anchor.second <= 0)
            continue;
        const uint64_t nTicks = static_cast<uint64_t>(std::floor(anchor.second * dScale + 0.5));
        const std::pair<uint64_t, uint64_t>& last = points.back();
        if (anchor.first <= last.first || nTicks < last.second + (anchor.first - last.first))
            continue;
        points.emplace_back(anchor.first, nTicks);
    }
    // The pace after the last anchor.
    double dTail = reference.nTypicalDuration;
    if (points.size() >= 2) {
        size_t j = points.size() - 2;
        while (j > 0 && double(points.back().second - points[j].second) < kTailSeconds * dScale)
            --j;
        dTail = double(points.back().second - points[j].second) /
                double(points.back().first - points[j].first);
    }
    dTail = std::max(1.0, dTail);
    std::vector<uint64_t> virtualTimes(static_cast<size_t>(nVirtual) + 1);
    for (size_t p = 0; p < points.size(); ++p) {
        const uint64_t nFrom = points[p].first;
        const uint64_t nTo = p + 1 < points.size() ? points[p + 1].first : nVirtual + 1;
        const double dStep =
            p + 1 < points.size()
                ? double(points[p + 1].second - points[p].second) / double(nTo - nFrom)
                : dTail;
        for (uint64_t v = nFrom; v < nTo && v <= nVirtual; ++v)
            virtualTimes[static_cast<size_t>(v)] =
                points[p].second +
                static_cast<uint64_t>(std::floor(dStep * double(v - nFrom) + 0.5));
    }
    // The samples found, at their places among those the stretches took.
    CTrackTimes& times = m_times[t];
    times.times.resize(static_cast<size_t>(nFound) + 1);
    uint64_t nLost = 0;
    size_t s = 0;
    for (uint64_t i = 0; i < nFound; ++i) {
        for (; s < m_lost.size() && m_before[s][t] <= i; ++s)
            nLost += m_lost[s][t];
        times.times[static_cast<size_t>(i)] = virtualTimes[static_cast<size_t>(i + nLost)];
    }
    times.times[static_cast<size_t>(nFound)] =
        nFound == 0 ? 0 : virtualTimes[static_cast<size_t>(nFound - 1 + nLost + 1)];
}

// Durations that vary, where nothing in the recording tells its times: the reference's own, one
// by one (a recorder that changes its rate at the same place each time, a Live Photo's), then
// what they last most often. Samples the stretches took keep their places.
void CTrackTiming::TimeByReference(size_t t) {
    const CWalkTrack& track = *m_tracks[t];
    const std::vector<uint32_t>& durations = m_movie.tracks[track.ReferenceIndex()].leadDurations;
    const uint64_t nFound = track.Found();
    if (durations.empty() || nFound == 0)
        return;
    const uint64_t nDuration = m_times[t].nDuration;
    uint64_t nTime = 0, nVirtual = 0;
    auto advance = [&](uint64_t nTo) {
        for (; nVirtual < nTo && nVirtual < durations.size(); ++nVirtual)
            nTime += durations[static_cast<size_t>(nVirtual)];
        if (nVirtual < nTo) {
            nTime += (nTo - nVirtual) * nDuration;
            nVirtual = nTo;
        }
    };
    CTrackTimes& times = m_times[t];
    times.times.resize(static_cast<size_t>(nFound) + 1);
    uint64_t nLost = 0;
    size_t s = 0;
    for (uint64_t i = 0; i < nFound; ++i) {
        for (; s < m_lost.size() && m_before[s][t] <= i; ++s)
            nLost += m_lost[s][t];
        advance(i + nLost);
        times.times[static_cast<size_t>(i)] = nTime;
    }
    advance(nFound + nLost);
    times.times[static_cast<size_t>(nFound)] = nTime;
}
