// Motion JPEG samples: each picture, or each field of one, a whole JPEG image, from its SOI
// through its marker segments and the entropy-coded data of its scans to its EOI. Cameras pad a
// sample after its EOI (fill bytes, or whatever their buffer held) to a size of their liking;
// Motion-JPEG A's APP1 'mjpg' segment says where a frame's second field begins. Nothing is
// decoded. Portable.
#pragma once

#include "codec/VideoSample.h"

#include <cstddef>
#include <cstdint>

struct CJpegImage {
    size_t nSize = 0; // through its EOI
    int nWidth = 0;   // from its frame header
    int nHeight = 0;
    uint32_t nNextField = 0; // Motion-JPEG A: where the next field begins, from this image's
                             // start; 0 when it says none
};

// The image at pData, never longer than nMaxSize: Ok, Truncated when the data ends inside it,
// NeedMore (with *pNeed) when more bytes are needed to tell, or Invalid.
ESampleParse ScanJpegImage(const uint8_t* pData, size_t nAvail, bool bAtEnd, size_t nMaxSize,
                           CJpegImage* pImage, size_t* pNeed);

// Images of one sample: one, or the two fields of an interlaced picture.
const int kMaxJpegImages = 2;

struct CJpegSample {
    size_t nEnd = 0; // where its last image's EOI ends
    int nWidth = 0;  // of its first image
    int nHeight = 0;
    size_t nGap = 0; // bytes between its images
};

// A sample of nImages images at pData: each after the first begins where the one before says
// (Motion-JPEG A), else at the first SOI within nMaxGap bytes of that one's EOI. Results as
// ScanJpegImage's.
ESampleParse ScanJpegSample(const uint8_t* pData, size_t nAvail, bool bAtEnd, size_t nMaxSize,
                            int nImages, size_t nMaxGap, CJpegSample* pSample, size_t* pNeed);

// How many images (kMaxJpegImages at most) a whole sample of nSize bytes holds, read as
// ScanJpegSample reads them with any gap the sample has room for; 0 when it begins with none.
int CountJpegImages(const uint8_t* pData, size_t nSize, CJpegSample* pSample);
