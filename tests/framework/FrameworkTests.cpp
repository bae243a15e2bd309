// The framework layer under Wine: message-map dispatch, reflection to a bound control,
// exception containment, binding and unbinding, the modal loop, and the existence check.
#include "framework/Dialog.h"
#include "framework/FileName.h"
#include "framework/Gdi.h"
#include "framework/Handle.h"
#include "framework/WinApp.h"
#include "tests/framework/FrameworkTestIds.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr UINT kPing = WM_APP + 1;
constexpr UINT kThrow = WM_APP + 2;
constexpr UINT kBaseOnly = WM_APP + 3;

UINT g_registeredPing = 0;
UINT g_unregistered = 0; // never registered: an entry with it must not match message 0

// A window class whose procedure is DefWindowProc; objects bind to its windows.
HWND CreatePlainWindow(HWND parent = nullptr, const char* className = "Static") {
    return ::CreateWindowExA(0, className, "plain", parent ? WS_CHILD | WS_VISIBLE : WS_POPUP, 0, 0,
                             50, 20, parent, nullptr, ::GetModuleHandleA(nullptr), nullptr);
}

class CBaseWnd : public CWnd {
public:
    std::vector<UINT> calls;

protected:
    LRESULT OnPing(WPARAM, LPARAM) {
        calls.push_back(1);
        return 1;
    }
    LRESULT OnBaseOnly(WPARAM, LPARAM) {
        calls.push_back(3);
        return 3;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseWnd, CWnd)
ON_MESSAGE(kPing, OnPing)
ON_MESSAGE(kBaseOnly, OnBaseOnly)
END_MESSAGE_MAP()

class CDerivedWnd : public CBaseWnd {
public:
    bool unhandled = false;

protected:
    LRESULT OnPingDerived(WPARAM, LPARAM) {
        calls.push_back(2);
        return 2;
    }
    LRESULT OnThrow(WPARAM, LPARAM) { throw std::runtime_error("handler failed"); }
    LRESULT OnRegistered(WPARAM wParam, LPARAM) {
        calls.push_back(100 + static_cast<UINT>(wParam));
        return 7;
    }
    LRESULT OnNever(WPARAM, LPARAM) {
        calls.push_back(999);
        return 0;
    }
    void OnRange() { calls.push_back(10); }
    void OnUnhandledException(const char*) override { unhandled = true; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedWnd, CBaseWnd)
ON_MESSAGE(kPing, OnPingDerived)
ON_MESSAGE(kThrow, OnThrow)
ON_REGISTERED_MESSAGE(g_unregistered, OnNever)
ON_REGISTERED_MESSAGE(g_registeredPing, OnRegistered)
ON_CONTROL_RANGE(BN_CLICKED, 100, 102, OnRange)
END_MESSAGE_MAP()

class FrameworkTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_registeredPing = ::RegisterWindowMessageA("Clipmend.FrameworkTest.Ping");
        hwnd = CreatePlainWindow();
        ASSERT_NE(nullptr, hwnd);
        original = reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(hwnd, GWLP_WNDPROC));
    }
    void TearDown() override {
        if (::IsWindow(hwnd))
            ::DestroyWindow(hwnd);
    }
    HWND hwnd = nullptr;
    WNDPROC original = nullptr;
};

TEST_F(FrameworkTest, DerivedEntriesWinAndBaseEntriesStillApply) {
    CDerivedWnd wnd;
    ASSERT_TRUE(wnd.SubclassWindow(hwnd));
    EXPECT_EQ(2, ::SendMessageA(hwnd, kPing, 0, 0));
    EXPECT_EQ(3, ::SendMessageA(hwnd, kBaseOnly, 0, 0));
    EXPECT_EQ(7, ::SendMessageA(hwnd, g_registeredPing, 5, 0));
    EXPECT_EQ((std::vector<UINT>{2, 3, 105}), wnd.calls);
    // Message 0 must not reach the entry of a message that was never registered.
    ::SendMessageA(hwnd, WM_NULL, 0, 0);
    EXPECT_EQ(3u, wnd.calls.size());
}

TEST_F(FrameworkTest, CommandRangesAreInclusiveAndFilterTheCode) {
    CDerivedWnd wnd;
    ASSERT_TRUE(wnd.SubclassWindow(hwnd));
    for (WORD id : {99, 100, 101, 102, 103})
        ::SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    EXPECT_EQ(3u, wnd.calls.size());
    ::SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(101, BN_DOUBLECLICKED), 0);
    EXPECT_EQ(3u, wnd.calls.size());
}

