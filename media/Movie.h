// The movie box, read once for everyone who needs it: the file checks want the movie's length
// and its tracks, the rebuild its headers and where each track's boxes lie. The sample tables
// stay where they are, for whoever reads them (CTable). Portable.
#pragma once

#include "media/Box.h"

#include <cstdint>
#include <vector>

// What a track header (tkhd) says of how its track is shown, which a new file keeps.
struct CTrackHeader {
    uint32_t nTrackFlags = 0;
    int16_t nLayer = 0;
    int16_t nAlternateGroup = 0;
    uint16_t nVolume = 0;
    uint8_t matrix[36] = {};
    uint32_t nWidth = 0; // 16.16
    uint32_t nHeight = 0;
};

struct CMovieTrack : CTrackHeader {
    bool bHeader = false; // tkhd held its track id and all the header's fields
    uint32_t nTrackId = 0;

    bool bMediaHeader = false;    // mdhd held all the fields below
    uint32_t nTimescale = 0;      // of the media
    uint64_t nStatedDuration = 0; // in nTimescale
    uint16_t nLanguage = 0;
    uint32_t nHandler = 0; // 'vide', 'soun', ...

    // Read only when asked for: the sum of its samples' durations (in nTimescale), and their count.
    uint64_t nSampleDuration = 0;
    uint32_t nSamples = 0;

    // Where its boxes lie; a box the track lacks is not IsFound().
    CBox edts, tref, udta;
    CBox mdia, hdlr, minf;
    CBox stbl, stsd, stts, stsc, stsz, stco, ctts; // stsz or stz2, stco or co64
};

struct CMovie {
    bool bHeader = false; // mvhd's time scale and duration were read
    uint32_t nTimescale = 0;
    uint64_t nDuration = 0;    // stated: the movie header's, or a fragmented movie's mehd
    bool bWholeHeader = false; // and its rate, volume and matrix
    uint32_t nRate = 0x10000;  // 16.16
    uint16_t nVolume = 0x100;  // 8.8
    uint8_t matrix[36] = {};
    bool bFragmented = false; // has mvex: the samples are in movie fragments
    CBox udta;
    std::vector<CMovieTrack> tracks;
    unsigned nTrackBoxes = 0; // trak boxes met, kept or not
    bool bCutShort = false;   // the walk stopped before the box's end: too many boxes, a read
                              // that failed (or went over the budget), or a cancel

    double StatedSeconds() const;
    // The longest track's samples, in seconds (of the moov's sample tables only).
    double SampleSeconds() const;
};

// What reading a movie box may cost: a movie has a few tracks, a long one tables of some
// megabytes; a file that claims more is read up to there.
const size_t kMaxMovieTracks = 1024;
const uint64_t kMaxMovieReads = 65536;
const uint64_t kMaxMovieBytes = 64u << 20;

// Reads the movie box moov, keeping nMaxTracks tracks at most; bSampleTimes: each track's
// samples counted and timed from its stts. False when its movie header is missing or cannot be
// read, or pCancel said to stop.
bool ReadMovie(CByteSource& source, const CBox& moov, CMovie* pMovie,
               size_t nMaxTracks = kMaxMovieTracks, bool bSampleTimes = true,
               CCancelCheck* pCancel = nullptr);
