#include "job/RebuildRun.h"

#if defined(CLIPMEND_DECODERS)
#include "decode/SampleChecker.h"
#endif

const UINT WMREBUILDNOTIFY = ::RegisterWindowMessageA("ClipmendRebuildNotify");

CRebuildRun::~CRebuildRun() {
    Cancel();
    m_hThread.reset();
}

bool CRebuildRun::Start(const CString& reference, const CString& broken, const CString& output,
                        HWND hOwner) {
    Cancel();
    m_hThread.reset();
    m_strReference = reference;
    m_strBroken = broken;
    m_strOutput = output;
    m_hOwner = hOwner;
    m_nPercent = 0;
    m_bCancel = false;
    m_bDone = false;
    m_hThread.reset(::CreateThread(nullptr, 0, &Thread, this, 0, nullptr));
    return static_cast<bool>(m_hThread);
}

DWORD WINAPI CRebuildRun::Thread(LPVOID pThis) {
    auto* self = static_cast<CRebuildRun*>(pThis);
    CRebuildResult result;
    try {
        // FFmpeg's decoders, where the build has them, say whether the reference, the
        // recording's start and the copy play.
        CRebuildOptions options;
#if defined(CLIPMEND_DECODERS)
        CFfmpegSampleChecker checker;
        options.pChecker = &checker;
#endif
        result = RebuildRecording(self->m_strReference, self->m_strBroken, self->m_strOutput, self,
                                  options);
    } catch (...) {
        // Out of memory, say: a failure like any other, never an exception across the thread.
        result = CRebuildResult();
        result.eStatus = CRebuildResult::EStatus::WriteFailed;
        result.eProblem = CRebuildResult::EProblem::OutOfMemory;
    }
    self->m_result = std::move(result);
    self->m_bDone = true;
    ::PostMessageA(self->m_hOwner, WMREBUILDNOTIFY, 0, 0);
    return 0;
}

void CRebuildRun::OnProgress(int nPercent) {
    if (m_nPercent.exchange(nPercent) != nPercent)
        ::PostMessageA(m_hOwner, WMREBUILDNOTIFY, 0, 0);
}

bool CRebuildRun::TakeResult(CRebuildResult* pResult) {
    if (!m_hThread || !m_bDone)
        return false;
    ::WaitForSingleObject(m_hThread.get(), INFINITE);
    m_hThread.reset();
    *pResult = std::move(m_result);
    return true;
}

void CRebuildRun::Cancel() {
    if (!m_hThread)
        return;
    m_bCancel = true;
    // The engine looks at the flag every few milliseconds.
    ::WaitForSingleObject(m_hThread.get(), INFINITE);
}
