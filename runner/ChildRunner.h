// Runs one console program with its standard handles on pipes, relays its output and its end
// to the hooks below and to an owner window as status records.
//
// The record contract
//   Each event of a run reaches the owner window as a WM_COPYDATA message, sent (not posted)
//   so that the sender waits until the owner has handled it:
//     dwData  COPYDATA_STARTED (4), sent by Open before it returns TRUE, on the caller's thread;
//             COPYDATA_OUTPUT (3), a chunk of at most kChunkSize bytes read from one stream;
//             COPYDATA_FINISHED (5), once the child has ended and every output record was sent.
//     lpData  a CRecordHeader: the run's key and, for output, the stream; for output the chunk's
//             text follows, up to its first zero byte, with a terminating zero. cbData counts
//             all of it.
//   The owner gives lParam to ReadRecord(), which accepts only a record of the runner's current
//   run. The key is what makes that hold: the owner must let WM_COPYDATA in from programs of a
//   lower integrity level (files dropped from Explorer arrive that way), and a program of the
//   same level (or any program, under Wine) can send the window whatever it likes; it cannot
//   know 16 random bytes drawn for each run. A message of our own with a pointer in it would
//   keep out the first kind of sender only, and hand the second a pointer to dereference.
//   Records of one stream arrive in the order they were read; the two streams interleave.
#pragma once

#include "framework/Handle.h"
#include "runner/OutputStream.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <memory>

class CWnd;

constexpr ULONG_PTR COPYDATA_OUTPUT = 3;
constexpr ULONG_PTR COPYDATA_STARTED = 4;
constexpr ULONG_PTR COPYDATA_FINISHED = 5;

// A record as the owner reads it; valid while the owner handles the message.
struct CRunnerRecord {
    ULONG_PTR nCode = 0;
    EOutputStream eStream = EOutputStream::StdOut; // of an output record
    const char* pText = "";                        // an output record's text, zero-terminated
    size_t nLength = 0;
};

// Where a child starts: its current folder and its environment (a block of "NAME=value"
// strings, each ended by a zero, the block by one more). Null: the caller's own.
struct CChildPlace {
    const char* pszFolder = nullptr;
    const wchar_t* pEnvironment = nullptr;
    // With the desktop user's own rights rather than the administrator's that elevation gave
    // this program, where the system can make such a token (see MakeChildToken).
    bool bUserRights = false;
    // Held tight, for a child that parses hostile bytes and starts nothing: its job lets it
    // start no process and caps its memory at kConfinedMemory.
    bool bConfined = false;
};

// The memory a confined child may commit: far above what the largest rebuild needs (tens of MB
// for a 4.7 GB recording).
constexpr SIZE_T kConfinedMemory = SIZE_T(1) << 30;

class CChildRunner {
public:
    // Output is read and delivered in chunks of at most this many bytes.
    static constexpr DWORD kChunkSize = 256;
    static constexpr size_t kKeySize = 16;

    // What every record's data starts with.
    struct CRecordHeader {
        unsigned char key[kKeySize];
        DWORD nStream; // an EOutputStream for output records, 0 otherwise
    };

    CChildRunner();
    // Ends a running child with exit code 1 and joins the workers. A class that overrides the
    // hooks calls Terminate() in its own destructor, while its hooks still exist.
    virtual ~CChildRunner();
    CChildRunner(const CChildRunner&) = delete;
    CChildRunner& operator=(const CChildRunner&) = delete;

    // Starts cmdLine as a console program without a console window (its first window, if it
    // makes one, hidden unless showWindow). Ends the previous run first (a child of it still
    // running is killed). Record 4 reaches the owner before this returns TRUE; on failure
    // hook 1 gets "Unable to start <cmdLine>\n" and no record is sent.
    BOOL Open(const char* cmdLine, BOOL showWindow, CWnd* owner,
              const CChildPlace& place = CChildPlace());
    // The window that receives the records; also redirects the current run. Null stops them.
    void SetOwner(CWnd* owner);
    // The record in a WM_COPYDATA's lParam, if it is one of the current run's; false for
    // anything else (a record of an earlier run, a message from another program). Call it on
    // the thread that calls Open, while handling the message.
    bool ReadRecord(LPARAM lParam, CRunnerRecord* pRecord) const;
    // Ends the run: a child still running is terminated with exit code 1 and the workers are
    // joined; no record is sent after the call. True when a child was still running (its
    // output is incomplete).
    bool Terminate();
    // The child's exit code once it has ended; false while it runs or if none was started.
    // Call it on the thread that calls Open.
    bool GetExitCode(DWORD* pdwExitCode) const;
    // The system's error code of the last failed Open, 0 after a successful one.
    DWORD GetStartError() const { return m_dwStartError; }

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

private:
    struct CRun;

    static DWORD WINAPI StdOutThread(LPVOID pRun);
    static DWORD WINAPI StdErrThread(LPVOID pRun);
    static DWORD WINAPI ProcessWaitThread(LPVOID pRun);
    static DWORD ReadLoop(CRun& run, EOutputStream eStream);
    // Makes the run's events and starts its three workers, which wait for its go event; 0, or
    // the system's error code.
    static DWORD StartWorkers(CRun& run);
    // Sends record code; an output record's chunk lies right behind the header, text bytes of
    // it, with room for the terminating zero.
    static void SendRecord(CRun& run, ULONG_PTR code, CRecordHeader* pHeader, size_t nText);

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
