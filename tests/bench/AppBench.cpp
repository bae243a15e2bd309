// The whole program against the tool alone (not a test): wall time from GO to the closing
// message next to the same stand-in run by itself, for a tool that floods 50 MB of output and
// for one that only sleeps; and the longest time the window took to answer a message while
// the tool floods.
#include "tests/bench/Stopwatch.h"
#include "tests/support/Harness.h"

#include <algorithm>
#include <cstdio>
#include <string>

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

    std::string cmd = "\"" + e2e::HostPathToWindows(STANDIN_EXE) + "\" --mode \"" + mode +
                      "\" -add \"" + source + "\" -new \"" + folder + "\\clip-NEW.mp4\"";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    CFileHandle nul(::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inherit, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = nul.get();
    si.hStdError = nul.get();
    PROCESS_INFORMATION pi{};
    const LARGE_INTEGER start = Now();
    if (!::CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &si, &pi))
        return -1;
    CKernelHandle process(pi.hProcess);
    CKernelHandle thread(pi.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    return Seconds(start, Now());
}

} // namespace

int main() {
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
    return 0;
}
