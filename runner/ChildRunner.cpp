#include "runner/ChildRunner.h"

#include "framework/WinApp.h"
#include "framework/Wnd.h"
#include "runner/ChildStdio.h"
#include "runner/UserToken.h"

#include <ntsecapi.h>

#include <cstring>
#include <string>

namespace {

// How often the waiter looks again at pipes still being drained after the child's end.
const DWORD kDrainStepMs = 5;
// How long a release waits for a terminated child and for the readers before it cancels
// their reads.
const DWORD kProcessEndMs = 5000;
const DWORD kJoinMs = 100;

bool IsSignaled(HANDLE h) {
    return h && ::WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
}

// Waits for every handle while handling messages sent to this thread: a worker may be blocked
// sending a record to a window of this very thread.
bool WaitPumpingSends(const HANDLE* handles, size_t count, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (size_t i = 0; i < count; ++i) {
        if (!handles[i])
            continue;
        for (;;) {
            const DWORD elapsed = ::GetTickCount() - start;
            const DWORD remaining = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
            const DWORD result = ::MsgWaitForMultipleObjectsEx(1, &handles[i], remaining,
                                                               QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
            if (result == WAIT_OBJECT_0)
                break;
            if (result != WAIT_OBJECT_0 + 1)
                return false;
            MSG msg;
            ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
    return true;
}

// CreateProcessWithTokenW, looked up: an elevated administrator may not assign a token of
// another user with CreateProcessAsUser (it lacks the privilege to), but may start a process
// with it through the system's secondary logon, which hands the child the standard handles.
BOOL CreateWithToken(HANDLE token, const char* cmdLine, DWORD flags, void* environment,
                     const char* pszFolder, const STARTUPINFOA& startup, PROCESS_INFORMATION* pPi) {
    using CreateFn = BOOL(WINAPI*)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR,
                                   LPSTARTUPINFOW, LPPROCESS_INFORMATION);
    const auto create = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("advapi32.dll"), "CreateProcessWithTokenW")));
    if (!create) {
        ::SetLastError(ERROR_PRIVILEGE_NOT_HELD);
        return FALSE;
    }
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = startup.dwFlags;
    si.wShowWindow = startup.wShowWindow;
    si.hStdInput = startup.hStdInput;
    si.hStdOutput = startup.hStdOutput;
    si.hStdError = startup.hStdError;
    std::wstring command = AfxWiden(cmdLine);
    const std::wstring folder = pszFolder ? AfxWiden(pszFolder) : std::wstring();
    return create(token, 0, nullptr, &command[0], flags & ~EXTENDED_STARTUPINFO_PRESENT,
                  environment, pszFolder ? folder.c_str() : nullptr, &si, pPi);
}

// Creates cmdLine's process suspended, with stdio's ends as its standard handles, where place
// says and with the rights it says; 0, or the system's error code.
DWORD CreateSuspended(const char* cmdLine, bool bShowWindow, const CChildPlace& place,
                      CChildStdio& stdio, PROCESS_INFORMATION* pPi) {
    // No console window at all: a hidden new console still opens a terminal window where
    // Windows Terminal is the default console host. The pipes carry the output anyway.
    DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED;
    if (place.pEnvironment)
        flags |= CREATE_UNICODE_ENVIRONMENT;
    STARTUPINFOA* pStartup = stdio.StartupInfo(bShowWindow, &flags);

    // Default security for the process: it may run elevated, and an open descriptor would
    // hand it to any process of any user. The handle we get has every right whatever the
    // token: the job, the end and the exit code work alike for a child of lower integrity,
    // and the inherited pipe ends need no access check.
    CKernelHandle userToken;
    const EChildToken eToken = place.bUserRights ? MakeChildToken(&userToken) : EChildToken::Own;
    std::string command(cmdLine);
    void* environment = const_cast<wchar_t*>(place.pEnvironment);
    const auto createAsUser = [&](HANDLE token) {
        return ::CreateProcessAsUserA(token, nullptr, &command[0], nullptr, nullptr, TRUE, flags,
                                      environment, place.pszFolder, pStartup, pPi);
    };
    BOOL bCreated = FALSE;
    if (!userToken) {
        bCreated = ::CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, flags,
                                    environment, place.pszFolder, pStartup, pPi);
    } else {
        bCreated = createAsUser(userToken.get());
        // The shell's user is another: through the secondary logon, else with this process's
        // own token less the administrators' rights.
        if (!bCreated && eToken == EChildToken::Shell &&
            ::GetLastError() == ERROR_PRIVILEGE_NOT_HELD) {
            bCreated = CreateWithToken(userToken.get(), cmdLine, flags, environment,
                                       place.pszFolder, *pStartup, pPi);
            if (!bCreated) {
                userToken = MakeUserRightsToken();
                bCreated = userToken ? createAsUser(userToken.get())
                                     : ::CreateProcessA(nullptr, &command[0], nullptr, nullptr,
                                                        TRUE, flags, environment, place.pszFolder,
                                                        pStartup, pPi);
            }
        }
    }
    return bCreated ? 0 : ::GetLastError();
}

