// Parameter sets by their id, as a decoder keeps them: a later set of an id replaces the
// earlier one, and a slice names the ones it uses.
#pragma once

#include <optional>
#include <vector>

template <class TSps, class TPps, int kSpsIds, int kPpsIds> class CParameterSetTable {
public:
    CParameterSetTable() : m_sps(kSpsIds), m_pps(kPpsIds) {}

    const TSps* Sps(int nId) const { return Find(m_sps, nId); }
    const TPps* Pps(int nId) const { return Find(m_pps, nId); }
    // The parsers only give ids in range.
    void Set(const TSps& sps) { m_sps[sps.nId] = sps; }
    void Set(const TPps& pps) { m_pps[pps.nId] = pps; }

private:
    template <class T> static const T* Find(const std::vector<std::optional<T>>& sets, int nId) {
        return nId >= 0 && static_cast<size_t>(nId) < sets.size() && sets[nId] ? &*sets[nId]
                                                                               : nullptr;
    }

    std::vector<std::optional<TSps>> m_sps;
    std::vector<std::optional<TPps>> m_pps;
};
