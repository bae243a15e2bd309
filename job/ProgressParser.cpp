#include "job/ProgressParser.h"

#include <algorithm>
#include <cstring>

namespace {

const size_t kBarWidth = 20;
const size_t kMaxPhaseBytes = 40; // of the phase in the caption, before "..."

// "<phase>: |<bar>| (NN/100)", read from its end so that the phase may hold anything.
bool ParseProgressLine(const std::string& strLine, std::string* pPhase, int* pPercent) {
    static const char kEnd[] = "/100)";
    const size_t nEnd = sizeof(kEnd) - 1;
    if (strLine.size() < nEnd || strLine.compare(strLine.size() - nEnd, nEnd, kEnd) != 0)
        return false;
    size_t i = strLine.size() - nEnd; // just past the number
    size_t nDigits = 0;
    int nPercent = 0, nScale = 1;
    while (i > 0 && nDigits < 4 && strLine[i - 1] >= '0' && strLine[i - 1] <= '9') {
        nPercent += (strLine[i - 1] - '0') * nScale;
        nScale *= 10;
        --i;
        ++nDigits;
    }
    if (nDigits == 0 || nDigits > 3 || nPercent > 100)
        return false;
    // "| (" before the number, the bar, and ": |" before the bar.
    const size_t nHead = 3 + kBarWidth + 3;
    if (i < nHead + 1 || strLine.compare(i - 3, 3, "| (") != 0)
        return false;
    i -= 3;
    for (size_t k = i - kBarWidth; k < i; ++k) {
        if (strLine[k] != '=' && strLine[k] != ' ')
            return false;
    }
    i -= kBarWidth;
    if (strLine.compare(i - 3, 3, ": |") != 0)
        return false;
    i -= 3;
    pPhase->assign(strLine, 0, i);
    *pPercent = nPercent;
    return pPhase->find_first_not_of(' ') != std::string::npos;
}

} // namespace

void CProgressParser::Reset(int nExpectedPhases) {
    m_nExpected = nExpectedPhases > 0 ? nExpectedPhases : 2;
    m_nDone = 0;
    m_nPhasePercent = -1;
    m_nShown = -1;
    m_strPhase.clear();
}

void CProgressParser::EndPhase() {
    m_nPhasePercent = -1;
    ++m_nDone;
    if (m_nDone >= m_nExpected)
        m_nExpected = m_nDone + 1;
}

bool CProgressParser::OnLine(const std::string& strLine, bool bBlank) {
    const int nShownBefore = m_nShown;
    const std::string strPhaseBefore = m_strPhase;
    std::string strPhase;
    int nPercent = -1;
    if (bBlank) {
        // The tool blanks the line at the end of a phase.
        if (m_nPhasePercent >= 0)
            EndPhase();
    } else if (ParseProgressLine(strLine, &strPhase, &nPercent)) {
        // A phase that starts without a blank line after the last one ends that one too.
        if (m_nPhasePercent >= 0 && (strPhase != m_strPhase || nPercent < m_nPhasePercent))
            EndPhase();
        m_strPhase.swap(strPhase);
        m_nPhasePercent = nPercent;
    } else {
        return false;
    }
    const int nRun = (m_nDone * 100 + (m_nPhasePercent > 0 ? m_nPhasePercent : 0)) / m_nExpected;
    if (m_nPhasePercent >= 0 || m_nShown >= 0)
        m_nShown = nRun > m_nShown ? (nRun > 100 ? 100 : nRun) : m_nShown;
    return m_nShown != nShownBefore || m_strPhase != strPhaseBefore;
}

CString ProgressCaptionPrefix(int nPercent, const std::string& strPhase) {
    std::string strClean = strPhase.substr(0, strPhase.find_last_not_of(' ') + 1);
    if (strClean.size() > kMaxPhaseBytes) {
        const size_t nSpace = strClean.rfind(' ', kMaxPhaseBytes);
        if (nSpace == std::string::npos) {
            strClean.clear();
        } else {
            strClean.resize(strClean.find_last_not_of(' ', nSpace) + 1);
            strClean += "...";
        }
    }
    CString strPrefix;
    strPrefix.Format("%d%% ", nPercent);
    if (!strClean.empty()) {
        strPrefix += strClean.c_str();
        strPrefix += ' ';
    }
    strPrefix += "- ";
    return strPrefix;
}
