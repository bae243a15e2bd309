// Wall-clock timing for the benchmarks: the clock, percentiles of a series, and a program run
// by itself.
#pragma once

#include "framework/Handle.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

inline LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now;
}

inline double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// The value at fraction p of the sorted series (0.5: the median); 0 for none.
inline double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

// Seconds a program takes by itself, its output going to a file (NUL unless named) and no
// console window, as Clipmend starts the tool; negative when it cannot start.
inline double RunAlone(std::string cmd, const std::string& output = "NUL") {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    CFileHandle sink(::CreateFileA(output.c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                   output == "NUL" ? OPEN_EXISTING : CREATE_ALWAYS, 0, nullptr));
    if (!sink)
        return -1;
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = sink.get();
    PROCESS_INFORMATION pi{};
    const LARGE_INTEGER start = Now();
    if (!::CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &si, &pi))
        return -1;
    CKernelHandle process(pi.hProcess), thread(pi.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    return Seconds(start, Now());
}
