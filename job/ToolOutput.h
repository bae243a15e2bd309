// What the tool prints, taken in record by record as the runner reads it: each stream cut into
// lines on its own (chunks split lines anywhere, and the two streams' chunks interleave), each
// line cleaned once, then kept for the failure message and read for progress. Portable.
#pragma once

#include "framework/CString.h"
#include "job/ProgressParser.h"
#include "job/ToolLog.h"
#include "runner/OutputStream.h"

#include <cstddef>
#include <string>
#include <vector>

// A line of the tool's output as the user may see it: ANSI escape sequences (colours) and
// other control characters removed, tabs made spaces, leading and trailing spaces trimmed.
std::string CleanToolLine(const char* pBegin, const char* pEnd);

// Cuts one stream into lines. A line ends at "\n", "\r\n" or "\r\r\n" (what a text-mode stream
// makes of "\r\n"); a '\r' followed by anything else ended a progress line, which the next one
// overwrites on a console. A line is handed on at its '\r' already, as progress, and again at a
// '\n' that follows, as a plain line: progress shows at once, the log takes only plain lines.
class CLineAssembler {
public:
    // Only this much of a line is kept; a stream without line ends must not grow without bound.
    static constexpr size_t kMaxLine = 1024;

    struct CLine {
        std::string strText;    // cleaned
        bool bProgress = false; // ended by '\r' alone (so far)
        bool bBlank = false;    // held only spaces and control characters
        bool bCut = false;      // longer than kMaxLine
    };

    void Reset();
    // Calls onLine(const CLine&) for each line the chunk completes.
    template <typename F> void Feed(const char* pData, size_t nLength, F&& onLine);
    // The line not yet ended, if any; a progress line is not pending.
    bool GetPending(CLine* pLine) const;

private:
    CLine Make() const;

    std::string m_strRaw;
    bool m_bCut = false;
    bool m_bAfterCr = false; // the current line was handed on as progress at its '\r'
};

class CToolOutput {
public:
    explicit CToolOutput(size_t nLogCapacity = CToolLog::kDefaultCapacity) : m_log(nLogCapacity) {}

    // A new run; nExpectedPhases as for CProgressParser::Reset, paths as for CToolLog::Clear.
    void Reset(int nExpectedPhases = 0,
               const std::vector<std::string>& paths = std::vector<std::string>());
    // One record's text from stream. True when the progress to show changed.
    bool Append(EOutputStream eStream, const char* pData, size_t nLength);

    const CProgressParser& Progress() const { return m_progress; }
    // The lines to add under a failure message (see CToolLog).
    CString GetFailureLines(int nMaxLines = 3) const;

private:
    CLineAssembler m_lines[kOutputStreams];
    CToolLog m_log;
    CProgressParser m_progress;
};

template <typename F> void CLineAssembler::Feed(const char* pData, size_t nLength, F&& onLine) {
    for (size_t i = 0; i < nLength; ++i) {
        const char ch = pData[i];
        if (m_bAfterCr) {
            if (ch == '\r')
                continue;
            m_bAfterCr = false;
            if (ch == '\n') {
                onLine(Make());
                Reset();
                continue;
            }
            Reset();
        }
        if (ch == '\r') {
            CLine line = Make();
            line.bProgress = true;
            onLine(line);
            m_bAfterCr = true;
        } else if (ch == '\n') {
            onLine(Make());
            Reset();
        } else if (m_strRaw.size() < kMaxLine) {
            m_strRaw += ch;
        } else {
            m_bCut = true;
        }
    }
}
