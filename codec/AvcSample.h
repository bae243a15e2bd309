// The H.264 rules of the sample parser (VideoSample.h): what each NAL unit type may be and
// hold, and where a picture's slices begin and continue.
#pragma once

#include "codec/AvcSyntax.h"
#include "codec/NalUnit.h"
#include "codec/SampleNal.h"

#include <cstddef>
#include <cstdint>

ENalHeader AvcNalHeader(const uint8_t* pNal, size_t nSize);

// What the NAL unit at pNal is to a sample, by the parameter sets at hand: nSize bytes of it
// are, all of it when bComplete. nAt is its place in the stream that pScan remembers, or
// CCleanScan::kNoOffset.
CSampleNal ExamineAvc(const uint8_t* pNal, size_t nSize, bool bComplete, uint64_t nAt,
                      const CAvcParameterSets& sets, CCleanScan* pScan);

bool AvcStartsPicture(const CAvcSlice& slice);
bool AvcContinuesPicture(const CAvcSlice& slice, const CAvcSlice& first, const CAvcSlice& last);
