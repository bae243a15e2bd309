// The order in which a recorder writes the frames of its sound tracks, learnt from the
// reference: recorders write by time (ffmpeg and OBS each frame, a phone's writer each chunk),
// so the next sound of a recording belongs to the track whose time is furthest behind. Tracks
// whose frames parse alike (two at one sample rate, or 48 and 44.1 kHz) are told apart by it.
#pragma once

#include "rebuild/ReferenceMovie.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CSoundOrder {
public:
    enum class ELevel {
        None,   // the reference's sound is not written in time order
        Sample, // each frame of the track furthest behind
        Chunk,  // each chunk of the track furthest behind
    };

    // The walk's tracks by their reference tracks (nReference), kSilent for those that are not
    // sound of a fixed frame duration.
    static const size_t kSilent = static_cast<size_t>(-1);
    void Learn(const CReferenceMovie& movie, const std::vector<size_t>& sound);

    ELevel Level() const { return m_eLevel; }
    bool IsSound(size_t nTrack) const {
        return nTrack < m_tracks.size() && m_tracks[nTrack].dFrame > 0;
    }
    // When the next frame of a track is due, in seconds of the recording, after nCount frames.
    double Due(size_t nTrack, uint64_t nCount) const;
    // Of candidate tracks, the one whose frame is due first (the lowest of a tie).
    size_t First(const std::vector<size_t>& candidates, const std::vector<uint64_t>& counts) const;
    // Seconds within which two tracks' frames are due together.
    static double Tie() { return 1e-6; }

private:
    struct CTrack {
        double dFrame = 0;  // a frame's duration
        double dOffset = 0; // when its first frame is due
    };
    // Frames (or, bChunks, chunk starts) of the reference that the rule gets wrong.
    uint64_t Misses(const CReferenceMovie& movie, const std::vector<size_t>& sound, bool bChunks,
                    uint64_t* pDecisions) const;

    std::vector<CTrack> m_tracks;
    ELevel m_eLevel = ELevel::None;
};
