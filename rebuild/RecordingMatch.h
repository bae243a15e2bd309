// Whether a broken recording was made with the reference's settings, decided from a walk over
// the start of its media data before anything is written; when it was not, the difference.
#pragma once

#include "media/ByteSource.h"
#include "rebuild/InterleaveModel.h"
#include "rebuild/MediaWalk.h"
#include "rebuild/RebuildResult.h"
#include "rebuild/ReferenceMovie.h"

#include <memory>
#include <string>
#include <vector>

struct CProbe {
    const CReferenceMovie* pMovie = nullptr;
    const std::vector<std::unique_ptr<CWalkTrack>>* pTracks = nullptr;
    const CInterleaveModel* pModel = nullptr;
    EWalkStop eStop = EWalkStop::End;
    uint64_t nStop = 0;    // where the probe walk stopped
    uint64_t nDataEnd = 0; // the end of the media data
};

// A mismatch of kind None when the recording fits the reference.
CMismatch FindMismatch(CByteSource& source, const CProbe& probe);

// "H.264", "HEVC", "AAC", or the sample entry's type.
std::string CodecName(const CSampleEntry& entry);
