// What a movie box says of the movie: its stated length, its tracks, and how long each track's
// samples really last. Portable.
#pragma once

#include "media/Box.h"

#include <cstdint>
#include <vector>

struct CMovieTrack {
    uint32_t nHandler = 0;        // 'vide', 'soun', ...
    uint32_t nTimescale = 0;      // of the media
    uint64_t nStatedDuration = 0; // the media header's, in nTimescale
    uint64_t nSampleDuration = 0; // the sum of its samples' durations, in nTimescale
    uint32_t nSamples = 0;
};

struct CMovieSummary {
    uint32_t nTimescale = 0;
    uint64_t nDuration = 0;   // stated: the movie header's, or a fragmented movie's mehd
    bool bFragmented = false; // has mvex: the samples are in movie fragments
    std::vector<CMovieTrack> tracks;

    double StatedSeconds() const;
    // The longest track's samples, in seconds (of the moov's sample tables only).
    double SampleSeconds() const;
};

// Tracks kept of a movie box, and what reading one may cost: a movie has a few tracks, a long
// one tables of some megabytes; a file that claims more is read up to there.
const size_t kMaxMovieTracks = 1024;
const uint64_t kMaxMovieReads = 65536;
const uint64_t kMaxMovieBytes = 64u << 20;

// Reads the movie box moov; false when its movie header is missing or cannot be read.
bool ReadMovieSummary(CByteSource& source, const CBox& moov, CMovieSummary* pSummary);
