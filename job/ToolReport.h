// What the user is told of a run of the tool: "Done!" only when the tool succeeded and left a
// sound file, else what went wrong. Portable, so every wording is tested natively.
#pragma once

#include "framework/CString.h"
#include "media/Mp4Check.h"
#include "media/SourceCheck.h"

#include <cstdint>

// What the message that ends a run is made of.
struct CRunOutcome {
    CString strOutput;
    uint32_t nExitCode = 0;
    bool bUnchanged = false; // the tool exited 0 but left the output as it was before the run
    CMp4Verdict file;        // the check of the new file (only consulted when the exit code is 0)
    CString strToolLines;    // the tool's last lines worth showing, '\n'-separated, or empty
    CString strSourceName;
    ESourceKind eSource = ESourceKind::Mp4;
    double dStatedSeconds = 0; // how long the source says it is; 0 when it does not say
};
CString FormatRunReport(const CRunOutcome& outcome);

// One short sentence about how the tool ended; for a tool the system could not load, also what
// to do about it.
CString DescribeExitCode(uint32_t exitCode);

// One short sentence about what is wrong with the new file.
CString DescribeOutputProblem(EMp4Problem eProblem);

// The message for a tool that could not be started; reason is the system's text, or empty.
CString FormatStartFailure(const CString& reason);
// The message at GO when the tool is not where it must lie.
CString ToolNotFound();
