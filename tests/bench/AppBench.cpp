// The whole program against the tool alone (not a test): wall time from GO to the closing
// message next to the same stand-in run by itself, for a tool that floods 50 MB of output and
// for one that only sleeps; the longest time the window took to answer a message while the
// tool floods; and what the user waits for once the tool has ended, from its exit to the
// message box on screen, run by run against a plain program that does only that.
#include "media/SourceCheck.h"
#include "tests/bench/Stopwatch.h"
#include "tests/support/Harness.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct ProgramRun {
    double seconds = -1;
    double slowestAnswerMs = 0;
};

// OPEN, GO, and the time until the closing message shows; the window is asked a question
// (WM_NULL) every few milliseconds meanwhile.
ProgramRun ThroughProgram(const std::string& mode) {
    e2e::CClipmend::Options options;
    options.standinMode = mode;
    e2e::CClipmend app(options);
    ProgramRun run;
    if (!app.Start()) {
        std::fprintf(stderr, "cannot start Clipmend: %s\n", app.Error().c_str());
        return run;
    }
    const std::string source = app.MakeFile("clip.mp4");
    if (!app.ChooseFile(source))
        return run;
    e2e::WaitUntil([&] { return app.ControlText(1000) == source; });

    const LARGE_INTEGER start = Now();
    app.ClickButton(IDOK);
    e2e::MessageBoxInfo box;
    while (!app.WaitForMessageBox(&box, 0)) {
        const LARGE_INTEGER asked = Now();
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutA(app.Main(), WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored);
        run.slowestAnswerMs = std::max(run.slowestAnswerMs, 1000 * Seconds(asked, Now()));
        ::Sleep(5);
    }
    run.seconds = Seconds(start, Now());
    app.PressOk(box);
    app.Close();
    return run;
}

