#include "app/RemuxApp.h"

#include "app/RemuxDlg.h"

CRemuxApp theApp;

BOOL CRemuxApp::InitInstance() {
    AfxEnableControlContainer();
    Enable3dControls();

    {
        CRemuxDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
    }
    // The dialog was the whole program: end without entering a message loop.
    return FALSE;
}
