#include "rebuild/CompositionPattern.h"

#include <algorithm>
#include <numeric>

namespace {

// The longest delay looked for: deeper than any encoder's reordering.
const uint32_t kMaxDelay = 16;
// Of the samples a pattern is checked on, the share it must fit: a recorder's first and last
// pictures (a stall, the stop) may stray.
const double kFit = 0.9;

bool Near(int64_t a, int64_t b) {
    return a - b <= 1 && b - a <= 1;
}

} // namespace

CCompositionPattern LearnComposition(const std::vector<uint32_t>& durations,
                                     const std::vector<int32_t>& offsets, bool bWhole) {
    CCompositionPattern pattern;
    const size_t n = std::min(durations.size(), offsets.size());
    if (n < 2)
        return pattern;
    std::vector<int64_t> decoded(n), shown(n);
    int64_t nTime = 0;
    for (size_t i = 0; i < n; ++i) {
        decoded[i] = nTime;
        shown[i] = nTime + offsets[i];
        nTime += durations[i];
        pattern.bNegative = pattern.bNegative || offsets[i] < 0;
    }
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&shown](size_t a, size_t b) { return shown[a] < shown[b]; });
    size_t nReorder = 0;
    std::vector<int64_t> sorted(n), steps;
    for (size_t r = 0; r < n; ++r) {
        sorted[r] = shown[order[r]];
        nReorder = std::max(nReorder, order[r] > r ? order[r] - r : r - order[r]);
        if (r > 0 && sorted[r] > sorted[r - 1])
            steps.push_back(sorted[r] - sorted[r - 1]);
    }
    if (steps.empty())
        return pattern;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    pattern.nFrame = static_cast<uint32_t>(std::min<int64_t>(steps[steps.size() / 2], 0xFFFFFFFF));
    // Pictures near the end of a part of the track may be shown after pictures not read.
    const size_t nTail = bWhole ? 0 : 2 * nReorder + kMaxDelay;

    // Delayed: the decode time of sample j is the show time of the picture j - d in display
    // order. The least delay that fits best.
    double dBest = 0;
    for (uint32_t d = 0; d <= kMaxDelay && d < n; ++d) {
        size_t nChecked = 0, nFit = 0;
        for (size_t j = d; j + nTail < n; ++j) {
            ++nChecked;
            nFit += Near(decoded[j], sorted[j - d]) ? 1 : 0;
        }
        const double dFit = nChecked ? double(nFit) / double(nChecked) : 0;
        if (dFit >= kFit && dFit > dBest) {
            dBest = dFit;
            pattern.eKind = CCompositionPattern::EKind::Delayed;
            pattern.nDelay = d;
        }
    }
    if (pattern.eKind != CCompositionPattern::EKind::Unknown)
        return pattern;

    // Bunched: the lead is the largest offset, the step the least rise of the decode times.
    int64_t nLead = 0, nStep = 0;
    for (size_t i = 0; i < n; ++i) {
        nLead = std::max<int64_t>(nLead, offsets[i]);
        if (i > 0 && decoded[i] > decoded[i - 1] &&
            (nStep == 0 || decoded[i] - decoded[i - 1] < nStep))
            nStep = decoded[i] - decoded[i - 1];
    }
    if (nLead == 0 || nStep == 0)
        return pattern;
    // The lead must tell the bursts' starts: decode times that rise by the step alone fit
    // any offsets.
    size_t nFit = 0, nStarts = 0;
    for (size_t j = 1; j < n; ++j) {
        nFit += Near(decoded[j], std::max(decoded[j - 1] + nStep, shown[j] - nLead)) ? 1 : 0;
        nStarts += decoded[j] - decoded[j - 1] > nStep + 1 ? 1 : 0;
    }
    if (double(nFit) >= kFit * double(n - 1) && 10 * nStarts >= n - 1) {
        pattern.eKind = CCompositionPattern::EKind::Bunched;
        pattern.nLead = static_cast<uint32_t>(nLead);
        pattern.nStep = static_cast<uint32_t>(std::min<int64_t>(nStep, 0xFFFFFFFF));
    }
    return pattern;
}

void LayPictures(const CCompositionPattern& pattern, const std::vector<uint64_t>& display,
                 const std::function<uint64_t(uint64_t)>& slot, uint32_t nShift,
                 CPictureTimes* pTimes) {
    const size_t n = display.size();
    pTimes->shown.assign(n, 0);
    if (pattern.eKind == CCompositionPattern::EKind::Bunched) {
        // Each picture shown in its slot, the lead after its decode time at the latest.
        pTimes->decoded.resize(n);
        for (size_t i = 0; i < n; ++i) {
            const uint64_t nShown = slot(display[i]) + pattern.nLead;
            pTimes->shown[i] = static_cast<int64_t>(nShown);
            const uint64_t nLatest = nShown - pattern.nLead;
            pTimes->decoded[i] =
                i == 0 ? nLatest : std::max(pTimes->decoded[i - 1] + pattern.nStep, nLatest);
        }
        pTimes->nFirstShown = static_cast<int64_t>(slot(0) + pattern.nLead);
        return;
    }
    const uint64_t nDelay =
        pattern.eKind == CCompositionPattern::EKind::Delayed && pattern.bNegative ? pattern.nDelay
                                                                                  : nShift;
    for (size_t i = 0; i < n; ++i)
        pTimes->shown[i] = static_cast<int64_t>(slot(display[i] + nDelay));
    pTimes->nFirstShown = static_cast<int64_t>(slot(nDelay));
}