// A job that takes the child's whole tree down when the run is released or when this process
// dies, with hProcess in it; a confined child's lets it start no process and caps its memory.
// Before Windows 8 a program that is itself in a job may not be able to nest one; the child
// then runs without (null).
CKernelHandle KillOnCloseJob(HANDLE hProcess, bool bConfined) {
    CKernelHandle hJob(::CreateJobObjectA(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (bConfined) {
        limits.BasicLimitInformation.LimitFlags |=
            JOB_OBJECT_LIMIT_ACTIVE_PROCESS | JOB_OBJECT_LIMIT_PROCESS_MEMORY;
        limits.BasicLimitInformation.ActiveProcessLimit = 1;
        limits.ProcessMemoryLimit = kConfinedMemory;
    }
    if (!hJob ||
        !::SetInformationJobObject(hJob.get(), JobObjectExtendedLimitInformation, &limits,
                                   sizeof(limits)) ||
        !::AssignProcessToJobObject(hJob.get(), hProcess))
        hJob.reset();
    return hJob;
}

} // namespace

struct CChildRunner::CRun {
    CChildRunner* m_pRunner = nullptr;
    // Read before every send; cleared first when the run is released.
    std::atomic<HWND> m_hOwner{nullptr};

    CKernelHandle m_hProcess;
    CKernelHandle m_hJob;
    CKernelHandle m_hStdoutRead;
    CKernelHandle m_hStderrRead;
    // Workers start once Open has sent record 4, so it always comes first.
    CKernelHandle m_hGo;
    CKernelHandle m_hStop;
    // Set by the last reader to leave, after its last delivery: the end then travels to the
    // waiter at once, without waiting for the readers' threads to be torn down.
    CKernelHandle m_hReadersDone;
    CKernelHandle m_hStdoutThread;
    CKernelHandle m_hStderrThread;
    CKernelHandle m_hWaitThread;

    std::atomic<bool> m_bQuiet{false};    // the runner is going away: no more hooks
    std::atomic<bool> m_bStopping{false}; // readers leave after their current read
    std::atomic<bool> m_bCounted{false};  // holds one count of s_bRunning
    std::atomic<int> m_nSending{0};
    std::atomic<int> m_nReaders{2}; // readers that have not left their loop
    unsigned char m_key[kKeySize] = {};

    void CountEnd() {
        if (m_bCounted.exchange(false))
            --s_bRunning;
    }
};

std::atomic<int> CChildRunner::s_bRunning{0};

CChildRunner::CChildRunner() = default;

CChildRunner::~CChildRunner() {
    ReleaseRun(true);
}

BOOL CChildRunner::Open(const char* cmdLine, BOOL showWindow, CWnd* owner,
                        const CChildPlace& place) {
    ReleaseRun(true);
    m_bExitCodeKnown = false;
    m_dwStartError = 0;
    if (!cmdLine)
        return FailStart("", ERROR_INVALID_PARAMETER);

    auto pRun = std::make_unique<CRun>();
    pRun->m_pRunner = this;
    pRun->m_hOwner = owner ? owner->m_hWnd : nullptr;
    if (!::RtlGenRandom(pRun->m_key, sizeof(pRun->m_key)))
        return FailStart(cmdLine, ::GetLastError());

    CChildStdio stdio;
    if (!stdio.Create(&pRun->m_hStdoutRead, &pRun->m_hStderrRead))
        return FailStart(cmdLine, ::GetLastError());
    PROCESS_INFORMATION pi{};
    const DWORD dwCreateError = CreateSuspended(cmdLine, showWindow != FALSE, place, stdio, &pi);
    stdio.CloseChildEnds();
    if (dwCreateError)
        return FailStart(cmdLine, dwCreateError);

    pRun->m_hProcess.reset(pi.hProcess);
    CKernelHandle hThread(pi.hThread);
    pRun->m_hJob = KillOnCloseJob(pRun->m_hProcess.get(), place.bConfined);
    ::ResumeThread(hThread.get());
    hThread.reset();

    ++s_bRunning;
    pRun->m_bCounted = true;
    CRun* run = pRun.get();
    m_pRun = std::move(pRun);
    if (const DWORD dwError = StartWorkers(*run)) {
        ReleaseRun(true);
        return FailStart(cmdLine, dwError);
    }

    OnChildStarted(cmdLine);
    // The hook or the owner may have ended this run already (Terminate, a new Open).
    if (m_pRun.get() == run) {
        CRecordHeader header{};
        SendRecord(*run, COPYDATA_STARTED, &header, 0);
    }
    if (m_pRun.get() == run)
        ::SetEvent(run->m_hGo.get());
    return TRUE;
}

DWORD CChildRunner::StartWorkers(CRun& run) {
    DWORD dwError = 0;
    run.m_hGo.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!run.m_hGo)
        dwError = ::GetLastError();
    if (!dwError) {
        run.m_hStop.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!run.m_hStop)
            dwError = ::GetLastError();
    }
    if (!dwError) {
        run.m_hReadersDone.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!run.m_hReadersDone)
            dwError = ::GetLastError();
    }
    const LPTHREAD_START_ROUTINE entries[3] = {StdOutThread, StdErrThread, ProcessWaitThread};
    CKernelHandle* threads[3] = {&run.m_hStdoutThread, &run.m_hStderrThread, &run.m_hWaitThread};
    for (int i = 0; i < 3 && !dwError; ++i) {
        threads[i]->reset(::CreateThread(nullptr, 0, entries[i], &run, 0, nullptr));
        if (!*threads[i])
            dwError = ::GetLastError();
    }
    return dwError;
}

