#include "job/RunReport.h"

CString DescribeExitCode(uint32_t exitCode) {
    CString text;
    // Exception codes (NTSTATUS errors) mean the process died rather than chose to fail.
    if (exitCode >= 0xC0000000u)
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
