// H.263 pictures as 3GP and QuickTime files hold them ('s263', 'h263'): each sample one picture,
// which begins with its byte-aligned picture start code (22 bits 0000 0000 0000 0000 1000 00),
// its temporal reference and its type. Nothing in a picture tells where it ends but the next
// start code. Nothing is decoded. Portable.
#pragma once

#include "codec/VideoSample.h"

#include <cstddef>
#include <cstdint>

struct CH263Picture {
    int nWidth = 0; // 0 when the header does not say (an update of H.263+ left out)
    int nHeight = 0;
    bool bIntra = false;
    int nTemporalReference = 0;
};

// The picture header at pData (PSC, TR, PTYPE, and PLUSPTYPE's fields up to the picture size);
// false when these bytes do not begin a picture.
bool ParseH263Header(const uint8_t* pData, size_t nSize, CH263Picture* pPicture);

// Where the first picture start code at or after nFrom begins, or nSize when there is none.
size_t FindH263StartCode(const uint8_t* pData, size_t nSize, size_t nFrom);

// The picture at pData, up to the next start code, never longer than nMaxSize: Ok with its size,
// Truncated when the data ends before a start code follows (the picture may go on; *pSize is
// what there is, 0 when the data ends inside its header), NeedMore (with *pNeed), or Invalid.
ESampleParse ScanH263Picture(const uint8_t* pData, size_t nAvail, bool bAtEnd, size_t nMaxSize,
                             CH263Picture* pPicture, size_t* pSize, size_t* pNeed);
