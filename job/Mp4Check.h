// Checks the file the tool wrote before the run is called a success: the top-level boxes of an
// ISO base media file must tile it exactly and include a file type box and a movie box. Only
// box headers are read, so a multi-gigabyte file is checked in milliseconds. Portable.
#pragma once

#include "framework/CString.h"
#include "media/ByteSource.h"

#include <cstdint>

struct CMp4Verdict {
    bool bValid = false;
    CString strProblem;        // one short sentence for the user when !bValid, else empty
    double dSampleSeconds = 0; // of a valid file: how long its longest track's samples last
};

// Most top-level boxes accepted; a real movie has a handful, a fragmented one some thousands.
// Beyond this the file is rejected, which keeps a file of millions of tiny boxes quick.
const unsigned kMaxMp4TopLevelBoxes = 100000;

CMp4Verdict CheckMp4Boxes(CByteSource& source);
CMp4Verdict CheckMp4File(const char* path);
