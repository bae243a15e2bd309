// Constant tables of AAC (ISO/IEC 14496-3) that frame parsing needs: the Huffman codebooks and
// the scalefactor band layout per sampling frequency index. Data only. Portable.
#pragma once

#include <cstdint>

// A spectrum Huffman codebook: codeword and length per index, and how an index encodes values.
struct CAacSpectralBook {
    const uint16_t* pCodes;
    const uint8_t* pBits;
    uint16_t nCount; // entries: 81, 64, 169 or 289
    uint8_t nDim;    // values per codeword: 4 (quads) or 2 (pairs)
    bool bSigned; // values carry their sign in the codeword; else a sign bit follows each non-zero
    uint8_t nLav; // largest absolute value; 16 in codebook 11 means an escape follows
};

extern const uint32_t kAacScalefactorCodes[121];
extern const uint8_t kAacScalefactorBits[121];
extern const CAacSpectralBook kAacSpectralBooks[11]; // codebooks 1 to 11

// By sampling_frequency_index 0 to 12: num_swb + 1 offsets each, the last 1024 or 128.
extern const uint16_t* const kAacSwbOffsetLong[13];
extern const uint16_t* const kAacSwbOffsetShort[13];
extern const uint8_t kAacNumSwbLong[13];
extern const uint8_t kAacNumSwbShort[13];
