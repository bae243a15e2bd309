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
    uint32_t nTimescale = 0;
    uint64_t nDuration = 0; // in nTimescale units
    uint32_t nSamples = 0;
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
    // One plain sentence for the user: what was rebuilt, the difference found, or why it failed.
    std::string strDetail;
    std::vector<CRebuiltTrack> tracks;      // what was rebuilt
    std::vector<std::string> tracksLeftOut; // reference tracks not rebuilt, each with why
    uint64_t nBytesLeftOut = 0;             // media bytes of the broken file not put into the copy
    std::string strLeftOutReason;           // "zeros", "a frame cut off at the end", "data that is
                                            // neither video nor sound"
    double dStoppedAt = 0; // seconds into the recording where the rebuild stopped, when
                           // bytes were left out
};

// Paths are in the ANSI code page (UTF-8 on our Windows builds). The two inputs are only
// read; a refusal comes before anything is written, and a failure or cancel after the copy
// was begun removes it.
CRebuildResult RebuildRecording(const char* pszReference, const char* pszBroken,
                                const char* pszOutput, CRebuildObserver* pObserver);
