// Whether the copy plays, once written: all its sound, and its video at its start, at its end
// and at places between, within a share of the rebuild's time.
#pragma once

#include "media/ByteSource.h"
#include "rebuild/MovieWriter.h"
#include "rebuild/PlayDecode.h"
#include "rebuild/RebuildResult.h"
#include "rebuild/SampleDecoder.h"

#include <vector>

// The copy once written: all its sound, and its video at its start, at its end and at places
// between until dBudget seconds are spent, or all of it when that fits.
CPlayResult PlayCopy(CByteSource& copy, const std::vector<CTrackTables>& tables,
                     CDecoderFactory& decoders, double dBudget, CCancelPoll* pCancel,
                     EDecodeRun* pRun);
