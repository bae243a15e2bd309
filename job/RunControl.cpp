#include "job/RunControl.h"

#include "framework/FileName.h"
#include "framework/WinApp.h"
#include "framework/Wnd.h"
#include "job/Mp4Check.h"
#include "job/RunReport.h"

#include <cwchar>

// The start request GO posts to the dialog itself, registered before the program's entry runs.
const UINT WMSTDIOCOMMAND = ::RegisterWindowMessageA("WMSTDIOCOMMAND");

namespace {

uint64_t FileTimeValue(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME FileTimeOf(uint64_t value) {
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

// FAT keeps write times in two-second steps: an output written this recently could be written
// again by the tool and keep the very same time. 100 ns units.
const uint64_t kCoarseWriteWindow = 6ull * 10000000ull;

// Closing mid-run: how long the tool's files may stay open after it was ended.
const DWORD kDeleteRetryMs = 5000;
const DWORD kDeleteStepMs = 100;

// Whether two names lead to one file.
bool SameFile(const CString& a, const CString& b) {
    CFileIdentity first, second;
    return FileIdentityOf(a, &first) && FileIdentityOf(b, &second) && first == second;
}

} // namespace

CRunControl::COutputStamp CRunControl::COutputStamp::Of(const CString& path) {
    COutputStamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        stamp.bExists = true;
        stamp.ftWrite = data.ftLastWriteTime;
        stamp.nSize = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return stamp;
}

bool CRunControl::COutputStamp::operator==(const COutputStamp& other) const {
    return bExists == other.bExists && nSize == other.nSize &&
           ::CompareFileTime(&ftWrite, &other.ftWrite) == 0;
}

CRunControl::COutputStamp CRunControl::StampBeforeRun(const CString& path) {
    COutputStamp stamp = COutputStamp::Of(path);
    if (!stamp.bExists)
        return stamp;
    // An output written in the last few seconds (an earlier run's) gets an older write time,
    // so that the tool writing it again always shows, whatever the file system's time step.
    FILETIME ftNow;
    ::GetSystemTimeAsFileTime(&ftNow);
    const uint64_t nBefore = FileTimeValue(ftNow) - kCoarseWriteWindow;
    if (FileTimeValue(stamp.ftWrite) <= nBefore)
        return stamp;
    CFileHandle file(::CreateFileA(path, FILE_WRITE_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const FILETIME ftBefore = FileTimeOf(nBefore);
    if (file && ::SetFileTime(file.get(), nullptr, nullptr, &ftBefore)) {
        file.reset();
        stamp = COutputStamp::Of(path);
    }
    return stamp;
}

CRunControl::CRunControl(CChildRunner& runner, CView& view) : m_runner(runner), m_view(view) {}

CRunControl::~CRunControl() {
    EndRunOnClose();
}

void CRunControl::SetOwner(CWnd* pOwner) {
    m_pOwner = pOwner;
    if (pOwner)
        m_progress.Attach(pOwner->m_hWnd);
}

std::wstring CRunControl::ToolEnvironment() {
    std::wstring strBlock;
    if (wchar_t* pStrings = ::GetEnvironmentStringsW()) {
        for (const wchar_t* p = pStrings; *p; p += wcslen(p) + 1) {
            // Names compare without case; "=C:=C:\\..." entries start with '='.
            const wchar_t* pEq = wcschr(p + 1, L'=');
            const size_t nName = pEq ? static_cast<size_t>(pEq - p) : wcslen(p);
            const std::wstring strName(p, nName);
            if (::lstrcmpiW(strName.c_str(), L"SHELL") == 0 ||
                ::lstrcmpiW(strName.c_str(), L"PATH") == 0)
                continue;
            strBlock.append(p).push_back(L'\0');
        }
        ::FreeEnvironmentStringsW(pStrings);
    }
    wchar_t system[MAX_PATH + 1] = L"";
    wchar_t windows[MAX_PATH + 1] = L"";
    const UINT nSystem = ::GetSystemDirectoryW(system, MAX_PATH + 1);
    const UINT nWindows = ::GetWindowsDirectoryW(windows, MAX_PATH + 1);
    std::wstring strPath = L"PATH=";
    if (nSystem > 0 && nSystem <= MAX_PATH)
        strPath += std::wstring(system) + L";";
    if (nWindows > 0 && nWindows <= MAX_PATH)
        strPath += windows;
    strBlock.append(strPath).push_back(L'\0');
    strBlock.push_back(L'\0');
    return strBlock;
}

bool CRunControl::CheckRunnable(const CString& source, const CString& output, CSourceInfo* pInfo) {
    *pInfo = CheckSourceFile(source);
    if (IsRunnable(pInfo->eKind))
        return true;
    // A rebuild is offered when nothing else runs.
    if (pInfo->eKind == ESourceKind::NoIndex && pInfo->nMediaBytes > 0 && m_state == State::Idle)
        OfferRebuild(source, output, *pInfo);
    else
        m_view.ShowRunMessage(DescribeUnrunnableSource(AfxFileNameOf(source), *pInfo));
    return false;
}

bool CRunControl::MayReplace(const CString& output) {
    // The Open dialog never asks this: a new file is only ever chosen as the source.
    if (!AfxPathExists(output))
        return true;
    CString question;
    question.Format("%s already exists. Replace it?", static_cast<const char*>(output));
    return m_view.AskRunQuestion(question);
}

void CRunControl::OfferRebuild(const CString& source, const CString& output,
                               const CSourceInfo& info) {
    const CString name = AfxFileNameOf(source);
    if (!m_view.AskRunQuestion(RebuildOffer(name, info), true))
        return;
    const CString reference = m_view.ChooseReference(name);
    if (reference.IsEmpty() || !MayReplace(output))
        return;
    // The rebuild creates its copy new and never writes through an existing name, so an
    // earlier copy goes first: its name only (a link is removed, not what it leads to). A
    // name that is one of the recordings themselves stays, and the rebuild says why.
    if (AfxPathExists(output) && !SameFile(output, source) && !SameFile(output, reference))
        ::DeleteFileA(output);
    m_strRunOutput = output;
    m_strSourceName = name;
    m_strRebuildReference = AfxFileNameOf(reference);
    if (!m_pOwner || !m_rebuild.Start(reference, source, output, m_pOwner->m_hWnd)) {
        CString message;
        message.Format("Cannot rebuild %s\n%s", static_cast<const char*>(name),
                       static_cast<const char*>(AfxFormatSystemMessage(::GetLastError())));
        m_view.ShowRunMessage(message);
        return;
    }
    m_state = State::Rebuilding;
    m_view.ShowRunning(true);
    m_progress.Begin();
}

void CRunControl::OnRebuildNotify() {
    if (m_state != State::Rebuilding)
        return;
    CRebuildResult result;
    if (!m_rebuild.TakeResult(&result)) {
        m_progress.ShowPercent(m_rebuild.GetPercent(), "Rebuilding");
        return;
    }
    m_state = State::Idle;
    m_progress.End(result.eStatus != CRebuildResult::EStatus::Rebuilt);
    m_view.ShowRunning(false);
    m_view.ShowRunMessage(
        FormatRebuildReport(m_strSourceName, m_strRebuildReference, m_strRunOutput, result));
}

void CRunControl::OnSourceChosen(const CString& source, const CString& output) {
    CSourceInfo info;
    CheckRunnable(source, output, &info);
}

void CRunControl::Go(const CString& source, const CString& output, const CString& toolPath) {
    if (source.GetLength() < 3)
        return;
    // One tool at a time writes an output file.
    if (m_state != State::Idle)
        return;

    if (!AfxPathExists(toolPath)) {
        m_view.ShowRunMessage("Cannot find the BOX program");
        return;
    }
    if (!AfxPathExists(source)) {
        m_view.ShowRunMessage("Cannot find the source video file");
        return;
    }
    CSourceInfo info;
    if (!CheckRunnable(source, output, &info))
        return;
    if (!MayReplace(output))
        return;
    const int nSlash = toolPath.ReverseFind('\\');
    m_strToolFolder = nSlash > 0 ? toolPath.Left(nSlash) : CString();
    m_source = info;
    m_strRunSource = source;
    m_strSourceName = AfxFileNameOf(source);
    if (m_pOwner && m_pOwner->PostMessage(WMSTDIOCOMMAND, 0, 0))
        m_state = State::Starting;
}

void CRunControl::Start(const CString& cmd, const CString& output) {
    if (m_state != State::Starting)
        return;
    // Whatever happens below, a run that did not start leaves GO usable.
    m_state = State::Idle;
    m_strRunOutput = output;
    m_runOutputBefore = StampBeforeRun(m_strRunOutput);
    // One import phase for each track of a movie, then the writing.
    const size_t nTracks = m_source.movie.tracks.size();
    m_toolOutput.Reset(nTracks > 0 ? static_cast<int>(nTracks) + 1 : 0,
                       {m_strRunSource.str(), m_strRunOutput.str()});
    m_state = State::Running;
    BOOL bStarted = FALSE;
    try {
        // The tool's own folder and a clean environment: nothing of the user's current
        // folder or PATH is where the tool looks for what it loads.
        const std::wstring environment = ToolEnvironment();
        CChildPlace place;
        place.pszFolder =
            m_strToolFolder.IsEmpty() ? nullptr : static_cast<const char*>(m_strToolFolder);
        place.pEnvironment = environment.c_str();
        bStarted = m_runner.Open(cmd, FALSE, m_pOwner, place);
    } catch (...) {
        m_runner.Terminate();
        m_state = State::Idle;
        m_progress.End(false);
        m_view.ShowRunning(false);
        throw;
    }
    if (!bStarted) {
        m_state = State::Idle;
        m_view.ShowRunMessage(FormatStartFailure(AfxFormatSystemMessage(m_runner.GetStartError())));
    }
}

void CRunControl::OnCopyData(LPARAM lParam) {
    CRunnerRecord record;
    if (m_state != State::Running || !m_runner.ReadRecord(lParam, &record))
        return;

    switch (record.nCode) {
    case COPYDATA_STARTED:
        m_view.ShowRunning(true);
        m_progress.Begin();
        break;
    case COPYDATA_OUTPUT:
        if (m_toolOutput.Append(record.eStream, record.pText, record.nLength))
            m_progress.Show(m_toolOutput.Progress());
        break;
    case COPYDATA_FINISHED:
        OnRunFinished();
        break;
    default:
        break;
    }
}

void CRunControl::OnRunFinished() {
    DWORD exitCode = 1;
    m_runner.GetExitCode(&exitCode);
    m_state = State::Idle;

    bool bFailed = true;
    CString report;
    try {
        CRunOutcome outcome;
        outcome.strOutput = m_strRunOutput;
        outcome.nExitCode = exitCode;
        outcome.strSourceName = m_strSourceName;
        outcome.eSource = m_source.eKind;
        outcome.dStatedSeconds = m_source.movie.StatedSeconds();
        if (exitCode == 0) {
            // An output that is just as it was before the run is an earlier run's.
            if (m_runOutputBefore.bExists && COutputStamp::Of(m_strRunOutput) == m_runOutputBefore)
                outcome.file.strProblem = kToolWroteNothing;
            else
                outcome.file = CheckMp4File(m_strRunOutput);
        }
        outcome.strToolLines = m_toolOutput.GetFailureLines();
        bFailed = exitCode != 0 || !outcome.file.bValid;
        report = FormatRunReport(outcome);
    } catch (...) {
        // However the verdict fails, the window shows no run any more.
        m_progress.End(true);
        m_view.ShowRunning(false);
        throw;
    }
    m_progress.End(bFailed);
    m_view.ShowRunning(false);
    m_view.ShowRunMessage(report);
}

void CRunControl::EndRunOnClose() {
    m_progress.End(false);
    if (m_state == State::Rebuilding) {
        m_state = State::Idle;
        m_rebuild.Cancel();
        // Done, but never announced: no copy stays that the user was not told of.
        CRebuildResult result;
        if (m_rebuild.TakeResult(&result) && result.eStatus == CRebuildResult::EStatus::Rebuilt)
            ::DeleteFileA(m_strRunOutput);
        return;
    }
    if (m_state != State::Running)
        return;
    m_state = State::Idle;
    // Cut off, or ended but never checked and announced: what the tool wrote is no result. An
    // output it never touched (a complete file of an earlier run, or none) stays as it was.
    m_runner.Terminate();
    const COutputStamp now = COutputStamp::Of(m_strRunOutput);
    if (!now.bExists || now == m_runOutputBefore)
        return;
    // The ended tool, or a process of its own it started, may still hold the file open for a
    // moment.
    for (DWORD waited = 0;; waited += kDeleteStepMs) {
        if (::DeleteFileA(m_strRunOutput))
            return;
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            waited >= kDeleteRetryMs)
            return;
        ::Sleep(kDeleteStepMs);
    }
}
