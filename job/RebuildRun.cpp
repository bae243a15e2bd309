#include "job/RebuildRun.h"

#include "framework/FileName.h"
#include "framework/WinApp.h"
#include "framework/Wnd.h"
#include "job/RunOutput.h"
#include "job/RebuildReport.h"

#if defined(CLIPMEND_DECODERS)
#include "decode/FfmpegDecoderFactory.h"
#endif

const UINT WMREBUILDNOTIFY = ::RegisterWindowMessageA("ClipmendRebuildNotify");

CRebuildRun::~CRebuildRun() {
    Cancel();
    m_hThread.reset();
}

bool CRebuildRun::Start(const CJob& job, CWnd* pOwner, CString* pWhy) {
    Cancel();
    m_hThread.reset();
    // The rebuild creates its copy new and never writes through an existing name, so an
    // earlier copy goes first. A name that is one of the recordings themselves stays, and the
    // rebuild says why.
    RemoveEarlierCopy(job.strOutput, job.strSource, job.strReference);
    m_job = job;
    m_hOwner = pOwner ? pOwner->m_hWnd : nullptr;
    m_nPercent = 0;
    m_bCancel = false;
    m_bDone = false;
    if (m_hOwner)
        m_hThread.reset(::CreateThread(nullptr, 0, &Thread, this, 0, nullptr));
    if (!m_hThread) {
        *pWhy =
            FormatRebuildStartFailure(job.strSourceName, AfxFormatSystemMessage(::GetLastError()));
        return false;
    }
    m_host.OnRunStarted();
    return true;
}

DWORD WINAPI CRebuildRun::Thread(LPVOID pThis) {
    auto* self = static_cast<CRebuildRun*>(pThis);
    const CJob& job = self->m_job;
    CRebuildResult result;
    try {
        // FFmpeg's decoders, where the build has them, say whether the reference, the
        // recording's start and the copy play.
        CRebuildOptions options;
        options.pRange = job.found.bMediaData ? &job.found.mediaData : nullptr;
#if defined(CLIPMEND_DECODERS)
        CFfmpegDecoderFactory decoders;
        options.pDecoders = &decoders;
#endif
        result = RebuildRecording(job.strReference, job.strSource, job.strOutput, self, options);
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

void CRebuildRun::Follow(UINT nMessage, LPARAM) {
    if (nMessage != WMREBUILDNOTIFY)
        return;
    if (Join())
        m_host.OnRunEnded();
    else
        m_progress.ShowPercent(m_nPercent.load(), "Rebuilding");
}

CString CRebuildRun::Verdict(const CJob& job, bool* pbFailed) {
    *pbFailed = m_result.eStatus != CRebuildResult::EStatus::Rebuilt;
    return FormatRebuildReport(job.strSourceName, AfxFileNameOf(job.strReference), job.strOutput,
                               m_result);
}

void CRebuildRun::EndOnClose(const CJob& job) {
    Cancel();
    // Done, but never announced: no copy stays that the user was not told of.
    if (Join() && m_result.eStatus == CRebuildResult::EStatus::Rebuilt)
        RemoveOutput(job.strOutput);
}

bool CRebuildRun::Join() {
    if (!m_hThread || !m_bDone)
        return false;
    ::WaitForSingleObject(m_hThread.get(), INFINITE);
    m_hThread.reset();
    return true;
}

void CRebuildRun::Cancel() {
    if (!m_hThread)
        return;
    m_bCancel = true;
    // The engine looks at the flag every few milliseconds.
    ::WaitForSingleObject(m_hThread.get(), INFINITE);
}
