// The About box reached through the main window's system menu, driven from outside. The
// menu's items themselves are read in-process (menus do not cross processes under Wine).
#include "tests/support/Harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using e2e::CClipmend;
using e2e::MessageBoxInfo;

namespace {

const UINT kAboutCommand = 16;

class AboutTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(app.Start()) << app.Error(); }

    void SysCommand(HWND hwnd, WPARAM id) { ::PostMessageA(hwnd, WM_SYSCOMMAND, id, 0); }

    // The About box once it is shown; a dialog owned by the main window.
    HWND WaitForAbout() {
        MessageBoxInfo box;
        if (!app.WaitForMessageBox(&box))
            return nullptr;
        EXPECT_EQ(box.caption, "About Velmora Clipmend");
        return box.hwnd;
    }

    void ExpectAboutContents(HWND about) {
        // Owned by the main window, which takes no input meanwhile.
        EXPECT_EQ(::GetWindow(about, GW_OWNER), app.Main());
        EXPECT_FALSE(::IsWindowEnabled(app.Main()));
        const DWORD style = static_cast<DWORD>(::GetWindowLongPtrA(about, GWL_STYLE));
        EXPECT_EQ(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                  style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));

        const std::vector<HWND> children = e2e::ChildWindows(about);
        ASSERT_EQ(children.size(), 4u);
        EXPECT_EQ(e2e::ClassNameOf(children[0]), "Static");
        EXPECT_EQ(::GetWindowLongPtrA(children[0], GWL_STYLE) & SS_TYPEMASK, SS_ICON);
        EXPECT_EQ(e2e::WindowText(children[1]), "Clipmend Version 1.1.2");
        EXPECT_NE(e2e::WindowText(children[2]).find("Velmora"), std::string::npos);
        EXPECT_EQ(::GetDlgCtrlID(children[3]), IDOK);
        EXPECT_EQ(e2e::WindowText(children[3]), "OK");

        // Centred over the main window, as the framework places it.
        RECT mainRect{}, aboutRect{};
        ::GetWindowRect(app.Main(), &mainRect);
        ::GetWindowRect(about, &aboutRect);
        EXPECT_NEAR((mainRect.left + mainRect.right) / 2, (aboutRect.left + aboutRect.right) / 2,
                    2);
        EXPECT_NEAR((mainRect.top + mainRect.bottom) / 2, (aboutRect.top + aboutRect.bottom) / 2,
                    2);
    }

    // The box goes away and the main window is usable again.
    void ExpectAboutEnded(HWND about, const char* how) {
        EXPECT_TRUE(e2e::WaitUntil([&] { return !e2e::IsShown(about); }))
            << "the About box did not close on " << how;
        EXPECT_TRUE(e2e::WaitUntil([&] { return ::IsWindowEnabled(app.Main()) != FALSE; }))
            << "the main window stayed disabled after " << how;
        EXPECT_FALSE(app.HasExited()) << how << " ended the program";
        EXPECT_TRUE(e2e::IsShown(app.Main()));
    }

    CClipmend app;
};

TEST_F(AboutTest, EveryIdOfTheAboutCommandOpensTheAboutBox) {
    // The handler ignores the low four bits, which the system uses for its own purposes.
    for (WPARAM id : {WPARAM(kAboutCommand), WPARAM(kAboutCommand + 15)}) {
        SCOPED_TRACE("WM_SYSCOMMAND " + std::to_string(id));
        SysCommand(app.Main(), id);
        HWND about = WaitForAbout();
        ASSERT_NE(about, nullptr) << "no About box";
        ExpectAboutContents(about);
        e2e::Click(::GetDlgItem(about, IDOK));
        ExpectAboutEnded(about, "OK");
    }
}

TEST_F(AboutTest, IdsOutsideTheAboutRangeDoNotOpenIt) {
    for (WPARAM id : {WPARAM(kAboutCommand - 1), WPARAM(kAboutCommand + 16)}) {
        SCOPED_TRACE("WM_SYSCOMMAND " + std::to_string(id));
        SysCommand(app.Main(), id);
        EXPECT_FALSE(app.MessageBoxAppears(700));
        EXPECT_FALSE(app.HasExited());
        EXPECT_TRUE(::IsWindowEnabled(app.Main()));
    }
    // Still answering: the About command works afterwards.
    SysCommand(app.Main(), kAboutCommand);
    HWND about = WaitForAbout();
    ASSERT_NE(about, nullptr);
    e2e::Click(::GetDlgItem(about, IDOK));
    ExpectAboutEnded(about, "OK");
}

TEST_F(AboutTest, EscapeAndTheCloseBoxEndTheAboutBoxButNotTheProgram) {
    SysCommand(app.Main(), kAboutCommand);
    HWND about = WaitForAbout();
    ASSERT_NE(about, nullptr);
    // The key goes where the keyboard would send it: the focused control of the box.
    ASSERT_TRUE(e2e::WaitUntil([&] {
        HWND focus = app.Focus();
        return focus && (focus == about || ::IsChild(about, focus));
    })) << "the About box has no focus";
    app.PressKey(VK_ESCAPE);
    ExpectAboutEnded(about, "Escape");

    SysCommand(app.Main(), kAboutCommand);
    about = WaitForAbout();
    ASSERT_NE(about, nullptr);
    SysCommand(about, SC_CLOSE);
    ExpectAboutEnded(about, "the close box");

    // Neither left anything behind that keeps the program from closing normally.
    DWORD exitCode = 1;
    ASSERT_TRUE(app.Close()) << app.Error();
    ASSERT_TRUE(app.WaitForExit(0, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(AboutTest, CloseFromTheSystemMenuEndsTheProgram) {
    SysCommand(app.Main(), SC_CLOSE);
    DWORD exitCode = 1;
    EXPECT_TRUE(app.WaitForExit(e2e::kTimeoutMs, &exitCode)) << "still running after SC_CLOSE";
    EXPECT_EQ(exitCode, 0u);
}

// The icon control gets its size from the template; a zero-sized one would show nothing.
TEST_F(AboutTest, AboutBoxPaintsTheProgramIcon) {
    SysCommand(app.Main(), kAboutCommand);
    HWND about = WaitForAbout();
    ASSERT_NE(about, nullptr);
    HWND icon = e2e::ChildWindows(about).at(0);
    RECT rect{};
    ::GetWindowRect(icon, &rect);
    ASSERT_GE(rect.right - rect.left, 20);
    ASSERT_GE(rect.bottom - rect.top, 20);

    // The dialog's background is one colour; the icon brings several.
    size_t colours = 0;
    const bool painted = e2e::WaitUntil([&] {
        HDC screen = ::GetDC(nullptr);
        std::vector<COLORREF> seen;
        for (LONG y = rect.top; y < rect.bottom; y += 2) {
            for (LONG x = rect.left; x < rect.right; x += 2) {
                const COLORREF c = ::GetPixel(screen, x, y);
                if (std::find(seen.begin(), seen.end(), c) == seen.end())
                    seen.push_back(c);
            }
        }
        ::ReleaseDC(nullptr, screen);
        colours = seen.size();
        return colours >= 3;
    });
    EXPECT_TRUE(painted) << "the icon area shows " << colours << " colour(s)";
    // For a person to look at.
    e2e::SaveScreenshot(about, "about-box");

    e2e::Click(::GetDlgItem(about, IDOK));
    ExpectAboutEnded(about, "OK");
}

} // namespace
