#include "job/ToolLog.h"

#include <algorithm>
#include <initializer_list>
#include <utility>
#include <vector>

namespace {

// How much a line tells about a failure.
enum class ERank { Other, Failed, Reason };

struct CLine {
    std::string strText;
    ERank eRank;
};

std::string Lower(std::string strText) {
    for (char& ch : strText) {
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    }
    return strText;
}

bool HoldsAny(const std::string& strLower, std::initializer_list<const char*> words) {
    for (const char* pszWord : words) {
        if (strLower.find(pszWord) != std::string::npos)
            return true;
    }
    return false;
}

ERank RankOf(const std::string& strLine) {
    const std::string strLower = Lower(strLine);
    // Words the multiplexer and the C runtime use when something went wrong.
    if (!HoldsAny(strLower,
                  {"error",         "fail",      "cannot",  "can't",       "could not",
                   "couldn't",      "unable",    "invalid", "not found",   "no such",
                   "denied",        "fatal",     "corrupt", "unsupported", "not supported",
                   "out of memory", "bad param", "abort",   "incomplete",  "truncated",
                   "unknown",       "missing"}))
        return ERank::Other;
    // What the multiplexer repeats on every way to fail: that it did, not why.
    if (HoldsAny(strLower, {"invalid isomedia file", "error importing", "failure while importing",
                            "filters not connected", "failed to setup"}))
        return ERank::Failed;
    return ERank::Reason;
}

// Advice the multiplexer gives that would mislead a user of this program.
bool IsFalseAdvice(const std::string& strLine) {
    return Lower(strLine).find("retry later") != std::string::npos;
}

// Cuts to nWidth bytes with an ellipsis, never inside a character of the code page in force.
std::string CutLine(const std::string& strLine, size_t nWidth) {
    if (strLine.size() <= nWidth)
        return strLine;
    const size_t nKeep = nWidth > 3 ? nWidth - 3 : 0;
    size_t i = 0;
    while (i < strLine.size()) {
        const size_t nChar = CString::CharLengthAt(strLine.data() + i, strLine.size() - i);
        if (i + nChar > nKeep)
            break;
        i += nChar;
    }
    return strLine.substr(0, i) + "...";
}

} // namespace

CToolLog::CToolLog(size_t nCapacity) : m_nCapacity(nCapacity > 0 ? nCapacity : 1) {}

void CToolLog::Clear(const std::vector<std::string>& paths) {
    m_strTail.clear();
    m_paths.clear();
    for (const std::string& strPath : paths) {
        if (!strPath.empty())
            m_paths.push_back(strPath);
    }
}

std::string CToolLog::ShortenPaths(std::string strLine) const {
    for (const std::string& strPath : m_paths) {
        const std::string strName = strPath.substr(strPath.find_last_of("\\/") + 1);
        for (size_t at = strLine.find(strPath); at != std::string::npos;
             at = strLine.find(strPath, at + strName.size()))
            strLine.replace(at, strPath.size(), strName);
    }
    return strLine;
}

void CToolLog::AddLine(const std::string& strLine) {
    if (strLine.empty() || IsFalseAdvice(strLine))
        return;
    // One byte more than the capacity is kept, to tell whether the oldest kept line is whole.
    const size_t nKeep = m_nCapacity + 1;
    m_strTail += ShortenPaths(strLine);
    m_strTail += '\n';
    // Trimmed in batches so that many short lines do not move the tail every time.
    if (m_strTail.size() > 2 * nKeep)
        m_strTail.erase(0, m_strTail.size() - nKeep);
}

CString CToolLog::GetFailureLines(const std::vector<std::string>& unended, int nMaxLines) const {
    if (nMaxLines <= 0)
        return CString();

    // Look at exactly the last m_nCapacity bytes, so that the answer does not depend on how
    // the output was chunked or when the tail was last trimmed.
    const char* p = m_strTail.data();
    const char* const pEnd = p + m_strTail.size();
    bool bPartial = false;
    if (m_strTail.size() > m_nCapacity) {
        p = pEnd - m_nCapacity;
        bPartial = p[-1] != '\n';
    }

    std::vector<CLine> lines;
    const auto add = [&](const char* pBegin, const char* pLineEnd) {
        std::string strLine(pBegin, pLineEnd);
        if (!strLine.empty())
            lines.push_back(CLine{strLine, RankOf(strLine)});
    };
    while (p < pEnd) {
        const char* pLineEnd = p;
        while (pLineEnd < pEnd && *pLineEnd != '\n')
            ++pLineEnd;
        if (!bPartial)
            add(p, pLineEnd);
        bPartial = false;
        p = pLineEnd + 1;
    }
    for (const std::string& strLine : unended) {
        if (!IsFalseAdvice(strLine))
            add(strLine.data(), strLine.data() + strLine.size());
    }

    // The last lines of the best rank there is; with reasons, also the last line that says
    // the tool failed, if there is room.
    ERank eBest = ERank::Other;
    for (const CLine& line : lines)
        eBest = std::max(eBest, line.eRank);
    std::vector<const CLine*> chosen;
    const CLine* pFailed = nullptr;
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        if (it->eRank == eBest && static_cast<int>(chosen.size()) < nMaxLines)
            chosen.push_back(&*it);
        else if (it->eRank == ERank::Failed && !pFailed)
            pFailed = &*it;
    }
    std::reverse(chosen.begin(), chosen.end());
    // The tool says that it failed in several ways at once: once is enough.
    if (eBest == ERank::Failed)
        chosen.erase(chosen.begin(), chosen.end() - 1);
    else if (eBest == ERank::Reason && pFailed && static_cast<int>(chosen.size()) < nMaxLines)
        chosen.push_back(pFailed);
    CString strResult;
    for (const CLine* pLine : chosen) {
        if (!strResult.IsEmpty())
            strResult += '\n';
        strResult += CutLine(ShortenPaths(pLine->strText), kMaxLineWidth).c_str();
    }
    return strResult;
}
