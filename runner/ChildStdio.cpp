#include "runner/ChildStdio.h"

CChildStdio::~CChildStdio() {
    CloseChildEnds();
}

bool CChildStdio::Create(CKernelHandle* phStdoutRead, CKernelHandle* phStderrRead) {
    // The child's three ends are inheritable, the parent's are not.
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    if (!::CreatePipe(m_hChildStdinRead.put(), m_hStdinWrite.put(), &inheritable, 0) ||
        !::CreatePipe(phStdoutRead->put(), m_hChildStdoutWrite.put(), &inheritable, 0) ||
        !::CreatePipe(phStderrRead->put(), m_hChildStderrWrite.put(), &inheritable, 0))
        return false;
    ::SetHandleInformation(m_hStdinWrite.get(), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(phStdoutRead->get(), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(phStderrRead->get(), HANDLE_FLAG_INHERIT, 0);
    return true;
}

STARTUPINFOA* CChildStdio::StartupInfo(bool bShowWindow, DWORD* pdwFlags) {
    m_si = STARTUPINFOEXA{};
    m_si.StartupInfo.cb = sizeof(m_si.StartupInfo);
    m_si.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    m_si.StartupInfo.wShowWindow = static_cast<WORD>(bShowWindow ? SW_SHOW : SW_HIDE);
    m_si.StartupInfo.hStdInput = m_hChildStdinRead.get();
    m_si.StartupInfo.hStdOutput = m_hChildStdoutWrite.get();
    m_si.StartupInfo.hStdError = m_hChildStderrWrite.get();

    // Where the system allows it, the child inherits only its three ends: otherwise it would
    // also get the inheritable ends of another run starting at the same moment, and that
    // run's readers would wait for this child's end.
    m_inherited[0] = m_si.StartupInfo.hStdInput;
    m_inherited[1] = m_si.StartupInfo.hStdOutput;
    m_inherited[2] = m_si.StartupInfo.hStdError;
    SIZE_T attrSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attrSize);
    m_attrBuffer.assign(attrSize, 0);
    auto* attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_attrBuffer.data());
    m_bAttrs = attrSize != 0 && ::InitializeProcThreadAttributeList(attrs, 1, 0, &attrSize);
    if (m_bAttrs &&
        !::UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, m_inherited,
                                     sizeof(m_inherited), nullptr, nullptr)) {
        ::DeleteProcThreadAttributeList(attrs);
        m_bAttrs = false;
    }
    if (m_bAttrs) {
        m_si.StartupInfo.cb = sizeof(m_si);
        m_si.lpAttributeList = attrs;
        *pdwFlags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    return &m_si.StartupInfo;
}

void CChildStdio::CloseChildEnds() {
    if (m_bAttrs)
        ::DeleteProcThreadAttributeList(
            reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_attrBuffer.data()));
    m_bAttrs = false;
    m_hChildStdinRead.reset();
    m_hChildStdoutWrite.reset();
    m_hChildStderrWrite.reset();
    m_hStdinWrite.reset();
}
