// The multiplexer's progress lines, read from one of its output streams as the records come:
//   "<phase>: |<20 of '=' or ' '>| (NN/100)" ended by '\r', one phase after another, each
//   phase ended by a line of spaces.
// Records split lines anywhere; each byte is looked at once. Portable.
#pragma once

#include "framework/CString.h"

#include <cstddef>
#include <string>

class CProgressParser {
public:
    // A longer line is no progress line; only this much of a line is kept.
    static constexpr size_t kMaxLine = 400;

    // Forgets everything; called when a new run starts.
    void Reset();
    // Takes one record of the stream (any length). True when the progress shown changed.
    bool Feed(const char* pData, size_t nLength);

    // Whether a phase is in progress: a progress line came and no blank line after it.
    bool IsActive() const { return m_nPercent >= 0; }
    int GetPercent() const { return m_nPercent; } // 0 to 100; -1 when not active
    const std::string& GetPhase() const { return m_strPhase; }

private:
    void EndLine();

    std::string m_strLine; // the line so far, at most kMaxLine bytes
    bool m_bLineTooLong = false;
    std::string m_strPhase;
    int m_nPercent = -1;
};

// The caption while a run reports progress: "25% Importing - " before the usual caption. The
// phase comes from the tool, so it is cleaned of control characters and shortened, and it is
// only ever cut before a space: a space never continues a character in any ANSI code page,
// UTF-8 and the double-byte ones included. An empty phase leaves "25% - ".
CString ProgressCaptionPrefix(int nPercent, const std::string& strPhase);
