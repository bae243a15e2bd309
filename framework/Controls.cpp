#include "framework/Controls.h"

#include "framework/WinApp.h"

#include <commctrl.h>

CToolTipCtrl::~CToolTipCtrl() {
    DestroyWindow();
}

BOOL CToolTipCtrl::Create(CWindow parent, DWORD dwStyle) {
    HWND hWnd = ::CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | dwStyle, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent.m_hWnd,
                                  nullptr, AfxGetInstanceHandle(), nullptr);
    if (!hWnd)
        return FALSE;
    Bind(hWnd);
    return TRUE;
}

BOOL CToolTipCtrl::AddTool(CWindow wnd, const char* text, const RECT* rect, UINT_PTR nIDTool) {
    TOOLINFOA ti{};
    ti.cbSize = sizeof(ti);
    ti.hwnd = wnd.m_hWnd;
    ti.uId = nIDTool;
    ti.hinst = AfxGetInstanceHandle();
    ti.lpszText = const_cast<char*>(text ? text : "");
    if (rect)
        ti.rect = *rect;
    return static_cast<BOOL>(SendMessage(TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti)));
}

BOOL CToolTipCtrl::DestroyWindow() {
    if (!m_hWnd)
        return FALSE;
    // WM_NCDESTROY unbinds the object, which clears m_hWnd.
    return ::DestroyWindow(m_hWnd);
}
