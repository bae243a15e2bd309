#include "app/RemuxDlg.h"

#include "app/AboutDlg.h"
#include "framework/Gdi.h"
#include "framework/WinApp.h"
#include "res/resource.h"

CRemuxDlg::CRemuxDlg(CWnd* pParent) : CDialog(IDD_MAIN, pParent) {
    HINSTANCE hInst = AfxFindResourceHandle(MAKEINTRESOURCEA(IDR_MAINFRAME), RT_GROUP_ICON);
    m_hIcon = ::LoadIconA(hInst, MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CRemuxDlg::~CRemuxDlg() {
    // The window is gone by now, so records still in flight are dropped, not handled.
    EndRunOnClose();
}

BEGIN_MESSAGE_MAP(CRemuxDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_OPEN, OnOpen)
ON_WM_DROPFILES()
ON_REGISTERED_MESSAGE(WMSTDIOCOMMAND, OnStdioCommand)
ON_MESSAGE(WM_COPYDATA, OnCopyData)
ON_REGISTERED_MESSAGE(WMTASKBARBUTTONCREATED, OnTaskbarButtonCreated)
ON_WM_DESTROY()
END_MESSAGE_MAP()

void CRemuxDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PRODUCTS_LINK, m_link);
}

BOOL CRemuxDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    m_runner.SetOwner(this);
    m_progress.Attach(m_hWnd);
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
