// GO: checking the job, starting the tool and turning its status records into the window's
// state and the closing message.
#include "app/RemuxDlg.h"

#include "framework/Handle.h"
#include "framework/WinApp.h"
#include "job/JobNaming.h"
#include "job/RunReport.h"
#include "res/resource.h"

// The start request GO posts to the dialog itself, registered before the program's entry runs.
const UINT WMSTDIOCOMMAND = ::RegisterWindowMessageA("WMSTDIOCOMMAND");

namespace {

// Any entry matching path counts, as a find-first sees it.
bool PathExists(const char* path) {
    WIN32_FIND_DATAA data;
    CFindHandle find(::FindFirstFileA(path, &data));
    return find.valid();
}

} // namespace

CRemuxDlg::COutputStamp CRemuxDlg::COutputStamp::Of(const CString& path) {
    COutputStamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        stamp.bExists = true;
        stamp.ftWrite = data.ftLastWriteTime;
        stamp.nSize = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return stamp;
}

bool CRemuxDlg::COutputStamp::operator==(const COutputStamp& other) const {
    return bExists == other.bExists && nSize == other.nSize &&
           ::CompareFileTime(&ftWrite, &other.ftWrite) == 0;
}

void CRemuxDlg::OnOK() {
    if (m_strSource.GetLength() < 3)
        return;
    // One tool at a time writes an output file.
    if (m_runState != RunState::Idle)
        return;

    if (!PathExists(JobToolPath(JobExeFolder(AfxGetModuleFileName())))) {
        AfxMessageBox("Cannot find the BOX program");
        return;
    }
    if (!PathExists(m_strSource)) {
        AfxMessageBox("Cannot find the source video file");
        return;
    }
    m_runState = RunState::Starting;
    PostMessage(WMSTDIOCOMMAND, 0, 0);
}

LRESULT CRemuxDlg::OnStdioCommand(WPARAM, LPARAM) {
    // Only the request GO posted starts a run; a stray or repeated one is ignored.
    if (m_runState != RunState::Starting)
        return 0;

    const CString cmd = BuildCommandLine();
    m_strRunOutput = m_strOutput;
    m_runOutputBefore = COutputStamp::Of(m_strRunOutput);
    m_toolLog.Clear();
    m_runState = RunState::Running;
    if (!m_runner.Open(cmd, FALSE, this)) {
        m_runState = RunState::Idle;
        AfxMessageBox("Cannot start the BOX program");
    }
    return 0;
}

LRESULT CRemuxDlg::OnCopyData(WPARAM, LPARAM lParam) {
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    // Records count only while our run is on: any process may send WM_COPYDATA here.
    if (!cds || m_runState != RunState::Running)
        return 0;

    switch (cds->dwData) {
    case COPYDATA_STARTED:
        ShowRunning(true);
        m_progress.Begin();
        break;
    case COPYDATA_OUTPUT:
        if (cds->lpData && cds->cbData > 0) {
            const auto* text = static_cast<const char*>(cds->lpData);
            size_t length = 0;
            while (length < cds->cbData && text[length] != '\0')
                ++length;
            m_toolLog.Append(text, length);
            // The records do not say which stream they came from yet: both go to one parser.
            m_progress.OnOutput(CRunProgress::kStdErr, text, length);
        }
        break;
    case COPYDATA_FINISHED:
        OnRunFinished();
        break;
    default:
        break;
    }
    return 0;
}

void CRemuxDlg::ShowRunning(bool bRunning) {
    CWindow go = GetDlgItem(IDOK);
    if (bRunning && ::GetFocus() == go.m_hWnd) {
        // A disabled button cannot keep the focus. The source box takes it: there Enter goes to
        // the (disabled) default button and does nothing, where on OPEN it would click OPEN.
        SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(IDC_SOURCE_PATH).m_hWnd),
                    TRUE);
    }
    go.SetWindowText(bRunning ? "Waiting..." : "GO");
    go.EnableWindow(!bRunning);
}

void CRemuxDlg::OnRunFinished() {
    DWORD exitCode = 0;
    // A finish record while our child still runs did not come from our runner.
    if (!m_runner.GetExitCode(&exitCode))
        return;
    m_runState = RunState::Idle;
    ShowRunning(false);

    CMp4Verdict file;
    if (exitCode == 0)
        file = CheckMp4File(m_strRunOutput);
    m_progress.End(exitCode != 0 || !file.bValid);
    const CString report =
        FormatRunReport(m_strRunOutput, exitCode, file, m_toolLog.GetFailureLines());
    AfxMessageBox(report);
}

LRESULT CRemuxDlg::OnTaskbarButtonCreated(WPARAM, LPARAM) {
    m_progress.OnTaskbarButtonCreated();
    return 0;
}

void CRemuxDlg::OnDestroy() {
    // The run may go on until the dialog object goes, but its caption and taskbar progress
    // are cleared while the window is still there.
    m_progress.End(false);
    Default();
}

void CRemuxDlg::EndRunOnClose() {
    m_progress.End(false);
    if (m_runState != RunState::Running)
        return;
    m_runState = RunState::Idle;
    if (!m_runner.Terminate())
        return; // the tool had ended: its output is complete
    // The tool was cut off: what it wrote is no result. An output it never touched (a complete
    // file of an earlier run, or none) stays as it was.
    const COutputStamp now = COutputStamp::Of(m_strRunOutput);
    if (now.bExists && !(now == m_runOutputBefore))
        ::DeleteFileA(m_strRunOutput);
}
