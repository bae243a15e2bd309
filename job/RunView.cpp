#include "job/RunView.h"

#include "framework/FileDialog.h"
#include "framework/WinApp.h"
#include "framework/Wnd.h"
#include "job/RebuildReport.h"

void CRunView::ShowRunning(bool bRunning) {
    if (!m_pOwner)
        return;
    CWindow go = m_pOwner->GetDlgItem(IDOK);
    if (bRunning && ::GetFocus() == go.m_hWnd) {
        // A disabled button cannot keep the focus. The next control in the tab order, the
        // source box, takes it: there Enter goes to the (disabled) default button and does
        // nothing, where on OPEN it would click OPEN.
        m_pOwner->SendMessage(WM_NEXTDLGCTL, 0, FALSE);
    }
    // One repaint for both changes, left to the message loop: at a run's end the message
    // box is what the user waits for, and each change would repaint the button at once.
    go.SendMessage(WM_SETREDRAW, FALSE);
    go.SetWindowText(bRunning ? "Waiting..." : "GO");
    go.EnableWindow(!bRunning);
    go.SendMessage(WM_SETREDRAW, TRUE);
    ::InvalidateRect(go.m_hWnd, nullptr, TRUE);
}

void CRunView::ShowMessage(const CString& text) {
    AfxMessageBox(text);
}

bool CRunView::Ask(const CString& text, bool bYesDefault) {
    return AfxMessageBox(text, MB_YESNO | MB_ICONWARNING |
                                   (bYesDefault ? MB_DEFBUTTON1 : MB_DEFBUTTON2)) == IDYES;
}

int CRunView::AskThree(const CString& text) {
    return AfxMessageBox(text, MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON1);
}

CString CRunView::ChooseReference(const CString& brokenName) {
    CFileDialog dlg(TRUE, nullptr, nullptr, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY,
                    "MP4 files|*.mp4;*.mov|All files|*.*||");
    const CString title = ReferenceChoiceTitle(brokenName);
    dlg.m_ofn.lpstrTitle = title;
    return dlg.DoModal() == IDOK ? dlg.GetPathName() : CString();
}
