// What the chosen file is, read from its first bytes and its top-level boxes before the tool
// is run on it: a whole MP4, one cut short, one cut off before its index was written, or no MP4
// at all (and then which kind). Only box headers and the movie box are read; a file of
// thousands of fragments is walked up to a bound. Portable.
#pragma once

#include "media/ByteSource.h"
#include "media/MediaStart.h"
#include "media/Movie.h"

#include <cstdint>

enum class ESourceKind {
    Mp4,         // a whole movie box at the top level: the tool decides the rest
    Mp4CutShort, // a whole movie box, then media data or fragments that run past the end
    NoIndex,     // no (whole) movie box: the recording stopped before its index was written
    MpegTs,      // kinds the multiplexer converts into MP4 by itself
    Avi,
    Matroska, // kinds it does not
    WebM,
    AppleDouble, // a macOS "._" file: the metadata of a file copied from a Mac
    Empty,
    Zeros,
    Unknown,
    Unreadable,
};

struct CSourceInfo {
    ESourceKind eKind = ESourceKind::Unreadable;
    uint64_t nSize = 0;
    CMovie movie;              // of a whole movie box
    uint64_t nMediaBytes = 0;  // NoIndex: what follows the last box that holds together
    bool bWalkBounded = false; // stopped at kMaxSourceBoxes before the end of the file
    bool bMediaData = false;   // NoIndex with media: where its media data lies was found
    CMediaRange mediaData;     // and where that is, for a rebuild
};

// Top-level boxes walked before the end of a file is taken on trust: a long fragmented
// recording has some thousands, each a small read.
const unsigned kMaxSourceBoxes = 20000;

CSourceInfo CheckSource(CByteSource& source);
CSourceInfo CheckSourceFile(const char* path);

// Whether the multiplexer is to be run on such a file.
bool IsRunnable(ESourceKind eKind);
