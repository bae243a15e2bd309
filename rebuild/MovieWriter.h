// The new movie box of a rebuilt recording: the reference's track descriptions over sample
// tables made from what the walk found.
#pragma once

#include "rebuild/ReferenceMovie.h"
#include "rebuild/SampleSizes.h"

#include <cstdint>
#include <vector>

struct CTrackTables {
    const CReferenceTrack* pReference = nullptr;
    uint32_t nSampleDuration = 0; // in the track's timescale
    // When samples last differently: runs of samples of one duration, else empty.
    struct CDurationRun {
        uint32_t nCount = 0;
        uint32_t nDuration = 0;
    };
    std::vector<CDurationRun> durations;
    CSampleSizes sizes;
    bool bAllSync = true;
    std::vector<uint32_t> syncSamples;       // 0-based, when not all are
    std::vector<int32_t> compositionOffsets; // empty when samples show in decoding order
    uint32_t nCompositionShift = 0;          // when the first picture is shown
    struct CChunk {
        uint64_t nOffset = 0; // in the new file
        uint32_t nSamples = 0;
    };
    std::vector<CChunk> chunks;
};

std::vector<uint8_t> BuildMovieBox(const CReferenceMovie& movie,
                                   const std::vector<CTrackTables>& tracks);

// The 16 bytes before the copy's media data: a free box and mdat's header with a 32-bit size
// while nPayload fits one, else one mdat header with a 64-bit size.
void MediaDataHeader(uint64_t nPayload, uint8_t header[16]);

// The duration of a track's samples (in its timescale) and as edited (in the movie's).
uint64_t TrackMediaDuration(const CTrackTables& track);
