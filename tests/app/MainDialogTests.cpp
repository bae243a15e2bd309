// The main dialog inside this test process, where icons and the module path can be read
// (Wine does not answer WM_GETICON across processes).
#include "app/RemuxDlg.h"
#include "framework/WinApp.h"
#include "job/JobNaming.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs the real dialog modally and calls inspect once it is up, then closes it.
class CProbeDlg : public CRemuxDlg {
public:
    std::function<void(CProbeDlg&)> inspect;

    void SetSource(const char* source, const char* output) {
        m_strSource = source;
        m_strOutput = output;
    }
    HICON Icon() const { return m_hIcon; }

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
    dlg.SetSource("C:\\v\\clip.mp4", "C:\\v\\clip-NEW.mp4");
    const CString folder = JobExeFolder(AfxGetModuleFileName());
    ASSERT_FALSE(folder.IsEmpty());
    EXPECT_EQ(CString("\"") + folder +
                  "tool\\MP4Box.exe\" -itags \"Name=clip\" -add \"C:\\v\\clip.mp4\" -new "
                  "\"C:\\v\\clip-NEW.mp4\" ",
              dlg.BuildCommandLine());
}

} // namespace
