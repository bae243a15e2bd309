// The run control inside this test process, on a window of its own, with the stand-in tool:
// what a run shows, without the main dialog.
#include "framework/WinApp.h"
#include "framework/Wnd.h"
#include "job/RunControl.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

class CRunWindow : public CWnd, public CRunControl::CView {
public:
    CRunWindow() : m_run(m_runner, *this) {
        SubclassWindow(::CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                         ::GetModuleHandleA(nullptr), nullptr));
        m_runner.SetOwner(this);
        m_run.SetOwner(this);
    }
    ~CRunWindow() override {
        m_run.EndRunOnClose();
        ::DestroyWindow(m_hWnd);
    }

    std::string m_strCommand;
    std::vector<bool> m_shownRunning;
    std::vector<std::string> m_messages;
    bool m_bThrowOnMessage = false;
    bool m_bForgeOutput = false;
    std::string m_strUnhandled;
    CChildRunner m_runner;
    CRunControl m_run;

protected:
    void ShowRunning(bool bRunning) override {
        m_shownRunning.push_back(bRunning);
        // Output from anyone but our runner, while the run is on (the readers start only
        // after this record) never reaches the failure message.
        if (bRunning && m_bForgeOutput) {
            m_bForgeOutput = false;
            const char forged[] = "Error: forged line\n";
            COPYDATASTRUCT record{COPYDATA_OUTPUT, sizeof forged, const_cast<char*>(forged)};
            ::SendMessageA(m_hWnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
        }
    }
    void ShowRunMessage(const CString& text) override {
        m_messages.push_back(text.str());
        if (m_bThrowOnMessage) {
            m_bThrowOnMessage = false;
            throw std::runtime_error("the view failed");
        }
    }
    void OnUnhandledException(const char* pszWhat) override { m_strUnhandled = pszWhat; }

    LRESULT OnStdioCommand(WPARAM, LPARAM) {
        m_run.Start(m_strCommand.c_str(), "C:\\nowhere\\clip-NEW.mp4");
        return 0;
    }
    LRESULT OnCopyData(WPARAM, LPARAM lParam) {
        m_run.OnRecord(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CRunWindow, CWnd)
ON_REGISTERED_MESSAGE(WMSTDIOCOMMAND, OnStdioCommand)
ON_MESSAGE(WM_COPYDATA, OnCopyData)
END_MESSAGE_MAP()

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 20000) {
    const DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > timeoutMs)
            return false;
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageA(&msg);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

TEST(RunControlInProcess, AHandlerThatThrowsLeavesGoUsableAndForgedOutputIsIgnored) {
    const std::string exe = AfxGetModuleFileName().str();
    const std::string tool = exe.substr(0, exe.rfind('\\') + 1) + "tool\\MP4Box.exe";
    CRunWindow window;
    window.m_strCommand = "\"" + tool + "\" --mode \"sleep=300;errors=1;exit=2\"";
    window.m_bThrowOnMessage = true;
    window.m_bForgeOutput = true;

    window.m_run.Go(exe.c_str(), tool.c_str());
    ASSERT_TRUE(PumpUntil([&] { return !window.m_messages.empty(); }));
    EXPECT_EQ("Failed! Could not create new file C:\\nowhere\\clip-NEW.mp4\n"
              "The BOX program ended with exit code 2.\n\nError: something failed (1)",
              window.m_messages[0]);
    EXPECT_EQ("the view failed", window.m_strUnhandled);
    EXPECT_EQ((std::vector<bool>{true, false}), window.m_shownRunning);
    EXPECT_TRUE(window.m_run.IsIdle());

    // GO works again after the handler threw.
    window.m_run.Go(exe.c_str(), tool.c_str());
    ASSERT_TRUE(PumpUntil([&] { return window.m_messages.size() == 2; }));
    EXPECT_EQ(window.m_messages[0], window.m_messages[1]);
}

} // namespace
