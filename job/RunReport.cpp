#include "job/RunReport.h"

namespace {

// The loader ends a process with one of these before its first line runs when a DLL it needs
// is missing (0xC0000135), lacks an entry point (0xC0000139), is built for another machine
// (0xC000007B) or fails to start (0xC0000142).
bool IsLoadFailure(uint32_t exitCode) {
    return exitCode == 0xC0000135u || exitCode == 0xC0000139u || exitCode == 0xC000007Bu ||
           exitCode == 0xC0000142u;
}

} // namespace

const char* const kToolWroteNothing = "The BOX program ended without writing the new file.";

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

CString FormatRunReport(const CString& output, uint32_t exitCode, const CMp4Verdict& file,
                        const CString& toolLines) {
    CString message;
    if (exitCode == 0 && file.bValid) {
        message.Format("Done! Created new file %s", static_cast<const char*>(output));
        return message;
    }
    message.Format(
        "Failed! Could not create new file %s\n%s", static_cast<const char*>(output),
        static_cast<const char*>(exitCode != 0 ? DescribeExitCode(exitCode) : file.strProblem));
    if (!toolLines.IsEmpty())
        message += CString("\n\n") + toolLines;
    return message;
}

CString FormatStartFailure(const CString& reason) {
    CString message("Cannot start the BOX program");
    if (!reason.IsEmpty())
        message += CString("\n") + reason;
    return message;
}
