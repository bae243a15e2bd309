// Rebuilds an MP4 recording that was cut off before its index (moov) was written, from a
// second, whole recording made by the same device with the same settings. The broken file's
// media data is walked sample by sample, each assigned to a track of the reference; the copy
// gets the reference's file type and track descriptions and a new index. Portable: the
// program runs it on a worker thread.
#pragma once

#include "rebuild/RebuildResult.h"

#include <cstdint>

class CDecoderFactory;

// Called on the engine's thread.
class CRebuildObserver {
public:
    virtual void OnProgress(int /*nPercent*/) {} // 0..100, never falling
    virtual bool IsCancelled() { return false; } // polled every few milliseconds

protected:
    ~CRebuildObserver() = default;
};

struct CMediaRange;

struct CRebuildOptions {
    // Where the broken file's media data lies, as the source check found it (null: found
    // here); one that no longer fits the file is found again.
    const CMediaRange* pRange = nullptr;
    // Decoders to check with: the reference, the recording's start before anything is written,
    // the copy after. None: nothing is decoded.
    CDecoderFactory* pDecoders = nullptr;
    // The check of the copy takes about this share of the time the rebuild took, and at least
    // dMinCheckSeconds for a copy of nSmallCopy bytes or less (less, in proportion, for a larger
    // one); the start of each track is decoded whatever it takes.
    double dCheckShare = 0.1;
    double dMinCheckSeconds = 2.0;
    uint64_t nSmallCopy = 32u << 20;
    // Rebuilt without a reference, a stream that carries no parameter sets has them searched
    // for with the decoders (seconds to a minute); else it needs a reference.
    bool bSearch = false;
};

// Paths are in the ANSI code page (UTF-8 on our Windows builds). pszReference null rebuilds
// from what the broken recording holds itself. The inputs are only read; a refusal comes before
// anything is written, and a failure or cancel after the copy was begun removes it.
CRebuildResult RebuildRecording(const char* pszReference, const char* pszBroken,
                                const char* pszOutput, CRebuildObserver* pObserver,
                                const CRebuildOptions& options = CRebuildOptions());
