// A rebuild of a recording cut off before its index, from a whole one made the same way: the
// engine (rebuild/) runs on a thread of its own, so the window stays responsive, and tells the
// owner window how far it is.
#pragma once

#include "framework/CString.h"
#include "framework/Handle.h"
#include "rebuild/Rebuild.h"

#include <windows.h>

#include <atomic>

// Posted to the owner window when the percentage changed and when the rebuild has ended. It
// carries nothing: the owner asks the run. A message from anyone else asks it too, harmlessly.
extern const UINT WMREBUILDNOTIFY;

class CRebuildRun : private CRebuildObserver {
public:
    CRebuildRun() = default;
    // Cancels a rebuild still on and waits for its thread.
    ~CRebuildRun();
    CRebuildRun(const CRebuildRun&) = delete;
    CRebuildRun& operator=(const CRebuildRun&) = delete;

    // Starts rebuilding broken into output from reference; false when the thread cannot start.
    bool Start(const CString& reference, const CString& broken, const CString& output, HWND hOwner);
    int GetPercent() const { return m_nPercent.load(); }
    // Once the rebuild has ended: its result, taken once (the thread is joined). False while
    // it runs or when no rebuild was started.
    bool TakeResult(CRebuildResult* pResult);
    // Stops a rebuild still on and waits for its thread; the engine removes a copy it had
    // begun. A rebuild that had ended already keeps its result for TakeResult.
    void Cancel();

private:
    void OnProgress(int nPercent) override;
    bool IsCancelled() override { return m_bCancel.load(); }
    static DWORD WINAPI Thread(LPVOID pThis);

    CKernelHandle m_hThread;
    HWND m_hOwner = nullptr;
    CString m_strReference, m_strBroken, m_strOutput;
    std::atomic<int> m_nPercent{0};
    std::atomic<bool> m_bCancel{false};
    std::atomic<bool> m_bDone{false};
    CRebuildResult m_result; // written by the thread before m_bDone
};
