// Runs one console program with its standard handles on pipes, relays its output and its end
// to the hooks below and to an owner window as WM_COPYDATA status records.
#pragma once

#include "framework/Handle.h"

#include <windows.h>

#include <atomic>
#include <memory>

class CWnd;

// Status codes in COPYDATASTRUCT::dwData. Output records carry the chunk's text up to its
// first zero byte; cbData counts that zero. Started and finished carry nothing.
constexpr ULONG_PTR COPYDATA_OUTPUT = 3;
constexpr ULONG_PTR COPYDATA_STARTED = 4;
constexpr ULONG_PTR COPYDATA_FINISHED = 5;

class CChildRunner {
public:
    // Output is read and delivered in chunks of at most this many bytes.
    static constexpr DWORD kChunkSize = 256;

    CChildRunner();
    // Ends a running child with exit code 1 and joins the workers. A class that overrides the
    // hooks calls Terminate() in its own destructor, while its hooks still exist.
    virtual ~CChildRunner();
    CChildRunner(const CChildRunner&) = delete;
    CChildRunner& operator=(const CChildRunner&) = delete;

    // Starts cmdLine in a new console, hidden unless showWindow. Ends the previous run first
    // (a child of it still running is killed). Record 4 reaches the owner before this
    // returns TRUE; on failure hook 1 gets "Unable to start <cmdLine>\n" and no record is sent.
    BOOL Open(const char* cmdLine, BOOL showWindow, CWnd* owner);
    // The window that receives the records; also redirects the current run. Null stops them.
    void SetOwner(CWnd* owner);
    // Ends the run: a child still running is terminated with exit code 1 and the workers are
    // joined; no record is sent after the call. True when a child was still running (its
    // output is incomplete).
    bool Terminate();
    // The child's exit code once it has ended; false while it runs or if none was started.
    // Call it on the thread that calls Open.
    bool GetExitCode(DWORD* pdwExitCode) const;
    // The system's error code of the last failed Open, 0 after a successful one.
    DWORD GetStartError() const { return m_dwStartError; }

    // Which of the child's streams the output record being handled came from: kStdOut or
    // kStdErr while the owner handles one of the current run's records 3, 0 otherwise (a
    // record from anyone else). Records of both streams share one code, and a line cut at a
    // chunk's end must not be continued by the other stream's text. Call it once per record,
    // on the thread that calls Open: it also lets the other stream's next record go out.
    static constexpr int kStdOut = 1;
    static constexpr int kStdErr = 2;
    int TakeOutputStream();

    // True while any runner of the process has a started child that has not ended.
    static bool IsAnyChildRunning() { return s_bRunning.load() > 0; }

protected:
    // Hook 0 runs on the caller of Open, hooks 1 and 2 on the readers, hook 3 on the waiter
    // once both readers have delivered everything (or the output stopped; see the .cpp).
    virtual void OnChildStarted(const char* cmdLine) { (void)cmdLine; }
    virtual void OnChildStdOutWrite(const char* text) { (void)text; }
    virtual void OnChildStdErrWrite(const char* text) { (void)text; }
    virtual void OnChildTerminate() {}

    // Count of started children that have not ended, across every runner of the process.
    static std::atomic<int> s_bRunning;

    CWnd* m_pOwner = nullptr;

private:
    struct CRun;

    static DWORD WINAPI StdOutThread(LPVOID pRun);
    static DWORD WINAPI StdErrThread(LPVOID pRun);
    static DWORD WINAPI ProcessWaitThread(LPVOID pRun);
    static DWORD ReadLoop(CRun& run, bool bStdErr);
    static void SendRecord(CRun& run, ULONG_PTR code, const char* text);

    // Stops the current run (if any) and frees its handles; bQuiet also silences its hooks.
    // Returns true when its child was still running.
    bool ReleaseRun(bool bQuiet);
    BOOL FailStart(const char* cmdLine, DWORD dwError);

    // The current run: the three workers share it, so a worker of an old run never reaches
    // the owner of a new one.
    std::unique_ptr<CRun> m_pRun;
    DWORD m_dwExitCode = 0;
    bool m_bExitCodeKnown = false;
    DWORD m_dwStartError = 0;
};
