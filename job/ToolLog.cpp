#include "job/ToolLog.h"

#include <utility>
#include <vector>

namespace {

struct CLine {
    std::string strText;
    bool bError;
};

// Words the multiplexer and the C runtime use when something went wrong.
bool LooksLikeError(const std::string& strLine) {
    static const char* const kWords[] = {
        "error",   "fail",        "cannot",        "can't",         "could not", "couldn't",
        "unable",  "invalid",     "not found",     "no such",       "denied",    "fatal",
        "corrupt", "unsupported", "not supported", "out of memory", "bad param", "abort",
    };
    std::string strLower(strLine);
    for (char& ch : strLower) {
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    }
    for (const char* pszWord : kWords) {
        if (strLower.find(pszWord) != std::string::npos)
            return true;
    }
    return false;
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

void CToolLog::Clear() {
    m_strTail.clear();
}

void CToolLog::AddLine(const std::string& strLine) {
    if (strLine.empty())
        return;
    // One byte more than the capacity is kept, to tell whether the oldest kept line is whole.
    const size_t nKeep = m_nCapacity + 1;
    m_strTail += strLine;
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
    bool bAnyError = false;
    const auto add = [&](const char* pBegin, const char* pLineEnd) {
        std::string strLine(pBegin, pLineEnd);
        if (strLine.empty())
            return;
        const bool bError = LooksLikeError(strLine);
        bAnyError = bAnyError || bError;
        lines.push_back(CLine{std::move(strLine), bError});
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
    for (const std::string& strLine : unended)
        add(strLine.data(), strLine.data() + strLine.size());

    std::vector<const CLine*> chosen;
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        if (static_cast<int>(chosen.size()) >= nMaxLines)
            break;
        if (it->bError || !bAnyError)
            chosen.push_back(&*it);
    }
    CString strResult;
    for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) {
        if (!strResult.IsEmpty())
            strResult += '\n';
        strResult += CutLine((*it)->strText, kMaxLineWidth).c_str();
    }
    return strResult;
}
