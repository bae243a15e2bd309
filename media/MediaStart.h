// Where the media data of a recording cut off before its index begins and ends. The mdat
// header such a file has is not to be trusted: a size of 0, a 32- or 64-bit size past the end,
// a placeholder of '?' bytes (Android's writer), or no box at all before it (zeros reserved
// for an index that never came).
#pragma once

#include "media/Box.h"

#include <cstdint>

struct CMediaRange {
    uint64_t nBegin = 0; // the first byte of mdat's payload
    uint64_t nEnd = 0;   // the end of the file, or of an mdat whose size holds and is followed
                         // by another box
};

// False if the file holds no mdat header (or it could not be read).
bool FindMediaData(CByteSource& source, CMediaRange* pRange);
