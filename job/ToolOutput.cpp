#include "job/ToolOutput.h"

#include <vector>

std::string CleanToolLine(const char* pBegin, const char* pEnd) {
    std::string strLine;
    for (const char* p = pBegin; p < pEnd; ++p) {
        const unsigned char ch = static_cast<unsigned char>(*p);
        if (ch == 0x1B) {
            // ESC [ parameters and intermediates, then one final byte: a colour or cursor
            // command. Any other ESC takes the character after it along.
            if (p + 1 < pEnd && p[1] == '[') {
                p += 2;
                while (p < pEnd && !(*p >= 0x40 && *p <= 0x7E))
                    ++p;
            } else if (p + 1 < pEnd) {
                ++p;
            }
            continue;
        }
        if (ch == '\t')
            strLine += ' ';
        else if (ch >= 0x20 && ch != 0x7F)
            strLine += *p;
    }
    const size_t nFirst = strLine.find_first_not_of(' ');
    if (nFirst == std::string::npos)
        return std::string();
    return strLine.substr(nFirst, strLine.find_last_not_of(' ') + 1 - nFirst);
}

void CLineAssembler::Reset() {
    m_strRaw.clear();
    m_bCut = false;
    m_bAfterCr = false;
}

CLineAssembler::CLine CLineAssembler::Make() const {
    CLine line;
    line.strText = CleanToolLine(m_strRaw.data(), m_strRaw.data() + m_strRaw.size());
    line.bBlank = line.strText.empty() && !m_strRaw.empty();
    line.bCut = m_bCut;
    return line;
}

bool CLineAssembler::GetPending(CLine* pLine) const {
    if (m_bAfterCr || m_strRaw.empty())
        return false;
    *pLine = Make();
    return true;
}

void CToolOutput::Reset(int nExpectedPhases, const std::vector<std::string>& paths) {
    for (CLineAssembler& lines : m_lines)
        lines.Reset();
    m_log.Clear(paths);
    m_progress.Reset(nExpectedPhases);
}

bool CToolOutput::Append(EOutputStream eStream, const char* pData, size_t nLength) {
    const unsigned nStream = StreamIndex(eStream);
    if (nStream >= kOutputStreams || !pData)
        return false;
    bool bChanged = false;
    m_lines[nStream].Feed(pData, nLength, [&](const CLineAssembler::CLine& line) {
        if (!line.bProgress)
            m_log.AddLine(line.strText);
        if (!line.bCut && m_progress.OnLine(line.strText, line.bBlank))
            bChanged = true;
    });
    return bChanged;
}

CString CToolOutput::GetFailureLines(int nMaxLines) const {
    // A last line without its end still counts: the tool may die in the middle of one.
    std::vector<std::string> unended;
    for (const CLineAssembler& lines : m_lines) {
        CLineAssembler::CLine line;
        if (lines.GetPending(&line))
            unended.push_back(line.strText);
    }
    return m_log.GetFailureLines(unended, nMaxLines);
}
