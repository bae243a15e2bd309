// A static text control that looks and acts like a web link: underlined, blue, red while the
// pointer is over it, dark blue once clicked; a hand cursor; a click opens the address through
// the desktop's shell, at the user's level, or shows it to copy where that cannot be done. The
// shell is asked on a thread of its own: the window never waits for Explorer.
#pragma once

#include "framework/Controls.h"
#include "framework/Gdi.h"
#include "framework/Handle.h"

#include <memory>

class CLinkStatic : public CStatic {
public:
    CLinkStatic();
    ~CLinkStatic() override;

    void SetURL(CString strURL) { m_strURL = strURL; }

    BOOL PreTranslateMessage(MSG* pMsg) override;

    // Opens an address shown as nShow; false when it could not. Called on a worker thread.
    // Tests put their own here so that no browser starts.
    using OpenFn = bool (*)(const char* pszAddress, int nShow);
    static OpenFn s_pfnOpen;
    // The system's hand cursor, and the help program whose hand the link shows where the
    // system has none (relative to the Windows directory).
    static const char* s_pszSystemHand;
    static const char* s_pszHelpProgram;

protected:
    void PreSubclassWindow() override;

    void OnMouseMove(UINT nFlags, CPoint point);
    BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);
    void OnClicked();
    HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);
    void OnDestroy();
    LRESULT OnShellAnswered(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

    HCURSOR m_hLinkCursor = nullptr;
    CIconHandle m_helpCursor;    // our copy of the help program's hand, which outlives the module
    bool m_bOverControl = false; // the pointer is over the control and the mouse is captured
    bool m_bVisited = false;     // clicked at least once
    CFont m_font;                // the control's font, underlined
    CToolTipCtrl m_toolTip;
    CString m_strURL;
    COLORREF m_crHover = RGB(255, 0, 0);
    COLORREF m_crLink = RGB(0, 0, 255);
    COLORREF m_crVisited = RGB(5, 34, 143);
    class COpenRequest;
    std::shared_ptr<COpenRequest> m_opening; // the shell is being asked to open the address

private:
    void LoadLinkCursor();
    void StopWaitingForShell();
};
