// Measures the runner with the stand-in tool (tool\MP4Box.exe beside this program):
//   1. relay throughput of a child's stdout through the runner to an owner window, next to the
//      same child writing to NUL;
//   2. the delay from the child's end (its exit time as the system records it) to record 5,
//      median and p99;
//   3. this process's CPU time while a child sleeps.
// Run: cmake --build <build> --target run_runner_bench
//  or: tools/wine-run <build>/tests/bench/runner_bench.exe [MB] [runs] [sleep ms]
#include "tests/bench/Stopwatch.h"
#include "tests/support/RunnerSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

uint64_t FileTimeValue(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// Seconds from Open to record 5 for a child writing bytes to stdout; negative on failure.
double RelaySeconds(uint64_t bytes) {
    CChildRunner runner;
    COwnerWindow owner;
    owner.runner = &runner;
    owner.keepText = false;
    const std::string command = ToolCommand("output=none;stdout=" + std::to_string(bytes));
    const LARGE_INTEGER start = Now();
    if (!runner.Open(command.c_str(), FALSE, owner.Owner()) ||
        !PumpUntil([&] { return owner.Finished(); }, 600000) || owner.outputBytes != bytes)
        return -1;
    return Seconds(start, Now());
}

// The same child started directly with its output on NUL.
double NulSeconds(uint64_t bytes) {
    return RunAlone(ToolCommand("output=none;stdout=" + std::to_string(bytes)));
}

// Milliseconds from the child's exit to record 5 for one run; negative on failure.
double EndDelayMs() {
    CChildRunner runner;
    COwnerWindow owner;
    owner.runner = &runner;
    const std::string pidFile = TempPath("bench-pid.txt");
    FILETIME received{};
    owner.onRecord = [&](const CRecord& r) {
        if (r.code == COPYDATA_FINISHED)
            ::GetSystemTimePreciseAsFileTime(&received);
    };
    double delay = -1;
    if (runner.Open(ToolCommand("output=none;sleep=50;pidfile=" + pidFile).c_str(), FALSE,
                    owner.Owner())) {
        const DWORD pid = WaitForPidFile(pidFile, 10000);
        CKernelHandle child(
            pid ? ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid)
                : nullptr);
        FILETIME created, exited, kernel, user;
        if (child && PumpUntil([&] { return owner.Finished(); }, 30000) &&
            ::GetProcessTimes(child.get(), &created, &exited, &kernel, &user))
            delay = static_cast<double>(FileTimeValue(received) - FileTimeValue(exited)) / 1e4;
    }
    ::DeleteFileA(pidFile.c_str());
    return delay;
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    return static_cast<double>(FileTimeValue(kernel) + FileTimeValue(user)) / 1e7;
}

} // namespace

int main(int argc, char** argv) {
    const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 32;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 200;
    const DWORD sleepMs = argc > 3 ? static_cast<DWORD>(std::atoi(argv[3])) : 5000;
    const uint64_t bytes = megabytes * 1024 * 1024;

    // Warm-up: the first process start pays for loading.
    RelaySeconds(1024);
    NulSeconds(1024);

    std::vector<double> relay, nul;
    for (int i = 0; i < 3; ++i) {
        relay.push_back(RelaySeconds(bytes));
        nul.push_back(NulSeconds(bytes));
    }
    const double relayMBs = static_cast<double>(megabytes) / Percentile(relay, 0.5);
    const double nulMBs = static_cast<double>(megabytes) / Percentile(nul, 0.5);
    std::printf("throughput (%llu MB on stdout, median of 3):\n",
                static_cast<unsigned long long>(megabytes));
    std::printf("  through the runner to an owner window: %8.2f MB/s\n", relayMBs);
    std::printf("  same child writing to NUL:             %8.2f MB/s\n", nulMBs);
    std::printf("  ratio runner / NUL:                    %8.3f\n", relayMBs / nulMBs);

    std::vector<double> delays;
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        const double d = EndDelayMs();
        if (d < 0)
            ++failed;
        else
            delays.push_back(d);
    }
    std::printf("child's end to record 5 (%d runs, %d failed):\n", runs, failed);
    std::printf("  median %.2f ms, p99 %.2f ms, max %.2f ms\n", Percentile(delays, 0.5),
                Percentile(delays, 0.99),
                delays.empty() ? 0.0 : *std::max_element(delays.begin(), delays.end()));

    {
        CChildRunner runner;
        COwnerWindow owner;
        owner.runner = &runner;
        const std::string pidFile = TempPath("bench-sleep-pid.txt");
        runner.Open(
            ToolCommand("output=none;sleep=" + std::to_string(sleepMs) + ";pidfile=" + pidFile)
                .c_str(),
            FALSE, owner.Owner());
        // Measured from the child's own start, so the start-up work is not counted.
        WaitForPidFile(pidFile, 10000);
        const double cpuBefore = ProcessCpuSeconds();
        const LARGE_INTEGER start = Now();
        // Blocks until a message comes, so the CPU time is the runner's, not a polling loop's.
        while (!owner.Finished()) {
            ::MsgWaitForMultipleObjectsEx(0, nullptr, sleepMs + 30000, QS_ALLINPUT,
                                          MWMO_INPUTAVAILABLE);
            MSG msg;
            while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                ::DispatchMessageA(&msg);
        }
        const double wall = Seconds(start, Now());
        const double cpu = ProcessCpuSeconds() - cpuBefore;
        std::printf("CPU time of this process while a child sleeps %lu ms:\n",
                    static_cast<unsigned long>(sleepMs));
        std::printf("  %.1f ms over %.2f s (%.3f%% of one core)\n", cpu * 1000, wall,
                    100 * cpu / wall);
        ::DeleteFileA(pidFile.c_str());
    }
    return failed == 0 ? 0 : 1;
}
