// The HEVC rules of the sample parser (VideoSample.h): what each NAL unit type may be and
// hold, and where a picture's slice segments begin and continue.
#pragma once

#include "codec/HevcSyntax.h"
#include "codec/NalUnit.h"
#include "codec/SampleNal.h"

#include <cstddef>
#include <cstdint>

ENalHeader HevcNalHeader(const uint8_t* pNal, size_t nSize);

// What the NAL unit at pNal is to a sample, by the parameter sets at hand: nSize bytes of it
// are, all of it when bComplete. nAt is its place in the stream that pScan remembers, or
// CCleanScan::kNoOffset.
CSampleNal ExamineHevc(const uint8_t* pNal, size_t nSize, bool bComplete, uint64_t nAt,
                       const CHevcParameterSets& sets, CCleanScan* pScan);

bool HevcContinuesPicture(const CHevcSlice& slice, const CHevcSlice& first, const CHevcSlice& last);

// HEVC lets parameter sets and prefix SEI stand between the slices of one picture: they start
// the next access unit only after the picture's last slice. Where in pData (NAL units with
// nLengthSize-byte lengths) a slice of the same picture follows them, or 0.
size_t HevcSliceOfSamePictureAt(const uint8_t* pData, size_t nAvail, size_t nLengthSize);
