// AMR-NB and AMR-WB speech frames as 3GP files hold them ('samr', 'sawb'): the storage format,
// each frame a header byte (a padding bit, the frame type, the quality bit, two padding bits)
// and the frame's bits to a whole byte. The frame type alone gives the size. Portable.
#pragma once

#include <cstddef>
#include <cstdint>

// The bytes of the frame whose header byte is nHeader, the header included; 0 when it is not one
// a recording holds (a reserved type, a padding bit set, the quality bit clear). NO_DATA frames
// are a byte.
size_t AmrFrameSize(bool bWide, uint8_t nHeader);

// nFrames frames one after another from pData on: their bytes, or 0 when one is not a frame;
// *pCut when the data ends inside them.
size_t AmrFramesSize(bool bWide, const uint8_t* pData, size_t nSize, int nFrames, bool* pCut);

// How many whole frames a sample of nSize bytes holds, with nothing left over; 0 when it is not
// made of frames.
int CountAmrFrames(bool bWide, const uint8_t* pData, size_t nSize);
