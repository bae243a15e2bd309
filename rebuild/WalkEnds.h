// The walk's steps for samples whose syntax does not pin where they end: pictures of Motion JPEG
// and H.263, and chunks of PCM, which only the samples around them bound; and AMR frames, whose
// header byte alone is little to go by. Each false only on an error.
#pragma once

#include "media/MediaStart.h"
#include "rebuild/InterleaveModel.h"
#include "rebuild/WalkReader.h"
#include "rebuild/WalkTrack.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CWalkEnds {
public:
    CWalkEnds(CWalkReader& reader, const CMediaRange& range,
              std::vector<std::unique_ptr<CWalkTrack>>& tracks, CInterleaveModel& model);

    // A picture's end: past its padding, or before other tracks' samples; bRunEnds when the
    // interleaving has the track's chunk end with it.
    bool SettlePicture(size_t nTrack, uint64_t nAt, bool bRunEnds, CTrackTry* pTry);
    // An AMR frame at nAt: of the track predicted, else where more frames follow.
    bool FindSpeech(uint64_t nAt, size_t nPreferred, size_t* pTrack, CTrackTry* pTry, bool* pCut);
    // A chunk of PCM: as long as predicted, or as the reference's chunks often are, where a known
    // sample follows; where bPredicted (the interleaving has it here), also one the data's end
    // cuts off.
    bool TryPcmChunk(size_t nTrack, uint64_t nAt, uint32_t nRunLeft, bool bPredicted,
                     CTrackTry* pTry);

private:
    // Whether a sample may end at nAt: the data ends there, known samples follow, or the
    // chunks the reference wrote next (from the nAhead-th after the one predicted last, at most
    // nHops of them) of fixed-size samples or PCM lead to known samples.
    bool FollowsAt(uint64_t nAt, size_t nAhead, int nHops, bool* pYes);
    // Whether a chunk of PCM of a size the reference often has lies at nAt, known samples after.
    bool PcmChunkFollows(uint64_t nAt, bool* pYes);
    // Whether a picture begins at nAt that the data's end cuts off.
    bool PictureCutAt(uint64_t nAt, bool* pYes);
    // For each position of [nFrom, nTo), into m_soundRuns: how many sound frames of other tracks
    // than nOwn follow one another from it exactly to nTo (the last may be cut off where the data
    // ends), and whether the first two are of one track and AMR mode. Tried from the end back,
    // each position once.
    bool SoundRunsTo(uint64_t nFrom, uint64_t nTo, size_t nOwn);

    CWalkReader& m_reader;
    CMediaRange m_range;
    std::vector<std::unique_ptr<CWalkTrack>>& m_tracks;
    CInterleaveModel& m_model;
    uint64_t m_nSplitReach = 0; // how far before an H.263 picture's next start code other
                                // tracks' samples may begin
    struct CSoundRun {
        int32_t nCount = -1; // frames to the end, -1 when they do not reach it
        size_t nTrack = 0;
        uint8_t nHeader = 0;
        bool bAlike = false;
    };
    std::vector<CSoundRun> m_soundRuns;
};
