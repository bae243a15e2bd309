#include "controls/LinkStatic.h"

#include "controls/DesktopShell.h"
#include "framework/Handle.h"
#include "framework/WinApp.h"

#include <vector>

namespace {

// The pointing hand among the help program's cursors.
constexpr WORD kHelpHandCursor = 106;
constexpr UINT_PTR kToolId = 1001;

CString WindowsDirectory() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const UINT length = ::GetWindowsDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
        if (length == 0)
            return CString();
        // A short buffer gets the size it needs, counting the terminator.
        if (length < buffer.size())
            return CString(buffer.data(), static_cast<int>(length));
        buffer.resize(length);
    }
}

} // namespace

CLinkStatic::OpenFn CLinkStatic::s_pfnOpen = &OpenWithDesktopShell;
const char* CLinkStatic::s_pszSystemHand = IDC_HAND;
const char* CLinkStatic::s_pszHelpProgram = "Winhlp32.exe";

CLinkStatic::CLinkStatic() = default;

CLinkStatic::~CLinkStatic() {
    // A control that outlives this object must not keep drawing with the font deleted below:
    // give it back the dialog's font.
    if (m_hWnd && ::IsWindow(m_hWnd) && GetFont() == m_font.GetSafeHandle())
        SetFont(GetParent().GetFont(), FALSE);
    m_toolTip.DestroyWindow();
    m_font.DeleteObject();
}

BEGIN_MESSAGE_MAP(CLinkStatic, CStatic)
ON_WM_MOUSEMOVE()
ON_WM_SETCURSOR()
ON_CONTROL_REFLECT(STN_CLICKED, OnClicked)
ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

void CLinkStatic::PreSubclassWindow() {
    // Without SS_NOTIFY a static control neither takes the mouse nor reports clicks.
    ModifyStyle(0, SS_NOTIFY);

    // The control's own font, underlined; a control without one draws with the system font.
    LOGFONTA lf{};
    HFONT hFont = GetFont();
    ::GetObjectA(hFont ? static_cast<HGDIOBJ>(hFont) : ::GetStockObject(SYSTEM_FONT), sizeof(lf),
                 &lf);
    lf.lfUnderline = TRUE;
    if (m_font.CreateFontIndirect(&lf))
        SetFont(m_font, TRUE);

    LoadLinkCursor();

    CStatic::PreSubclassWindow();
    SendMessage(STM_SETIMAGE, IMAGE_CURSOR, reinterpret_cast<LPARAM>(m_hLinkCursor));

    // The tooltip has no text, so it never shows.
    if (m_toolTip.Create(*this, TTS_ALWAYSTIP)) {
        CRect rect;
        GetClientRect(&rect);
        m_toolTip.AddTool(*this, "", &rect, kToolId);
        m_toolTip.ShowWindow(SW_HIDE);
    }
}

void CLinkStatic::LoadLinkCursor() {
    m_hLinkCursor = ::LoadCursorA(nullptr, s_pszSystemHand);
    // Systems before Windows 2000 have no hand of their own; their help program has one.
    if (!m_hLinkCursor) {
        const CString path = WindowsDirectory() + "\\" + s_pszHelpProgram;
        // Only its resources are wanted: mapped as an image resource, none of its code runs in
        // this (elevated) process.
        CLibraryHandle help(::LoadLibraryExA(
            path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        // The cursor belongs to the module freed below: keep a copy of our own.
        HCURSOR hand =
            help ? ::LoadCursorA(help.get(), MAKEINTRESOURCEA(kHelpHandCursor)) : nullptr;
        if (hand)
            m_helpCursor.reset(static_cast<HCURSOR>(::CopyIcon(hand)));
        m_hLinkCursor = m_helpCursor.get();
    }
    SendMessage(STM_SETIMAGE, IMAGE_CURSOR, reinterpret_cast<LPARAM>(m_hLinkCursor));
}

BOOL CLinkStatic::PreTranslateMessage(MSG* pMsg) {
    m_toolTip.RelayEvent(pMsg);
    return CStatic::PreTranslateMessage(pMsg);
}

void CLinkStatic::OnMouseMove(UINT, CPoint point) {
    Default();
    if (!m_bOverControl) {
        // The capture brings the move that leaves the control, wherever it goes.
        m_bOverControl = true;
        RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        SetCapture();
        return;
    }
    CRect rect;
    GetClientRect(&rect);
    if (rect.PtInRect(point))
        return;
    m_bOverControl = false;
    ::ReleaseCapture();
    RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

BOOL CLinkStatic::OnSetCursor(CWnd*, UINT, UINT) {
    ::SetCursor(m_hLinkCursor);
    return TRUE;
}

HBRUSH CLinkStatic::CtlColor(CDC* pDC, UINT) {
    COLORREF color = m_crLink;
    if (m_bVisited)
        color = m_crVisited;
    else if (m_bOverControl)
        color = m_crHover;
    pDC->SetTextColor(color);
    pDC->SetBkMode(TRANSPARENT);
    // The dialog's background shows through.
    return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

void CLinkStatic::OnClicked() {
    m_bVisited = true;
    Invalidate(TRUE);
    // With no address the shell would open whatever an empty name means to it.
    if (m_strURL.IsEmpty() || s_pfnOpen(m_strURL, SW_SHOWMINIMIZED))
        return;
    // Never a browser started from here: it would run as administrator too. A message box's
    // text can be copied with Ctrl+C.
    CString text;
    text.Format("Open this address in your web browser (Ctrl+C copies this message):\n\n%s",
                static_cast<const char*>(m_strURL));
    AfxMessageBox(text);
}