BOOL CChildRunner::FailStart(const char* cmdLine, DWORD dwError) {
    m_dwStartError = dwError;
    m_bExitCodeKnown = false;
    std::string text = "Unable to start ";
    text += cmdLine;
    text += '\n';
    OnChildStdOutWrite(text.c_str());
    return FALSE;
}

void CChildRunner::SetOwner(CWnd* owner) {
    if (m_pRun)
        m_pRun->m_hOwner = owner ? owner->m_hWnd : nullptr;
}

bool CChildRunner::Terminate() {
    return ReleaseRun(false);
}

bool CChildRunner::GetExitCode(DWORD* pdwExitCode) const {
    if (!pdwExitCode)
        return false;
    if (m_pRun) {
        DWORD code = 0;
        if (!IsSignaled(m_pRun->m_hProcess.get()) ||
            !::GetExitCodeProcess(m_pRun->m_hProcess.get(), &code))
            return false;
        *pdwExitCode = code;
        return true;
    }
    if (!m_bExitCodeKnown)
        return false;
    *pdwExitCode = m_dwExitCode;
    return true;
}

bool CChildRunner::ReadRecord(LPARAM lParam, CRunnerRecord* pRecord) const {
    const auto* pData = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (!m_pRun || !pData || !pData->lpData || pData->cbData < sizeof(CRecordHeader))
        return false;
    CRecordHeader header;
    std::memcpy(&header, pData->lpData, sizeof(header));
    // Every byte compared, whatever the first difference: the time taken tells nothing.
    unsigned char nDiffer = 0;
    for (size_t i = 0; i < kKeySize; ++i)
        nDiffer |= header.key[i] ^ m_pRun->m_key[i];
    if (nDiffer != 0)
        return false;

    CRunnerRecord record;
    record.nCode = pData->dwData;
    if (record.nCode == COPYDATA_OUTPUT) {
        const char* pText = static_cast<const char*>(pData->lpData) + sizeof(CRecordHeader);
        const size_t nBytes = pData->cbData - sizeof(CRecordHeader);
        if (header.nStream >= kOutputStreams || nBytes == 0 || pText[nBytes - 1] != '\0')
            return false;
        record.eStream = static_cast<EOutputStream>(header.nStream);
        record.pText = pText;
        record.nLength = std::strlen(pText);
    }
    *pRecord = record;
    return true;
}