// The stand-in by itself, its output going nowhere.
double Alone(const std::string& mode) {
    char temp[MAX_PATH + 1] = "";
    ::GetTempPathA(sizeof(temp), temp);
    const std::string folder = std::string(temp) + "clipmend-bench";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const std::string source = folder + "\\clip.mp4";
    CFileHandle file(::CreateFileA(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    file.reset();

    return RunAlone("\"" + e2e::HostPathToWindows(STANDIN_EXE) + "\" --mode \"" + mode +
                    "\" -add \"" + source + "\" -new \"" + folder + "\\clip-NEW.mp4\"");
}

// A shown message box of the process, or null.
HWND ShownBox(DWORD pid) {
    struct Find {
        DWORD pid;
        HWND found;
    } find{pid, nullptr};
    ::EnumWindows(
        [](HWND hwnd, LPARAM lParam) -> BOOL {
            auto* f = reinterpret_cast<Find*>(lParam);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(hwnd, &owner);
            char cls[16] = "";
            ::GetClassNameA(hwnd, cls, sizeof(cls));
            // A message box: a dialog with its text in control 0xFFFF (not the Open dialog).
            if (owner == f->pid && ::IsWindowVisible(hwnd) && std::string(cls) == "#32770" &&
                ::GetDlgItem(hwnd, 0xFFFF)) {
                f->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&find));
    return find.found;
}

// Milliseconds from the tool's last stamp to the box, once it shows; the box is then closed.
double ExitToBox(DWORD pid, const std::string& stampPath) {
    HWND box = nullptr;
    LARGE_INTEGER shown{};
    const ULONGLONG end = ::GetTickCount64() + 60000;
    while (!(box = ShownBox(pid)) && ::GetTickCount64() < end)
        ::Sleep(0);
    shown = Now();
    if (!box)
        return -1;
    LARGE_INTEGER exited{};
    exited.QuadPart = std::strtoll(e2e::ReadFileText(stampPath).c_str(), nullptr, 10);

    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    e2e::WaitUntil([box] { return !e2e::IsShown(box); });
    return exited.QuadPart ? 1000 * Seconds(exited, shown) : -1;
}

// Clipmend and the plain program, each run in turn, nRuns times.
void ExitToBoxScenario(int nRuns) {
    char temp[MAX_PATH + 1] = "";
    ::GetTempPathA(sizeof(temp), temp);
    const std::string stamp = std::string(temp) + "clipmend-bench-exit.txt";
    e2e::CClipmend::Options options;
    options.standinMode = "output=good;exitstamp=" + stamp;
    e2e::CClipmend app(options);
    if (!app.Start() || !app.ChooseFile(app.MakeFile("clip.mp4"))) {
        std::fprintf(stderr, "cannot start Clipmend: %s\n", app.Error().c_str());
        return;
    }
    const std::string output = app.Folder() + "\\clip-NEW.mp4";
    std::string plain = "\"" + e2e::HostPathToWindows(PLAIN_EXE) + "\" \"" +
                        e2e::HostPathToWindows(STANDIN_EXE) +
                        "\" --mode \"output=none;exitstamp=" + stamp + "\"";
    std::vector<double> clipmend, alone, ratio;
    for (int i = 0; i < nRuns; ++i) {
        ::DeleteFileA(output.c_str());
        ::DeleteFileA(stamp.c_str());
        app.ClickButton(IDOK);
        const double dClipmend = ExitToBox(app.ProcessId(), stamp);

        ::DeleteFileA(stamp.c_str());
        STARTUPINFOA si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        if (!::CreateProcessA(nullptr, &plain[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                              &pi))
            return;
        CKernelHandle process(pi.hProcess), thread(pi.hThread);
        const double dPlain = ExitToBox(pi.dwProcessId, stamp);
        ::WaitForSingleObject(process.get(), 10000);
        if (dClipmend < 0 || dPlain <= 0) {
            std::fprintf(stderr, "run %d: no figure (Clipmend %.1f, plain %.1f)\n", i, dClipmend,
                         dPlain);
            continue;
        }
        clipmend.push_back(dClipmend);
        alone.push_back(dPlain);
        ratio.push_back(dClipmend / dPlain);
    }
    std::printf("\ntool exit -> message box, %zu pairs (ms):\n%-10s %8s %8s %8s %8s\n",
                clipmend.size(), "", "median", "p90", "p99", "max");
    for (const auto& row : {std::make_pair("Clipmend", &clipmend), std::make_pair("plain", &alone)})
        std::printf("%-10s %8.1f %8.1f %8.1f %8.1f\n", row.first, Percentile(*row.second, 0.5),
                    Percentile(*row.second, 0.9), Percentile(*row.second, 0.99),
                    Percentile(*row.second, 1.0));
    std::printf("ratio: median %.2f, p99 %.2f (of the two series' p99: %.2f)\n",
                Percentile(clipmend, 0.5) / Percentile(alone, 0.5), Percentile(ratio, 0.99),
                Percentile(clipmend, 0.99) / Percentile(alone, 0.99));
    app.Close();
}

// The source check on a file, as GO makes it on the window's thread.
void SourceCheckScenario(const char* pszPath) {
    const LARGE_INTEGER start = Now();
    const CSourceInfo info = CheckSourceFile(pszPath);
    const double dMs = 1000 * Seconds(start, Now());
    std::printf("source check: %8.1f ms  %s (kind %d, %zu tracks%s)\n", dMs, pszPath,
                static_cast<int>(info.eKind), info.movie.tracks.size(),
                info.bWalkBounded ? ", walk bounded" : "");
}

// The real MP4Box by itself (no console, output to NUL) against GO to the message box through
// Clipmend, in turns, nRuns times each.
void ToolScenario(const std::string& tool, const std::string& source, int nRuns) {
    e2e::CClipmend::Options options;
    options.toolExe = tool;
    e2e::CClipmend app(options);
    if (!app.Start()) {
        std::fprintf(stderr, "cannot start Clipmend: %s\n", app.Error().c_str());
        return;
    }
    const std::string copy = app.CopyIn(source, "clip.mp4");
    const std::string output = app.Folder() + "\\clip-NEW.mp4";
    if (copy.empty() || !app.ChooseFile(copy))
        return;
    std::vector<double> alone, through;
    for (int i = 0; i < nRuns; ++i) {
        ::DeleteFileA(output.c_str());
        // Its lines to a file: Wine's NUL device is slower than a file or a pipe.
        const double dAlone =
            RunAlone("\"" + app.Folder() + "\\tool\\MP4Box.exe\" -itags \"Name=clip\" -add \"" +
                         copy + "\" -new \"" + output + "\" ",
                     app.Folder() + "\\tool-lines.txt");
        if (dAlone < 0)
            return;
        alone.push_back(dAlone);

        ::DeleteFileA(output.c_str());
        const LARGE_INTEGER start = Now();
        app.ClickButton(IDOK);
        e2e::MessageBoxInfo box;
        if (!app.WaitForMessageBox(&box))
            return;
        through.push_back(Seconds(start, Now()));
        app.PressOk(box);
    }
    std::printf("\nMP4Box on %s, %d runs each (s):\n%-18s %8s %8s\n", source.c_str(), nRuns, "",
                "median", "max");
    std::printf("%-18s %8.3f %8.3f\n%-18s %8.3f %8.3f\nratio of medians %.3f\n", "MP4Box alone",
                Percentile(alone, 0.5), Percentile(alone, 1.0), "GO -> message",
                Percentile(through, 0.5), Percentile(through, 1.0),
                Percentile(through, 0.5) / Percentile(alone, 0.5));
    app.Close();
}

// A process's peak working set and private memory, in MiB. Wine gives the commit charge of
// another process where it has no private count; on Windows the two are the same.
bool MemoryOf(HANDLE process, double* pPeak, double* pPrivate) {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    if (!::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                sizeof(counters)))
        return false;
    *pPeak = counters.PeakWorkingSetSize / 1048576.0;
    *pPrivate =
        (counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage) / 1048576.0;
    return true;
}

// A shown top-level window of the process with this caption, or null.
HWND ShownWindow(DWORD pid, const char* pszCaption) {
    struct Find {
        DWORD pid;
        const char* caption;
        HWND found;
    } find{pid, pszCaption, nullptr};
    ::EnumWindows(
        [](HWND hwnd, LPARAM lParam) -> BOOL {
            auto* f = reinterpret_cast<Find*>(lParam);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(hwnd, &owner);
            if (owner == f->pid && ::IsWindowVisible(hwnd) && e2e::WindowText(hwnd) == f->caption) {
                f->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&find));
    return find.found;
}

struct StartFigures {
    double ms = -1, peak = 0, priv = 0;
};

// Starts cmd and waits until it shows a window with that caption and answers a message; its
// memory then, and the process is ended.
StartFigures StartUntilShown(std::string cmd, const char* pszCaption) {
    StartFigures figures;
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    const LARGE_INTEGER start = Now();
    if (!::CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return figures;
    CKernelHandle process(pi.hProcess), thread(pi.hThread);
    HWND shown = nullptr;
    e2e::WaitUntil([&] { return (shown = ShownWindow(pi.dwProcessId, pszCaption)) != nullptr; },
                   60000);
    DWORD_PTR ignored = 0;
    if (shown && ::SendMessageTimeoutA(shown, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored)) {
        figures.ms = 1000 * Seconds(start, Now());
        MemoryOf(process.get(), &figures.peak, &figures.priv);
    }
    ::TerminateProcess(process.get(), 0);
    ::WaitForSingleObject(process.get(), 10000);
    return figures;
}

// Each program's start to its window against the plain program's start to its box, in turns,
// nRuns times; the memory each holds then. The programs: those named (Windows paths, to hold
// two builds against each other in one run), else this build's. The plain program runs twice:
// as it is, the measure, and with Clipmend's manifest (the common controls 6 that its look
// needs load with it), to tell what the manifest costs from what the program adds.
void StartupScenario(int nRuns, std::vector<std::string> exes) {
    // Kept to the end: its folder, with the copy of this build's exe, goes with it.
    e2e::CClipmend app;
    if (exes.empty()) {
        if (!app.Start()) {
            std::fprintf(stderr, "cannot start Clipmend: %s\n", app.Error().c_str());
            return;
        }
        app.Close();
        exes.push_back(app.Folder() + "\\Clipmend.exe");
    }
    const size_t nPlain = exes.size();
    exes.push_back(e2e::HostPathToWindows(PLAIN_EXE));
    exes.push_back(e2e::HostPathToWindows(PLAIN_MANIFEST_EXE));
    std::vector<std::vector<StartFigures>> runs(exes.size());
    for (int i = 0; i < nRuns; ++i) {
        std::vector<StartFigures> round;
        for (size_t k = 0; k < exes.size(); ++k)
            round.push_back(StartUntilShown(
                "\"" + exes[k] + "\"", k >= nPlain ? "Clipmend" : "Velmora Clipmend - ONE Click"));
        if (std::all_of(round.begin(), round.end(), [](const StartFigures& f) { return f.ms > 0; }))
            for (size_t k = 0; k < exes.size(); ++k)
                runs[k].push_back(round[k]);
    }
    std::printf("\nstart-up and memory, %zu rounds, medians (ratio to the plain program's; "
                "start-up ratio of each pair: min-median-max; ratios to the plain program with "
                "Clipmend's manifest)\n",
                runs[nPlain].size());
    const auto median = [&](size_t k, double StartFigures::*field) {
        std::vector<double> values;
        for (const StartFigures& f : runs[k])
            values.push_back(f.*field);
        return Percentile(values, 0.5);
    };
    // Start-up ratios of each round's pair: on a loaded machine their median holds better than
    // the ratio of the medians.
    const auto pairRatios = [&](size_t k, size_t nRef) {
        std::vector<double> ratios;
        for (size_t i = 0; i < runs[k].size(); ++i)
            ratios.push_back(runs[k][i].ms / runs[nRef][i].ms);
        return ratios;
    };
    for (size_t k = 0; k < exes.size(); ++k) {
        const std::vector<double> ratios = pairRatios(k, nPlain);
        std::printf("%s\n  start to window %7.1f ms (%.2f; %.2f-%.2f-%.2f)  peak working set "
                    "%5.1f MiB (%.2f)  private %5.1f MiB (%.2f)\n",
                    exes[k].c_str(), median(k, &StartFigures::ms),
                    median(k, &StartFigures::ms) / median(nPlain, &StartFigures::ms),
                    Percentile(ratios, 0), Percentile(ratios, 0.5), Percentile(ratios, 1.0),
                    median(k, &StartFigures::peak),
                    median(k, &StartFigures::peak) / median(nPlain, &StartFigures::peak),
                    median(k, &StartFigures::priv),
                    median(k, &StartFigures::priv) / median(nPlain, &StartFigures::priv));
        if (k < nPlain)
            std::printf("  with the manifest: start %.2f (pairs %.2f)  peak working set %.2f  "
                        "private %.2f\n",
                        median(k, &StartFigures::ms) / median(nPlain + 1, &StartFigures::ms),
                        Percentile(pairRatios(k, nPlain + 1), 0.5),
                        median(k, &StartFigures::peak) / median(nPlain + 1, &StartFigures::peak),
                        median(k, &StartFigures::priv) / median(nPlain + 1, &StartFigures::priv));
    }
}

} // namespace

int main(int argc, char** argv) {
    // "exit N": only the exit-to-message pairs, N of them.
    if (argc == 3 && std::string(argv[1]) == "exit") {
        ExitToBoxScenario(std::atoi(argv[2]));
        return 0;
    }
    // "startup N [EXE...]": start-up and memory against the plain program, N rounds.
    if (argc >= 3 && std::string(argv[1]) == "startup") {
        StartupScenario(std::atoi(argv[2]), std::vector<std::string>(argv + 3, argv + argc));
        return 0;
    }
    // "check FILE...": the source check's time on each file.
    if (argc >= 3 && std::string(argv[1]) == "check") {
        for (int i = 2; i < argc; ++i)
            SourceCheckScenario(argv[i]);
        return 0;
    }
    // "tool MP4BOX FILE N": the real tool alone against a run through Clipmend.
    if (argc == 5 && std::string(argv[1]) == "tool") {
        ToolScenario(argv[2], argv[3], std::atoi(argv[4]));
        return 0;
    }
    struct Scenario {
        const char* name;
        const char* mode;
    } scenarios[] = {
        {"tool writes 50 MB of output", "stdout=26214400;stderr=26214400;output=good"},
        {"tool only sleeps 3 s", "sleep=3000;output=good"},
    };
    std::printf("%-30s %12s %12s %8s %18s\n", "scenario", "program s", "alone s", "ratio",
                "slowest answer ms");
    for (const Scenario& s : scenarios) {
        const ProgramRun program = ThroughProgram(s.mode);
        const double alone = Alone(s.mode);
        std::printf("%-30s %12.3f %12.3f %8.2f %18.1f\n", s.name, program.seconds, alone,
                    alone > 0 ? program.seconds / alone : 0.0, program.slowestAnswerMs);
    }
    ExitToBoxScenario(200);
    return 0;
}
