// The tail of the tool's plain lines (progress lines are not kept), so that a failed run can
// say why. Only the last few kilobytes are kept. Portable.
#pragma once

#include "framework/CString.h"

#include <cstddef>
#include <string>
#include <vector>

class CToolLog {
public:
    static constexpr size_t kDefaultCapacity = 4096;
    static constexpr size_t kMaxLineWidth = 100; // bytes shown of one line, the ellipsis included

    explicit CToolLog(size_t nCapacity = kDefaultCapacity);

    // Forgets everything; called when a new run starts.
    void Clear();
    // A whole line, already cleaned (see CleanToolLine).
    void AddLine(const std::string& strLine);

    // The lines to add under a failure message, joined by '\n': at most nMaxLines of the last
    // ones, the lines that look like errors if there are any. unended: the lines the tool had
    // not ended yet, taken after the kept ones. Blank lines are left out; long lines are cut.
    // Empty if nothing is worth showing.
    CString GetFailureLines(const std::vector<std::string>& unended, int nMaxLines = 3) const;

private:
    size_t m_nCapacity;
    // The newest lines, each ended by '\n': all of them, or at least m_nCapacity + 1 bytes once
    // more came.
    std::string m_strTail;
};
