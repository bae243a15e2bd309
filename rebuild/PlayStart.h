// Whether the recording's start plays with the reference's configurations, decoded before
// anything is written; when its pictures do not, the picture size (and bit depth) they decode
// at, found by trying the recorder's common sizes in the reference's parameter sets.
#pragma once

#include "media/ByteSource.h"
#include "rebuild/MediaWalk.h"
#include "rebuild/PlayDecode.h"
#include "rebuild/RebuildResult.h"
#include "rebuild/ReferenceMovie.h"
#include "rebuild/SampleDecoder.h"

#include <memory>
#include <vector>

// The recording's first group of pictures and first sound frames, where the probe walk found
// them, decoded with the reference's configurations. When its pictures do not decode, the
// recorder's common picture sizes (and bit depths) are tried in the reference's parameter sets:
// one that decodes clean is the recording's size. A mismatch of kind None when it decodes.
CMismatch PlayRecordingStart(CByteSource& source, const CReferenceMovie& movie,
                             const std::vector<std::unique_ptr<CWalkTrack>>& tracks,
                             const CMediaWalk& probe,
                             const std::vector<CDecodedFormat>& referenceVideo,
                             CDecoderFactory& decoders, CCancelPoll* pCancel, EDecodeRun* pRun);
