// A child's standard handles: three pipes whose child ends are inheritable and whose parent ends
// are not, and the start-up information that hands the child its ends (and, where the system
// allows it, only those).
#pragma once

#include "framework/Handle.h"

#include <windows.h>

#include <vector>

class CChildStdio {
public:
    CChildStdio() = default;
    // Closes what is still held.
    ~CChildStdio();
    CChildStdio(const CChildStdio&) = delete;
    CChildStdio& operator=(const CChildStdio&) = delete;

    // Makes the pipes: stdin's, whose write end nothing uses, and stdout's and stderr's, whose
    // read ends go to *phStdoutRead and *phStderrRead. False when one could not be made
    // (GetLastError says why).
    bool Create(CKernelHandle* phStdoutRead, CKernelHandle* phStderrRead);
    // The start-up information for CreateProcess, the child's first window hidden unless
    // bShowWindow. Adds EXTENDED_STARTUPINFO_PRESENT to *pdwFlags when it carries the list of
    // the handles the child inherits. Valid until CloseChildEnds.
    STARTUPINFOA* StartupInfo(bool bShowWindow, DWORD* pdwFlags);
    // Once CreateProcess has returned: the child holds its own copies of its ends now, and ours
    // would keep the readers from seeing the broken pipe at its end. Nothing writes to the
    // child's stdin: it reads end-of-file.
    void CloseChildEnds();

private:
    CKernelHandle m_hChildStdinRead;
    CKernelHandle m_hStdinWrite;
    CKernelHandle m_hChildStdoutWrite;
    CKernelHandle m_hChildStderrWrite;
    STARTUPINFOEXA m_si{};
    HANDLE m_inherited[3] = {}; // the attribute list points here
    std::vector<char> m_attrBuffer;
    bool m_bAttrs = false; // the attribute list is initialized
};
