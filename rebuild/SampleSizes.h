// The sizes of a track's samples as runs of one size: samples that all have one size (a
// timecode, PCM sound) cost one run however many there are.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

class CSampleSizes {
public:
    struct CRun {
        uint32_t nSize;
        uint32_t nCount;
    };

    void Add(uint32_t nSize) {
        if (!m_runs.empty() && m_runs.back().nSize == nSize && m_runs.back().nCount != UINT32_MAX)
            ++m_runs.back().nCount;
        else
            m_runs.push_back(CRun{nSize, 1});
        ++m_nCount;
    }
    // nCount samples of one size.
    void Add(uint32_t nSize, uint32_t nCount) {
        while (nCount != 0) {
            if (m_runs.empty() || m_runs.back().nSize != nSize ||
                m_runs.back().nCount == UINT32_MAX)
                m_runs.push_back(CRun{nSize, 0});
            const uint32_t nTake = std::min(nCount, UINT32_MAX - m_runs.back().nCount);
            m_runs.back().nCount += nTake;
            m_nCount += nTake;
            nCount -= nTake;
        }
    }
    void RemoveLast() {
        if (m_runs.empty())
            return;
        if (--m_runs.back().nCount == 0)
            m_runs.pop_back();
        --m_nCount;
    }
    uint64_t Count() const { return m_nCount; }
    const std::vector<CRun>& Runs() const { return m_runs; }
    // Whether there are samples and all have one size.
    bool OneSize() const {
        for (const CRun& run : m_runs) {
            if (run.nSize != m_runs[0].nSize)
                return false;
        }
        return !m_runs.empty();
    }

private:
    std::vector<CRun> m_runs;
    uint64_t m_nCount = 0;
};
