// How a recorder times pictures shown out of decoding order, learnt from the first samples of a
// reference, and the same pattern laid over a copy's pictures. Two patterns cover the recorders
// known. Delayed: the times pictures are shown, sorted, are the decode times of the samples some
// places later (an encoder's delay; none on Apple's, whose offsets go below zero). Bunched: a
// picture is decoded at the latest a fixed time before it is shown, and at least a tick step
// after the one before (Samsung's slow motion: decode times in bursts, shown times regular).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct CCompositionPattern {
    enum class EKind { Unknown, Delayed, Bunched };
    EKind eKind = EKind::Unknown;
    // Delayed: a picture at place k in display order is shown when sample k + nDelay is decoded.
    uint32_t nDelay = 0;
    bool bNegative = false; // offsets below zero (pictures shown before they are decoded)
    // Bunched: decoded nLead before shown at the latest, nStep after the one before at least.
    uint32_t nLead = 0;
    uint32_t nStep = 0;
    uint32_t nFrame = 0; // the usual time between pictures shown, in the track's timescale
};

// From the first samples' durations and composition offsets (offsets as stored, read signed);
// bWhole when they are all the track's samples.
CCompositionPattern LearnComposition(const std::vector<uint32_t>& durations,
                                     const std::vector<int32_t>& offsets, bool bWhole);

// The show times of a copy's pictures. display[i] is sample i's place in display order, holes
// for pictures lost included; slot(n) is when the picture at place n is due by the copy's clock
// (places past the samples going on at their pace). nShift is the delay used where the pattern
// is not Delayed, or is Delayed without offsets below zero and the copy's pictures need more.
// *pDecoded holds each sample's decode time; a Bunched pattern sets them anew.
struct CPictureTimes {
    std::vector<uint64_t> decoded;
    std::vector<int64_t> shown;
    int64_t nFirstShown = 0; // when the picture at place 0 is shown
};
void LayPictures(const CCompositionPattern& pattern, const std::vector<uint64_t>& display,
                 const std::function<uint64_t(uint64_t)>& slot, uint32_t nShift,
                 CPictureTimes* pTimes);
