#include "app/RemuxDlg.h"

#include "framework/Gdi.h"
#include "framework/WinApp.h"
#include "res/resource.h"

CRemuxDlg::CRemuxDlg(CWnd* pParent) : CDialog(IDD_MAIN, pParent) {
    HINSTANCE hInst = AfxFindResourceHandle(MAKEINTRESOURCEA(IDR_MAINFRAME), RT_GROUP_ICON);
    m_hIcon = ::LoadIconA(hInst, MAKEINTRESOURCEA(IDR_MAINFRAME));
}

BEGIN_MESSAGE_MAP(CRemuxDlg, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_OPEN, OnOpen)
END_MESSAGE_MAP()

BOOL CRemuxDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_strSource.Empty();
    return TRUE;
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
