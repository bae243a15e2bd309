// The broken recording's media data as the walk reads it: a window of its bytes, read in large
// blocks, that hands what is final on to a sink; a track's sample tried at a position; and
// whether known samples follow one another from a position, records of the media data's own
// index with the samples they announce counted as one. What the walk's steps all stand on.
#pragma once

#include "media/ByteSource.h"
#include "media/MediaStart.h"
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

class CWalkReader {
public:
    // Tries one track at nAt, reading as much as it asks for. False only on an error.
    bool TryTrack(size_t nTrack, uint64_t nAt, CTrackTry* pTry, bool bStrict = true);
    // Whether nDepth samples of known tracks follow one another from nAt (or the data ends).
    bool VerifiedAt(uint64_t nAt, int nDepth, bool* pVerified, bool bStrict = true);
    // Makes [nAt, nAt + nNeed) readable as far as the data goes: the window holds the bytes
    // from the last sample taken on; what is before it goes to the sink first.
    bool Ensure(uint64_t nAt, size_t nNeed);
    // Reports where the walk stands and asks whether to go on, every few milliseconds.
    bool Poll(uint64_t nAt);
    const uint8_t* At(uint64_t nAt) const { return m_buffer.data() + (nAt - m_nBufferStart); }
    size_t Available(uint64_t nAt) const {
        return static_cast<size_t>(m_nBufferStart + m_nBufferLength - nAt);
    }
    bool AtEnd() const { return m_nBufferStart + m_nBufferLength == m_range.nEnd; }
    // Whether a step failed: an error, a cancel, a broken window.
    bool Failed() const { return m_bError; }

protected:
    CWalkReader(CByteSource& source, const CMediaRange& range,
                std::vector<std::unique_ptr<CWalkTrack>>& tracks);
    ~CWalkReader() = default;

    // Takes the bytes up to nTo as they are (the samples of a track that cannot be read, kept
    // in the copy): read, and handed on, like a sample's.
    bool Pass(uint64_t nTo);
    // Stops the walk with eStop (an error, a cancel, a broken window).
    bool Fail(EWalkStop eStop);
    bool Flush(uint64_t nUpTo);
    // The index of the media data (a track of records): which track each kind of record
    // announces, and a record and its sample at a position.
    void MapRecords();
    bool CheckAnnounced(size_t nTrack, uint64_t nAt, uint64_t nSize, CTrackTry* pTry);
    bool RecordedAt(uint64_t nAt, uint64_t* pEnd, bool* pFound);

    CByteSource& m_source;
    CMediaRange m_range;
    std::vector<std::unique_ptr<CWalkTrack>>& m_tracks;
    CByteSink* m_pSink = nullptr;
    CWalkProgress* m_pProgress = nullptr;

    std::vector<uint8_t> m_buffer;
    uint64_t m_nBufferStart = 0;
    size_t m_nBufferLength = 0;
    uint64_t m_nAccepted = 0; // end of the last sample taken: what may be flushed
    uint64_t m_nFlushed = 0;
    EWalkStop m_eError = EWalkStop::End;
    bool m_bError = false;
    size_t m_nRecords;                 // the track of records, if there is one
    std::vector<size_t> m_recordTrack; // per kind of record, the track of its sample
    // While looking past damage: the window may drop what it has read, none of it is written.
    bool m_bRecovering = false;
    std::chrono::steady_clock::time_point m_lastPoll;
    bool m_bPolled = false;
};
