// How far the tool is, from its progress lines:
//   "<phase>: |<20 of '=' or ' '>| (NN/100)", one phase after another, each ended by a line of
//   spaces. The multiplexer imports each track in a phase of its own, then writes the file in
//   one more: the phases together make one percentage for the whole run, which never falls.
// Takes lines as CLineAssembler makes them. Portable.
#pragma once

#include "framework/CString.h"

#include <string>

class CProgressParser {
public:
    // A new run that is expected to go through nExpectedPhases phases; fewer than one means
    // not known, taken as one import and the writing. A run with more phases than expected
    // holds its percentage while the extra ones go by.
    void Reset(int nExpectedPhases = 0);
    // A cleaned line of the tool's output; bBlank: it held only spaces. True when the
    // percentage or the phase shown changed.
    bool OnLine(const std::string& strLine, bool bBlank);

    // Whether there is progress to show: a progress line came during this run.
    bool IsActive() const { return m_nShown >= 0; }
    int GetPercent() const { return m_nShown; } // 0 to 100; -1 when not active
    const std::string& GetPhase() const { return m_strPhase; }

private:
    void EndPhase();

    int m_nExpected = 2;
    int m_nDone = 0;          // phases ended
    int m_nPhasePercent = -1; // of the phase in progress; -1 between phases
    int m_nShown = -1;
    std::string m_strPhase;
};

// The caption while a run reports progress: "25% Importing - " before the usual caption. The
// phase comes from the tool, so it is shortened, and it is only ever cut before a space: a
// space never continues a character in any ANSI code page, UTF-8 and the double-byte ones
// included. An empty phase leaves "25% - ".
CString ProgressCaptionPrefix(int nPercent, const std::string& strPhase);
