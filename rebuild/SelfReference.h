// A reference made from what a broken recording holds itself, for the user who has no second
// recording: the records a camera writes of its media data as it records (GoPro's SOS track),
// or the parameter sets a stream repeats before its key frames, with its sound found by its
// syntax. What is found becomes an index over the recording's first samples, read back as a
// reference's would be: the rebuild then goes on as with one.
#pragma once

#include "media/MediaStart.h"
#include "rebuild/FoundIndex.h"
#include "rebuild/FoundSettings.h"
#include "codec/Codec.h"

#include <cstdint>
#include <string>
#include <vector>

class CCancelPoll;
class CDecoderFactory;
class CSearchProgress;

// What the rebuild lends the search for parameter sets a stream does not carry; it searches
// only where bSearch and there are decoders to try its candidates on.
struct CSelfSearch {
    CCancelPoll* pCancel = nullptr;
    CDecoderFactory* pDecoders = nullptr;
    CSearchProgress* pProgress = nullptr;
    bool bSearch = false;
};

// The media data's first records and the samples they announce, where the recording has them.
bool FindGoProIndex(CByteSource& recording, const CMediaRange& range, CCancelPoll* pCancel,
                    std::vector<CFoundTrack>* pTracks, CFoundSettings* pFound);
// The video from its first parameter sets on (or, with none, from its first key frame, with
// what the search finds), and the sound between its pictures.
bool FindStreamIndex(CByteSource& recording, const CMediaRange& range, const CSelfSearch& search,
                     std::vector<CFoundTrack>* pTracks, CFoundSettings* pFound);

// Either, the records first. False with pFound->eMissing (or *pProblem, when what was found
// does not read as an index) when the recording does not hold enough.
bool MakeSelfReference(CByteSource& recording, const CMediaRange& range, const CSelfSearch& search,
                       CReferenceMovie* pMovie, CFoundSettings* pFound,
                       CRebuildResult::EProblem* pProblem);

// What parameter sets say of the pictures.
struct CPictureFacts {
    int nWidth = 0, nHeight = 0, nProfile = 0;
    int nChroma = 1, nDepthLuma = 8, nDepthChroma = 8;
    uint32_t nUnits = 0, nScale = 0; // a picture lasts nUnits of nScale; 0 when not said
};
bool PictureFactsOf(ECodec eCodec, const std::vector<std::vector<uint8_t>>& sets,
                    CPictureFacts* pFacts);
// What was found of the pictures, for the verdict.
CFoundSettings FoundVideo(CFoundSettings::ESource eSource, ECodec eCodec,
                          const CPictureFacts& facts);
// A sample entry for video of these parameter sets (avc1 or, bInBand, hev1 where the samples
// carry them too; else hvc1), with what they say of its pictures; false when they do not serve.
bool MakeVideoEntry(ECodec eCodec, const std::vector<std::vector<uint8_t>>& sets, bool bInBand,
                    CPictureFacts* pFacts, std::vector<uint8_t>* pEntry);

// An AudioSpecificConfig; empty for a rate it cannot name.
std::vector<uint8_t> AacConfigBytes(int nObject, uint32_t nRate, int nChannels);
// The name of a video profile, as players show it; empty for one without a common name.
std::string ProfileName(ECodec eCodec, int nProfile);