TEST_F(FrameworkTest, AnExceptionStopsAtTheWindowProcedure) {
    CDerivedWnd wnd;
    ASSERT_TRUE(wnd.SubclassWindow(hwnd));
    EXPECT_EQ(0, ::SendMessageA(hwnd, kThrow, 0, 0));
    EXPECT_TRUE(wnd.unhandled);
    EXPECT_EQ(2, ::SendMessageA(hwnd, kPing, 0, 0)) << "the window stopped working";
}

// Sets its text only after a nested handler threw, through Default(): that must still see
// WM_SETTEXT, not the dead frame of the message that threw.
class CNestingWnd : public CDerivedWnd {
protected:
    LRESULT OnSetText(WPARAM, LPARAM) {
        ::SendMessageA(m_hWnd, kThrow, 0, 0);
        return Default();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CNestingWnd, CDerivedWnd)
ON_MESSAGE(WM_SETTEXT, OnSetText)
END_MESSAGE_MAP()

TEST_F(FrameworkTest, AThrowingHandlerLeavesDefaultProcessingIntact) {
    CNestingWnd wnd;
    ASSERT_TRUE(wnd.SubclassWindow(hwnd));
    EXPECT_TRUE(::SetWindowTextA(hwnd, "after the throw"));
    EXPECT_TRUE(wnd.unhandled);
    char text[32] = {};
    ::GetWindowTextA(hwnd, text, sizeof text);
    EXPECT_STREQ("after the throw", text);
    // Outside any handler Default() has nothing to process.
    EXPECT_EQ(0, wnd.Default());
    EXPECT_EQ(2, ::SendMessageA(hwnd, kPing, 0, 0));
}

TEST_F(FrameworkTest, BindingIsUndoneWhenTheObjectGoesOrTheWindowDies) {
    {
        CDerivedWnd wnd;
        ASSERT_TRUE(wnd.SubclassWindow(hwnd));
        EXPECT_EQ(&wnd, CWnd::FromHandlePermanent(hwnd));
        CDerivedWnd second;
        EXPECT_FALSE(second.SubclassWindow(hwnd)) << "a window binds to one object";
    }
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hwnd));
    EXPECT_EQ(original, reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(hwnd, GWLP_WNDPROC)));
    EXPECT_EQ(0, ::SendMessageA(hwnd, kPing, 0, 0)) << "a handler ran after unbinding";

    CDerivedWnd wnd;
    ASSERT_TRUE(wnd.SubclassWindow(hwnd));
    ::DestroyWindow(hwnd);
    EXPECT_EQ(nullptr, wnd.m_hWnd);
}

// A control that takes its own click and colours back from its parent.
class CReflectingStatic : public CStatic {
public:
    int clicks = 0;
    HBRUSH brush = nullptr;

protected:
    void OnClicked() { ++clicks; }
    HBRUSH CtlColor(CDC* pDC, UINT) {
        pDC->SetTextColor(RGB(1, 2, 3));
        return brush;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CReflectingStatic, CStatic)
ON_CONTROL_REFLECT(STN_CLICKED, OnClicked)
ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

class CParentWnd : public CWnd {
public:
    int ownClicks = 0;

protected:
    void OnChildClicked() { ++ownClicks; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CParentWnd, CWnd)
ON_CONTROL(STN_CLICKED, IDC_TEST_STATIC, OnChildClicked)
END_MESSAGE_MAP()

TEST_F(FrameworkTest, ParentReflectsNotificationsAndColoursToTheBoundChild) {
    CParentWnd parent;
    ASSERT_TRUE(parent.SubclassWindow(hwnd));
    HWND child = CreatePlainWindow(hwnd);
    ::SetWindowLongPtrA(child, GWLP_ID, IDC_TEST_STATIC);
    CReflectingStatic control;
    ASSERT_TRUE(control.SubclassWindow(child));

    ::SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDC_TEST_STATIC, STN_CLICKED),
                   reinterpret_cast<LPARAM>(child));
    EXPECT_EQ(1, control.clicks);
    EXPECT_EQ(0, parent.ownClicks) << "the control took it; the parent must not see it too";

    HDC dc = ::GetDC(child);
    control.brush = static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    EXPECT_EQ(reinterpret_cast<LRESULT>(control.brush),
              ::SendMessageA(hwnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                             reinterpret_cast<LPARAM>(child)));
    EXPECT_EQ(RGB(1, 2, 3), ::GetTextColor(dc));
    ::ReleaseDC(child, dc);

    // Unbound, the same notification goes to the parent's own entry.
    control.UnsubclassWindow();
    ::SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDC_TEST_STATIC, STN_CLICKED),
                   reinterpret_cast<LPARAM>(child));
    EXPECT_EQ(1, control.clicks);
    EXPECT_EQ(1, parent.ownClicks);
}

