// Common controls the program uses besides the static control.
#pragma once

#include "framework/Wnd.h"

#include <commctrl.h>

// A tooltip window owned by this object: destroyed with it.
class CToolTipCtrl : public CWnd {
public:
    CToolTipCtrl() = default;
    ~CToolTipCtrl() override;

    BOOL Create(CWindow parent, DWORD dwStyle = 0);
    BOOL AddTool(CWindow wnd, const char* text, const RECT* rect, UINT_PTR nIDTool);
    void RelayEvent(MSG* pMsg) const {
        if (m_hWnd)
            SendMessage(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(pMsg));
    }
    BOOL DestroyWindow();
};
