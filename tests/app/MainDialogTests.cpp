// The main dialog and its run control inside this test process, where icons, the module path
// and the taskbar calls can be read (Wine does not answer WM_GETICON across processes).
#include "app/RemuxDlg.h"
#include "framework/WinApp.h"
#include "res/resource.h"
#include "tests/job/RunTestSupport.h"
#include "tests/support/RunnerSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// Runs the real dialog modally and calls inspect once it is up, then closes it.
class CProbeDlg : public CRemuxDlg {
public:
    std::function<void(CProbeDlg&)> inspect;

    // The job of source, as choosing it makes it (without the check).
    void SetSource(const char* source) { m_job = MakeJob(source, AfxGetModuleFileName()); }
    HICON Icon() const { return m_hIcon; }
    void PressGo() { OnOK(); }
    CRunProgress& Progress() { return m_runner.Progress(); }

protected:
    BOOL OnInitDialog() override {
        const BOOL result = CRemuxDlg::OnInitDialog();
        ::SetTimer(m_hWnd, 1, 10, &Inspect);
        return result;
    }

private:
    static VOID CALLBACK Inspect(HWND hwnd, UINT, UINT_PTR, DWORD) {
        ::KillTimer(hwnd, 1);
        auto* self = static_cast<CProbeDlg*>(CWnd::FromHandlePermanent(hwnd));
        if (self->inspect)
            self->inspect(*self);
        self->EndDialog(IDCANCEL);
    }
};

TEST(MainDialogTest, ShowsTheApplicationIconBigSmallAndWhenDragged) {
    HICON expected = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
    ASSERT_NE(nullptr, expected) << "icon 128 is missing from the resources";
    CProbeDlg dlg;
    bool inspected = false;
    dlg.inspect = [&](CProbeDlg& d) {
        inspected = true;
        EXPECT_EQ(expected, d.Icon());
        EXPECT_EQ(reinterpret_cast<LRESULT>(expected), d.SendMessage(WM_GETICON, ICON_BIG));
        EXPECT_EQ(reinterpret_cast<LRESULT>(expected), d.SendMessage(WM_GETICON, ICON_SMALL));
        EXPECT_EQ(reinterpret_cast<LRESULT>(expected), d.SendMessage(WM_QUERYDRAGICON));
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(expected, &info));
        BITMAP bitmap{};
        ::GetObjectA(info.hbmColor, sizeof(bitmap), &bitmap);
        EXPECT_EQ(32, bitmap.bmWidth);
        EXPECT_EQ(32, bitmap.bmHeight);
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
    };
    dlg.DoModal();
    EXPECT_TRUE(inspected);
}

TEST(MainDialogTest, CommandLineNamesTheToolBesideThisExecutable) {
    CProbeDlg dlg;
    dlg.SetSource("C:\\v\\clip.mp4");
    const CString folder = JobExeFolder(AfxGetModuleFileName());
    ASSERT_FALSE(folder.IsEmpty());
    EXPECT_EQ(CString("\"") + folder +
                  "tool\\MP4Box.exe\" -itags \"Name=clip\" -add \"C:\\v\\clip.mp4\" -new "
                  "\"C:\\v\\clip-NEW.mp4\" ",
              dlg.BuildCommandLine());
}

HWND s_hDialog = nullptr;
std::string s_strAtDestroy;

LRESULT CALLBACK NoteCaptionAtDestroy(int code, WPARAM wParam, LPARAM lParam) {
    const auto* msg = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && msg->message == WM_DESTROY && msg->hwnd == s_hDialog)
        s_strAtDestroy = Caption(msg->hwnd);
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// Closing the window mid-run: the caption is the original when the window goes, and the
// taskbar button is cleared while it still exists.
TEST(MainDialogTest, ClosingMidRunRestoresTheCaptionBeforeTheWindowGoes) {
    char temp[MAX_PATH + 1] = "";
    ::GetTempPathA(sizeof(temp), temp);
    const std::string source = std::string(temp) + "progress-clip.mp4";
    ASSERT_TRUE(WriteSmallMp4(source));
    ::SetEnvironmentVariableA("STANDIN_MODE",
                              "output=none;progresserr;progress=4;pause=3000;sleep=20000");

    s_hDialog = nullptr;
    s_strAtDestroy = "(not destroyed)";
    const HHOOK hook = ::SetWindowsHookExA(WH_CALLWNDPROCRET, &NoteCaptionAtDestroy, nullptr,
                                           ::GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);

    std::vector<std::string> calls;
    std::string original, during;
    {
        CProbeDlg dlg;
        dlg.inspect = [&](CProbeDlg& d) {
            d.SetSource(source.c_str());
            s_hDialog = d.m_hWnd;
            d.Progress().SetTaskbarForTest(std::make_unique<CFakeTaskbar>(&calls));
            original = Caption(d.m_hWnd);
            d.PressGo();
            PumpUntil([&] { return Caption(d.m_hWnd) != original; }, 15000);
            during = Caption(d.m_hWnd);
        };
        dlg.DoModal();
    }
    ::UnhookWindowsHookEx(hook);
    ::SetEnvironmentVariableA("STANDIN_MODE", nullptr);
    ::DeleteFileA(source.c_str());

    EXPECT_EQ("0% Importing ISO File - " + original, during);
    EXPECT_EQ(original, s_strAtDestroy);
}

} // namespace
