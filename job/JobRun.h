// One run of a job, from its start to the message that ends it: the tool's (CToolRun) or a
// rebuild (CRebuildRun), each a child process the runner starts. Its records reach the owner
// window only by messages; the owner hands each back to Follow on its own thread, where the run
// moves on and tells its host when it has started and when it has ended. The run control is the
// host: it owns both runs and the job they run.
#pragma once

#include "framework/CString.h"
#include "job/Job.h"
#include "job/RunProgress.h"

#include <windows.h>

class CWnd;

class CJobRun {
public:
    class CHost {
    public:
        // The run is on: GO is to read "Waiting...".
        virtual void OnRunStarted() = 0;
        // The run is over: Verdict says how it went.
        virtual void OnRunEnded() = 0;

    protected:
        ~CHost() = default;
    };

    CJobRun(CHost& host, CRunProgress& progress) : m_host(host), m_progress(progress) {}
    virtual ~CJobRun() = default;
    CJobRun(const CJobRun&) = delete;
    CJobRun& operator=(const CJobRun&) = delete;

    // Starts job; pOwner's window gets the run's messages and shows its progress. False when
    // it could not start; *pWhy then says why, for the user (or is empty).
    virtual bool Start(const CJob& job, CWnd* pOwner, CString* pWhy) = 0;
    // A message the owner window received (WM_COPYDATA and its lParam), which may be this
    // run's.
    virtual void Follow(UINT nMessage, LPARAM lParam) = 0;
    // Once it has ended: the message that ends it, and whether it failed.
    virtual CString Verdict(const CJob& job, bool* pbFailed) = 0;
    // After the verdict: whether the run could not go on without a whole recording the user
    // has to choose, and why (a rebuild of a recording that did not hold enough by itself).
    virtual bool NeedsReference(CString* /*pWhy*/, bool* /*pbSearchable*/) const { return false; }
    // The window is closing mid-run: the run is stopped, and an output it never announced is
    // removed.
    virtual void EndOnClose(const CJob& job) = 0;

protected:
    CHost& m_host;
    CRunProgress& m_progress;
};
