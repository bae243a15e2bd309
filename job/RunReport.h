// The message that ends a run: "Done!" only when the tool succeeded and left a sound file.
// Portable, so every wording is tested natively.
#pragma once

#include "framework/CString.h"
#include "media/Mp4Check.h"
#include "media/SourceCheck.h"
#include "rebuild/Rebuild.h"

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

// The message for a chosen file the tool is not to be run on, which says what it is; empty for
// a file it is run on. name: its file name.
CString DescribeUnrunnableSource(const CString& name, const CSourceInfo& info);

// The message that ends a rebuild of broken (a file name) from reference into output.
CString FormatRebuildReport(const CString& broken, const CString& reference, const CString& output,
                            const CRebuildResult& result);
// Its main sentence: how much was rebuilt, the difference found, or why it failed.
CString DescribeRebuildResult(const CString& broken, const CRebuildResult& result);
// What decoding the copy found: "It plays from start to end: ...", or that it does not play
// right, with how many damaged frames; empty when it was not checked.
CString DescribePlayCheck(const CPlayCheck& play);
// Why a stretch of the recording was left out: "zeros", "a damaged frame", ...
const char* DescribeStretchReason(CStretchLeftOut::EReason eReason);
// "Track 3 (subtitles, 'tx3g'): none of its samples were found"
CString DescribeTrackLeftOut(const CTrackLeftOut& track);

// The question that offers to rebuild a recording cut off before its index.
CString RebuildOffer(const CString& name, const CSourceInfo& info);

// A length as a person reads it: "0:09", "12:34", "1:02:03" (rounded to the second).
CString FormatDuration(double dSeconds);

// One short sentence about how the tool ended; for a tool the system could not load, also what
// to do about it.
CString DescribeExitCode(uint32_t exitCode);

// One short sentence about what is wrong with the new file.
CString DescribeOutputProblem(EMp4Problem eProblem);

// The message for a tool that could not be started; reason is the system's text, or empty.
CString FormatStartFailure(const CString& reason);
// The same for a rebuild of broken (a file name).
CString FormatRebuildStartFailure(const CString& broken, const CString& reason);
// The title of the Open dialog that asks for the whole recording to rebuild broken from.
CString ReferenceChoiceTitle(const CString& broken);
