#include "controls/LinkStatic.h"

#include "controls/DesktopShell.h"
#include "framework/Handle.h"
#include "framework/WinApp.h"

#include <string>
#include <vector>

namespace {

// The pointing hand among the help program's cursors.
constexpr WORD kHelpHandCursor = 106;
constexpr UINT_PTR kToolId = 1001;
// Posted to the control by the thread that asked the shell; wParam: whether it opened.
constexpr UINT kShellAnswered = WM_APP + 0x11E;

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

void ShowAddressToCopy(const char* pszAddress) {
    // Never a browser started from here: it would run as administrator too. A message box's
    // text can be copied with Ctrl+C.
    CString text;
    text.Format("Open this address in your web browser (Ctrl+C copies this message):\n\n%s",
                pszAddress);
    AfxMessageBox(text);
}

} // namespace

// One click's address, shared by the control and the thread that asks the shell, which can
// take seconds (a busy Explorer) or never answer. The thread posts its answer while the control
// still waits for it; a control whose window goes stops waiting, and then nothing is posted.
// Whichever lets go last frees it; a thread still waiting when the program ends ends with it.
class CLinkStatic::COpenRequest {
public:
    COpenRequest(const char* pszAddress, OpenFn pfnOpen, HWND hNotify)
        : m_strAddress(pszAddress), m_pfnOpen(pfnOpen), m_hNotify(hNotify) {}

    const std::string& Address() const { return m_strAddress; }

    void StopNotifying() {
        ::AcquireSRWLockExclusive(&m_lock);
        m_hNotify = nullptr;
        ::ReleaseSRWLockExclusive(&m_lock);
    }

    // The thread's entry; pRequest is a heap-allocated reference of its own.
    static DWORD WINAPI Ask(LPVOID pRequest) {
        const std::unique_ptr<std::shared_ptr<COpenRequest>> ref(
            static_cast<std::shared_ptr<COpenRequest>*>(pRequest));
        COpenRequest& self = **ref;
        const bool bOpened = self.m_pfnOpen(self.m_strAddress.c_str(), SW_SHOWMINIMIZED);
        ::AcquireSRWLockExclusive(&self.m_lock);
        if (self.m_hNotify)
            ::PostMessageA(self.m_hNotify, kShellAnswered, bOpened, 0);
        ::ReleaseSRWLockExclusive(&self.m_lock);
        return 0;
    }

private:
    const std::string m_strAddress;
    const OpenFn m_pfnOpen;
    SRWLOCK m_lock = SRWLOCK_INIT;
    HWND m_hNotify;
};

CLinkStatic::OpenFn CLinkStatic::s_pfnOpen = &OpenWithDesktopShell;
const char* CLinkStatic::s_pszSystemHand = IDC_HAND;
const char* CLinkStatic::s_pszHelpProgram = "Winhlp32.exe";

CLinkStatic::CLinkStatic() = default;

CLinkStatic::~CLinkStatic() {
    StopWaitingForShell();
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
ON_WM_DESTROY()
ON_MESSAGE(kShellAnswered, OnShellAnswered)
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
    // Painted before anything else happens: the click shows at once.
    RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    // With no address the shell would open whatever an empty name means to it. While the shell
    // is still being asked, a further click (a double click, an impatient user) asks nothing
    // more: the page is on its way.
    if (m_strURL.IsEmpty() || m_opening)
        return;
    auto request = std::make_shared<COpenRequest>(m_strURL, s_pfnOpen, m_hWnd);
    auto* ref = new std::shared_ptr<COpenRequest>(request);
    // The thread needs no handle: it ends on its own, and nothing waits for it.
    const CKernelHandle thread(::CreateThread(nullptr, 0, &COpenRequest::Ask, ref, 0, nullptr));
    if (!thread) {
        delete ref;
        ShowAddressToCopy(m_strURL);
        return;
    }
    m_opening = std::move(request);
}

LRESULT CLinkStatic::OnShellAnswered(WPARAM wParam, LPARAM) {
    if (!m_opening)
        return 0;
    const CString strAddress(m_opening->Address().c_str());
    m_opening.reset();
    if (!wParam)
        ShowAddressToCopy(strAddress);
    return 0;
}

void CLinkStatic::OnDestroy() {
    StopWaitingForShell();
    Default();
}

void CLinkStatic::StopWaitingForShell() {
    if (!m_opening)
        return;
    m_opening->StopNotifying();
    m_opening.reset();
}
