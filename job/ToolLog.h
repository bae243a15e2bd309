// The tail of what the tool printed, kept so that a failed run can say why. The output arrives
// in chunks that split lines anywhere (a "\r\n" included); only the last few kilobytes are kept.
// Portable.
#pragma once

#include "framework/CString.h"

#include <cstddef>
#include <string>

class CToolLog {
public:
    static constexpr size_t kDefaultCapacity = 4096;
    static constexpr size_t kMaxLineWidth = 100; // bytes shown of one line, the ellipsis included

    explicit CToolLog(size_t nCapacity = kDefaultCapacity);

    // Forgets everything; called when a new run starts.
    void Clear();
    // Adds a chunk of output as it came from the tool (ANSI text, any length).
    void Append(const char* pData, size_t nLength);

    // The lines to add under a failure message, joined by '\n': at most nMaxLines of the last
    // ones, the lines that look like errors if there are any. Progress lines (ended by '\r'
    // alone) and blank lines are left out; long lines are cut. Empty if nothing is worth showing.
    CString GetFailureLines(int nMaxLines = 3) const;

private:
    size_t m_nCapacity;
    // The newest bytes: all of them, or at least m_nCapacity + 1 once more came.
    std::string m_strTail;
};
