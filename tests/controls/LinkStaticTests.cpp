// The link control inside a real dialog, driven with the messages Windows would send it.
#include "controls/DesktopShell.h"
#include "controls/LinkStatic.h"
#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "tests/support/Harness.h"
#include "tests/support/RunnerSupport.h"

#include "TestDialog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr COLORREF kLinkColor = RGB(0, 0, 255);
constexpr COLORREF kHoverColor = RGB(255, 0, 0);
constexpr COLORREF kVisitedColor = RGB(5, 34, 143);
const char kURL[] = "http://www.velmora.example/products.htm";

struct OpenCall {
    std::string address;
    int show;
};
std::vector<OpenCall> g_openCalls;
bool g_bOpenSucceeds = true;

bool RecordOpen(const char* pszAddress, int nShow) {
    g_openCalls.push_back({pszAddress, nShow});
    return g_bOpenSucceeds;
}

// The text of the next message box this process shows, which it then closes with OK; empty
// when none shows within a minute (the desktop's shell can take seconds to say it cannot
// open an address). Runs beside the test's thread, which the box blocks.
class CMessageBoxWatch {
public:
    // shot: the name of a screenshot to take of the box, if any.
    explicit CMessageBoxWatch(std::string shot = std::string())
        : m_shot(std::move(shot)), m_thread(::CreateThread(nullptr, 0, &Watch, this, 0, nullptr)) {}
    ~CMessageBoxWatch() { Text(); }
    std::string Text() {
        if (m_thread) {
            ::WaitForSingleObject(m_thread, INFINITE);
            ::CloseHandle(m_thread);
            m_thread = nullptr;
        }
        return m_text;
    }

private:
    static DWORD WINAPI Watch(LPVOID pThis) {
        auto* self = static_cast<CMessageBoxWatch*>(pThis);
        for (int i = 0; i < 6000 && self->m_text.empty(); ++i) {
            ::EnumWindows(&CMessageBoxWatch::Visit, reinterpret_cast<LPARAM>(self));
            ::Sleep(10);
        }
        return 0;
    }
    static BOOL CALLBACK Visit(HWND hwnd, LPARAM lParam) {
        auto* self = reinterpret_cast<CMessageBoxWatch*>(lParam);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hwnd, &pid);
        char cls[16] = "";
        ::GetClassNameA(hwnd, cls, sizeof(cls));
        if (pid != ::GetCurrentProcessId() || std::string(cls) != "#32770" ||
            !::IsWindowVisible(hwnd))
            return TRUE;
        char text[1024] = "";
        ::GetDlgItemTextA(hwnd, 0xFFFF, text, sizeof(text));
        if (!self->m_shot.empty()) {
            ::Sleep(200); // drawn
            e2e::SaveScreenshot(hwnd, self->m_shot);
        }
        self->m_text = text;
        ::PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
        return FALSE;
    }

    std::string m_shot;
    std::string m_text;
    HANDLE m_thread;
};

