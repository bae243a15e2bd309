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
#include "rebuild/WalkTrack.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CByteSink {
public:
    virtual bool Write(const uint8_t* pData, size_t nSize) = 0;

protected:
    ~CByteSink() = default;
};

class CWalkProgress {
public:
    // Called every few milliseconds with where the walk stands; false cancels the walk.
    virtual bool Continue(uint64_t nOffset) = 0;

protected:
    ~CWalkProgress() = default;
};

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

enum class EWalkStop {
    End,          // the media data ended after a whole sample
    Limit,        // the walk reached the limit it was given
    Zeros,        // zeros where a sample should begin
    CutOff,       // a sample runs past the end of the data
    Unknown,      // data that is no sample of any track
    SoundUnclear, // a sound frame that fits several tracks, with nothing to tell which
    Cancelled,
    ReadFailed,
    WriteFailed,
};

class CMediaWalk {
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
    // Makes [nAt, nAt + nNeed) readable as far as the data goes: the window holds the bytes
    // from the last sample taken on; what is before it goes to the sink first.
    bool Ensure(uint64_t nAt, size_t nNeed);
    // Takes the bytes up to nTo as they are (the samples of a track that cannot be read, kept
    // in the copy): read, and handed on, like a sample's.
    bool Pass(uint64_t nTo);
    // Stops the walk with eStop (an error, a cancel, a broken window).
    bool Fail(EWalkStop eStop);
    // Reports where the walk stands and asks whether to go on, every few milliseconds.
    bool Poll(uint64_t nAt);
    const uint8_t* At(uint64_t nAt) const { return m_buffer.data() + (nAt - m_nBufferStart); }
    size_t Available(uint64_t nAt) const {
        return static_cast<size_t>(m_nBufferStart + m_nBufferLength - nAt);
    }
    bool AtEnd() const { return m_nBufferStart + m_nBufferLength == m_range.nEnd; }
    bool Flush(uint64_t nUpTo);
    bool TryTrack(size_t nTrack, uint64_t nAt, CTrackTry* pTry, bool bStrict = true);
    bool FindSample(uint64_t nAt, size_t nPreferred, uint32_t nRunLeft, size_t* pTrack,
                    CTrackTry* pTry, bool* pCut, bool* pUnclear);
    bool FindSound(uint64_t nAt, size_t nPreferred, uint32_t nRunLeft, bool bStrict, size_t* pTrack,
                   CTrackTry* pTry, bool* pCut, bool* pUnclear);
    // A sample of a track whose samples mark their end (or repeat one size), confirmed by what
    // follows it.
    bool TryShaped(size_t nTrack, uint64_t nAt, CTrackTry* pTry, bool* pCut);
    // A sample of a track whose samples begin with the same bytes, ended where the next begins.
    bool TryMarked(size_t nTrack, uint64_t nAt, CTrackTry* pTry, bool* pCut);
    // Samples whose syntax does not pin their end (WalkEnds.cpp). A picture's end: past its
    // padding, or before other tracks' samples; bRunEnds when the interleaving has the
    // track's chunk end with it.
    bool SettlePicture(size_t nTrack, uint64_t nAt, bool bRunEnds, CTrackTry* pTry);
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
    // An AMR frame at nAt: of the track predicted, else where more frames follow.
    bool FindSpeech(uint64_t nAt, size_t nPreferred, size_t* pTrack, CTrackTry* pTry, bool* pCut);
    // A chunk of PCM: as long as predicted, or as the reference's chunks often are, where a known
    // sample follows; where bPredicted (the interleaving has it here), also one the data's end
    // cuts off.
    bool TryPcmChunk(size_t nTrack, uint64_t nAt, uint32_t nRunLeft, bool bPredicted,
                     CTrackTry* pTry);
    bool Recover(uint64_t nKeep, uint64_t nAt, int nDepth, uint64_t* pFound, uint64_t* pNonZero);
    void LeaveOut(uint64_t nFrom, uint64_t nAt, uint64_t nFound, uint64_t nNonZero);
    bool Resync(uint64_t nAt, uint64_t* pFound);
    bool ZerosAhead(uint64_t nAt);
    bool VerifiedAt(uint64_t nAt, int nDepth, bool* pVerified, bool bStrict = true);
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
    // The index of the media data (a track of records): which track each kind of record
    // announces, a record and its sample at a position, and taking them.
    void MapRecords();
    bool CheckAnnounced(size_t nTrack, uint64_t nAt, uint64_t nSize, CTrackTry* pTry);
    bool RecordedAt(uint64_t nAt, uint64_t* pEnd, bool* pFound);
    bool RecordFollows(uint64_t nAt, bool* pFollows);
    bool TakeRecorded(uint64_t nAt, uint64_t* pNext, bool* pTaken, EWalkStop* pStop);

    CByteSource& m_source;
    CMediaRange m_range;
    std::vector<std::unique_ptr<CWalkTrack>>& m_tracks;
    CInterleaveModel& m_model;
    CByteSink* m_pSink = nullptr;
    CWalkProgress* m_pProgress = nullptr;
    const CSoundOrder* m_pSoundOrder = nullptr;
    double m_dByteRate = 0;
    uint64_t m_nLimitBytes = 0;
    double m_dLimitSeconds = 0;

    std::vector<uint8_t> m_buffer;
    uint64_t m_nBufferStart = 0;
    size_t m_nBufferLength = 0;
    uint64_t m_nAccepted = 0; // end of the last sample taken: what may be flushed
    uint64_t m_nFlushed = 0;
    EWalkStop m_eError = EWalkStop::End;
    bool m_bError = false;

    std::vector<CWalkChunk> m_chunks;
    uint64_t m_nChunkEnd = 0;
    uint64_t m_nLastSample = 0;  // where the last sample taken begins
    uint32_t m_nLastSamples = 0; // and how many samples it was (a chunk of PCM)
    uint64_t m_nSplitReach = 0;  // how far before an H.263 picture's next start code other
                                 // tracks' samples may begin
    struct CSoundRun {
        int32_t nCount = -1; // frames to the end, -1 when they do not reach it
        size_t nTrack = 0;
        uint8_t nHeader = 0;
        bool bAlike = false;
    };
    std::vector<CSoundRun> m_soundRuns;
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
    size_t m_nRecords;                 // the track of records, if there is one
    std::vector<size_t> m_recordTrack; // per kind of record, the track of its sample
    CTrackTry m_record, m_announced;
    uint64_t m_nOmitted = 0;
    // While looking past damage: the window may drop what it has read, none of it is written.
    bool m_bRecovering = false;
    std::chrono::steady_clock::time_point m_lastPoll;
    bool m_bPolled = false;
};
