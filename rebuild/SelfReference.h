// A reference made from what a broken recording holds itself, for the user who has no second
// recording: the records a camera writes of its media data as it records (GoPro's SOS track),
// or the parameter sets a stream repeats before its key frames, with its sound found by its
// syntax. What is found becomes an index over the recording's first samples, read back as a
// reference's would be: the rebuild then goes on as with one.
#pragma once

#include "media/MediaStart.h"
#include "rebuild/FoundIndex.h"
#include "rebuild/FoundSettings.h"

#include <cstdint>
#include <string>
#include <vector>

class CCancelPoll;

// The media data's first records and the samples they announce, where the recording has them.
bool FindGoProIndex(CByteSource& recording, const CMediaRange& range, CCancelPoll* pCancel,
                    std::vector<CFoundTrack>* pTracks, CFoundSettings* pFound);
// The video from its first parameter sets on, and the sound between its pictures.
bool FindStreamIndex(CByteSource& recording, const CMediaRange& range, CCancelPoll* pCancel,
                     std::vector<CFoundTrack>* pTracks, CFoundSettings* pFound);

// Either, the records first. False with pFound->eMissing (or *pProblem, when what was found
// does not read as an index) when the recording does not hold enough.
bool MakeSelfReference(CByteSource& recording, const CMediaRange& range, CCancelPoll* pCancel,
                       CReferenceMovie* pMovie, CFoundSettings* pFound,
                       CRebuildResult::EProblem* pProblem);

// An AudioSpecificConfig; empty for a rate it cannot name.
std::vector<uint8_t> AacConfigBytes(int nObject, uint32_t nRate, int nChannels);
// The name of a video profile, as players show it; empty for one without a common name.
std::string ProfileName(ECodec eCodec, int nProfile);
