// The records of GoPro's SOS track (sample entry 'fdsc'): a map of the media data the camera
// writes as it records, one record right before every sample of every other track. A record is
// 16 bytes: 'G' 'P', the kind of the sample that follows, a flag (video: 1 key frame, 3 other),
// then big-endian the sample's size, its duration in its track's timescale and a third word
// (video: the frame interval). The track begins with two longer ones: a 'GPRO' header (its size
// little-endian) that describes the camera and the recording, and the first frame's record
// followed by its parameter sets, each in a 68-byte slot (a big-endian length, then the NAL
// unit zero-padded to 64 bytes). Read from the bytes alone, each read bounded by the bytes at
// hand. Portable.
#pragma once

#include "codec/VideoSample.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What a record's kind says the next sample is, by the numbers the cameras write.
enum class EGoProSample { Video, Sound, Timecode, Metadata, Unknown };
EGoProSample GoProSampleOf(uint8_t nKind);

const size_t kGoProRecordSize = 16;
const size_t kGoProSlotSize = 68;
const size_t kGoProMaxSlots = 4;
// A header is never larger than this (the cameras seen write 620 bytes).
const size_t kGoProMaxHeader = 64u << 10;

struct CGoProRecord {
    uint8_t nKind = 0; // 0 video, 3 video with parameter sets, 4 sound, 5 timecode, 6 GPMF
    uint8_t nFlag = 0;
    uint32_t nSize = 0;                              // of the sample that follows
    uint32_t nDuration = 0;                          // of that sample, in its track's timescale
    uint32_t nInterval = 0;                          // video: the frame interval
    size_t nLength = 0;                              // the record's own bytes, its slots included
    std::vector<std::vector<uint8_t>> parameterSets; // the NAL units of its slots

    EGoProSample Sample() const { return GoProSampleOf(nKind); }
    bool KeyFrame() const { return Sample() == EGoProSample::Video && nFlag == 1; }
};

// The record at pData. Ok with its length; NeedMore with *pNeed (never when bAtEnd) or
// Truncated when the bytes end inside it; Invalid when the bytes are no record (a header is
// none).
ESampleParse ParseGoProRecord(const uint8_t* pData, size_t nAvail, bool bAtEnd,
                              CGoProRecord* pRecord, size_t* pNeed);

struct CGoProHeader {
    size_t nLength = 0;
    // As the camera wrote them; empty where the bytes hold no such text.
    std::string strFirmware;
    std::string strSerial;
    std::string strModel;
    // From its block of settings (a second 'GPRO' inside it); 0 where it has none.
    uint32_t nTimescale = 0;
    uint32_t nWidth = 0;
    uint32_t nHeight = 0;
    uint32_t nSampleRate = 0;
    uint32_t nChannels = 0;
};

// The 'GPRO' header at pData, with the same results as ParseGoProRecord.
ESampleParse ParseGoProHeader(const uint8_t* pData, size_t nAvail, bool bAtEnd,
                              CGoProHeader* pHeader, size_t* pNeed);

// Whether pData begins a header ('GPRO'), and the length it gives itself (0 when none, or
// when it gives one that no header has).
bool IsGoProHeader(const uint8_t* pData, size_t nAvail);
size_t GoProHeaderLength(const uint8_t* pData, size_t nAvail);
