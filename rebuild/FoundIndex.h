// An index made from what a broken recording holds itself: its tracks' descriptions, made from
// the settings found, and its first samples, where they were found. Written as a movie box and
// read back as a reference's, so that a rebuild without a reference goes on as with one.
#pragma once

#include "media/ByteSource.h"
#include "rebuild/ReferenceMovie.h"

#include <cstdint>
#include <string>
#include <vector>

struct CFoundSample {
    uint64_t nOffset = 0; // in the recording
    uint32_t nSize = 0;
    uint32_t nDuration = 0; // in the track's timescale
    bool bSync = true;
};

struct CFoundTrack {
    uint32_t nHandler = 0;      // 'vide', 'soun', 'tmcd', 'meta'
    std::vector<uint8_t> entry; // the sample entry, a whole box
    uint32_t nTimescale = 0;
    int nWidth = 0, nHeight = 0;       // of pictures
    std::vector<CFoundSample> samples; // in the recording's order
};

// Sample entries (whole boxes) for the tracks found.
std::vector<uint8_t> VideoEntry(const char (&format)[5], const char (&config)[5],
                                const std::vector<uint8_t>& record, int nWidth, int nHeight);
std::vector<uint8_t> AacEntry(const std::vector<uint8_t>& audioSpecificConfig, int nChannels,
                              uint32_t nSampleRate);
std::vector<uint8_t> TimecodeEntry(uint32_t nTimescale, uint32_t nFrameDuration);
std::vector<uint8_t> PlainEntry(const char (&format)[5], size_t nExtraZeros);

// The tracks as a reference: ftyp and movie box made over the recording's bytes. False, with
// why in *pProblem, when the index does not read as one.
bool ReadFoundIndex(CByteSource& recording, const std::vector<CFoundTrack>& tracks,
                    const char (&brand)[5], CReferenceMovie* pMovie,
                    CRebuildResult::EProblem* pProblem, CCancelPoll* pCancel);
