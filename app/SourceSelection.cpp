// Choosing the source file (OPEN, or a file dropped on the window) and naming the job.
#include "app/RemuxDlg.h"

#include "framework/FileDialog.h"
#include "framework/WinApp.h"
#include "res/resource.h"

#include <shellapi.h>

#include <vector>

namespace {

// The shell's calls for a drop, loaded with the first drop rather than at start-up.
struct CDropCalls {
    UINT(WINAPI* query)(HDROP, UINT, char*, UINT);
    void(WINAPI* finish)(HDROP);
};

const CDropCalls& DropCalls() {
    static const CDropCalls calls{
        AfxGetSystemProc<decltype(CDropCalls::query)>("shell32.dll", "DragQueryFileA"),
        AfxGetSystemProc<decltype(CDropCalls::finish)>("shell32.dll", "DragFinish")};
    return calls;
}

// The name of file nIndex of a drop, at any length.
CString DroppedFile(HDROP hDrop, UINT nIndex) {
    const auto query = DropCalls().query;
    const UINT length = query(hDrop, nIndex, nullptr, 0);
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    const UINT copied = query(hDrop, nIndex, buffer.data(), static_cast<UINT>(buffer.size()));
    return CString(buffer.data(), static_cast<int>(copied));
}

} // namespace

void CRemuxDlg::OnOpen() {
    CFileDialog dlg(TRUE, nullptr, nullptr,
                    OFN_FILEMUSTEXIST | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY,
                    "MP4 files|*.mp4||");
    if (dlg.DoModal() != IDOK)
        return;
    SelectSource(dlg.GetPathName());
}

void CRemuxDlg::OnDropFiles(HDROP hDropInfo) {
    const CDropCalls& calls = DropCalls();
    // A system without its shell's calls takes no drop.
    if (!calls.query || !calls.finish)
        return;
    const UINT count = calls.query(hDropInfo, 0xFFFFFFFF, nullptr, 0);
    const CString path = count > 0 ? DroppedFile(hDropInfo, 0) : CString();
    calls.finish(hDropInfo);
    if (count == 0)
        return;

    if (count > 1)
        m_runner.NoteManyDropped(count, path);
    // A folder is not a video, whatever its name.
    const DWORD attributes = ::GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        m_runner.RefuseInput();
        m_strSource.Empty();
        return;
    }
    SelectSource(path);
}

void CRemuxDlg::SelectSource(const CString& path) {
    if (path.ReverseFind('.') < 0) {
        m_runner.RefuseInput();
        m_strSource.Empty();
        return;
    }
    SetDlgItemText(IDC_SOURCE_PATH, path);
    m_job = MakeJob(path, AfxGetModuleFileName());
    m_runner.Check(m_job);
}

void CRemuxDlg::AcceptDroppedFiles() {
    // What DragAcceptFiles does, without loading the shell at start-up for it.
    ::SetWindowLongPtrA(m_hWnd, GWL_EXSTYLE,
                        ::GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE) | WS_EX_ACCEPTFILES);
    // The program runs elevated: without this, Windows keeps a drop from a non-elevated
    // Explorer away from the window.
    const UINT kCopyGlobalData = 0x0049;
    for (UINT message :
         {static_cast<UINT>(WM_DROPFILES), static_cast<UINT>(WM_COPYDATA), kCopyGlobalData})
        AfxAllowMessageFromLowerIntegrity(m_hWnd, message);
}
