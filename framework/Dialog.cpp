#include "framework/Dialog.h"

#include "framework/WinApp.h"

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.m_hWnd)
        return;
    rControl.SubclassWindow(::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC));
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_MESSAGE(WM_INITDIALOG, HandleInitDialog)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

INT_PTR CDialog::DoModal() {
    HINSTANCE hInst = AfxFindResourceHandle(MAKEINTRESOURCEA(m_nIDTemplate), RT_DIALOG);
    HRSRC hResource = ::FindResourceA(hInst, MAKEINTRESOURCEA(m_nIDTemplate), RT_DIALOG);
    HGLOBAL hTemplate = hResource ? ::LoadResource(hInst, hResource) : nullptr;
    const auto* pTemplate = static_cast<const DLGTEMPLATE*>(::LockResource(hTemplate));
    if (!pTemplate)
        return -1;

    // Modal: the owner takes no input until the dialog ends.
    HWND owner = AfxGetSafeOwner(m_pParentWnd);
    const bool disabledOwner = owner && ::IsWindowEnabled(owner);
    if (disabledOwner)
        ::EnableWindow(owner, FALSE);

    m_bEndModal = false;
    m_nModalResult = -1;
    HWND hWnd = ::CreateDialogIndirectParamA(hInst, pTemplate, owner, &CDialog::DialogProc,
                                             reinterpret_cast<LPARAM>(this));
    if (hWnd) {
        if (!m_bEndModal && !::IsWindowVisible(hWnd))
            ::ShowWindow(hWnd, SW_SHOWNORMAL);
        MSG msg;
        while (!m_bEndModal) {
            const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
            if (got == 0) {
                // Leave WM_QUIT for the loop that owns it.
                ::PostQuitMessage(static_cast<int>(msg.wParam));
                m_nModalResult = -1;
                break;
            }
            if (got == -1)
                break;
            if (!AfxWalkPreTranslateTree(hWnd, &msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
        }
    }

    // Re-enable the owner before the dialog goes, so activation returns to it.
    if (disabledOwner)
        ::EnableWindow(owner, TRUE);
    if (hWnd && ::IsWindow(hWnd)) {
        if (owner && ::GetActiveWindow() == hWnd)
            ::SetActiveWindow(owner);
        ::DestroyWindow(hWnd);
    }
    return m_nModalResult;
}

void CDialog::EndDialog(int nResult) {
    m_nModalResult = nResult;
    m_bEndModal = true;
    // Wake the loop if this was called from a sent message while it waits in GetMessage.
    if (m_hWnd)
        ::PostMessageA(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(TRUE))
        EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg) {
    return ::IsDialogMessageA(m_hWnd, pMsg);
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) {
    CRect before;
    GetWindowRect(&before);
    const BOOL result = OnInitDialog();
    // The framework's placement: a top-level dialog that OnInitDialog did not move or show
    // is centred.
    CRect after;
    GetWindowRect(&after);
    if (!(GetStyle() & (WS_CHILD | WS_VISIBLE)) && ::EqualRect(&before, &after))
        CenterWindow();
    return result;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_INITDIALOG)
        return FALSE; // everything else reaches the object through its window procedure
    auto* pDlg = reinterpret_cast<CDialog*>(lParam);
    pDlg->Bind(hWnd);
    return static_cast<INT_PTR>(SafeWindowProc(pDlg, message, wParam, lParam));
}
