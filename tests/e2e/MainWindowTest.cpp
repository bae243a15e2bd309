// The main window seen from outside: its layout, OPEN through the real Open dialog (the job
// it makes is read from the command line the stand-in tool records on GO), and the keys that
// must and must not close it. The icon is not checked here: Wine answers
// WM_GETICON with 0 across processes, so the in-process resource tests cover it.
#include "tests/support/Harness.h"

#include <gtest/gtest.h>

#include <cstdlib>

using e2e::CClipmend;
using e2e::MessageBoxInfo;

namespace {

const int kGo = IDOK;
const int kSourcePath = 1000;
const int kOpen = 1001;
const int kProductsLink = 1003;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(app.Start()) << app.Error(); }

    // Posted input is handled in order: once a character typed after it shows up in the
    // edit box, everything posted before it has been handled too.
    void WaitUntilInputHandled() {
        HWND edit = app.Control(kSourcePath);
        const std::string before = e2e::WindowText(edit);
        e2e::TypeChar(edit, '#');
        ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::WindowText(edit).size() > before.size(); }))
            << "the window stopped handling input";
    }

    // GO, then OK on the message that ends the run; returns the tool's command line.
    std::string RunAndReadCommandLine() {
        app.ClickButton(kGo);
        MessageBoxInfo box;
        EXPECT_TRUE(app.WaitForMessageBox(&box)) << app.Error();
        if (box.hwnd) {
            EXPECT_TRUE(app.PressOk(box)) << app.Error();
        }
        return app.ReadStandinLog();
    }

    std::string CommandLine(const std::string& tag, const std::string& source,
                            const std::string& output) const {
        return "\"" + app.Folder() + "\\tool\\MP4Box.exe\" -itags \"Name=" + tag + "\" -add \"" +
               source + "\" -new \"" + output + "\" ";
    }

    void ExpectStillOpen() {
        EXPECT_FALSE(app.HasExited());
        EXPECT_TRUE(e2e::IsShown(app.Main()));
        EXPECT_FALSE(app.MessageBoxAppears(300));
    }

    CClipmend app;
};

struct ExpectedControl {
    int id;
    const char* className;
    const char* text;
    DWORD style; // bits that must be set, besides WS_CHILD | WS_VISIBLE
    DWORD typeMask;
    int x, y, cx, cy;
};

