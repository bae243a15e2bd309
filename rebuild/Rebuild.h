// Rebuilds an MP4 recording that was cut off before its index (moov) was written, from a
// second, whole recording made by the same device with the same settings. The broken file's
// media data is walked sample by sample, each assigned to a track of the reference; the copy
// gets the reference's file type and track descriptions and a new index. Portable: the
// program runs it on a worker thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Called on the engine's thread.
class CRebuildObserver {
public:
    virtual void OnProgress(int /*nPercent*/) {} // 0..100, never falling
    virtual bool IsCancelled() { return false; } // polled every few milliseconds

protected:
    ~CRebuildObserver() = default;
};

struct CRebuiltTrack {
    enum class EKind { Video, Audio, Other } eKind = EKind::Other;
    std::string strCodec; // "H.264", "HEVC", "AAC", or the sample entry's type
    uint32_t nTrackId = 0;
    uint32_t nTimescale = 0;
    uint64_t nDuration = 0; // in nTimescale units
    uint32_t nSamples = 0;
};

// A track of the reference that the copy does not have, and why.
struct CTrackLeftOut {
    uint32_t nTrackId = 0;
    uint32_t nHandler = 0; // 'vide', 'soun', 'tmcd', 'text', 'meta', ...
    uint32_t nFormat = 0;  // its sample entry's type
    enum class EReason {
        NoSamplesInReference,
        ConfigurationUnreadable, // its decoder configuration could not be read
        SamplesNotMarked,        // sizes vary and nothing in the samples shows where one ends
        NoneFound,               // none of its samples were found in the recording
    } eReason = EReason::NoneFound;
};

// A stretch of the recording's media data that the copy does not have.
struct CStretchLeftOut {
    enum class EReason {
        Zeros,
        Garbage,      // data that is neither video nor sound of the reference's kind
        DamagedFrame, // a frame whose bytes were damaged
        CutOff,       // a frame that the end of the data cuts off
        SoundUnclear, // sound whose frames fit more than one track, with nothing to tell
    } eReason = EReason::Garbage;
    uint64_t nOffset = 0; // in the broken file
    uint64_t nBytes = 0;
    double dAt = 0;      // seconds into the copy where it was
    double dSeconds = 0; // how long it lasted, as near as can be told (0 at the end)
    bool bToEnd = false; // the rest of the recording
};

// How the recording differs from the reference, when it was not made with its settings.
struct CMismatch {
    enum class EKind {
        None,
        DoesNotBegin, // its media data does not begin with video or sound of that kind
        VideoCodec,   // strRecording, strReference: the codecs
        VideoWithoutReferenceVideo, // strRecording: its codec
        PictureSize,                // nRecording x nRecordingHeight, nReference x nReferenceHeight
        BitDepth,                   // nRecording, nReference
        ChromaFormat,
        SoundLayout, // nRecording, nReference: channel configurations (0 custom, 1 mono...)
        SoundRate,   // nRecording, nReference: Hz; bApproximate when told by time alone
        SoundWithoutReferenceSound,
        ReferenceSoundRecordingNone, // nReference: the reference's sound tracks
        FrameRate,        // dRecording, dReference: frames a second (the first approximate)
        TwiceTheSound,    // two sound tracks where the reference has one
        FewerSoundTracks, // nReference: the reference's sound tracks
        SoundTracksOutOfStep,
        SoundOutOfStep,
        TracksOutOfStep,
    } eKind = EKind::None;
    std::string strRecording, strReference;
    int64_t nRecording = 0, nReference = 0;
    int64_t nRecordingHeight = 0, nReferenceHeight = 0;
    double dRecording = 0, dReference = 0;
    bool bApproximate = false;
};

struct CRebuildResult {
    enum class EStatus {
        Rebuilt,
        Mismatch,          // the recording was not made with the reference's settings
        ReferenceUnusable, // the reference cannot serve (broken itself, no usable track)
        NoMediaData,       // nothing in the broken file to rebuild
        ReadFailed,
        WriteFailed,
        Cancelled,
    } eStatus = EStatus::ReadFailed;
    // Why, when it was not rebuilt.
    enum class EProblem {
        None,
        NameMissing,
        OverARecording, // the copy would be written over one of the recordings
        ReferenceUnopened,
        ReferenceWithoutIndex, // no moov: another broken recording
        ReferenceIndexUnreadable,
        ReferenceFragmented,
        ReferenceWithoutSamples,
        ReferenceWithTooManyTracks,  // more than any recorder writes
        ReferenceWithoutUsableTrack, // referenceCodecs says what it has
        RecordingUnopened,
        RecordingUnreadable,
        NoMediaDataBox,
        MediaDataEmpty,
        BeginsWithZeros,
        NoWholeFrame, // not one whole frame of video or sound
        CopyNotCreated,
        CopyNotWritten,
        Cancelled,
        OutOfMemory,
        Unexpected,
    } eProblem = EProblem::Unexpected;
    CMismatch mismatch;                       // when Mismatch
    std::vector<std::string> referenceCodecs; // ReferenceWithoutUsableTrack: its tracks' codecs

    std::vector<CRebuiltTrack> tracks;             // what was rebuilt, in the reference's order
    std::vector<CTrackLeftOut> tracksLeftOut;      // reference tracks not rebuilt
    std::vector<CStretchLeftOut> stretchesLeftOut; // in the recording's order
    uint64_t nBytesLeftOut = 0; // media bytes of the broken file not put into the copy
    double dSeconds = 0;        // the copy's length: its video's, else its first track's
};

struct CMediaRange;

// Paths are in the ANSI code page (UTF-8 on our Windows builds). The two inputs are only
// read; a refusal comes before anything is written, and a failure or cancel after the copy
// was begun removes it. pRange: where the broken file's media data lies, as the source check
// found it (null: found here); one that no longer fits the file is found again.
CRebuildResult RebuildRecording(const char* pszReference, const char* pszBroken,
                                const char* pszOutput, CRebuildObserver* pObserver,
                                const CMediaRange* pRange = nullptr);
