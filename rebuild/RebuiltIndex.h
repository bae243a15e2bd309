// The sample tables of the copy, made from what the walk found: sizes, key frames, the
// composition offsets of reordered pictures, and the chunks at their places in the new file.
#pragma once

#include "rebuild/MediaWalk.h"
#include "rebuild/MovieWriter.h"
#include "rebuild/TrackTiming.h"

#include <memory>
#include <string>
#include <vector>

// One table set per track the copy keeps (found samples, not Unknown), in the reference's
// order; the others are named in pLeftOut, and the stretches the walk left out in pStretches
// with where they were in the copy's time. nPayload is where the copy's media data begins.
std::vector<CTrackTables> IndexFromWalk(const CReferenceMovie& movie,
                                        const std::vector<std::unique_ptr<CWalkTrack>>& tracks,
                                        const CMediaWalk& walk, uint64_t nBegin, uint64_t nPayload,
                                        std::vector<CTrackLeftOut>* pLeftOut,
                                        std::vector<CStretchLeftOut>* pStretches = nullptr);
