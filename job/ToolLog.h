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
    // Bytes shown of one line, the ellipsis included: with paths shortened to names, only a
    // line of no use is that long.
    static constexpr size_t kMaxLineWidth = 241;

    explicit CToolLog(size_t nCapacity = kDefaultCapacity);

    // Forgets everything; called when a new run starts. paths: the files of the run, which a
    // line names by their names only (the folders would push the reason off the line).
    void Clear(const std::vector<std::string>& paths = std::vector<std::string>());
    // A whole line, already cleaned (see CleanToolLine).
    void AddLine(const std::string& strLine);

    // The lines to add under a failure message, joined by '\n': at most nMaxLines of the last
    // ones that say why the tool failed, ahead of those that only say that it failed (a
    // multiplexer's "Invalid IsoMedia File"), of which one is kept; without either, the last
    // lines. unended: the lines the tool had not ended yet, taken after the kept ones. Blank
    // lines and false advice ("retry later") are left out; long lines are cut. Empty if
    // nothing is worth showing.
    CString GetFailureLines(const std::vector<std::string>& unended, int nMaxLines = 3) const;

private:
    std::string ShortenPaths(std::string strLine) const;

    size_t m_nCapacity;
    std::vector<std::string> m_paths;
    // The newest lines, each ended by '\n': all of them, or at least m_nCapacity + 1 bytes once
    // more came.
    std::string m_strTail;
};
