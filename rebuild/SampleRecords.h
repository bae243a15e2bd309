// Tracks whose samples are records of the media data (GoPro's SOS track): each record, right
// before a sample of another track, says what that sample is and how long. Such a track is
// known by its samples' content, not by its name, and the reference shows which track's sample
// follows each kind of record. Portable.
#pragma once

#include "media/Box.h"
#include "media/ByteSource.h"
#include "rebuild/ReferenceMovie.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Whether samples (a track's first) are all records, or the header that begins them, each
// exactly its size; at least one of them a record.
bool SamplesAreRecords(const std::vector<std::vector<uint8_t>>& samples);

// The length of the header or record at pData (which must be whole within nAvail), or 0.
size_t RecordLength(const uint8_t* pData, size_t nAvail);

// Marks the movie's tracks of records and learns, for each kind of record, the track whose
// samples follow records of that kind: the one most of them precede.
void LearnRecordKinds(CByteSource& source, CReferenceMovie* pMovie, CCancelPoll* pCancel);