// A shell that takes its time: it answers once released (or after a minute, so that a test
// whose click waits for it ends).
const CKernelHandle g_shellAsked(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
const CKernelHandle g_shellRelease(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
LONG g_shellAnswers = 0;
bool SlowOpen(const char* pszAddress, int nShow) {
    const bool bOpened = RecordOpen(pszAddress, nShow);
    ::SetEvent(g_shellAsked.get());
    ::WaitForSingleObject(g_shellRelease.get(), 60000);
    ::InterlockedIncrement(&g_shellAnswers);
    return bOpened;
}

// Lets the tests reach the tooltip the control owns, and see whether it waits for the shell.
class TestLink : public CLinkStatic {
public:
    using CLinkStatic::m_toolTip;
    bool Opening() const { return m_opening != nullptr; }
};

INT_PTR CALLBACK PlainDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

LOGFONTA FontOf(HWND hWnd) {
    LOGFONTA lf{};
    const auto font = reinterpret_cast<HFONT>(::SendMessageA(hWnd, WM_GETFONT, 0, 0));
    EXPECT_NE(font, nullptr);
    ::GetObjectA(font, sizeof(lf), &lf);
    return lf;
}

std::string WindowsDirectory() {
    std::vector<char> buffer(::GetWindowsDirectoryA(nullptr, 0) + 1);
    const UINT length = ::GetWindowsDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
    return std::string(buffer.data(), length);
}

std::string ModuleDirectory() {
    const CString path = AfxGetModuleFileName();
    return std::string(path.Left(path.ReverseFind('\\')));
}

class LinkStaticTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
        ::InitCommonControlsEx(&icc);
    }

    void SetUp() override {
        g_openCalls.clear();
        g_bOpenSucceeds = true;
        m_pszHelpProgram = CLinkStatic::s_pszHelpProgram;
        CLinkStatic::s_pfnOpen = &RecordOpen;
        // The real pointer stays away from the dialog, so no real move changes the hover state.
        ::SetCursorPos(1000, 700);
        OpenDialog();
    }

    void OpenDialog() {
        m_hDlg = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_LINK_TEST),
                                      nullptr, &PlainDialogProc, 0);
        ASSERT_NE(m_hDlg, nullptr);
        ASSERT_TRUE(m_parent.SubclassWindow(m_hDlg));
        m_hStatic = ::GetDlgItem(m_hDlg, IDC_TEST_LINK);
        ASSERT_NE(m_hStatic, nullptr);
        Bind();
    }

    void TearDown() override {
        if (m_hDlg)
            ::DestroyWindow(m_hDlg);
        m_link.reset();
        CLinkStatic::s_pfnOpen = &OpenWithDesktopShell;
        CLinkStatic::s_pszSystemHand = IDC_HAND;
        CLinkStatic::s_pszHelpProgram = m_pszHelpProgram;
    }

    // Binds a new control object the way a dialog's data exchange does.
    void Bind() {
        m_link.reset();
        m_link = std::make_unique<TestLink>();
        CDataExchange dx(&m_parent, FALSE);
        DDX_Control(&dx, IDC_TEST_LINK, *m_link);
        ASSERT_EQ(m_link->m_hWnd, m_hStatic);
        m_link->SetURL(kURL);
    }

    // The text colour the control sets when its parent asks it for its colours.
    COLORREF TextColor() const {
        HDC dc = ::GetDC(m_hStatic);
        ::SetTextColor(dc, RGB(1, 2, 3));
        ::SetBkMode(dc, OPAQUE);
        const LRESULT brush =
            ::SendMessageA(m_hDlg, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(m_hStatic));
        EXPECT_EQ(reinterpret_cast<HGDIOBJ>(brush), ::GetStockObject(NULL_BRUSH));
        EXPECT_EQ(::GetBkMode(dc), TRANSPARENT);
        const COLORREF color = ::GetTextColor(dc);
        ::ReleaseDC(m_hStatic, dc);
        return color;
    }

    // Pixels of exactly this colour in the control as it is drawn, or (bShown) as the screen
    // shows it: under Wine that follows once the window's thread handles its messages again.
    int CountPixels(COLORREF color, bool bShown = false) const {
        CRect rect;
        ::GetClientRect(m_hStatic, &rect);
        POINT origin{0, 0};
        const HWND hWnd = bShown ? nullptr : m_hStatic;
        if (bShown)
            ::ClientToScreen(m_hStatic, &origin);
        HDC dc = ::GetDC(hWnd);
        int count = 0;
        for (int y = 0; y < rect.bottom; ++y)
            for (int x = 0; x < rect.right; ++x)
                count += ::GetPixel(dc, origin.x + x, origin.y + y) == color;
        ::ReleaseDC(hWnd, dc);
        return count;
    }

    void MoveTo(int x, int y) const {
        ::SendMessageA(m_hStatic, WM_MOUSEMOVE, 0,
                       MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
    }
    void MoveInside() const { MoveTo(3, 3); }
    void MoveOutside() const {
        CRect rect;
        ::GetClientRect(m_hStatic, &rect);
        MoveTo(rect.right + 4, rect.bottom / 2);
    }
    void Press() const {
        ::SendMessageA(m_hStatic, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
        ::SendMessageA(m_hStatic, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    }
    // A click, and the shell's answer handled.
    void Click() const {
        Press();
        PumpUntil([&] { return !m_link->Opening(); }, 60000);
        EXPECT_FALSE(m_link->Opening());
    }
    // Moves the system's pointer and lets the dialog handle what that brings.
    static void MovePointer(int x, int y) {
        ::SetCursorPos(x, y);
        const DWORD start = ::GetTickCount();
        MSG msg;
        while (::GetTickCount() - start < 300) {
            while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
            ::Sleep(10);
        }
    }
    HCURSOR CursorShown() const {
        ::SetCursor(nullptr);
        const LRESULT handled =
            ::SendMessageA(m_hStatic, WM_SETCURSOR, reinterpret_cast<WPARAM>(m_hStatic),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_EQ(handled, TRUE);
        return ::GetCursor();
    }

    CWnd m_parent;
    std::unique_ptr<TestLink> m_link;
    HWND m_hDlg = nullptr;
    HWND m_hStatic = nullptr;
    const char* m_pszHelpProgram = nullptr;
};

TEST_F(LinkStaticTest, StartsBlueUnderlinedInTheDialogsFontAndReportsClicks) {
    EXPECT_EQ(TextColor(), kLinkColor);
    EXPECT_TRUE(::GetWindowLongPtrA(m_hStatic, GWL_STYLE) & SS_NOTIFY);

    const LOGFONTA control = FontOf(m_hStatic);
    const LOGFONTA dialog = FontOf(m_hDlg);
    EXPECT_TRUE(control.lfUnderline);
    EXPECT_FALSE(dialog.lfUnderline);
    EXPECT_STREQ(control.lfFaceName, dialog.lfFaceName);
    EXPECT_EQ(control.lfHeight, dialog.lfHeight);
    EXPECT_EQ(control.lfWeight, dialog.lfWeight);
}

TEST_F(LinkStaticTest, HoverCapturesTheMouseUntilThePointerLeaves) {
    MoveInside();
    EXPECT_EQ(::GetCapture(), m_hStatic);
    EXPECT_EQ(TextColor(), kHoverColor);

    // Moves inside keep the state.
    MoveTo(10, 5);
    EXPECT_EQ(::GetCapture(), m_hStatic);
    EXPECT_EQ(TextColor(), kHoverColor);

    MoveOutside();
    EXPECT_EQ(::GetCapture(), nullptr);
    EXPECT_EQ(TextColor(), kLinkColor);

    // Left of and above the control: negative client coordinates.
    MoveInside();
    EXPECT_EQ(::GetCapture(), m_hStatic);
    MoveTo(-3, 2);
    EXPECT_EQ(::GetCapture(), nullptr);
    MoveInside();
    MoveTo(5, -2);
    EXPECT_EQ(::GetCapture(), nullptr);
    EXPECT_EQ(TextColor(), kLinkColor);
}

// The same path with the real pointer: hit testing, the cursor, then the capture.
TEST_F(LinkStaticTest, RealPointerOverTheLinkShowsTheHandAndCaptures) {
    CRect rect;
    ::GetWindowRect(m_hStatic, &rect);
    ::SetCursor(nullptr);
    MovePointer(rect.left + 3, rect.top + rect.Height() / 2);
    EXPECT_EQ(::GetCapture(), m_hStatic);
    EXPECT_EQ(::GetCursor(), ::LoadCursorA(nullptr, IDC_HAND));
    EXPECT_EQ(TextColor(), kHoverColor);

    MovePointer(rect.right + 20, rect.bottom + 20);
    EXPECT_EQ(::GetCapture(), nullptr);
    EXPECT_EQ(TextColor(), kLinkColor);
}

TEST_F(LinkStaticTest, ClickOpensTheAddressMinimisedAndStaysVisited) {
    MoveInside();
    Click();

    ASSERT_EQ(g_openCalls.size(), 1u);
    EXPECT_EQ(g_openCalls[0].address, kURL);
    EXPECT_EQ(g_openCalls[0].show, SW_SHOWMINIMIZED);

    EXPECT_EQ(TextColor(), kVisitedColor);
    MoveOutside();
    EXPECT_EQ(::GetCapture(), nullptr);
    EXPECT_EQ(TextColor(), kVisitedColor);
    MoveInside();
    EXPECT_EQ(TextColor(), kVisitedColor);

    Click();
    EXPECT_EQ(g_openCalls.size(), 2u);
}

TEST_F(LinkStaticTest, ClickWithoutAddressOpensNothing) {
    m_link->SetURL("");
    Click();
    EXPECT_TRUE(g_openCalls.empty());
    EXPECT_EQ(TextColor(), kVisitedColor);
}

// Where the desktop's shell cannot open it, nothing is started from this (elevated) program:
// the address is shown to copy.
TEST_F(LinkStaticTest, AnAddressThatCannotBeOpenedIsShownToCopy) {
    g_bOpenSucceeds = false;
    CMessageBoxWatch box("link-address-to-copy");
    Click();
    EXPECT_EQ(
        std::string("Open this address in your web browser (Ctrl+C copies this message):\n\n") +
            kURL,
        box.Text());
    EXPECT_EQ(g_openCalls.size(), 1u);
    EXPECT_EQ(TextColor(), kVisitedColor);
}

// The desktop's shell, for real: a command file in place of the web page, so that what it
// starts leaves a mark instead of a browser window.
TEST_F(LinkStaticTest, TheDesktopShellOpensWhatItIsGiven) {
    char temp[MAX_PATH + 1] = "";
    ::GetTempPathA(sizeof(temp), temp);
    const std::string mark = std::string(temp) + "clipmend-link-opened.txt";
    const std::string script = std::string(temp) + "clipmend-link-open.cmd";
    ::DeleteFileA(mark.c_str());
    std::ofstream(script) << "@echo opened>\"" << mark << "\"\r\n";
    const bool bOpened = OpenWithDesktopShell(script.c_str(), SW_HIDE);
    if (bOpened) {
        const DWORD start = ::GetTickCount();
        while (::GetFileAttributesA(mark.c_str()) == INVALID_FILE_ATTRIBUTES &&
               ::GetTickCount() - start < 60000)
            ::Sleep(50);
        EXPECT_NE(::GetFileAttributesA(mark.c_str()), INVALID_FILE_ATTRIBUTES)
            << "the shell said it opened the file, and nothing ran";
    } else {
        std::printf("note: no desktop shell to open with here; the address is shown instead\n");
        // Then a click shows the address and starts nothing.
        CLinkStatic::s_pfnOpen = &OpenWithDesktopShell;
        m_link->SetURL(script.c_str());
        CMessageBoxWatch box;
        Click();
        EXPECT_EQ("Open this address in your web browser (Ctrl+C copies this message):\n\n" +
                      script,
                  box.Text());
        ::Sleep(500);
        EXPECT_EQ(::GetFileAttributesA(mark.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    ::DeleteFileA(mark.c_str());
    ::DeleteFileA(script.c_str());
}

TEST_F(LinkStaticTest, DrawsEachStateInItsColour) {
    ::RedrawWindow(m_hDlg, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    EXPECT_GT(CountPixels(kLinkColor), 0);
    EXPECT_EQ(CountPixels(kHoverColor), 0);

    MoveInside();
    EXPECT_GT(CountPixels(kHoverColor), 0);
    EXPECT_EQ(CountPixels(kLinkColor), 0);

    MoveOutside();
    EXPECT_GT(CountPixels(kLinkColor), 0);
    EXPECT_EQ(CountPixels(kHoverColor), 0);

    MoveInside();
    Click();
    ::UpdateWindow(m_hStatic);
    EXPECT_GT(CountPixels(kVisitedColor), 0);
    EXPECT_EQ(CountPixels(kHoverColor), 0);
}

// Explorer may take seconds to answer, or never. The click shows at once and a second one asks
// nothing more; a window closed meanwhile goes at once, by either end (the dialog first, as in
// the program, or the object), and each waiting thread ends once the shell answers, posting
// nothing to the windows that went and leaving nothing behind.
TEST_F(LinkStaticTest, ClickShowsAtOnceAndClosingDoesNotWaitForTheShell) {
    CLinkStatic::s_pfnOpen = &SlowOpen;
    ::ResetEvent(g_shellRelease.get());
    const LONG answered = g_shellAnswers;
    const int threads = ThreadCount();
    const int handles = HandleCount();
    constexpr int kRounds = 10;
    for (int round = 0; round < kRounds; ++round) {
        if (round > 0)
            OpenDialog();
        ::RedrawWindow(m_hDlg, nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Press();
        EXPECT_GT(CountPixels(kVisitedColor), 0);
        EXPECT_EQ(CountPixels(kLinkColor), 0);
        ASSERT_EQ(::WaitForSingleObject(g_shellAsked.get(), 60000), WAIT_OBJECT_0);
        Press();
        if (round == 0) {
            EXPECT_TRUE(PumpUntil([&] { return CountPixels(kVisitedColor, true) > 0; }, 60000));
            e2e::SaveScreenshot(m_hDlg, "link-visited-while-the-shell-is-asked");
        }
        if (round % 2 == 0) {
            ::DestroyWindow(m_hDlg);
            m_link.reset();
        } else {
            m_link.reset();
            ::DestroyWindow(m_hDlg);
        }
        m_hDlg = nullptr;
        EXPECT_EQ(g_shellAnswers, answered);
    }
    EXPECT_EQ(g_openCalls.size(), static_cast<size_t>(kRounds));
    ::SetEvent(g_shellRelease.get());
    EXPECT_TRUE(PumpUntil(
        [&] { return g_shellAnswers == answered + kRounds && ThreadCount() <= threads; }, 60000))
        << ThreadCount() << " threads, " << threads << " before";
    EXPECT_LE(HandleCount(), handles + 4) << "before " << handles;
}

// The program ends while the shell has still not answered: the waiting thread does not keep it.
// Run as a child of this test, which waits for it to end.
TEST_F(LinkStaticTest, TheProgramEndsWhileTheShellIsStillAsked) {
    const char kChild[] = "CLIPMEND_LINK_TEST_CHILD";
    if (std::getenv(kChild)) {
        CLinkStatic::s_pfnOpen = +[](const char*, int) {
            ::SetEvent(g_shellAsked.get());
            ::Sleep(INFINITE);
            return true;
        };
        Press();
        ASSERT_EQ(::WaitForSingleObject(g_shellAsked.get(), 60000), WAIT_OBJECT_0);
        return;
    }
    const std::string command =
        "\"" + std::string(AfxGetModuleFileName()) +
        "\" --gtest_filter=LinkStaticTest.TheProgramEndsWhileTheShellIsStillAsked";
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    ::SetEnvironmentVariableA(kChild, "1");
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    const BOOL started = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                          nullptr, &si, &pi);
    ::SetEnvironmentVariableA(kChild, nullptr);
    ASSERT_TRUE(started) << ::GetLastError();
    const CKernelHandle process(pi.hProcess);
    ::CloseHandle(pi.hThread);
    const DWORD waited = ::WaitForSingleObject(process.get(), 180000);
    if (waited != WAIT_OBJECT_0)
        ::TerminateProcess(process.get(), 1);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "still running after 3 minutes";
    DWORD code = 1;
    ::GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 0u);
}

TEST_F(LinkStaticTest, ShowsTheSystemHand) {
    EXPECT_EQ(CursorShown(), ::LoadCursorA(nullptr, IDC_HAND));
    // Without it, and without a help program to take one from, no pointer at all.
    CLinkStatic::s_pszSystemHand = MAKEINTRESOURCEA(1);
    CLinkStatic::s_pszHelpProgram = "no-such-help-program.exe";
    Bind();
    EXPECT_EQ(CursorShown(), nullptr);
}

TEST_F(LinkStaticTest, ShowsACopyOfTheHelpProgramsHandThatOutlivesTheModule) {
    const std::string stub = ModuleDirectory() + "\\helpstub.dll";
    const std::string installed = WindowsDirectory() + "\\clipmend-test-help.dll";
    if (!::CopyFileA(stub.c_str(), installed.c_str(), FALSE))
        GTEST_SKIP() << "cannot write the Windows directory: " << ::GetLastError();
    struct Remove {
        std::string path;
        ~Remove() { ::DeleteFileA(path.c_str()); }
    } remove{installed};
    CLinkStatic::s_pszHelpProgram = "clipmend-test-help.dll";
    // A system without a hand cursor of its own.
    CLinkStatic::s_pszSystemHand = MAKEINTRESOURCEA(1);

    // The control frees the module at once; its cursor (a copy it owns) must stay usable.
    Bind();
    const HCURSOR shown = CursorShown();
    EXPECT_NE(shown, ::LoadCursorA(nullptr, IDC_HAND));
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(shown, &info));
    EXPECT_FALSE(info.fIcon);
    EXPECT_EQ(info.xHotspot, 4u);
    ::DeleteObject(info.hbmMask);
    ::DeleteObject(info.hbmColor);
    m_link.reset();
}

TEST_F(LinkStaticTest, TooltipCoversTheControlHiddenAndGetsItsMessages) {
    const HWND tip = m_link->m_toolTip.m_hWnd;
    ASSERT_TRUE(::IsWindow(tip));
    char className[64] = {};
    ::GetClassNameA(tip, className, sizeof(className));
    EXPECT_STREQ(className, TOOLTIPS_CLASSA);
    EXPECT_TRUE(::GetWindowLongPtrA(tip, GWL_STYLE) & TTS_ALWAYSTIP);
    EXPECT_FALSE(::IsWindowVisible(tip));
    EXPECT_EQ(::SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0), 1);

    TOOLINFOA ti{};
    ti.cbSize = sizeof(ti);
    ti.hwnd = m_hStatic;
    ti.uId = 1001;
    ASSERT_TRUE(::SendMessageA(tip, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&ti)));
    CRect client;
    ::GetClientRect(m_hStatic, &client);
    EXPECT_TRUE(::EqualRect(&ti.rect, &client));

    // The dialog loop's walk from the control up hands its mouse messages to the tooltip.
    static int s_relayed = 0;
    static WNDPROC s_tipProc = nullptr;
    s_relayed = 0;
    s_tipProc = reinterpret_cast<WNDPROC>(::SetWindowLongPtrA(
        tip, GWLP_WNDPROC,
        reinterpret_cast<LONG_PTR>(+[](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
            if (m == TTM_RELAYEVENT)
                ++s_relayed;
            return ::CallWindowProcA(s_tipProc, h, m, w, l);
        })));
    MSG msg{m_hStatic, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3), 0, {3, 3}};
    EXPECT_FALSE(AfxWalkPreTranslateTree(m_hDlg, &msg));
    EXPECT_EQ(s_relayed, 1);
    ::SetWindowLongPtrA(tip, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(s_tipProc));
}

TEST_F(LinkStaticTest, ReleasesFontAndTooltipWhenDestroyed) {
    // The object goes before its control: the control keeps a font that still exists.
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(::SendMessageA(m_hStatic, WM_GETFONT, 0, 0));
    HWND tip = m_link->m_toolTip.m_hWnd;
    m_link.reset();
    EXPECT_EQ(::GetObjectType(font), 0u);
    EXPECT_FALSE(::IsWindow(tip));
    EXPECT_EQ(::SendMessageA(m_hStatic, WM_GETFONT, 0, 0),
              ::SendMessageA(m_hDlg, WM_GETFONT, 0, 0));
    EXPECT_EQ(CWnd::FromHandlePermanent(m_hStatic), nullptr);

    // The dialog goes first, as in the program.
    Bind();
    font = reinterpret_cast<HGDIOBJ>(::SendMessageA(m_hStatic, WM_GETFONT, 0, 0));
    tip = m_link->m_toolTip.m_hWnd;
    ASSERT_EQ(::GetObjectType(font), static_cast<DWORD>(OBJ_FONT));
    ::DestroyWindow(m_hDlg);
    m_hDlg = nullptr;
    m_link.reset();
    EXPECT_EQ(::GetObjectType(font), 0u);
    EXPECT_FALSE(::IsWindow(tip));
}

} // namespace
