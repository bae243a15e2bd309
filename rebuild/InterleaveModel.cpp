#include "rebuild/InterleaveModel.h"

#include <algorithm>
#include <cmath>

namespace {

// States kept from the reference; its first minutes hold every pattern a writer repeats.
const size_t kMaxStates = 20000;
// And at most this many values in them (states times timed tracks).
const size_t kMaxStateValues = 1 << 18;
// Chunks a track needs to count as periodic rather than a one-off (a timecode sample).
const size_t kPeriodicChunks = 3;
// State values that searches of every state may look at, and more for each byte walked.
const uint64_t kScanAllowance = 1 << 24;
const uint64_t kScanPerByte = 1;
// States after the last one predicted that are looked at when the allowance is spent.
const size_t kNearStates = 64;

} // namespace

void CInterleaveModel::AddTrack(double dSampleSeconds, const std::vector<CReferenceChunk>& chunks,
                                bool bSteady) {
    CTrack track;
    track.dSampleSeconds = dSampleSeconds;
    track.pChunks = &chunks;
    track.bPeriodic = chunks.size() >= kPeriodicChunks;
    track.bTimed = track.bPeriodic && (bSteady || m_tracks.empty());
    for (const CReferenceChunk& chunk : chunks) {
        track.nBudget += chunk.nSamples;
        track.dMaxChunk = std::max(track.dMaxChunk, chunk.nSamples * dSampleSeconds);
    }
    m_tracks.push_back(track);
}

void CInterleaveModel::RelativeOf(const std::vector<uint64_t>& counts,
                                  std::vector<double>* pRelative) const {
    pRelative->clear();
    const double dLead = m_tracks.empty() ? 0 : double(counts[0]) * m_tracks[0].dSampleSeconds;
    for (size_t t = 1; t < m_tracks.size(); ++t) {
        if (m_tracks[t].bTimed)
            pRelative->push_back(double(counts[t]) * m_tracks[t].dSampleSeconds - dLead);
    }
}

void CInterleaveModel::Build() {
    struct CItem {
        uint64_t nOffset;
        int nTrack;
        uint32_t nSamples;
    };
    std::vector<CItem> items;
    m_nTimed = 0;
    for (size_t t = 0; t < m_tracks.size(); ++t) {
        for (const CReferenceChunk& chunk : *m_tracks[t].pChunks)
            items.push_back(CItem{chunk.nOffset, static_cast<int>(t), chunk.nSamples});
        if (t > 0 && m_tracks[t].bTimed)
            ++m_nTimed;
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const CItem& a, const CItem& b) { return a.nOffset < b.nOffset; });
    const size_t nMaxStates = std::min(kMaxStates, kMaxStateValues / std::max<size_t>(1, m_nTimed));
    std::vector<uint64_t> counts(m_tracks.size(), 0);
    std::vector<double> relative;
    m_states.clear();
    m_relative.clear();
    for (const CItem& item : items) {
        RelativeOf(counts, &relative);
        size_t nPeriodic = 0;
        for (size_t t = 1; t < m_tracks.size(); ++t) {
            if (!m_tracks[t].bTimed)
                continue;
            m_tracks[t].dMaxSpread =
                std::max(m_tracks[t].dMaxSpread, std::fabs(relative[nPeriodic]));
            ++nPeriodic;
        }
        if (m_states.size() < nMaxStates) {
            CState state;
            state.dLead = m_tracks.empty() ? 0 : double(counts[0]) * m_tracks[0].dSampleSeconds;
            state.nTrack = item.nTrack;
            state.nSamples = item.nSamples;
            m_states.push_back(state);
            m_relative.insert(m_relative.end(), relative.begin(), relative.end());
        }
        counts[static_cast<size_t>(item.nTrack)] += item.nSamples;
    }
    m_bLast = false;
    m_nScanned = 0;
}

double CInterleaveModel::MaxSpread(size_t nTrack) const {
    return nTrack < m_tracks.size() ? m_tracks[nTrack].dMaxSpread : 0;
}

double CInterleaveModel::MaxChunkSeconds(size_t nTrack) const {
    return nTrack < m_tracks.size() ? m_tracks[nTrack].dMaxChunk : 0;
}

bool CInterleaveModel::Nearest(size_t nFrom, size_t nTo, const std::vector<double>& relative,
                               double dLead, size_t* pBest) const {
    bool bFound = false;
    double dBest = 0;
    for (size_t i = nFrom; i < nTo; ++i) {
        const double* pState = Relative(i);
        double dDistance = 0;
        size_t j = 0;
        // A state already as far as the best one cannot be nearer.
        for (; j < relative.size() && (!bFound || dDistance < dBest); ++j)
            dDistance += std::fabs(pState[j] - relative[j]);
        if (j < relative.size())
            continue;
        // Where patterns repeat, the state nearest in time breaks the tie: a writer's first
        // chunks often differ from the ones that follow.
        dDistance += 1e-9 * std::fabs(m_states[i].dLead - dLead);
        if (!bFound || dDistance < dBest) {
            dBest = dDistance;
            *pBest = i;
            bFound = true;
        }
    }
    return bFound;
}

CInterleaveModel::CPrediction CInterleaveModel::Predict(const std::vector<uint64_t>& counts,
                                                        uint64_t nWalked) {
    CPrediction prediction;
    if (m_states.empty())
        return prediction;
    std::vector<double>& relative = m_query;
    RelativeOf(counts, &relative);
    const double dLead = double(counts[0]) * m_tracks[0].dSampleSeconds;
    // A walk that keeps to the reference's pattern finds it at the next state.
    size_t nBest = 0;
    bool bFound = false;
    if (m_bLast && m_nLast + 1 < m_states.size()) {
        const double* pNext = Relative(m_nLast + 1);
        double dOff = 0;
        for (size_t i = 0; i < relative.size(); ++i)
            dOff += std::fabs(pNext[i] - relative[i]);
        if (dOff < 1e-6) {
            nBest = m_nLast + 1;
            bFound = true;
        }
    }
    if (!bFound) {
        const uint64_t nCost = uint64_t(m_states.size()) * (m_nTimed + 1);
        if (!m_bLast || m_nScanned + nCost <= kScanAllowance + kScanPerByte * nWalked) {
            m_nScanned += nCost;
            bFound = Nearest(0, m_states.size(), relative, dLead, &nBest);
        } else {
            const size_t nFrom = std::min(m_nLast + 1, m_states.size() - 1);
            bFound = Nearest(nFrom, std::min(m_states.size(), nFrom + kNearStates), relative, dLead,
                             &nBest);
        }
    }
    // A one-off track that has had its samples gives way to the chunk after it.
    size_t nAt = nBest;
    while (nAt < m_states.size()) {
        const CTrack& track = m_tracks[static_cast<size_t>(m_states[nAt].nTrack)];
        if (track.bPeriodic || counts[static_cast<size_t>(m_states[nAt].nTrack)] < track.nBudget)
            break;
        ++nAt;
    }
    if (nAt == m_states.size())
        nAt = nBest;
    m_nLast = nAt;
    m_bLast = true;
    prediction.nTrack = m_states[nAt].nTrack;
    prediction.nSamples = m_states[nAt].nSamples;
    return prediction;
}

CInterleaveModel::CPrediction CInterleaveModel::Following(size_t nAhead) const {
    CPrediction prediction;
    if (!m_bLast || nAhead >= m_states.size() - m_nLast)
        return prediction;
    prediction.nTrack = m_states[m_nLast + nAhead].nTrack;
    prediction.nSamples = m_states[m_nLast + nAhead].nSamples;
    return prediction;
}
