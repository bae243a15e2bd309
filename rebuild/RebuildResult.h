// What a rebuild found and made: the tracks it rebuilt, what it left out, how the recording
// differs from the reference, and what decoding the copy found.
#pragma once

#include "rebuild/FoundSettings.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
        VideoDoesNotDecode, // strRecording: what the decoder said; no size decoded clean either
        SoundDoesNotDecode, // strRecording: what the decoder said
    } eKind = EKind::None;
    std::string strRecording, strReference;
    int64_t nRecording = 0, nReference = 0;
    int64_t nRecordingHeight = 0, nReferenceHeight = 0;
    double dRecording = 0, dReference = 0;
    bool bApproximate = false;
};

// A frame a decoder found damaged.
struct CDamagedFrame {
    bool bVideo = false;
    double dAt = 0;         // seconds into the copy (into the reference, for the reference)
    std::string strDecoder; // what the decoder said
};

// What decoding the copy found; nothing when the program lent no decoders.
struct CPlayResult {
    bool bChecked = false;
    bool bPlays = false;      // some of it decoded clean
    bool bSoundWhole = false; // all its sound was decoded (so when it has none)
    bool bSoundEnd = false;   // its last sound frames
    int nSoundPlaces = 0;     // places its sound was decoded at (a second each) when not whole
    bool bVideoWhole = false; // every picture was decoded (so when it has none)
    bool bVideoStart = false; // its first pictures were decoded
    bool bVideoEnd = false;   // its last ones (the whole last group of pictures)
    int nVideoPlaces = 0;     // places its video was decoded at, each from a key frame on
    bool bHevc = false;       // its video is HEVC, whose decoder sees damage inside a picture
                              // only in part
    // Its video and sound tracks of codecs the program has no decoder for (Motion JPEG, H.263,
    // AMR, PCM): nothing of them was decoded, whatever the rest of the check found. Said when
    // the program lent decoders, even when none of the copy's tracks could be checked.
    struct CUndecoded {
        bool bVideo = false;
        std::string strCodec; // "Motion JPEG", "H.263", "AMR-NB", "PCM", or the entry's type
    };
    std::vector<CUndecoded> undecoded;
    std::vector<CDamagedFrame> damaged; // in time order, the first kMaxDamagedNamed
    uint64_t nDamaged = 0;              // all that were found
    double dSeconds = 0;                // the check's time
    double dRebuildSeconds = 0;         // the rebuild's, before the check, without...
    double dBeforeSeconds = 0;          // ...the decoding before the copy was begun
};
const size_t kMaxDamagedNamed = 12;

struct CRebuildResult {
    enum class EStatus {
        Rebuilt,
        NotPlayable,       // written, but not one frame of it decoded: removed
        Mismatch,          // the recording was not made with the reference's settings
        ReferenceUnusable, // the reference cannot serve (broken itself, no usable track)
        NoMediaData,       // nothing in the broken file to rebuild
        ReadFailed,
        WriteFailed,
        Cancelled,
        // Without a reference: the recording does not hold enough to be rebuilt by itself
        // (found.eMissing says why).
        NeedsReference,
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
        ReferenceDoesNotPlay,        // referenceFault says where and why
        RecordingUnopened,
        RecordingUnreadable,
        NoMediaDataBox,
        MediaDataEmpty,
        BeginsWithZeros,
        NoWholeFrame, // not one whole frame of video or sound
        CopyNotCreated,
        CopyNotWritten,
        CopyDoesNotPlay,
        Cancelled,
        OutOfMemory,
        Unexpected,
    } eProblem = EProblem::Unexpected;
    CMismatch mismatch;                       // when Mismatch
    std::vector<std::string> referenceCodecs; // ReferenceWithoutUsableTrack: its tracks' codecs
    CDamagedFrame referenceFault;             // ReferenceDoesNotPlay

    std::vector<CRebuiltTrack> tracks;             // what was rebuilt, in the reference's order
    std::vector<CTrackLeftOut> tracksLeftOut;      // reference tracks not rebuilt
    std::vector<CStretchLeftOut> stretchesLeftOut; // in the recording's order
    uint64_t nBytesLeftOut = 0; // media bytes of the broken file not put into the copy
    uint64_t nMediaBytes = 0;   // all the media bytes the broken file holds
    double dSeconds = 0;        // the copy's length: its video's, else its first track's
    CPlayResult play;           // Rebuilt, NotPlayable
    CFoundSettings found;       // without a reference: what the recording told of itself
};
