// A rebuild of a recording cut off before its index, from a whole one made the same way: the
// engine (rebuild/) runs on a thread of its own, so the window stays responsive, and tells the
// owner window how far it is.
#pragma once

#include "framework/Handle.h"
#include "job/JobRun.h"
#include "rebuild/Rebuild.h"

#include <windows.h>

#include <atomic>

// Posted to the owner window when the percentage changed and when the rebuild has ended. It
// carries nothing: the owner asks the run. A message from anyone else asks it too, harmlessly.
extern const UINT WMREBUILDNOTIFY;

class CRebuildRun final : public CJobRun, private CRebuildObserver {
public:
    using CJobRun::CJobRun;
    // Cancels a rebuild still on and waits for its thread.
    ~CRebuildRun() override;

    // Rebuilds the job's source from its reference into its output.
    bool Start(const CJob& job, CWnd* pOwner, CString* pWhy) override;
    void Follow(UINT nMessage, LPARAM lParam) override;
    CString Verdict(const CJob& job, bool* pbFailed) override;
    void EndOnClose(const CJob& job) override;

private:
    void OnProgress(int nPercent) override;
    bool IsCancelled() override { return m_bCancel.load(); }
    static DWORD WINAPI Thread(LPVOID pThis);
    // Stops a rebuild still on and waits for its thread; the engine removes a copy it had
    // begun. A rebuild that had ended already keeps its result.
    void Cancel();
    // Once the rebuild has ended: joins its thread. False while it runs or when none was started.
    bool Join();

    CKernelHandle m_hThread;
    HWND m_hOwner = nullptr;
    CJob m_job; // the thread's own copy
    std::atomic<int> m_nPercent{0};
    std::atomic<bool> m_bCancel{false};
    std::atomic<bool> m_bDone{false};
    CRebuildResult m_result; // written by the thread before m_bDone
};
