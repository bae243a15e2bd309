// The decoder configuration records of H.264 and HEVC tracks, as avcC and hvcC hold them: the
// fields before the parameter sets, the parameter sets in their arrays, and what follows. Read
// with every count and length checked against the bytes; written back byte for byte.
#pragma once

#include "codec/Codec.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// One array of NAL units: one of hvcC's arrays, or one of avcC's two lists (SPS, then PPS).
struct CNalUnitArray {
    // What the record keeps beside the count: hvcC's completeness flag and NAL unit type, the
    // reserved bits beside avcC's SPS count.
    uint8_t nHead = 0;
    std::vector<std::vector<uint8_t>> units;
};

struct CConfigRecord {
    ECodec eCodec = ECodec::Other;     // H264 or Hevc
    std::vector<uint8_t> fields;       // before the arrays: avcC's first 5 bytes, hvcC's 22
    std::vector<CNalUnitArray> arrays; // avcC: always two
    std::vector<uint8_t> rest;         // after them (the fields of H.264's high profiles)

    // Bytes of each NAL unit's length prefix in the samples: 1, 2 or 4.
    int LengthSize() const;
    // Whether arrays[i] holds sequence parameter sets.
    bool HoldsSps(size_t i) const;
};

// Reads an avcC (eCodec H264) or hvcC (Hevc) payload. False when it is not version 1, has a
// length prefix of 3 bytes, or an array or a NAL unit that is empty or runs past its end.
bool ReadConfigRecord(ECodec eCodec, const uint8_t* pData, size_t nSize, CConfigRecord* pRecord);
// The payload of a record; false, *pOut untouched, when its counts or lengths do not fit their
// fields.
bool WriteConfigRecord(const CConfigRecord& record, std::vector<uint8_t>* pOut);

// A record for parameter sets found in a stream (avcC: SPS and PPS; hvcC: VPS, SPS and PPS,
// each as a whole NAL unit), with 4-byte length prefixes; its fields from the first SPS. False
// when a kind is missing or the SPS is too short to give them.
bool MakeConfigRecord(ECodec eCodec, const std::vector<std::vector<uint8_t>>& parameterSets,
                      int nChromaFormat, int nBitDepthLuma, int nBitDepthChroma,
                      CConfigRecord* pRecord);
