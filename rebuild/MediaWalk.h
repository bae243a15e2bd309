// The walk through a broken recording's media data: from the first byte of mdat's payload it
// assigns one sample after another to a track, the reference's interleaving predicting which
// track comes next and each track's bitstream confirming it, until the data ends or stops
// making sense. Past damage (zeros, garbage, a damaged frame) it finds the next sample that
// further samples confirm and goes on. Bytes are read once, in large blocks; a sink receives
// them, in order, up to where the walk stopped, less the stretches it left out.
#pragma once

#include "media/ByteSource.h"
#include "rebuild/InterleaveModel.h"
#include "media/MediaStart.h"
#include "rebuild/SoundOrder.h"
#include "rebuild/WalkEnds.h"
#include "rebuild/WalkReader.h"
#include "rebuild/WalkTrack.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct CWalkChunk {
    uint64_t nOffset = 0; // in the broken file
    size_t nTrack = 0;    // index into the walk's tracks
    uint32_t nFirstSample = 0;
    uint32_t nSamples = 0;
};

// A stretch of the media data the walk left out, with what it took the stretch to hold.
struct CWalkStretch {
    enum class EKind { Zeros, Garbage, DamagedFrame } eKind = EKind::Garbage;
    uint64_t nOffset = 0; // in the broken file
    uint64_t nEnd = 0;
    uint64_t nOmitted = 0;      // where the bytes the sink did not get begin (a sound frame
                                // found unsure afterwards was written already)
    size_t nChunks = 0;         // walk chunks before it
    double dSeconds = 0;        // how long it lasted, from the recording's bytes a second
    std::vector<uint64_t> lost; // per track, samples it took to be in the stretch
};

class CMediaWalk : private CWalkReader {
public:
    CMediaWalk(CByteSource& source, const CMediaRange& range,
               std::vector<std::unique_ptr<CWalkTrack>>& tracks, CInterleaveModel& model);

    void SetSink(CByteSink* pSink) { m_pSink = pSink; }
    // How the recorder orders its sound tracks' frames.
    void SetSoundOrder(const CSoundOrder* pOrder) { m_pSoundOrder = pOrder; }
    // The reference's bytes a second, for how long damage early in a recording lasted.
    void SetByteRate(double dBytesPerSecond) { m_dByteRate = dBytesPerSecond; }
    void SetProgress(CWalkProgress* pProgress) { m_pProgress = pProgress; }
    // Stop once this many bytes or seconds (of the first track) are behind; 0 for no limit.
    void SetLimit(uint64_t nBytes, double dSeconds);

    EWalkStop Run();

    // Where the media starts: the payload's first byte, or the first sample past what a writer
    // put before it (zeros it reserved, a camera's own data); the sink has nothing before it.
    uint64_t MediaBegin() const { return m_nMediaBegin; }
    // Whether what lay before it was zeros, by and large.
    bool LeadIsZeros() const { return m_bLeadZeros; }
    // Where the kept media data ends (the sink has had everything before it).
    uint64_t StopOffset() const { return m_nStop; }
    const std::vector<CWalkChunk>& Chunks() const { return m_chunks; }
    const std::vector<CWalkStretch>& Stretches() const { return m_stretches; }
    // Bytes of the media data before nOffset that the sink did not get.
    uint64_t OmittedBefore(uint64_t nOffset) const;
    // Seconds of the first track found.
    double LeadSeconds() const;

private:
    bool FindSample(uint64_t nAt, size_t nPreferred, uint32_t nRunLeft, size_t* pTrack,
                    CTrackTry* pTry, bool* pCut, bool* pUnclear);
    bool FindSound(uint64_t nAt, size_t nPreferred, uint32_t nRunLeft, bool bStrict, size_t* pTrack,
                   CTrackTry* pTry, bool* pCut, bool* pUnclear);
    // A sample of a track whose samples mark their end (or repeat one size), confirmed by what
    // follows it.
    bool TryShaped(size_t nTrack, uint64_t nAt, CTrackTry* pTry, bool* pCut);
    // A sample of a track whose samples begin with the same bytes, ended where the next begins.
    bool TryMarked(size_t nTrack, uint64_t nAt, CTrackTry* pTry, bool* pCut);
    bool Recover(uint64_t nKeep, uint64_t nAt, int nDepth, uint64_t* pFound, uint64_t* pNonZero);
    void LeaveOut(uint64_t nFrom, uint64_t nAt, uint64_t nFound, uint64_t nNonZero);
    bool Resync(uint64_t nAt, uint64_t* pFound);
    bool ZerosAhead(uint64_t nAt);
    bool SkipPredicted(uint64_t nAt, const CWalkTrack& track, uint32_t nSamples, uint64_t* pNext);
    void Record(size_t nTrack, uint64_t nAt, const CTrackTry& found);
    // Run's steps where no sample is taken at nAt.
    bool SkipUnknownRun(uint64_t nAt, size_t nRunTrack, uint32_t nRunLeft, uint64_t* pNext);
    bool GoPastNoSample(uint64_t nAt, size_t nRunTrack, uint32_t nRunLeft, bool bCut,
                        uint64_t* pNext, EWalkStop* pStop);
    bool GoPastDamage(uint64_t nAt, bool bZeros, uint64_t* pNext, EWalkStop* pStop);
    bool FindStart(uint64_t nAt, bool bDamaged, uint64_t* pNext, EWalkStop* pStop);
    // Where the media begins when the first sample found follows a chunk no syntax confirms
    // (PCM, samples of one size) that the reference's interleaving puts first: that chunk's
    // start, where it fits after nAt; else nFound.
    uint64_t LeadChunkStart(uint64_t nAt, uint64_t nFound);
    EWalkStop Finish(EWalkStop eStop, uint64_t nAt);
    // The index of the media data (a track of records): taking a record and its sample.
    bool RecordFollows(uint64_t nAt, bool* pFollows);
    bool TakeRecorded(uint64_t nAt, uint64_t* pNext, bool* pTaken, EWalkStop* pStop);

    CInterleaveModel& m_model;
    CWalkEnds m_ends;
    const CSoundOrder* m_pSoundOrder = nullptr;
    double m_dByteRate = 0;
    uint64_t m_nLimitBytes = 0;
    double m_dLimitSeconds = 0;

    std::vector<CWalkChunk> m_chunks;
    uint64_t m_nChunkEnd = 0;
    uint64_t m_nLastSample = 0;  // where the last sample taken begins
    uint32_t m_nLastSamples = 0; // and how many samples it was (a chunk of PCM)
    uint64_t m_nStop = 0;
    uint64_t m_nMediaBegin = 0;
    bool m_bLeadZeros = false;
    bool m_bHasUnknown = false;
    uint64_t m_nMaxSkip = 0;
    uint64_t m_nZeroReach = 0;
    std::vector<size_t> m_order; // FindSample's, kept to spare an allocation a sample
    std::vector<size_t> m_candidates;
    std::vector<CTrackTry> m_soundTries; // per track, a sound frame's parse at the position
    std::vector<uint64_t> m_counts;
    std::vector<CWalkStretch> m_stretches;
    CTrackTry m_record, m_announced;
    uint64_t m_nOmitted = 0;
};
