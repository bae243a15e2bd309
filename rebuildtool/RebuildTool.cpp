// The rebuild tool: the engine and FFmpeg's decoders, run on the user's recording and its
// reference in a process of their own, which Clipmend starts as it starts MP4Box (with the
// desktop user's rights, in a job that lets it start nothing). A fault in either parser then
// runs with those rights, not the administrator's.
//   ClipmendRebuild.exe [--media BEGIN END] REFERENCE BROKEN OUTPUT
// Prints its progress on its output as the multiplexer does ("Rebuilding: |==   | (NN/100)",
// each ended by '\r'), then the result as text (job/RebuildResultText.h); the window words it.
// Exit code 0 when the copy was written, 1 when not, 2 for a wrong command line.
#include "job/RebuildResultText.h"
#include "media/MediaStart.h"
#include "rebuild/Rebuild.h"

#if defined(CLIPMEND_DECODERS)
#include "decode/FfmpegDecoderFactory.h"
#endif

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Print(const std::string& text) {
    // Straight to the pipe: nothing waits in a buffer when the window reads the progress.
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    for (size_t nDone = 0; nDone < text.size();) {
        DWORD nWritten = 0;
        if (!::WriteFile(out, text.data() + nDone, static_cast<DWORD>(text.size() - nDone),
                         &nWritten, nullptr) ||
            nWritten == 0)
            return;
        nDone += nWritten;
    }
}

class CPrintProgress : public CRebuildObserver {
public:
    void OnProgress(int nPercent) override {
        if (nPercent == m_nShown || nPercent < 0 || nPercent > 100)
            return;
        m_nShown = nPercent;
        const size_t nBar = static_cast<size_t>(nPercent) / 5;
        char number[8];
        std::snprintf(number, sizeof number, "%02d", nPercent);
        Print("Rebuilding: |" + std::string(nBar, '=') + std::string(20 - nBar, ' ') + "| (" +
              number + "/100)\r");
    }

private:
    int m_nShown = -1;
};

// What Windows offers a program that loads no plug-ins and starts nothing, where it has it
// (Windows 8 and 10 on; looked up, since Vista and 7 lack the call). Failures are tolerated: the
// job the window puts the tool in holds it too.
void HoldTight() {
    using SetPolicyFn = BOOL(WINAPI*)(int, PVOID, SIZE_T);
    const auto setPolicy = reinterpret_cast<SetPolicyFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetProcessMitigationPolicy")));
    if (!setPolicy)
        return;
    // PROCESS_MITIGATION_POLICY values and their first flags, spelt out: older headers lack
    // some of them.
    const struct {
        int nPolicy;
        DWORD dwFlags;
    } kPolicies[] = {
        {2, 0x1},  // dynamic code: ProhibitDynamicCode
        {3, 0x3},  // strict handle checks: raise on an invalid handle, permanently
        {6, 0x1},  // extension points: DisableExtensionPoints (AppInit DLLs, hooks)
        {10, 0x7}, // image loads: NoRemoteImages, NoLowMandatoryLabelImages, PreferSystem32
        {13, 0x1}, // child processes: NoChildProcessCreation
    };
    for (const auto& policy : kPolicies) {
        DWORD dwFlags = policy.dwFlags;
        setPolicy(policy.nPolicy, &dwFlags, sizeof(dwFlags));
    }
}

// A crash ends the tool with the exception's code, without a fault dialog or a debugger (which
// the job would not let start anyway).
LONG WINAPI EndWithExceptionCode(EXCEPTION_POINTERS* pInfo) {
    ::TerminateProcess(::GetCurrentProcess(), pInfo->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

bool ParseNumber(const char* psz, uint64_t* pValue) {
    char* pEnd = nullptr;
    if (!*psz || *psz < '0' || *psz > '9')
        return false;
    *pValue = std::strtoull(psz, &pEnd, 10);
    return *pEnd == '\0';
}

} // namespace

int main(int argc, char** argv) {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ::SetUnhandledExceptionFilter(EndWithExceptionCode);
    ::SetDllDirectoryA("");
    HoldTight();

    CMediaRange media;
    bool bMedia = false;
    int nArg = 1;
    const bool bSearch = argc > 1 && std::strcmp(argv[1], "--search") == 0;
    if (bSearch)
        ++nArg;
    const bool bMediaGiven = argc - nArg >= 5 && std::strcmp(argv[nArg], "--media") == 0;
    if (bMediaGiven) {
        bMedia =
            ParseNumber(argv[nArg + 1], &media.nBegin) && ParseNumber(argv[nArg + 2], &media.nEnd);
        nArg += 3;
    }
    // Two paths: without a reference, from what the broken recording holds itself.
    const int nPaths = argc - nArg;
    if ((nPaths != 2 && nPaths != 3) || (bMediaGiven && !bMedia) || (bSearch && nPaths != 2)) {
        std::fprintf(stderr, "usage: ClipmendRebuild [--search] [--media BEGIN END] "
                             "[reference.mp4] broken.mp4 output.mp4\n");
        return 2;
    }
    const char* pszReference = nPaths == 3 ? argv[nArg] : nullptr;
    const char* pszBroken = argv[argc - 2];
    const char* pszOutput = argv[argc - 1];

    CPrintProgress progress;
    CRebuildResult result;
    try {
        CRebuildOptions options;
        options.pRange = bMedia ? &media : nullptr;
        options.bSearch = bSearch;
#if defined(CLIPMEND_DECODERS)
        CFfmpegDecoderFactory decoders;
        options.pDecoders = &decoders;
#endif
        result = RebuildRecording(pszReference, pszBroken, pszOutput, &progress, options);
    } catch (...) {
        // Out of memory, say (the job caps it): a failure like any other.
        result = CRebuildResult();
        result.eStatus = CRebuildResult::EStatus::WriteFailed;
        result.eProblem = CRebuildResult::EProblem::OutOfMemory;
    }
    // The progress line ends before the result's lines begin.
    Print("\n" + RebuildResultText(result));
    return result.eStatus == CRebuildResult::EStatus::Rebuilt ? 0 : 1;
}
