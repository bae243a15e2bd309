// The main dialog run modally in this process, looked at from inside its own message loop:
// menus, icons and fonts belong to their process, so the system menu's items and the About
// box's icon and font can only be read here.
#include "app/RemuxDlg.h"
#include "framework/WinApp.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

struct MenuItem {
    UINT type = 0;
    UINT id = 0;
    std::string text;
};

// What the timer saw, checked once the dialog has ended.
struct Observed {
    std::vector<MenuItem> systemMenu;
    bool aboutShown = false;
    bool mainDisabledMeanwhile = false;
    SIZE iconSize{};
    std::string fontFace;
    LONG fontHeight = 0;
    bool aboutClosed = false;
    bool timedOut = false;
};

struct WindowSearch {
    const char* caption;
    HWND found;
};

BOOL CALLBACK MatchCaption(HWND hwnd, LPARAM lParam) {
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    char text[128] = {};
    ::GetWindowTextA(hwnd, text, sizeof(text));
    if (::IsWindowVisible(hwnd) && std::string(text) == search->caption) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND ShownWindowOfThisThread(const char* caption) {
    WindowSearch search{caption, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), MatchCaption, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<MenuItem> ReadMenu(HMENU menu) {
    std::vector<MenuItem> items;
    const int count = ::GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOA info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        ::GetMenuItemInfoA(menu, i, TRUE, &info); // first call: the text's length
        std::string text(info.cch + 1, '\0');
        info.dwTypeData = text.data();
        info.cch = static_cast<UINT>(text.size());
        ::GetMenuItemInfoA(menu, i, TRUE, &info);
        text.resize(info.cch);
        items.push_back({info.fType, info.wID, text});
    }
    return items;
}

SIZE IconSize(HICON icon) {
    SIZE size{};
    ICONINFO info{};
    if (!icon || !::GetIconInfo(icon, &info))
        return size;
    BITMAP bm{};
    if (info.hbmColor && ::GetObjectA(info.hbmColor, sizeof(bm), &bm))
        size = {bm.bmWidth, bm.bmHeight};
    if (info.hbmColor)
        ::DeleteObject(info.hbmColor);
    if (info.hbmMask)
        ::DeleteObject(info.hbmMask);
    return size;
}

// Steps through the scenario one timer tick at a time; each step waits for the window
// state the previous one asked for. Thread timers carry no context, hence the static.
class Scenario {
public:
    explicit Scenario(Observed* observed) : m_observed(observed) {
        s_current = this;
        m_timer = ::SetTimer(nullptr, 0, 20, &Scenario::Tick);
    }
    ~Scenario() {
        ::KillTimer(nullptr, m_timer);
        s_current = nullptr;
    }
    Scenario(const Scenario&) = delete;
    Scenario& operator=(const Scenario&) = delete;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (s_current)
            s_current->Step();
    }

    void Step() {
        HWND main = ShownWindowOfThisThread("Velmora Clipmend - ONE Click");
        HWND about = ShownWindowOfThisThread("About Velmora Clipmend");
        if (++m_ticks > 500) { // ten seconds
            m_observed->timedOut = true;
            if (about)
                ::PostMessageA(about, WM_COMMAND, IDCANCEL, 0);
            if (main)
                ::PostMessageA(main, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        switch (m_step) {
        case 0:
            if (!main)
                return;
            m_observed->systemMenu = ReadMenu(::GetSystemMenu(main, FALSE));
            ::PostMessageA(main, WM_SYSCOMMAND, 16, 0);
            m_step = 1;
            break;
        case 1:
            if (!about)
                return;
            m_observed->aboutShown = true;
            m_observed->mainDisabledMeanwhile = !::IsWindowEnabled(main);
            m_observed->iconSize = IconSize(reinterpret_cast<HICON>(
                ::SendMessageA(::GetWindow(about, GW_CHILD), STM_GETICON, 0, 0)));
            if (HFONT font = reinterpret_cast<HFONT>(::SendMessageA(about, WM_GETFONT, 0, 0))) {
                LOGFONTA lf{};
                ::GetObjectA(font, sizeof(lf), &lf);
                m_observed->fontFace = lf.lfFaceName;
                m_observed->fontHeight = lf.lfHeight;
            }
            ::PostMessageA(about, WM_COMMAND, IDOK, 0);
            m_step = 2;
            break;
        case 2:
            if (about)
                return;
            m_observed->aboutClosed = true;
            ::PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
            m_step = 3;
            break;
        default:
            break;
        }
    }

    static Scenario* s_current;
    Observed* m_observed;
    UINT_PTR m_timer = 0;
    int m_step = 0;
    int m_ticks = 0;
};

Scenario* Scenario::s_current = nullptr;

TEST(SystemMenu, EndsWithASeparatorAndTheAboutEntryWhichOpensTheAboutBox) {
    Observed seen;
    {
        Scenario scenario(&seen);
        // As in the program: the main dialog is the application's main window, which the
        // About box takes as its owner.
        CWinApp app;
        CRemuxDlg dlg;
        app.m_pMainWnd = &dlg;
        EXPECT_NE(dlg.DoModal(), -1) << "the main dialog could not be created";
    }
    ASSERT_FALSE(seen.timedOut);

    const std::vector<MenuItem>& menu = seen.systemMenu;
    ASSERT_GE(menu.size(), 3u);
    const MenuItem& separator = menu[menu.size() - 2];
    const MenuItem& about = menu.back();
    EXPECT_TRUE(separator.type & MFT_SEPARATOR);
    EXPECT_FALSE(about.type & MFT_SEPARATOR);
    EXPECT_EQ(about.id, 16u);
    EXPECT_EQ(about.text, "&About Clipmend...");
    // Added once, and the system's own items are still there.
    int aboutEntries = 0;
    bool hasClose = false;
    for (const MenuItem& item : menu) {
        aboutEntries += item.id == 16;
        hasClose = hasClose || item.id == SC_CLOSE;
    }
    EXPECT_EQ(aboutEntries, 1);
    EXPECT_TRUE(hasClose);

    EXPECT_TRUE(seen.aboutShown);
    EXPECT_TRUE(seen.mainDisabledMeanwhile) << "the About box is not modal";
    EXPECT_EQ(seen.iconSize.cx, 32);
    EXPECT_EQ(seen.iconSize.cy, 32);
    EXPECT_EQ(seen.fontFace, "MS Sans Serif");
    HDC screen = ::GetDC(nullptr);
    const LONG expectedHeight = -::MulDiv(8, ::GetDeviceCaps(screen, LOGPIXELSY), 72);
    ::ReleaseDC(nullptr, screen);
    EXPECT_EQ(seen.fontHeight, expectedHeight);
    EXPECT_TRUE(seen.aboutClosed);
}

} // namespace
