// What the run control's tests and the main dialog's share: a file written whole, a taskbar
// that records its calls, a window's caption.
#pragma once

#include "framework/Handle.h"
#include "job/RunProgress.h"
#include "tests/rebuild/TestMedia.h"

#include <windows.h>

#include <string>
#include <vector>

inline bool WriteBytes(const std::string& path, const std::string& bytes) {
    CFileHandle file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file &&
           ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
           written == bytes.size();
}

inline bool WriteSmallMp4(const std::string& path) {
    return WriteBytes(path, testmedia::SmallMp4());
}

// Records the taskbar calls instead of making them.
class CFakeTaskbar : public CTaskbarProgress {
public:
    explicit CFakeTaskbar(std::vector<std::string>* pCalls) : m_pCalls(pCalls) {}
    void SetState(HWND, State state) override {
        m_pCalls->push_back("state " + std::to_string(state));
    }
    void SetValue(HWND, int nPercent) override {
        m_pCalls->push_back("value " + std::to_string(nPercent));
    }

private:
    std::vector<std::string>* m_pCalls;
};

inline std::string Caption(HWND hwnd) {
    char text[512] = "";
    ::GetWindowTextA(hwnd, text, sizeof(text));
    return text;
}
