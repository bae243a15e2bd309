#include "job/ProgressParser.h"

#include <algorithm>
#include <cstring>

namespace {

const size_t kBarWidth = 20;
const size_t kMaxPhaseBytes = 40; // of the phase in the caption, before "..."

bool IsBlank(const std::string& strLine) {
    return !strLine.empty() && strLine.find_first_not_of(' ') == std::string::npos;
}

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

void CProgressParser::Reset() {
    m_strLine.clear();
    m_bLineTooLong = false;
    m_strPhase.clear();
    m_nPercent = -1;
}

bool CProgressParser::Feed(const char* pData, size_t nLength) {
    // What showed before, taken when the first line of the record ends.
    bool bLineEnded = false;
    const int nPercentBefore = m_nPercent;
    std::string strPhaseBefore;
    const char* p = pData;
    const char* const pEnd = pData + nLength;
    while (p < pEnd) {
        const char* pStop = std::find_if(p, pEnd, [](char ch) { return ch == '\r' || ch == '\n'; });
        const size_t nRoom = kMaxLine - std::min(kMaxLine, m_strLine.size());
        const size_t nPart = static_cast<size_t>(pStop - p);
        m_strLine.append(p, std::min(nPart, nRoom));
        if (nPart > nRoom)
            m_bLineTooLong = true;
        if (pStop == pEnd)
            break;
        if (!bLineEnded) {
            bLineEnded = true;
            strPhaseBefore = m_strPhase;
        }
        EndLine();
        p = pStop + 1;
    }
    return bLineEnded && (m_nPercent != nPercentBefore || m_strPhase != strPhaseBefore);
}

void CProgressParser::EndLine() {
    std::string strPhase;
    int nPercent = -1;
    if (m_bLineTooLong) {
        // Not progress; the state stays as it was.
    } else if (IsBlank(m_strLine)) {
        // The tool blanks the line at the end of a phase.
        m_strPhase.clear();
        m_nPercent = -1;
    } else if (ParseProgressLine(m_strLine, &strPhase, &nPercent)) {
        m_strPhase.swap(strPhase);
        m_nPercent = nPercent;
    }
    m_strLine.clear();
    m_bLineTooLong = false;
}

CString ProgressCaptionPrefix(int nPercent, const std::string& strPhase) {
    // Control characters out (none of them continues a character either), spaces trimmed.
    std::string strClean;
    for (char ch : strPhase) {
        const unsigned char uch = static_cast<unsigned char>(ch);
        if (uch >= 0x20 && uch != 0x7F)
            strClean += ch;
    }
    const size_t nFirst = strClean.find_first_not_of(' ');
    strClean = nFirst == std::string::npos
                   ? std::string()
                   : strClean.substr(nFirst, strClean.find_last_not_of(' ') + 1 - nFirst);
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
