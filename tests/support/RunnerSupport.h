// What the runner tests and the benchmark share: an owner window that records the status
// records, a message pump, the stand-in tool's path and the process's own resource counts.
#pragma once

#include "framework/Wnd.h"
#include "runner/ChildRunner.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct CRecord {
    ULONG_PTR code;
    EOutputStream stream;
    std::string text; // an output record's text, without its terminating zero
};

// A plain Win32 window on the creating thread that keeps the records of runner's current run,
// read as an owner reads them, and counts every other WM_COPYDATA.
class COwnerWindow {
public:
    COwnerWindow();
    ~COwnerWindow();
    COwnerWindow(const COwnerWindow&) = delete;
    COwnerWindow& operator=(const COwnerWindow&) = delete;

    CWnd* Owner() { return &m_wnd; }
    HWND Handle() const { return m_wnd.m_hWnd; }
    void Destroy();

    const CChildRunner* runner = nullptr;
    std::vector<CRecord> records;
    size_t ignored = 0; // WM_COPYDATA that was no record of runner's
    // Output records are only counted, not kept, for floods checked through onRecord.
    bool keepText = true;
    uint64_t outputBytes = 0;
    size_t outputRecords = 0;
    size_t maxOutputText = 0;
    // Called on the window's thread for each record, after it was stored.
    std::function<void(const CRecord&)> onRecord;

    size_t Count(ULONG_PTR code) const;
    bool Finished() const { return Count(COPYDATA_FINISHED) > 0; }
    std::string Output() const; // every record 3 text, without the zeros

private:
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    CWnd m_wnd;
};

// Handles messages until done() or the time-out; false on time-out.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
void PumpFor(DWORD ms);

std::string ExeDir();                             // with the trailing backslash
std::string ToolPath();                           // tool\MP4Box.exe beside the test program
std::string ToolCommand(const std::string& mode); // as the program forms it, plus --mode
std::string TempPath(const char* name);           // a fresh path in the temp folder
std::string ReadWholeFile(const std::string& path);
// The process id a stand-in wrote to path, once it is there; 0 on time-out, or once writer
// (when given: the process that was to start the stand-in) has ended.
DWORD WaitForPidFile(const std::string& path, DWORD timeoutMs, HANDLE writer = nullptr);

int ThreadCount();
int HandleCount();
