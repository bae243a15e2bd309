#include "rebuild/InterleaveModel.h"

#include <algorithm>
#include <cmath>

namespace {

// States kept from the reference; its first minutes hold every pattern a writer repeats.
const size_t kMaxStates = 20000;
// Chunks a track needs to count as periodic rather than a one-off (a timecode sample).
const size_t kPeriodicChunks = 3;

} // namespace

void CInterleaveModel::AddTrack(double dSampleSeconds, const std::vector<CReferenceChunk>& chunks,
                                bool bSteady) {
    CTrack track;
    track.dSampleSeconds = dSampleSeconds;
    track.chunks = chunks;
    track.bPeriodic = chunks.size() >= kPeriodicChunks;
    track.bTimed = track.bPeriodic && (bSteady || m_tracks.empty());
    for (const CReferenceChunk& chunk : chunks) {
        track.nBudget += chunk.nSamples;
        track.dMaxChunk = std::max(track.dMaxChunk, chunk.nSamples * dSampleSeconds);
    }
    m_tracks.push_back(track);
}

std::vector<double> CInterleaveModel::Relative(const std::vector<uint64_t>& counts) const {
    std::vector<double> relative;
    const double dLead = m_tracks.empty() ? 0 : double(counts[0]) * m_tracks[0].dSampleSeconds;
    for (size_t t = 1; t < m_tracks.size(); ++t) {
        if (m_tracks[t].bTimed)
            relative.push_back(double(counts[t]) * m_tracks[t].dSampleSeconds - dLead);
    }
    return relative;
}

void CInterleaveModel::Build() {
    struct CItem {
        uint64_t nOffset;
        int nTrack;
        uint32_t nSamples;
    };
    std::vector<CItem> items;
    for (size_t t = 0; t < m_tracks.size(); ++t) {
        for (const CReferenceChunk& chunk : m_tracks[t].chunks)
            items.push_back(CItem{chunk.nOffset, static_cast<int>(t), chunk.nSamples});
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const CItem& a, const CItem& b) { return a.nOffset < b.nOffset; });
    std::vector<uint64_t> counts(m_tracks.size(), 0);
    m_states.clear();
    for (const CItem& item : items) {
        const std::vector<double> relative = Relative(counts);
        size_t nPeriodic = 0;
        for (size_t t = 1; t < m_tracks.size(); ++t) {
            if (!m_tracks[t].bTimed)
                continue;
            m_tracks[t].dMaxSpread =
                std::max(m_tracks[t].dMaxSpread, std::fabs(relative[nPeriodic]));
            ++nPeriodic;
        }
        if (m_states.size() < kMaxStates) {
            CState state;
            state.relative = relative;
            state.dLead = m_tracks.empty() ? 0 : double(counts[0]) * m_tracks[0].dSampleSeconds;
            state.nTrack = item.nTrack;
            state.nSamples = item.nSamples;
            m_states.push_back(state);
        }
        counts[static_cast<size_t>(item.nTrack)] += item.nSamples;
    }
    m_bLast = false;
}

double CInterleaveModel::MaxSpread(size_t nTrack) const {
    return nTrack < m_tracks.size() ? m_tracks[nTrack].dMaxSpread : 0;
}

double CInterleaveModel::MaxChunkSeconds(size_t nTrack) const {
    return nTrack < m_tracks.size() ? m_tracks[nTrack].dMaxChunk : 0;
}

double CInterleaveModel::Distance(const CState& state, const std::vector<double>& relative,
                                  double dLead) const {
    double dDistance = 0;
    for (size_t i = 0; i < relative.size(); ++i)
        dDistance += std::fabs(state.relative[i] - relative[i]);
    // Where patterns repeat, the state nearest in time breaks the tie: a writer's first
    // chunks often differ from the ones that follow.
    return dDistance + 1e-9 * std::fabs(state.dLead - dLead);
}

CInterleaveModel::CPrediction CInterleaveModel::Predict(const std::vector<uint64_t>& counts) {
    CPrediction prediction;
    if (m_states.empty())
        return prediction;
    const std::vector<double> relative = Relative(counts);
    const double dLead = double(counts[0]) * m_tracks[0].dSampleSeconds;
    // A walk that keeps to the reference's pattern finds it at the next state.
    size_t nBest = 0;
    bool bFound = false;
    if (m_bLast && m_nLast + 1 < m_states.size()) {
        const CState& next = m_states[m_nLast + 1];
        double dOff = 0;
        for (size_t i = 0; i < relative.size(); ++i)
            dOff += std::fabs(next.relative[i] - relative[i]);
        if (dOff < 1e-6) {
            nBest = m_nLast + 1;
            bFound = true;
        }
    }
    if (!bFound) {
        double dBest = 0;
        for (size_t i = 0; i < m_states.size(); ++i) {
            const double dDistance = Distance(m_states[i], relative, dLead);
            if (!bFound || dDistance < dBest) {
                dBest = dDistance;
                nBest = i;
                bFound = true;
            }
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
