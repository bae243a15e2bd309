// Whether the reference plays itself: its first pictures and sound frames, decoded with its own
// configurations before anything else is read.
#pragma once

#include "media/ByteSource.h"
#include "rebuild/PlayDecode.h"
#include "rebuild/RebuildResult.h"
#include "rebuild/ReferenceMovie.h"
#include "rebuild/SampleDecoder.h"

#include <cstddef>
#include <vector>

// The reference's first pictures and sound frames, with its own configurations. False, with
// the first fault, when one does not play (or Cancelled/ReadFailed in *pRun); (*pVideo)[t] is
// what the video of movie.tracks[t] decodes as (nothing decoded, for the other tracks).
bool PlayReference(CByteSource& source, const CReferenceMovie& movie,
                   const std::vector<size_t>& tracks, CDecoderFactory& decoders,
                   CCancelPoll* pCancel, CDamagedFrame* pFault, std::vector<CDecodedFormat>* pVideo,
                   EDecodeRun* pRun);
