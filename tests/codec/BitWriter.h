// Writes H.264 syntax and AAC frames bit by bit, for tests and fuzzers that need real
// parameter sets, slices and frames without a media file: the engine's own writer, with what
// only they need.
#pragma once

#include "codec/RbspWriter.h"

#include <cstdint>
#include <vector>

class CBitWriter : public CRbspWriter {
public:
    void Se(int32_t nValue) { Ue(nValue > 0 ? 2 * uint32_t(nValue) - 1 : 2 * uint32_t(-nValue)); }
    // Zeros to the byte (the padding of an AAC frame).
    std::vector<uint8_t> Pad() { return Bytes(); }
    // The RBSP stop bit, then zeros to the byte.
    std::vector<uint8_t> Finish() {
        Bits(1, 1);
        return Bytes();
    }
};
