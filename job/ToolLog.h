// The tail of what the tool printed, kept so that a failed run can say why. The output arrives
// in chunks that split lines anywhere (a "\r\n" included), from two streams whose chunks
// interleave; each stream's lines are put together on their own, so a line is never continued
// by the other stream's text. Only the last few kilobytes of whole lines are kept. Portable.
#pragma once

#include "framework/CString.h"

#include <cstddef>
#include <string>

class CToolLog {
public:
    static constexpr size_t kDefaultCapacity = 4096;
    static constexpr size_t kMaxLineWidth = 100; // bytes shown of one line, the ellipsis included
    static constexpr int kStreams = 2;

    explicit CToolLog(size_t nCapacity = kDefaultCapacity);

    // Forgets everything; called when a new run starts.
    void Clear();
    // Adds a chunk of output as it came from one of the tool's streams (0 or 1; ANSI text,
    // any length).
    void Append(int nStream, const char* pData, size_t nLength);
    // Output of a tool with one stream.
    void Append(const char* pData, size_t nLength) { Append(0, pData, nLength); }

    // The lines to add under a failure message, joined by '\n': at most nMaxLines of the last
    // ones, the lines that look like errors if there are any. Progress lines (ended by '\r'
    // alone) and blank lines are left out; long lines are cut. Empty if nothing is worth showing.
    CString GetFailureLines(int nMaxLines = 3) const;

private:
    // The line a stream is in the middle of.
    struct CPending {
        std::string strLine;
        bool bCarriageReturn = false; // a '\r' ended the text: progress, unless '\n' follows
    };

    void EndLine(const std::string& strLine);

    size_t m_nCapacity;
    // The newest whole lines other than progress, each ended by '\n': all of them, or at
    // least m_nCapacity + 1 bytes once more came.
    std::string m_strTail;
    CPending m_pending[kStreams];
};
