// A whole recording read for what a rebuild takes from it: its tracks, their sample entries
// and timing, the way its media data interleaves the tracks' chunks, and the boxes the new
// file copies (ftyp, tkhd, hdlr, the media information boxes, stsd, edit lists, udta).
#pragma once

#include "media/Movie.h"
#include "rebuild/CompositionPattern.h"
#include "rebuild/RebuildResult.h"
#include "rebuild/SampleEntry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct CReferenceChunk {
    uint64_t nOffset = 0;
    uint32_t nFirstSample = 0;
    uint32_t nSamples = 0;
    uint64_t nTime = 0;     // when its first sample is decoded, in the track's timescale
    uint64_t nLastTime = 0; // and its last
};

// Of a track whose samples are records of the media data (GoPro's SOS track): a kind of record,
// and the track whose sample followed records of that kind in the reference.
struct CRecordKind {
    uint8_t nKind = 0;
    size_t nTrack = 0; // into CReferenceMovie::tracks
};

struct CEdit {
    uint64_t nSegmentDuration = 0; // in the movie's timescale
    int64_t nMediaTime = 0;        // in the track's timescale; -1 for an empty edit
    uint32_t nRate = 0x10000;      // 16.16
};

// A track of the reference; the tkhd fields the new file keeps are its CTrackHeader.
struct CReferenceTrack : CTrackHeader {
    uint32_t nTrackId = 0;
    uint32_t nHandler = 0; // 'vide', 'soun', 'tmcd', ...
    CSampleEntry entry;
    uint32_t nTimescale = 0;
    uint16_t nLanguage = 0;
    uint32_t nSamples = 0;
    uint32_t nFixedSampleSize = 0;     // stsz's sample_size, 0 when the sizes vary
    std::vector<uint32_t> commonSizes; // when they vary, of tracks whose samples are not
                                       // H.264, HEVC or AAC: the commonest, likeliest first
    // Of tracks whose samples are not H.264, HEVC or AAC: their first samples' bytes.
    std::vector<std::vector<uint8_t>> firstSamples;
    std::vector<uint32_t> leadSizes; // the sizes of its first samples, kLeadSamples at most
    bool bRecords = false;           // its samples are records that each announce the next sample
    std::vector<CRecordKind> recordKinds;
    uint32_t nMaxSampleSize = 0;
    uint64_t nTotalSampleBytes = 0;
    uint32_t nTypicalDuration = 0; // what most samples last, in the track's timescale
    bool bSteadyDurations = true;  // nearly all samples last nTypicalDuration
    uint64_t nMediaDuration = 0;   // the sum of the sample durations
    bool bCompositionOffsets = false;
    std::vector<uint32_t> leadDurations; // of its first samples, kPatternSamples at most
    CCompositionPattern composition;     // how its pictures are shown, learnt from them
    uint32_t nSyncPeriod = 0; // key frames every n-th sample from the first and nowhere else,
                              // as some writers mark them whatever the pictures are
    std::vector<CReferenceChunk> chunks;
    std::vector<CEdit> edits;
    // Boxes copied whole, headers included.
    std::vector<uint8_t> hdlr;
    std::vector<uint8_t> mediaInfoHeaders; // the children of minf before stbl: vmhd, smhd, dinf...
    std::vector<uint8_t> stsd;
    std::vector<uint8_t> tref;
    std::vector<uint8_t> udta;
    std::vector<uint32_t> trefIds; // tracks that tref names
};

struct CReferenceMovie {
    std::vector<uint8_t> ftyp;
    uint32_t nTimescale = 0;
    uint32_t nRate = 0x10000;
    uint16_t nVolume = 0x100;
    uint8_t matrix[36] = {};
    std::vector<uint8_t> udta; // without the entries about one recording (date, place)
    std::vector<CReferenceTrack> tracks;
};

// Samples at the start of each track whose sizes are kept: enough to decode its first pictures.
const uint32_t kLeadSamples = 64;

// Samples at the start of each track whose durations (and composition offsets) are kept: how
// the recorder times them, minutes of any recording.
const uint32_t kPatternSamples = 1 << 14;

// More tracks than any recorder writes: a reference with more is refused.
const unsigned kMaxReferenceTracks = 64;

// Reads the movie; on failure *pProblem says why it cannot serve (or pCancel said to stop).
bool ReadReferenceMovie(CByteSource& source, CReferenceMovie* pMovie,
                        CRebuildResult::EProblem* pProblem, CCancelPoll* pCancel = nullptr);
// The same from its moov box, with its ftyp (empty: none).
bool ReadReferenceIndex(CByteSource& source, const CBox& moov, std::vector<uint8_t> ftyp,
                        CReferenceMovie* pMovie, CRebuildResult::EProblem* pProblem,
                        CCancelPoll* pCancel = nullptr);
