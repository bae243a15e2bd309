// Checks on the bytes of one H.264 or HEVC NAL unit that hold for every type: what an encoder
// must never write inside one is also what tells a NAL unit from zeros, sound or garbage.
#pragma once

#include <cstddef>
#include <cstdint>

// Zero bytes after the stop bit that a NAL unit's length may count: encoders that fill their
// output to a multiple of 16 or 32 bytes write them (decoders drop them, as trailing_zero_8bits
// of a byte stream). More than these are zeros that overwrote the unit's end.
const size_t kMaxNalPadding = 127;
// Where a NAL unit's own bytes end, before its padding; 0 when there is none, or more padding
// than kMaxNalPadding.
size_t NalUnitEnd(const uint8_t* pNal, size_t nSize);

// No start code emulation (00 00 00, 00 00 01, 00 00 02, or 00 00 03 followed by a byte above
// 3) in the bytes before its padding.
bool IsCleanNalUnit(const uint8_t* pNal, size_t nSize);
// Where the first of those patterns begins (it spans 3 bytes, 4 for 00 00 03); nSize if none.
// Only patterns wholly inside the bytes count.
size_t FindForbiddenPattern(const uint8_t* pNal, size_t nSize);

// IsCleanNalUnit over a stream of bytes that never change, with what earlier calls found at
// the same stream positions: a walk trying one position after another scans each NAL unit's
// bytes once, not again from every position whose NAL unit reaches over them.
class CCleanScan {
public:
    static const uint64_t kNoOffset = ~uint64_t(0);

    // pNal lies at nAt in the stream, or nowhere that is remembered (kNoOffset).
    bool IsClean(const uint8_t* pNal, size_t nSize, uint64_t nAt);

private:
    // Stream positions: a stretch known free of forbidden patterns, and one such pattern.
    uint64_t m_nCleanBegin = 0;
    uint64_t m_nCleanEnd = 0;
    uint64_t m_nForbiddenBegin = 0;
    uint64_t m_nForbiddenEnd = 0;
};

// An SEI payload (after the NAL header): whole messages, then the RBSP trailing bits.
bool IsWellFormedSei(const uint8_t* pPayload, size_t nSize);

// Filler data payload: 0xFF bytes, then the RBSP trailing bits.
bool IsFillerData(const uint8_t* pPayload, size_t nSize);
