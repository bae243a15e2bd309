// Checks the file the tool wrote before the run is called a success: the top-level boxes of an
// ISO base media file must tile it exactly and include a file type box and a movie box. Only
// box headers are read, so a multi-gigabyte file is checked in milliseconds. Portable.
#pragma once

#include "media/ByteSource.h"

#include <cstdint>

// What is wrong with the file, if anything.
enum class EMp4Problem {
    None,
    Missing,
    CannotOpen,
    Empty,
    CannotRead,
    NotMp4,       // not even its first box holds together
    CutShort,     // a box runs past its end
    BadHeader,    // a box header is not valid
    BadSize,      // a box has an impossible size
    TooManyBoxes, // more than kMaxMp4TopLevelBoxes
    NoMoov,
    EmptyMoov,
    NoFtyp,
};

struct CMp4Verdict {
    EMp4Problem eProblem = EMp4Problem::None;
    double dSampleSeconds = 0; // of a valid file: how long its longest track's samples last
    bool IsValid() const { return eProblem == EMp4Problem::None; }
};

// Most top-level boxes accepted; a real movie has a handful, a fragmented one some thousands.
// Beyond this the file is rejected, which keeps a file of millions of tiny boxes quick.
const unsigned kMaxMp4TopLevelBoxes = 100000;

CMp4Verdict CheckMp4Boxes(CByteSource& source);
CMp4Verdict CheckMp4File(const char* path);