// A modal dialog from the test's own template, driven from a timer or another thread.
class CTestDialog : public CDialog {
public:
    explicit CTestDialog(CWnd* parent = nullptr) : CDialog(IDD_TEST_DIALOG, parent) {}
    std::function<void(CTestDialog&)> onInit;
    CRect initialRect;
    HWND ownerAtInit = nullptr;
    bool ownerEnabledAtInit = true;
    CStatic boundStatic;
    int okCalls = 0;

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Control(pDX, IDC_TEST_STATIC, boundStatic);
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        ownerAtInit = ::GetWindow(m_hWnd, GW_OWNER);
        ownerEnabledAtInit = ownerAtInit && ::IsWindowEnabled(ownerAtInit);
        if (onInit)
            onInit(*this);
        return TRUE;
    }
    void OnOK() override { ++okCalls; }
};

VOID CALLBACK EndFromTimer(HWND hwnd, UINT, UINT_PTR, DWORD) {
    ::KillTimer(hwnd, 1);
    static_cast<CTestDialog*>(CWnd::FromHandlePermanent(hwnd))->EndDialog(42);
}

TEST(DialogTest, DoModalReturnsTheEndDialogValueAndBindsControls) {
    CTestDialog dlg;
    bool staticBound = false;
    dlg.onInit = [&](CTestDialog& d) {
        staticBound = d.boundStatic.m_hWnd == ::GetDlgItem(d.m_hWnd, IDC_TEST_STATIC);
        ::SetTimer(d.m_hWnd, 1, 10, &EndFromTimer);
    };
    EXPECT_EQ(42, dlg.DoModal());
    EXPECT_TRUE(staticBound) << "the data exchange did not bind the control";
    EXPECT_EQ(nullptr, dlg.m_hWnd) << "the window outlived DoModal";
    EXPECT_EQ(nullptr, dlg.boundStatic.m_hWnd);
}

TEST(DialogTest, EnterCallsOnOkAndEscapeEnds) {
    CTestDialog dlg;
    dlg.onInit = [](CTestDialog& d) {
        HWND hwnd = d.m_hWnd;
        // Posted keys go through the dialog's own loop, as the keyboard's do.
        ::PostMessageA(::GetDlgItem(hwnd, IDOK), WM_KEYDOWN, VK_RETURN, 0);
        ::PostMessageA(::GetDlgItem(hwnd, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
    };
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_EQ(1, dlg.okCalls);
}

DWORD WINAPI EndFromOtherThread(LPVOID param) {
    // A sent message runs while the loop waits in GetMessage; ending must still wake it.
    ::Sleep(50);
    ::SendMessageA(static_cast<HWND>(param), WM_COMMAND, IDCANCEL, 0);
    return 0;
}

TEST(DialogTest, EndingFromASentMessageWakesTheLoop) {
    CTestDialog dlg;
    CKernelHandle thread;
    dlg.onInit = [&](CTestDialog& d) {
        thread.reset(::CreateThread(nullptr, 0, &EndFromOtherThread, d.m_hWnd, 0, nullptr));
    };
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    ASSERT_TRUE(thread);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 5000));
}

VOID CALLBACK RecordPlacementAndEnd(HWND hwnd, UINT, UINT_PTR, DWORD) {
    ::KillTimer(hwnd, 2);
    auto* dlg = static_cast<CTestDialog*>(CWnd::FromHandlePermanent(hwnd));
    dlg->GetWindowRect(&dlg->initialRect);
    dlg->EndDialog(1);
}

// The template says (0,0); the framework centres it.
TEST(DialogTest, CentredOnTheWorkAreaWithoutOwnerAndOverItsOwner) {
    RECT work;
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    CTestDialog probe;
    CRect placed;
    // OnInitDialog runs before the placement: read where the dialog ended up from a timer.
    probe.onInit = [](CTestDialog& d) { ::SetTimer(d.m_hWnd, 2, 10, &RecordPlacementAndEnd); };
    probe.DoModal();
    placed = probe.initialRect;
    EXPECT_NEAR((work.left + work.right) / 2, (placed.left + placed.right) / 2, 1);
    EXPECT_NEAR((work.top + work.bottom) / 2, (placed.top + placed.bottom) / 2, 1);

    // Over an owner placed off-centre, and the owner is disabled while the dialog runs.
    CWnd owner;
    HWND ownerHwnd = ::CreateWindowExA(0, "Static", "owner", WS_POPUP | WS_VISIBLE, 100, 100, 500,
                                       400, nullptr, nullptr, nullptr, nullptr);
    owner.m_hWnd = ownerHwnd;
    CTestDialog child(&owner);
    child.onInit = probe.onInit;
    child.DoModal();
    EXPECT_EQ(ownerHwnd, child.ownerAtInit);
    EXPECT_FALSE(child.ownerEnabledAtInit);
    EXPECT_TRUE(::IsWindowEnabled(ownerHwnd)) << "the owner was left disabled";
    EXPECT_NEAR(350, (child.initialRect.left + child.initialRect.right) / 2, 1);
    EXPECT_NEAR(300, (child.initialRect.top + child.initialRect.bottom) / 2, 1);
    owner.m_hWnd = nullptr;
    ::DestroyWindow(ownerHwnd);
}

