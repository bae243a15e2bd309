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

// A track's sample sizes, from its stsz or stz2: one size for every sample, or a table of 4, 8,
// 16 or 32-bit entries whose count Open checks against the bytes that hold them. Without one
// size, the table is read into memory (up to kMaxTableBox).
class CSampleSizeTable {
public:
    // False when the box is malformed, too large, or the read was cancelled.
    bool Open(CByteSource& source, const CBox& box, CCancelPoll* pCancel);
    uint32_t Count() const { return m_nCount; }
    // stsz's sample_size: every sample's size, or 0 when the table gives each one.
    uint32_t Fixed() const { return m_nFixed; }
    // Bits of each entry of the table.
    int EntryBits() const { return m_nBits; }
    // The size of sample i, below Count().
    uint32_t Size(uint32_t i) const {
        if (m_nFixed != 0)
            return m_nFixed;
        const uint8_t* p = m_table.Entry(0);
        switch (m_nBits) {
        case 4:
            return (i & 1) ? (p[i / 2] & 0x0F) : (p[i / 2] >> 4);
        case 8:
            return p[i];
        case 16:
            return ReadBE16(p + 2 * size_t(i));
        default:
            return ReadBE32(p + 4 * size_t(i));
        }
    }

private:
    CTable m_table;
    uint32_t m_nCount = 0;
    uint32_t m_nFixed = 0;
    int m_nBits = 32;
};

// Reads the movie box moov, keeping nMaxTracks tracks at most; bSampleTimes: each track's
// samples counted and timed from its stts. False when its movie header is missing or cannot be
// read, or pCancel said to stop.
bool ReadMovie(CByteSource& source, const CBox& moov, CMovie* pMovie,
               size_t nMaxTracks = kMaxMovieTracks, bool bSampleTimes = true,
               CCancelPoll* pCancel = nullptr);
