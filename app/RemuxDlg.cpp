#include "app/RemuxDlg.h"

#include "app/AboutDlg.h"
#include "framework/FileDialog.h"
#include "framework/Gdi.h"
#include "framework/WinApp.h"
#include "job/JobNaming.h"
#include "res/resource.h"

CRemuxDlg::CRemuxDlg(CWnd* pParent) : CDialog(IDD_MAIN, pParent), m_run(m_runner, *this) {
    HINSTANCE hInst = AfxFindResourceHandle(MAKEINTRESOURCEA(IDR_MAINFRAME), RT_GROUP_ICON);
    m_hIcon = ::LoadIconA(hInst, MAKEINTRESOURCEA(IDR_MAINFRAME));
}

// m_run goes first and ends a run still on; the window is gone by then, so records still in
// flight are dropped, not handled.
CRemuxDlg::~CRemuxDlg() = default;

BEGIN_MESSAGE_MAP(CRemuxDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_OPEN, OnOpen)
ON_WM_DROPFILES()
ON_REGISTERED_MESSAGE(WMSTDIOCOMMAND, OnStdioCommand)
ON_MESSAGE(WM_COPYDATA, OnCopyData)
ON_REGISTERED_MESSAGE(WMTASKBARBUTTONCREATED, OnTaskbarButtonCreated)
ON_REGISTERED_MESSAGE(WMREBUILDNOTIFY, OnRebuildNotify)
ON_WM_DESTROY()
END_MESSAGE_MAP()

void CRemuxDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PRODUCTS_LINK, m_link);
}

BOOL CRemuxDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    m_runner.SetOwner(this);
    m_run.SetOwner(this);
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
    m_run.Go(m_strSource, m_strOutput, JobToolPath(JobExeFolder(AfxGetModuleFileName())));
}

LRESULT CRemuxDlg::OnStdioCommand(WPARAM, LPARAM) {
    m_run.Start(BuildCommandLine(), m_strOutput);
    return 0;
}

LRESULT CRemuxDlg::OnCopyData(WPARAM, LPARAM lParam) {
    m_run.OnCopyData(lParam);
    return 0;
}

LRESULT CRemuxDlg::OnRebuildNotify(WPARAM, LPARAM) {
    m_run.OnRebuildNotify();
    return 0;
}

LRESULT CRemuxDlg::OnTaskbarButtonCreated(WPARAM, LPARAM) {
    m_run.OnTaskbarButtonCreated();
    return 0;
}

void CRemuxDlg::OnDestroy() {
    // A run may go on until the dialog object goes; its progress leaves the caption and the
    // taskbar button while the window still has them.
    m_run.OnOwnerDestroy();
    Default();
}

void CRemuxDlg::ShowRunning(bool bRunning) {
    CWindow go = GetDlgItem(IDOK);
    if (bRunning && ::GetFocus() == go.m_hWnd) {
        // A disabled button cannot keep the focus. The source box takes it: there Enter goes to
        // the (disabled) default button and does nothing, where on OPEN it would click OPEN.
        SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(IDC_SOURCE_PATH).m_hWnd),
                    TRUE);
    }
    // One repaint for both changes, left to the message loop: at a run's end the message
    // box is what the user waits for, and each change would repaint the button at once.
    go.SendMessage(WM_SETREDRAW, FALSE);
    go.SetWindowText(bRunning ? "Waiting..." : "GO");
    go.EnableWindow(!bRunning);
    go.SendMessage(WM_SETREDRAW, TRUE);
    ::InvalidateRect(go.m_hWnd, nullptr, TRUE);
}

void CRemuxDlg::ShowRunMessage(const CString& text) {
    AfxMessageBox(text);
}

bool CRemuxDlg::AskRunQuestion(const CString& text, bool bYesDefault) {
    return AfxMessageBox(text, MB_YESNO | MB_ICONWARNING |
                                   (bYesDefault ? MB_DEFBUTTON1 : MB_DEFBUTTON2)) == IDYES;
}

CString CRemuxDlg::ChooseReference(const CString& brokenName) {
    CFileDialog dlg(TRUE, nullptr, nullptr, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY,
                    "MP4 files|*.mp4;*.mov|All files|*.*||");
    CString title;
    title.Format("A whole recording made the same way as %s", static_cast<const char*>(brokenName));
    dlg.m_ofn.lpstrTitle = title;
    return dlg.DoModal() == IDOK ? dlg.GetPathName() : CString();
}