TEST(DialogTest, MissingTemplateFailsCleanly) {
    CDialog dlg(0x7FFF);
    EXPECT_EQ(-1, dlg.DoModal());
}

TEST(FileNameTest, ExistenceNeverExpandsWildcards) {
    char temp[MAX_PATH + 1] = "";
    ::GetTempPathA(sizeof(temp), temp);
    const std::string folder =
        std::string(temp) + "clipmend-exists-" + std::to_string(::GetCurrentProcessId());
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    const std::string file = folder + "\\abc.mp4";
    CFileHandle created(::CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(created.valid());
    created.reset();

    EXPECT_TRUE(AfxPathExists(file.c_str()));
    EXPECT_TRUE(AfxPathExists(folder.c_str()));
    EXPECT_TRUE(AfxPathExists(("\\\\?\\" + file).c_str())) << "a long path's prefix is no wildcard";
    // A find-first would match abc.mp4 with each of these.
    for (const char* pattern : {"\\a?c.mp4", "\\???.mp4", "\\a*", "\\*", "\\*.mp4"})
        EXPECT_FALSE(AfxPathExists((folder + pattern).c_str())) << pattern;
    EXPECT_FALSE(AfxPathExists((folder + "\\abd.mp4").c_str()));

    ::DeleteFileA(file.c_str());
    ::RemoveDirectoryA(folder.c_str());
}

} // namespace

// A DLL planted where an elevated program would look for it by name: once the search is
// restricted, only the system folder is searched. Last in this program: the restriction is for
// the whole process.
TEST(ZLastDllSearchTest, ADllPlantedInTheCurrentFolderIsNotLoaded) {
    char temp[MAX_PATH + 1] = "";
    ::GetTempPathA(sizeof(temp), temp);
    const std::string folder =
        std::string(temp) + "clipmend-dlls-" + std::to_string(::GetCurrentProcessId());
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    const std::string planted = folder + "\\clipmend-planted.dll";
    // The link control's tests build a resource-only DLL beside theirs.
    const CString exe = AfxGetModuleFileName();
    const CString stub = exe.Left(exe.ReverseFind('\\')) + "\\..\\controls\\helpstub.dll";
    ASSERT_TRUE(::CopyFileA(stub, planted.c_str(), FALSE)) << ::GetLastError();
    char before[MAX_PATH + 1] = "";
    ::GetCurrentDirectoryA(sizeof(before), before);
    ASSERT_TRUE(::SetCurrentDirectoryA(folder.c_str()));

    HMODULE loaded = ::LoadLibraryA("clipmend-planted.dll");
    EXPECT_NE(nullptr, loaded) << "the current folder is not searched here anyway";
    if (loaded)
        ::FreeLibrary(loaded);
    // What the program loads late comes from the system folder whatever the search order.
    EXPECT_EQ(nullptr, AfxLoadSystemLibrary("clipmend-planted.dll"));
    // A 32-bit program on 64-bit Windows is given the 32-bit system folder in its place.
    char system[MAX_PATH + 1] = "", wow64[MAX_PATH + 1] = "";
    ::GetSystemDirectoryA(system, sizeof(system));
    ::GetSystemWow64DirectoryA(wow64, sizeof(wow64));
    const CString dialogs = AfxGetModuleFileName(AfxLoadSystemLibrary("comdlg32.dll"));
    EXPECT_TRUE(
        !::lstrcmpiA(std::string(system).append("\\comdlg32.dll").c_str(), dialogs) ||
        (*wow64 && !::lstrcmpiA(std::string(wow64).append("\\comdlg32.dll").c_str(), dialogs)))
        << dialogs;
    AfxRestrictDllSearch();
    loaded = ::LoadLibraryA("clipmend-planted.dll");
    EXPECT_EQ(nullptr, loaded);
    if (loaded)
        ::FreeLibrary(loaded);
    // The system's own still load.
    EXPECT_NE(nullptr, ::LoadLibraryA("ole32.dll"));

    ::SetCurrentDirectoryA(before);
    ::DeleteFileA(planted.c_str());
    ::RemoveDirectoryA(folder.c_str());
}
