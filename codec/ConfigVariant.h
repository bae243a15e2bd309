// The reference's decoder configuration made over for another picture size (and, for HEVC,
// another bit depth): its sequence parameter sets rewritten field by field, all else kept. Most
// recorders keep their parameter sets only in the index a broken recording lost; the variant its
// pictures decode with tells what size it was recorded at.
#pragma once

#include "codec/Codec.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct CPictureShape {
    int nWidth = 0;
    int nHeight = 0;
    int nBitDepth = 0; // 0: as the configuration has it
};

// The sizes recorders write, landscape then portrait, commonest first.
const std::vector<CPictureShape>& RecorderPictureSizes();

// An SPS (a whole NAL unit) with another picture size; for HEVC, with another bit depth unless
// nBitDepth is 0. False when the SPS cannot be read or cannot hold that size.
bool RewriteAvcSps(const uint8_t* pNal, size_t nSize, int nWidth, int nHeight,
                   std::vector<uint8_t>* pOut);
bool RewriteHevcSps(const uint8_t* pNal, size_t nSize, int nWidth, int nHeight, int nBitDepth,
                    std::vector<uint8_t>* pOut);

// An avcC or hvcC payload with each SPS given the shape (the rest copied). False when the
// payload is malformed, holds no SPS, or an SPS cannot take the shape.
bool MakeConfigVariant(ECodec eCodec, const std::vector<uint8_t>& config,
                       const CPictureShape& shape, std::vector<uint8_t>* pOut);