bool CChildRunner::ReleaseRun(bool bQuiet) {
    if (!m_pRun)
        return false;
    // Taken out first: whatever a pumped message does meanwhile, it sees no current run.
    std::unique_ptr<CRun> pRun = std::move(m_pRun);
    CRun& run = *pRun;
    run.m_hOwner = nullptr;
    if (bQuiet)
        run.m_bQuiet = true;

    const bool bWasRunning = !IsSignaled(run.m_hProcess.get());
    // The job also takes down grandchildren that may hold the output pipes open.
    if (run.m_hJob)
        ::TerminateJobObject(run.m_hJob.get(), 1);
    if (bWasRunning)
        ::TerminateProcess(run.m_hProcess.get(), 1);
    run.m_bStopping = true;
    if (run.m_hGo)
        ::SetEvent(run.m_hGo.get());
    // Called from a handler of one of this run's records: its worker waits for our reply,
    // and we are about to wait for that worker.
    if (run.m_nSending > 0 && ::InSendMessage())
        ::ReplyMessage(0);

    HANDLE hProcess = run.m_hProcess.get();
    WaitPumpingSends(&hProcess, 1, kProcessEndMs);
    if (run.m_hStop)
        ::SetEvent(run.m_hStop.get());
    const HANDLE threads[3] = {run.m_hStdoutThread.get(), run.m_hStderrThread.get(),
                               run.m_hWaitThread.get()};
    bool bJoined = WaitPumpingSends(threads, 3, kJoinMs);
    // A pipe end we could not take down (held by a process outside the job): cancel the
    // blocked reads at once, again and again in case a reader is between two reads. The
    // output is no longer wanted, and the window closing must not wait for it.
    for (int attempt = 0; !bJoined && attempt < 100; ++attempt) {
        if (threads[0])
            ::CancelSynchronousIo(threads[0]);
        if (threads[1])
            ::CancelSynchronousIo(threads[1]);
        bJoined = WaitPumpingSends(threads, 3, 50);
    }

    run.CountEnd();
    DWORD code = 0;
    if (IsSignaled(hProcess) && ::GetExitCodeProcess(hProcess, &code)) {
        m_dwExitCode = code;
        m_bExitCodeKnown = true;
    }
    // A worker that still would not end (stuck sending to a thread that does not answer)
    // keeps its state: freeing it under the worker would be worse than the leak.
    if (!bJoined)
        pRun.release();
    return bWasRunning;
}

