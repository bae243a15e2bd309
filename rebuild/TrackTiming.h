// When the copy's samples are decoded. Sound whose frames last a fixed time is the recording's
// clock: the reference shows how the chunks of every other track stand to the sound written
// before them, so a recording of variable frame rate gets each picture's time from the sound
// around it and no drift builds up, while pictures that keep the reference's constant rate keep
// it exactly. A track the sound does not interleave with (a Live Photo writes all its sound
// first) keeps the reference's own durations. Across a stretch left out, each track goes on after
// the time the stretch took: told for pictures by their order counts, for sound by the pictures
// beside it, else by the recording's bytes a second.
#pragma once

#include "rebuild/MediaWalk.h"
#include "rebuild/ReferenceMovie.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct CTrackTimes {
    uint32_t nDuration = 0;        // of each sample, in the track's timescale, where times is empty
    std::vector<uint64_t> times;   // else when each sample is decoded, then when the last ends
    std::vector<uint64_t> gaps;    // per stretch left out, the samples it took of the track
    std::vector<uint64_t> visible; // of pictures, those that their order counts show missing
};

class CTrackTiming {
public:
    CTrackTiming(const CReferenceMovie& movie,
                 const std::vector<std::unique_ptr<CWalkTrack>>& tracks, const CMediaWalk& walk);

    const CTrackTimes& Times(size_t nTrack) const { return m_times[nTrack]; }
    // Where in the copy a stretch left out was (the lead track's seconds), and how long it was.
    double StretchAt(size_t nStretch) const { return m_stretchAt[nStretch]; }
    double StretchSeconds(size_t nStretch) const { return m_stretchSeconds[nStretch]; }

private:
    struct CLearnt {
        double dOffset = 0; // the track's chunk times less the clock's, typically
        double dSpread = 0; // how far they stray from that
        bool bLast = false; // the time is its last sample's (a writer that writes a chunk
                            // when its last sample is due)
        // Learnt, from sound that interleaves with the track's chunks.
        bool bKnown = false;
    };
    void ChooseClock();
    void Learn();
    void CountBefore();
    void TimeTracks();
    size_t LeadTrack() const;
    void PlaceStretches();
    void LostPictures(size_t t);
    bool LostSound(size_t nVideo, std::vector<std::vector<uint64_t>>* pLost) const;
    std::vector<double> RecentPictureBytes(size_t t) const;
    // The clock's anchors for track t's chunks: virtual sample index and seconds.
    void Anchors(size_t t, const std::vector<std::vector<uint64_t>>& lost,
                 std::vector<std::pair<uint64_t, double>>* pAnchors) const;
    bool KeepsRate(size_t t, const std::vector<std::pair<uint64_t, double>>& anchors,
                   double dDuration) const;
    bool KeepsSomeRate(size_t t, const std::vector<std::pair<uint64_t, double>>& anchors,
                       uint32_t* pDuration) const;
    bool TimeByRuns(size_t t, const std::vector<std::pair<uint64_t, double>>& anchors);
    void TimeBySound(size_t t, const std::vector<std::pair<uint64_t, double>>& anchors);
    void TimeByReference(size_t t);

    const CReferenceMovie& m_movie;
    const std::vector<std::unique_ptr<CWalkTrack>>& m_tracks;
    const CMediaWalk& m_walk;
    size_t m_nClock;
    double m_dClockFrame = 0;
    std::vector<CLearnt> m_learnt;
    // Per stretch, per track: samples found before it, and samples it took.
    std::vector<std::vector<uint64_t>> m_before, m_lost;
    std::vector<bool> m_known; // per stretch, whether the pictures' order counts tell its loss
    std::vector<CTrackTimes> m_times;
    std::vector<double> m_stretchAt, m_stretchSeconds;
};
