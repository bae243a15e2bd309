// Finds where one H.264 or HEVC sample (an access unit: length-prefixed NAL units) ends in the
// media data, checking every NAL unit on the way, and keeps the parameter sets a decoder would.
// The codec named here is ECodec::H264 or ECodec::Hevc.
#pragma once

#include "codec/AvcSyntax.h"
#include "codec/Codec.h"
#include "codec/HevcSyntax.h"
#include "codec/NalUnit.h"
#include "codec/SampleNal.h"

#include <cstddef>
#include <cstdint>

enum class ESampleParse {
    Ok,
    Invalid,   // these bytes are no sample of this track
    Truncated, // a sample that the end of the data cuts off
    NeedMore,  // more bytes are needed to decide (never when the data ends)
};

// What a scanner answers when it needs nWanted bytes of a sample that may be at most nMaxSize
// long and has nAvail: too long, cut off at the data's end, or a request that at least doubles
// what it has (by nStep at the least), so that a long sample is not read again a little at a
// time.
inline ESampleParse AskForMore(size_t nWanted, size_t nAvail, size_t nMaxSize, bool bAtEnd,
                               size_t nStep, size_t* pNeed) {
    if (nWanted > nMaxSize)
        return ESampleParse::Invalid;
    if (bAtEnd)
        return ESampleParse::Truncated;
    const size_t nGrown = nAvail + (nAvail > nStep ? nAvail : nStep);
    const size_t nCapped = nGrown < nMaxSize ? nGrown : nMaxSize;
    *pNeed = nWanted > nCapped ? nWanted : nCapped;
    return ESampleParse::NeedMore;
}

struct CVideoSample {
    size_t nSize = 0;
    bool bSync = false; // IDR or IRAP
    bool bEndOfSequence = false;
    CAvcSlice avc;   // the first slice, for the picture order
    CHevcSlice hevc; // the first slice segment
};

// Sizes and shape of a sequence parameter set, to compare recordings.
struct CVideoFormat {
    int nWidth = 0;
    int nHeight = 0;
    int nChromaFormat = 0;
    int nBitDepth = 0;
    bool operator==(const CVideoFormat& other) const {
        return nWidth == other.nWidth && nHeight == other.nHeight &&
               nChromaFormat == other.nChromaFormat && nBitDepth == other.nBitDepth;
    }
};

// What a NAL unit's header alone says it is, by the rules the parser checks first.
ENalHeader ClassifyNalHeader(ECodec codec, const uint8_t* pNal, size_t nSize);

// Length-prefixed NAL units with valid headers and clean bytes that follow one another from
// pData on (at most nMax): how many, and whether one is a coded slice. Without parameter sets
// nothing more can be told of another recording's video.
int CountNalUnits(ECodec codec, int nLengthSize, const uint8_t* pData, size_t nSize, int nMax,
                  bool* pSlice);

class CVideoSampleParser {
public:
    CVideoSampleParser(ECodec codec, int nLengthSize, size_t nMaxNalSize);

    // Whether pData can begin a sample: a length within bounds, then a NAL unit header that
    // may begin one. Nothing else is looked at.
    bool MayStartSample(const uint8_t* pData, size_t nAvail) const;

    // Parameter sets from the sample entry (avcC, hvcC); false if one does not parse.
    bool AddParameterSet(const uint8_t* pNal, size_t nSize);

    // Where pData lies in a stream of bytes that never change: the parser then remembers what
    // it found of them, so that a walk trying one position after another scans each NAL
    // unit's bytes once, not again from every position whose NAL unit reaches over them.
    static const uint64_t kNoOffset = CCleanScan::kNoOffset;

    // Parses the sample at pData, of which nAvail bytes are at hand; bAtEnd when the data ends
    // there. NeedMore sets *pNeed to the bytes to have at hand before asking again. nOffset is
    // pData's place in the stream, or kNoOffset.
    ESampleParse Parse(const uint8_t* pData, size_t nAvail, bool bAtEnd, CVideoSample* pSample,
                       size_t* pNeed, uint64_t nOffset = kNoOffset);
    // After Ok: keeps (Accept) or undoes (Reject) the parameter sets the sample carried.
    void Accept();
    void Reject();

    const CAvcParameterSets& AvcSets() const { return m_avc; }
    const CHevcParameterSets& HevcSets() const { return m_hevc; }
    // The first sequence parameter set that the media data itself carried, if any.
    bool HasInBandFormat() const { return m_bInBandFormat; }
    const CVideoFormat& InBandFormat() const { return m_inBandFormat; }
    // The format of the first parameter set from the sample entry.
    const CVideoFormat& EntryFormat() const { return m_entryFormat; }

private:
    CSampleNal Examine(const uint8_t* pNal, size_t nSize, bool bComplete, uint64_t nAt);
    bool StartsNewPicture(const CSampleNal& nal) const;
    bool ContinuesPicture(const CSampleNal& nal, const CSampleNal& first,
                          const CSampleNal& last) const;
    // Keeps the parameter set a NAL unit of the sample carries; false if it does not parse.
    bool TakeParameterSet(const uint8_t* pNal, size_t nSize);
    bool TakeAvcParameterSet(const uint8_t* pNal, size_t nSize);
    bool TakeHevcParameterSet(const uint8_t* pNal, size_t nSize);
    bool IsSync(const CSampleNal& first) const;
    void SaveSets();
    void NoteFormat(const CVideoFormat& format);

    ECodec m_codec;
    int m_nLengthSize;
    size_t m_nMaxNalSize;
    CAvcParameterSets m_avc;
    CHevcParameterSets m_hevc;
    // Undo log of the parameter sets a sample set, while it is neither accepted nor rejected.
    CAvcParameterSets m_avcSaved;
    CHevcParameterSets m_hevcSaved;
    bool m_bPending = false;
    bool m_bLoadingEntry = false;
    bool m_bInBandFormat = false;
    bool m_bEntryFormat = false;
    CVideoFormat m_inBandFormat;
    CVideoFormat m_entryFormat;
    bool m_bPendingFormat = false;
    CVideoFormat m_pendingFormat;
    CCleanScan m_scan; // what the NAL units' bytes were found to hold, by stream position
    // Slices of the last picture taken, and of the one just parsed.
    int m_nLastSlices = 0;
    int m_nPendingSlices = 0;
};