TEST_F(MainWindowTest, ShowsCaptionControlsAndTemplateLayout) {
    HWND main = app.Main();
    EXPECT_EQ("Velmora Clipmend - ONE Click", e2e::WindowText(main));
    const DWORD style = static_cast<DWORD>(::GetWindowLongPtrA(main, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(::GetWindowLongPtrA(main, GWL_EXSTYLE));
    EXPECT_EQ(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
              style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(exStyle & WS_EX_APPWINDOW) << "no taskbar button";

    const e2e::CDialogUnits dlu(L"MS Sans Serif", 8);
    ASSERT_TRUE(dlu.valid());
    RECT client{};
    ::GetClientRect(main, &client);
    const RECT size = dlu.Map(0, 0, 361, 103);
    EXPECT_EQ(size.right, client.right);
    EXPECT_EQ(size.bottom, client.bottom);

    // Opened centred on the screen (the template leaves the placement to the framework).
    RECT window{}, work{};
    ::GetWindowRect(main, &window);
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((work.left + work.right) / 2, (window.left + window.right) / 2, 2);
    EXPECT_NEAR((work.top + work.bottom) / 2, (window.top + window.bottom) / 2, 2);

    const ExpectedControl expected[] = {
        {IDOK, "Button", "GO", BS_DEFPUSHBUTTON | WS_TABSTOP, BS_TYPEMASK, 143, 64, 88, 30},
        {0xFFFF, "Button", "Open a MP4 File to Fix", BS_GROUPBOX, BS_TYPEMASK, 7, 12, 345, 46},
        {kSourcePath, "Edit", "", WS_TABSTOP | ES_AUTOHSCROLL, 0, 16, 29, 260, 15},
        {kOpen, "Button", "OPEN", BS_PUSHBUTTON | WS_TABSTOP, BS_TYPEMASK, 283, 27, 60, 20},
        {kProductsLink, "Static", "More iPod,MP4,Video Products", SS_LEFT | WS_GROUP, SS_TYPEMASK,
         14, 75, 115, 9},
    };
    // Children in creation order are the template's order, which is also the tab order.
    const std::vector<HWND> children = e2e::ChildWindows(main);
    ASSERT_EQ(5u, children.size());
    for (size_t i = 0; i < children.size(); ++i) {
        const ExpectedControl& want = expected[i];
        HWND ctrl = children[i];
        SCOPED_TRACE(want.text);
        EXPECT_EQ(want.id, ::GetDlgCtrlID(ctrl) & 0xFFFF);
        EXPECT_EQ(want.className, e2e::ClassNameOf(ctrl));
        EXPECT_EQ(want.text, e2e::WindowText(ctrl));
        const DWORD ctrlStyle = static_cast<DWORD>(::GetWindowLongPtrA(ctrl, GWL_STYLE));
        EXPECT_EQ(want.style | WS_CHILD | WS_VISIBLE,
                  ctrlStyle & (want.style | WS_CHILD | WS_VISIBLE));
        if (want.typeMask) {
            EXPECT_EQ(want.style & want.typeMask, ctrlStyle & want.typeMask);
        }
        EXPECT_TRUE(::IsWindowEnabled(ctrl));
        if (want.id == kSourcePath) {
            // The edit control trades its WS_BORDER for a client edge when it is created.
            const DWORD ex = static_cast<DWORD>(::GetWindowLongPtrA(ctrl, GWL_EXSTYLE));
            EXPECT_TRUE((ctrlStyle & WS_BORDER) || (ex & WS_EX_CLIENTEDGE)) << "no border";
        }

        const RECT got = e2e::RectInClient(main, ctrl);
        const RECT at = dlu.Map(want.x, want.y, want.cx, want.cy);
        EXPECT_EQ(at.left, got.left);
        EXPECT_EQ(at.top, got.top);
        EXPECT_EQ(at.right, got.right);
        EXPECT_EQ(at.bottom, got.bottom);
    }

    EXPECT_FALSE(e2e::SaveScreenshot(main, "main-window").empty());
}

TEST_F(MainWindowTest, OpenShowsTheChosenPath) {
    const std::string clip = app.MakeFile("videos\\clip.mp4");
    ASSERT_TRUE(app.ChooseFile(clip)) << app.Error();
    EXPECT_TRUE(e2e::WaitUntil([&] { return app.ControlText(kSourcePath) == clip; }))
        << "edit box: " << app.ControlText(kSourcePath);
    EXPECT_FALSE(app.MessageBoxAppears(300));
    EXPECT_TRUE(app.IsControlEnabled(kGo));
    EXPECT_EQ("GO", app.ControlText(kGo));
    EXPECT_FALSE(e2e::SaveScreenshot(app.Main(), "after-open").empty());

    // A second OPEN replaces the whole job, an upper-case extension included.
    const std::string other = app.MakeFile("more\\Other.MP4");
    ASSERT_TRUE(app.ChooseFile(other)) << app.Error();
    EXPECT_TRUE(e2e::WaitUntil([&] { return app.ControlText(kSourcePath) == other; }))
        << "edit box: " << app.ControlText(kSourcePath);
    EXPECT_EQ(CommandLine("Other", other, app.Folder() + "\\more\\Other-NEW.mp4"),
              RunAndReadCommandLine());
}

TEST_F(MainWindowTest, CancelInTheOpenDialogChangesNothing) {
    ASSERT_TRUE(app.CancelOpen()) << app.Error();
    EXPECT_FALSE(app.MessageBoxAppears(300));
    EXPECT_EQ("", app.ControlText(kSourcePath));

    const std::string clip = app.MakeFile("clip.mp4");
    ASSERT_TRUE(app.ChooseFile(clip)) << app.Error();
    ASSERT_TRUE(e2e::WaitUntil([&] { return app.ControlText(kSourcePath) == clip; }));
    ASSERT_TRUE(app.CancelOpen()) << app.Error();
    EXPECT_FALSE(app.MessageBoxAppears(300));
    EXPECT_EQ(clip, app.ControlText(kSourcePath));
    ExpectStillOpen();
    EXPECT_EQ(CommandLine("clip", clip, app.Folder() + "\\clip-NEW.mp4"), RunAndReadCommandLine());
}

TEST_F(MainWindowTest, PathWithoutAnyDotIsRefused) {
    const std::string clip = app.MakeFile("clip.mp4");
    ASSERT_TRUE(app.ChooseFile(clip)) << app.Error();
    ASSERT_TRUE(e2e::WaitUntil([&] { return app.ControlText(kSourcePath) == clip; }));

    const std::string bare = app.MakeFile("plain\\clip");
    ASSERT_EQ(std::string::npos, bare.find('.')) << "the test folder must hold no dot: " << bare;
    ASSERT_TRUE(app.ChooseFile(bare)) << app.Error();

    MessageBoxInfo box;
    ASSERT_TRUE(app.WaitForMessageBox(&box)) << "no message for " << bare;
    EXPECT_EQ("The input is invalid", box.text);
    EXPECT_EQ("Clipmend", box.caption); // the executable's name without its extension
    EXPECT_FALSE(e2e::SaveScreenshot(nullptr, "input-invalid").empty());
    ASSERT_TRUE(app.PressOk(box)) << app.Error();

    // The edit box keeps the previous choice, but the job is gone: GO does nothing.
    EXPECT_EQ(clip, app.ControlText(kSourcePath));
    ExpectStillOpen();
    app.ClickButton(kGo);
    WaitUntilInputHandled();
    EXPECT_FALSE(app.MessageBoxAppears(2000)) << "GO ran a job after an invalid choice";
    EXPECT_EQ("", app.ReadStandinLog());
}

TEST_F(MainWindowTest, EnterDoesNotCloseTheWindow) {
    // The GO button has the focus when the window opens.
    ASSERT_EQ(app.Control(kGo), app.Focus());
    app.PressKey(VK_RETURN);
    WaitUntilInputHandled();
    ExpectStillOpen();

    // With the focus in the edit box, Enter acts as GO too.
    e2e::ClickInside(app.Control(kSourcePath));
    ASSERT_TRUE(e2e::WaitUntil([&] { return app.Focus() == app.Control(kSourcePath); }));
    app.PressKey(VK_RETURN);
    WaitUntilInputHandled();
    ExpectStillOpen();
    EXPECT_EQ("GO", app.ControlText(kGo));
}

TEST_F(MainWindowTest, EscapeClosesTheWindow) {
    e2e::ClickInside(app.Control(kSourcePath));
    ASSERT_TRUE(e2e::WaitUntil([&] { return app.Focus() == app.Control(kSourcePath); }));
    app.PressKey(VK_ESCAPE);
    DWORD code = 1;
    ASSERT_TRUE(app.WaitForExit(e2e::kTimeoutMs, &code)) << "still running after Escape";
    EXPECT_EQ(0u, code);
}

TEST_F(MainWindowTest, CloseBoxClosesTheWindow) {
    ::PostMessageA(app.Main(), WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD code = 1;
    ASSERT_TRUE(app.WaitForExit(e2e::kTimeoutMs, &code)) << "still running after Close";
    EXPECT_EQ(0u, code);
}

} // namespace