void CChildRunner::SendRecord(CRun& run, ULONG_PTR code, CRecordHeader* pHeader, size_t nText) {
    const HWND hOwner = run.m_hOwner.load();
    if (!hOwner || !::IsWindow(hOwner))
        return;
    std::memcpy(pHeader->key, run.m_key, kKeySize);
    COPYDATASTRUCT record{};
    record.dwData = code;
    record.lpData = pHeader;
    record.cbData = static_cast<DWORD>(sizeof(CRecordHeader));
    if (code == COPYDATA_OUTPUT) {
        // The text ends at its first zero byte.
        char* pText = reinterpret_cast<char*>(pHeader + 1);
        pText[nText] = '\0';
        record.cbData += static_cast<DWORD>(std::strlen(pText) + 1);
    }
    ++run.m_nSending;
    ::SendMessageA(hOwner, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
    --run.m_nSending;
}

DWORD WINAPI CChildRunner::StdOutThread(LPVOID pRun) {
    return ReadLoop(*static_cast<CRun*>(pRun), EOutputStream::StdOut);
}

DWORD WINAPI CChildRunner::StdErrThread(LPVOID pRun) {
    return ReadLoop(*static_cast<CRun*>(pRun), EOutputStream::StdErr);
}

DWORD CChildRunner::ReadLoop(CRun& run, EOutputStream eStream) {
    ::WaitForSingleObject(run.m_hGo.get(), INFINITE);
    const bool bStdErr = eStream == EOutputStream::StdErr;
    const HANDLE hRead = bStdErr ? run.m_hStderrRead.get() : run.m_hStdoutRead.get();
    // The record's header, then the chunk and its terminating zero.
    struct {
        CRecordHeader header;
        char text[kChunkSize + 1];
    } record;
    record.header.nStream = StreamIndex(eStream);
    // Until the pipe breaks (every writer gone) or the waiter cancels the read, once the
    // child has ended and its pipes are empty.
    for (;;) {
        DWORD nRead = 0;
        if (!::ReadFile(hRead, record.text, kChunkSize, &nRead, nullptr) || run.m_bStopping)
            break;
        if (nRead == 0)
            continue;
        record.text[nRead] = '\0';
        if (!run.m_bQuiet) {
            if (bStdErr)
                run.m_pRunner->OnChildStdErrWrite(record.text);
            else
                run.m_pRunner->OnChildStdOutWrite(record.text);
        }
        SendRecord(run, COPYDATA_OUTPUT, &record.header, nRead);
    }
    if (--run.m_nReaders == 0)
        ::SetEvent(run.m_hReadersDone.get());
    return 0;
}

DWORD WINAPI CChildRunner::ProcessWaitThread(LPVOID pRun) {
    CRun& run = *static_cast<CRun*>(pRun);
    ::WaitForSingleObject(run.m_hGo.get(), INFINITE);
    const HANDLE hStop = run.m_hStop.get();
    const HANDLE ended[2] = {run.m_hProcess.get(), hStop};
    if (::WaitForMultipleObjects(2, ended, FALSE, INFINITE) != WAIT_OBJECT_0)
        return 0;
    run.CountEnd();

    // Record 5 comes after every record 3: it waits until both readers have delivered
    // everything and left. A reader sees the end of its pipe only once every copy of the
    // pipe's write end is closed, and something the child started (or the console host that
    // Wine gives it) may hold one after the child is gone. But the child's whole output is
    // in the pipes or with the readers by now: once a pipe is empty, its reader waits for
    // nothing of the child's any more, and its read is cancelled. A read that has just
    // returned is not undone by that; its reader delivers the chunk and is cancelled in its
    // next read. What others write after the child's end is not the child's output.
    const HANDLE waits[2] = {run.m_hReadersDone.get(), hStop};
    const HANDLE pipes[2] = {run.m_hStdoutRead.get(), run.m_hStderrRead.get()};
    const HANDLE readers[2] = {run.m_hStdoutThread.get(), run.m_hStderrThread.get()};
    while (::WaitForMultipleObjects(2, waits, FALSE, 0) == WAIT_TIMEOUT) {
        for (int i = 0; i < 2; ++i) {
            DWORD nAvailable = 0;
            // Fails once the pipe is broken and empty: the reader ends by itself then.
            if (!::PeekNamedPipe(pipes[i], nullptr, 0, nullptr, &nAvailable, nullptr) ||
                nAvailable == 0)
                ::CancelSynchronousIo(readers[i]);
        }
        if (::WaitForMultipleObjects(2, waits, FALSE, kDrainStepMs) != WAIT_TIMEOUT)
            break;
    }

    if (!run.m_bQuiet)
        run.m_pRunner->OnChildTerminate();
    CRecordHeader header{};
    SendRecord(run, COPYDATA_FINISHED, &header, 0);
    return 0;
}
