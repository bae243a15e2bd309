// Whether samples play, asked of the decoders the program lends (CSampleChecker): the
// reference's first pictures and sound, the recording's start before anything is written (and,
// when it does not decode, the picture size it does decode at), and the copy once written,
// within a share of the rebuild's time.
#pragma once

#include "media/ByteSource.h"
#include "rebuild/MediaWalk.h"
#include "rebuild/MovieWriter.h"
#include "rebuild/Rebuild.h"
#include "rebuild/ReferenceMovie.h"
#include "rebuild/SampleCheck.h"
#include "rebuild/SampleSizes.h"

#include <cstdint>
#include <memory>
#include <vector>

// Where a track's samples lie in a file: runs of consecutive samples, and their sizes.
class CSampleLayout {
public:
    explicit CSampleLayout(const CSampleSizes& sizes) : m_sizes(sizes) {}
    // Runs come in the order of their samples.
    void AddRun(uint64_t nOffset, uint64_t nFirst, uint64_t nCount);
    uint64_t Count() const { return m_sizes.Count(); }

    struct CSpan {
        uint64_t nIndex = 0;
        uint64_t nOffset = 0;
        uint32_t nSize = 0;
    };
    // Samples [nFrom, nTo) that the runs place, in order.
    std::vector<CSpan> Locate(uint64_t nFrom, uint64_t nTo) const;

private:
    struct CRun {
        uint64_t nOffset, nFirst, nCount;
    };
    const CSampleSizes& m_sizes;
    std::vector<CRun> m_runs;
};

enum class EDecodeRun { Clean, Faults, Cancelled, ReadFailed };

// Decodes samples [nFrom, nTo) of a layout, read from source in blocks, each labelled with its
// number; nothing is finished, so the caller may go on with the next samples. Stops early when
// pDeadline passes (*pTo says where it stopped).
EDecodeRun DecodeSamples(CByteSource& source, const CSampleLayout& layout, uint64_t nFrom,
                         uint64_t nTo, CSampleDecoder& decoder, CCancelCheck* pCancel,
                         const double* pDeadline = nullptr, uint64_t* pTo = nullptr);

// The codec of a sample entry a decoder can be opened for (one it names, with its configuration);
// false for any other.
bool CheckedCodecOf(const CSampleEntry& entry, ECodec* pCodec);

// The reference's first pictures and sound frames, with its own configurations. False, with
// the first fault, when one does not play (or Cancelled/ReadFailed in *pRun); *pVideo is what
// its video decodes as.
bool ReferencePlays(CByteSource& source, const CReferenceMovie& movie,
                    const std::vector<size_t>& tracks, CSampleChecker& checker,
                    CCancelCheck* pCancel, CDamagedFrame* pFault, CDecodedFormat* pVideo,
                    EDecodeRun* pRun);

// The recording's first group of pictures and first sound frames, where the probe walk found
// them, decoded with the reference's configurations. When its pictures do not decode, the
// recorder's common picture sizes (and bit depths) are tried in the reference's parameter sets:
// one that decodes clean is the recording's size. A mismatch of kind None when it decodes.
CMismatch CheckRecordingStart(CByteSource& source, const CReferenceMovie& movie,
                              const std::vector<std::unique_ptr<CWalkTrack>>& tracks,
                              const CMediaWalk& probe, const CDecodedFormat& referenceVideo,
                              CSampleChecker& checker, CCancelCheck* pCancel, EDecodeRun* pRun);

// The copy once written: all its sound, and its video at its start, at its end and at places
// between until dBudget seconds are spent, or all of it when that fits.
CPlayCheck CheckCopy(CByteSource& copy, const std::vector<CTrackTables>& tables,
                     CSampleChecker& checker, double dBudget, CCancelCheck* pCancel,
                     EDecodeRun* pRun);
