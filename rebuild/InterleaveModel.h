// How a recording's writer interleaves its tracks' chunks, learnt from the reference: before
// each of its chunks, how far each track had come (in seconds, relative to the first track),
// and which track's chunk followed, with how many samples. A writer decides from the tracks'
// times, so the same state in another recording with the same settings predicts the same next
// chunk, even past the reference's length.
#pragma once

#include "rebuild/ReferenceMovie.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CInterleaveModel {
public:
    // Tracks in the order the walk numbers them; dSampleSeconds is one sample's duration.
    // A track with few chunks (a timecode's single sample) is predicted at most as many
    // samples as the reference has. One whose samples last irregularly (subtitles) does not
    // count among the tracks' times: it comes where the reference had it. The chunks are
    // the reference's, which must outlive the model.
    void AddTrack(double dSampleSeconds, const std::vector<CReferenceChunk>& chunks, bool bSteady);
    void Build();

    struct CPrediction {
        int nTrack = -1;
        uint32_t nSamples = 0;
    };
    // The chunk that came next in the reference where the tracks stood as counts says. A walk
    // that keeps to no pattern of the reference would have every state looked at for each
    // sample: the states are looked at in full only while that has cost no more than a
    // little for each of the nWalked bytes the walk has come, else only those that followed
    // the last state predicted.
    CPrediction Predict(const std::vector<uint64_t>& counts, uint64_t nWalked);
    // The chunk that came nAhead chunks after the one last predicted in the reference (none
    // past its end): what a writer that keeps to its pattern writes next.
    CPrediction Following(size_t nAhead) const;

    // The largest lead or lag of a track against the first one at any chunk boundary of the
    // reference, in seconds: how far apart a recording's tracks may be without a mismatch.
    double MaxSpread(size_t nTrack) const;
    // The longest chunk of a track, in seconds.
    double MaxChunkSeconds(size_t nTrack) const;

private:
    struct CTrack {
        double dSampleSeconds = 0;
        const std::vector<CReferenceChunk>* pChunks = nullptr;
        bool bPeriodic = true;
        bool bTimed = true;   // periodic and steady: part of the state
        uint64_t nBudget = 0; // samples of a track that is not periodic
        double dMaxSpread = 0;
        double dMaxChunk = 0;
    };
    struct CState {
        double dLead = 0; // track 0's seconds
        int nTrack = 0;
        uint32_t nSamples = 0;
    };

    // Per state, per timed track: seconds ahead of track 0.
    const double* Relative(size_t nState) const { return m_relative.data() + nState * m_nTimed; }
    void RelativeOf(const std::vector<uint64_t>& counts, std::vector<double>* pRelative) const;
    // The state nearest to relative among [nFrom, nTo); false if the range is empty.
    bool Nearest(size_t nFrom, size_t nTo, const std::vector<double>& relative, double dLead,
                 size_t* pBest) const;

    std::vector<CTrack> m_tracks;
    std::vector<CState> m_states;
    std::vector<double> m_relative;
    size_t m_nTimed = 0;
    size_t m_nLast = 0;
    bool m_bLast = false;
    uint64_t m_nScanned = 0; // state values looked at by searches of every state
    std::vector<double> m_query;
};
