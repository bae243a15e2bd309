#include "job/ToolReport.h"

#include "job/ReportWords.h"

namespace {

// The loader ends a process with one of these before its first line runs when a DLL it needs
// is missing (0xC0000135), lacks an entry point (0xC0000139), is built for another machine
// (0xC000007B) or fails to start (0xC0000142).
bool IsLoadFailure(uint32_t exitCode) {
    return exitCode == 0xC0000135u || exitCode == 0xC0000139u || exitCode == 0xC000007Bu ||
           exitCode == 0xC0000142u;
}

} // namespace

CString DescribeOutputProblem(EMp4Problem eProblem) {
    switch (eProblem) {
    case EMp4Problem::None:
        break;
    case EMp4Problem::Missing:
        return "The new file does not exist.";
    case EMp4Problem::CannotOpen:
        return "The new file cannot be opened.";
    case EMp4Problem::Empty:
        return "The new file is empty.";
    case EMp4Problem::CannotRead:
        return "The new file could not be read.";
    case EMp4Problem::NotMp4:
        return "The new file is not an MP4 file.";
    case EMp4Problem::CutShort:
        return "The new file is cut short: a box runs past its end.";
    case EMp4Problem::BadHeader:
        return "The new file is damaged: a box header is not valid.";
    case EMp4Problem::BadSize:
        return "The new file is damaged: a box has an impossible size.";
    case EMp4Problem::TooManyBoxes:
        return "The new file has too many boxes to check.";
    case EMp4Problem::NoMoov:
        return "The new file has no movie header (moov).";
    case EMp4Problem::EmptyMoov:
        return "The new file has an empty movie header (moov).";
    case EMp4Problem::NoFtyp:
        return "The new file is not an MP4 file: it has no file type box (ftyp).";
    }
    return CString();
}

CString DescribeExitCode(uint32_t exitCode) {
    CString text;
    if (IsLoadFailure(exitCode))
        text.Format("The BOX program could not be loaded (exception 0x%08X): a DLL it needs is "
                    "missing or does not fit. Copy the DLLs that come with MP4Box into the tool "
                    "folder beside Clipmend.",
                    static_cast<unsigned>(exitCode));
    // Exception codes (NTSTATUS errors) mean the process died rather than chose to fail.
    else if (exitCode >= 0xC0000000u)
        text.Format("The BOX program crashed (exception 0x%08X).", static_cast<unsigned>(exitCode));
    else
        text.Format("The BOX program ended with exit code %u.", static_cast<unsigned>(exitCode));
    return text;
}

CString FormatRunReport(const CRunOutcome& outcome) {
    const char* pszOutput = outcome.strOutput;
    const char* pszSource = outcome.strSourceName;
    CString message;
    if (outcome.nExitCode == 0 && !outcome.bUnchanged && outcome.file.IsValid()) {
        message.Format("Done! Created new file %s", pszOutput);
        const double dSaved = outcome.file.dSampleSeconds;
        const double dStated = outcome.dStatedSeconds;
        // A second is what audio priming and rounding can take; more is missing video.
        const bool bShort = dStated > 0 && dSaved + 1.0 < dStated;
        if (outcome.eSource == ESourceKind::Mp4CutShort || bShort) {
            CString part;
            if (dStated > 0 && dSaved < dStated)
                part.Format("\nThe new file holds %s of the %s the video should have: the rest "
                            "of %s is missing (it was cut short).",
                            static_cast<const char*>(FormatDuration(dSaved)),
                            static_cast<const char*>(FormatDuration(dStated)), pszSource);
            else
                part.Format("\nThe new file holds %s of the video: the rest of %s is missing "
                            "(it was cut short).",
                            static_cast<const char*>(FormatDuration(dSaved)), pszSource);
            message.Format("Saved what was left! Created new file %s", pszOutput);
            message += part;
        } else if (outcome.eSource == ESourceKind::MpegTs || outcome.eSource == ESourceKind::Avi) {
            CString kind;
            kind.Format("\n%s was %s video; the new file is an MP4 file.", pszSource,
                        outcome.eSource == ESourceKind::MpegTs ? "an MPEG-TS" : "an AVI");
            message += kind;
        }
        return message;
    }
    const CString why = outcome.nExitCode != 0 ? DescribeExitCode(outcome.nExitCode)
                        : outcome.bUnchanged
                            ? CString("The BOX program ended without writing the new file.")
                            : DescribeOutputProblem(outcome.file.eProblem);
    message.Format("Failed! Could not create new file %s\n%s", pszOutput,
                   static_cast<const char*>(why));
    if (!outcome.strToolLines.IsEmpty())
        message += CString("\n\n") + outcome.strToolLines;
    return message;
}

CString FormatStartFailure(const CString& reason) {
    CString message("Cannot start the BOX program");
    if (!reason.IsEmpty())
        message += CString("\n") + reason;
    return message;
}

CString ToolNotFound() {
    return "Cannot find the BOX program";
}
