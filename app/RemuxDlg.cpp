#include "app/RemuxDlg.h"

#include "app/AboutDlg.h"
#include "framework/Gdi.h"
#include "framework/WinApp.h"
#include "res/resource.h"

CRemuxDlg::CRemuxDlg(CWnd* pParent) : CDialog(IDD_MAIN, pParent) {
    HINSTANCE hInst = AfxFindResourceHandle(MAKEINTRESOURCEA(IDR_MAINFRAME), RT_GROUP_ICON);
    m_hIcon = ::LoadIconA(hInst, MAKEINTRESOURCEA(IDR_MAINFRAME));
}

BEGIN_MESSAGE_MAP(CRemuxDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_OPEN, OnOpen)
ON_WM_DROPFILES()
ON_WM_DESTROY()
END_MESSAGE_MAP()

void CRemuxDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PRODUCTS_LINK, m_link);
}

BOOL CRemuxDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    m_runner.SetOwner(this);
    AddAboutEntry();
    AcceptDroppedFiles();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_strSource.Empty();
    m_link.SetURL("http://www.velmora.example/products.htm");
    return TRUE;
}

void CRemuxDlg::AddAboutEntry() {
    HMENU hSysMenu = GetSystemMenu(FALSE);
    if (!hSysMenu)
        return;
    const CString text = AfxLoadString(IDS_ABOUTBOX);
    if (text.IsEmpty())
        return;
    ::AppendMenuA(hSysMenu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuA(hSysMenu, MF_STRING, IDM_ABOUTBOX, text);
}

void CRemuxDlg::OnSysCommand(UINT nID, LPARAM) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
        return;
    }
    Default();
}

void CRemuxDlg::OnPaint() {
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(*this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    CRect rect;
    GetClientRect(&rect);
    const int x = (rect.Width() - cxIcon + 1) / 2;
    const int y = (rect.Height() - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CRemuxDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

void CRemuxDlg::OnOK() {
    // No file chosen, or the last choice was refused.
    if (m_strSource.GetLength() < 3)
        return;
    m_runner.Go(m_job);
}

BOOL CRemuxDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    // The start request GO posted, the runs' records, the taskbar's button.
    if (m_runner.OnOwnerMessage(message, lParam)) {
        *pResult = 0;
        return TRUE;
    }
    return CDialog::OnWndMsg(message, wParam, lParam, pResult);
}

void CRemuxDlg::OnDestroy() {
    // A run may go on until the dialog object goes; its progress leaves the caption and the
    // taskbar button while the window still has them. When it goes, m_runner ends a run still
    // on; the window is gone by then, so records still in flight are dropped, not handled.
    m_runner.OnOwnerDestroy();
    Default();
}
