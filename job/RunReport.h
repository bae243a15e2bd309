// The message that ends a run: "Done!" only when the tool succeeded and left a sound file.
// Portable, so every wording is tested natively.
#pragma once

#include "framework/CString.h"
#include "job/Mp4Check.h"

#include <cstdint>

// exitCode: the tool's exit code; file: the check of the output it wrote (only consulted when
// the exit code is 0); toolLines: the tool's last lines worth showing, '\n'-separated, or empty.
CString FormatRunReport(const CString& output, uint32_t exitCode, const CMp4Verdict& file,
                        const CString& toolLines);

// One short sentence about how the tool ended; for a tool the system could not load, also what
// to do about it.
CString DescribeExitCode(uint32_t exitCode);

// The reason given when the tool exited 0 but left the output as it was before the run.
extern const char* const kToolWroteNothing;

// The message for a tool that could not be started; reason is the system's text, or empty.
CString FormatStartFailure(const CString& reason);
