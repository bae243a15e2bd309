// GO from end to end: the checks before a run, the button's states during it, the message at
// its end, and what closing the window does to a run in progress.
#include "tests/e2e/Captions.h"
#include "tests/support/Harness.h"
#include "tests/support/TokenSupport.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

using e2e::CClipmend;
using e2e::MessageBoxInfo;

namespace {

const int kGo = IDOK;

CClipmend::Options Mode(const std::string& standinMode, bool withTool = true) {
    CClipmend::Options options;
    options.standinMode = standinMode;
    options.withTool = withTool;
    return options;
}

bool FileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// How many processes named MP4Box.exe run now.
int ToolProcesses() {
    CFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return -1;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = ::Process32First(snapshot.get(), &entry); more;
         more = ::Process32Next(snapshot.get(), &entry)) {
        if (_stricmp(entry.szExeFile, "MP4Box.exe") == 0)
            ++count;
    }
    return count;
}

// True when the process whose id is in pidFile has ended (or never existed) within timeoutMs.
bool ProcessGone(const std::string& pidFile, DWORD timeoutMs) {
    const DWORD pid = std::strtoul(e2e::ReadFileText(pidFile).c_str(), nullptr, 10);
    if (pid == 0)
        return true;
    CKernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    return !process || ::WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0;
}

// A path in the temporary folder that no other test uses.
std::string UniqueTempPath(const char* stem) {
    char folder[MAX_PATH + 1] = "";
    ::GetTempPathA(sizeof(folder), folder);
    static int counter = 0;
    return std::string(folder) + stem + "-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(++counter) + ".txt";
}

class RunControlTest : public ::testing::Test {
protected:
    // Starts the program with the stand-in in this mode and chooses a fresh clip.mp4.
    void StartWithClip(CClipmend::Options options) {
        app.reset(new CClipmend(options));
        ASSERT_TRUE(app->Start()) << app->Error();
        source = app->MakeFile("clip.mp4");
        output = app->Folder() + "\\clip-NEW.mp4";
        ASSERT_TRUE(app->ChooseFile(source));
        ASSERT_TRUE(e2e::WaitUntil([&] { return app->ControlText(1000) == source; }));
    }

    MessageBoxInfo ExpectMessage(const std::string& text) {
        MessageBoxInfo box;
        EXPECT_TRUE(app->WaitForMessageBox(&box)) << "expected: " << text;
        EXPECT_EQ(text, box.text);
        EXPECT_EQ("Clipmend", box.caption);
        return box;
    }

    void Dismiss(const MessageBoxInfo& box) { EXPECT_TRUE(app->PressOk(box)); }

    bool ShowsWaiting() const {
        return app->ControlText(kGo) == "Waiting..." && !app->IsControlEnabled(kGo);
    }

    std::unique_ptr<CClipmend> app;
    std::string source;
    std::string output;
};

TEST_F(RunControlTest, GoBeforeOpenDoesNothing) {
    app.reset(new CClipmend());
    ASSERT_TRUE(app->Start()) << app->Error();
    app->ClickButton(kGo);
    EXPECT_FALSE(app->MessageBoxAppears(1500));
    EXPECT_EQ("GO", app->ControlText(kGo));
    EXPECT_TRUE(app->ReadStandinLog().empty()) << "the tool ran";
    EXPECT_FALSE(app->HasExited());
}

TEST_F(RunControlTest, MissingToolIsReportedBeforeAMissingSource) {
    StartWithClip(Mode("", /*withTool=*/false));
    ASSERT_TRUE(::DeleteFileA(source.c_str()));
    app->ClickButton(kGo);
    Dismiss(ExpectMessage("Cannot find the BOX program"));
    EXPECT_EQ("GO", app->ControlText(kGo));
    EXPECT_TRUE(app->IsControlEnabled(kGo));
}

TEST_F(RunControlTest, SourceDeletedAfterOpenIsReported) {
    StartWithClip(Mode(""));
    ASSERT_TRUE(::DeleteFileA(source.c_str()));
    app->ClickButton(kGo);
    Dismiss(ExpectMessage("Cannot find the source video file"));
    EXPECT_TRUE(app->ReadStandinLog().empty()) << "the tool ran";
}

TEST_F(RunControlTest, FullRunWaitsThenReportsTheNewFile) {
    StartWithClip(Mode("sleep=1500;output=good"));
    app->ClickButton(kGo);
    ASSERT_TRUE(e2e::WaitUntil([&] { return ShowsWaiting(); })) << "no Waiting... state";

    MessageBoxInfo box;
    ASSERT_TRUE(app->WaitForMessageBox(&box));
    // The button is back before the message shows.
    EXPECT_EQ("GO", app->ControlText(kGo));
    EXPECT_TRUE(app->IsControlEnabled(kGo));
    EXPECT_EQ("Done! Created new file " + output, box.text);
    Dismiss(box);

    EXPECT_EQ("\"" + app->Folder() + "\\tool\\MP4Box.exe\" -itags \"Name=clip\" -add \"" + source +
                  "\" -new \"" + output + "\" ",
              app->ReadStandinLog());
    EXPECT_TRUE(FileExists(output));
}

TEST_F(RunControlTest, NonZeroExitIsAFailureWithItsCode) {
    StartWithClip(Mode("exit=3;output=good"));
    app->ClickButton(kGo);
    Dismiss(ExpectMessage("Failed! Could not create new file " + output +
                          "\nThe BOX program ended with exit code 3."));
    EXPECT_EQ("GO", app->ControlText(kGo));
}

TEST_F(RunControlTest, ACrashIsAFailure) {
    StartWithClip(Mode("crash;output=none"));
    app->ClickButton(kGo);
    MessageBoxInfo box;
    ASSERT_TRUE(app->WaitForMessageBox(&box));
    // Whatever a crash handler printed into the tool's output may follow.
    const std::string expected = "Failed! Could not create new file " + output +
                                 "\nThe BOX program crashed (exception 0xC0000005).";
    EXPECT_EQ(expected, box.text.substr(0, expected.size()));
    Dismiss(box);
}

TEST_F(RunControlTest, MessageNamesTheRunsOutputNotAFileChosenDuringIt) {
    StartWithClip(Mode("sleep=3000;output=good"));
    const std::string other = app->MakeFile("other.mp4");
    app->ClickButton(kGo);
    ASSERT_TRUE(e2e::WaitUntil([&] { return ShowsWaiting(); }));
    // OPEN stays usable during a run and replaces the job at once.
    ASSERT_TRUE(app->ChooseFile(other));
    ASSERT_TRUE(e2e::WaitUntil([&] { return app->ControlText(1000) == other; }));
    EXPECT_TRUE(ShowsWaiting());
    Dismiss(ExpectMessage("Done! Created new file " + output));

    // The next GO runs the new job.
    app->ClickButton(kGo);
    Dismiss(ExpectMessage("Done! Created new file " + app->Folder() + "\\other-NEW.mp4"));
}

TEST_F(RunControlTest, AToolThatCannotStartIsReported) {
    StartWithClip(Mode(""));
    // Not a program: starting it fails with ERROR_BAD_EXE_FORMAT.
    app->MakeFile("tool\\MP4Box.exe", "this is text, not a program");
    app->ClickButton(kGo);
    // The second line is the system's own reason.
    char* reason = nullptr;
    ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, ERROR_BAD_EXE_FORMAT, 0, reinterpret_cast<char*>(&reason), 0, nullptr);
    ASSERT_NE(nullptr, reason);
    std::string expected = std::string("Cannot start the BOX program\n") + reason;
    ::LocalFree(reason);
    expected.erase(expected.find_last_not_of("\r\n ") + 1);
    ASSERT_GT(expected.size(), std::string("Cannot start the BOX program\n").size());
    Dismiss(ExpectMessage(expected));
    EXPECT_EQ("GO", app->ControlText(kGo));
    EXPECT_TRUE(app->IsControlEnabled(kGo));
}

TEST_F(RunControlTest, NoSecondRunWhileOneIsInProgress) {
    StartWithClip(Mode("sleep=2500;output=good"));
    app->ClickButton(kGo);
    ASSERT_TRUE(e2e::WaitUntil([&] { return ShowsWaiting(); }));
    // Enter on the default button and a forged start request must both be ignored.
    app->PressKey(VK_RETURN);
    ::PostMessageA(app->Main(), ::RegisterWindowMessageA("WMSTDIOCOMMAND"), 0, 0);
    // A forged finish record from another process must not end the run either.
    COPYDATASTRUCT forged{5, 0, nullptr};
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutA(app->Main(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&forged),
                          SMTO_BLOCK, 5000, &ignored);
    EXPECT_TRUE(ShowsWaiting());
    EXPECT_EQ(1, ToolProcesses());

    Dismiss(ExpectMessage("Done! Created new file " + output));
    // A second run would end with a second message.
    EXPECT_FALSE(app->MessageBoxAppears(3500));
    EXPECT_EQ(0, ToolProcesses());
}

// The caption shows how far the tool is, phase by phase, and is the original again however
// the run ends. (Closing mid-run is checked in process: a closed window has no caption to
// read from here.)
TEST_F(RunControlTest, CaptionShowsTheToolsProgressAndComesBackAfterTheRun) {
    const std::string pidFile = UniqueTempPath("tool-pid");
    StartWithClip(Mode("output=good;progresserr;progress=6;phases=2;pause=250;pidfile=" + pidFile));
    const std::string original = e2e::WindowText(app->Main());
    ASSERT_EQ("Velmora Clipmend - ONE Click", original);

    app->ClickButton(kGo);
    MessageBoxInfo box;
    bool shot = false;
    const std::vector<std::string> done =
        e2e::CaptionsUntilMessage(*app, &box, [&](const std::string& caption) {
            if (!shot && caption.find("ISO File Writing") != std::string::npos) {
                shot = true;
                EXPECT_FALSE(e2e::SaveScreenshot(app->Main(), "progress-caption").empty());
                EXPECT_TRUE(ShowsWaiting());
            }
        });
    EXPECT_EQ((std::vector<std::string>{"Importing ISO File", "ISO File Writing"}),
              e2e::CheckProgressCaptions(done, original));
    EXPECT_GE(done.size(), 6u) << "too few captions to see a rise";
    EXPECT_EQ("Done! Created new file " + output, box.text);
    EXPECT_EQ(original, e2e::WindowText(app->Main()));
    Dismiss(box);

    // Failed: the tool killed in its first phase.
    ::DeleteFileA(pidFile.c_str());
    app->ClickButton(kGo);
    ASSERT_TRUE(app->WaitForMessageBox(&box));
    ASSERT_TRUE(app->PressButton(box, IDYES));
    ASSERT_TRUE(e2e::WaitUntil([&] {
        return FileExists(pidFile) &&
               e2e::WindowText(app->Main()).find("% Importing ISO File") != std::string::npos;
    }));
    {
        CKernelHandle tool(
            ::OpenProcess(PROCESS_TERMINATE, FALSE, std::stoul(e2e::ReadFileText(pidFile))));
        ASSERT_TRUE(tool && ::TerminateProcess(tool.get(), 1));
    }
    ASSERT_TRUE(app->WaitForMessageBox(&box));
    EXPECT_EQ("Failed! Could not create new file " + output +
                  "\nThe BOX program ended with exit code 1.",
              box.text);
    EXPECT_EQ(original, e2e::WindowText(app->Main()));
    Dismiss(box);
    EXPECT_EQ(original, e2e::WindowText(app->Main()));
    ::DeleteFileA(pidFile.c_str());
}

TEST_F(RunControlTest, ClosingDuringARunEndsTheToolAndRemovesItsPartialOutput) {
    const std::string pidFile = UniqueTempPath("tool-pid");
    StartWithClip(Mode("slowwrite;sleep=900000;output=good;pidfile=" + pidFile));
    app->ClickButton(kGo);
    ASSERT_TRUE(e2e::WaitUntil([&] { return ShowsWaiting(); }));
    // The tool has written half of the file and sleeps.
    ASSERT_TRUE(e2e::WaitUntil([&] { return FileExists(output) && FileExists(pidFile); }));

    ASSERT_TRUE(app->Close()) << "the program did not exit";
    EXPECT_TRUE(ProcessGone(pidFile, e2e::kTimeoutMs)) << "the tool runs on";
    EXPECT_FALSE(FileExists(output)) << "a half-written output was left behind";
    ::DeleteFileA(pidFile.c_str());
}

TEST_F(RunControlTest, ClosingDuringARunRemovesThePartialOutputOnceItIsNoLongerHeldOpen) {
    StartWithClip(Mode("slowwrite;sleep=900000;output=good"));
    app->ClickButton(kGo);
    ASSERT_TRUE(e2e::WaitUntil([&] { return ShowsWaiting() && FileExists(output); }));
    // Someone else (a virus scanner, say) has the half-written file open for a moment.
    CFileHandle held(::CreateFileA(output.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    ASSERT_TRUE(::PostMessageA(app->Main(), WM_CLOSE, 0, 0));
    ASSERT_TRUE(e2e::WaitUntil([&] { return !e2e::IsShown(app->Main()); }));
    ::Sleep(1000);
    held.reset();
    EXPECT_TRUE(app->WaitForExit(10000)) << "the program did not exit";
    EXPECT_FALSE(FileExists(output)) << "a half-written output was left behind";
}

TEST_F(RunControlTest, ClosingDuringARunKeepsAnOutputTheToolNeverTouched) {
    const std::string pidFile = UniqueTempPath("tool-pid");
    StartWithClip(Mode("sleep=900000;output=none;pidfile=" + pidFile));
    // A complete output of an earlier run.
    app->MakeFile("clip-NEW.mp4", "earlier complete output");
    app->ClickButton(kGo);
    MessageBoxInfo question;
    ASSERT_TRUE(app->WaitForMessageBox(&question));
    ASSERT_TRUE(app->PressButton(question, IDYES));
    ASSERT_TRUE(e2e::WaitUntil([&] { return ShowsWaiting() && FileExists(pidFile); }));

    ASSERT_TRUE(app->Close());
    EXPECT_TRUE(ProcessGone(pidFile, 5000)) << "the tool runs on";
    EXPECT_EQ("earlier complete output", e2e::ReadFileText(output));
    ::DeleteFileA(pidFile.c_str());
}

// GO over the copy an earlier run made asks first; No leaves it as it was.
TEST_F(RunControlTest, ReplacingAnEarlierCopyIsAskedFirst) {
    StartWithClip(Mode("output=good"));
    app->MakeFile("clip-NEW.mp4", "an earlier copy");
    app->ClickButton(kGo);
    MessageBoxInfo box;
    ASSERT_TRUE(app->WaitForMessageBox(&box));
    EXPECT_EQ(output + " already exists. Replace it?", box.text);
    EXPECT_EQ((std::vector<std::string>{"&Yes", "&No"}), box.buttons);
    EXPECT_EQ("&No", e2e::WindowText(app->Focus())) << "No is not the default";
    EXPECT_FALSE(e2e::SaveScreenshot(nullptr, "replace-question").empty());
    ASSERT_TRUE(app->PressButton(box, IDNO));
    EXPECT_FALSE(app->MessageBoxAppears(1000));
    EXPECT_TRUE(app->ReadStandinLog().empty()) << "the tool ran";
    EXPECT_EQ("an earlier copy", e2e::ReadFileText(output));
    EXPECT_EQ("GO", app->ControlText(kGo));

    app->ClickButton(kGo);
    ASSERT_TRUE(app->WaitForMessageBox(&box));
    ASSERT_TRUE(app->PressButton(box, IDYES));
    Dismiss(ExpectMessage("Done! Created new file " + output));
    EXPECT_NE("an earlier copy", e2e::ReadFileText(output));
}

// The tool starts in its own folder, without a console window, with the user's environment
// less SHELL, with PATH the system's folders only, and with the user's rights: a link planted
// at the output's name must not lend it the administrator's.
TEST_F(RunControlTest, TheToolRunsInACleanPlace) {
    const std::string place = UniqueTempPath("tool-place");
    CClipmend::Options options = Mode("output=good;place=" + place);
    options.env.emplace_back("SHELL", "/bin/bash");
    options.env.emplace_back("PATH", "C:\\planted;" + std::string(getenv("PATH")));
    StartWithClip(options);
    app->ClickButton(kGo);
    Dismiss(ExpectMessage("Done! Created new file " + output));

    char system[MAX_PATH + 1] = "", windows[MAX_PATH + 1] = "";
    ::GetSystemDirectoryA(system, sizeof(system));
    ::GetWindowsDirectoryA(windows, sizeof(windows));
    const std::string seen = e2e::ReadFileText(place);
    const std::string where = "console=none\nfolder=" + app->Folder() + "\\tool\nPATH=" + system +
                              ";" + windows + "\nSHELL=unset\n";
    ASSERT_EQ(where, seen.substr(0, where.size()));
    // The program runs elevated (as the tests do): the tool gets the desktop shell's token (the
    // desktop user's rights), else a restricted copy of its own; it runs in a job that ends it
    // with the window but does not hold it further.
    const std::string token = seen.substr(where.size());
    if (IsElevatedWithFilteredToken() && token.find("shell=none") == std::string::npos) {
        EXPECT_NE(std::string::npos, token.find("\nshell=same\n")) << token;
    } else if (IsElevatedWithFilteredToken()) {
        const char* integrity = SystemLowersIntegrity() ? "medium" : "high";
        EXPECT_EQ(std::string("integrity=") + integrity +
                      "\nadministrators=deny-only\nprivileges=SeChangeNotifyPrivilege\n"
                      "defaultdacl=user,system\nshell=none\n",
                  token.substr(0, token.find("job=")));
    }
    // Where the system reports a job's limits (not Wine), the tool's job ends it with the window
    // and holds it no further.
    const bool bJobReported = token.find("job=flags:0,") == std::string::npos;
    if (bJobReported) {
        EXPECT_NE(std::string::npos, token.find("job=flags:8192,processes:0,memory:0\n")) << token;
    }
    ::DeleteFileA(place.c_str());

    // The rebuild tool (the stand-in in its place) is started the same way, with the same
    // rights, held tighter: its job lets it start no process and caps its memory.
    ASSERT_TRUE(app->Close());
    options.standinRebuilds = true;
    StartWithClip(options);
    std::string broken("\0\0\0\x14"
                       "ftypisom\0\0\x02\0isom\0\0\0\0mdat",
                       28);
    broken += std::string(4096, '\x5a');
    const std::string recording = app->MakeFile("cut.mp4", broken);
    // Chosen, it is rebuilt at once from what it holds itself.
    ASSERT_TRUE(app->ChooseFile(recording));
    MessageBoxInfo box;
    // It prints no result: the window says so, and removes nothing it did not write.
    ASSERT_TRUE(app->WaitForMessageBox(&box)) << app->Error();
    EXPECT_EQ(0u, box.text.find("Failed! Could not create new file " + app->Folder() +
                                "\\cut-NEW.mp4\nThe rebuild failed unexpectedly.\nThe rebuild "
                                "tool ended with exit code 0."))
        << box.text;
    Dismiss(box);
    const std::string rebuilt = e2e::ReadFileText(place);
    const auto lines = [](const std::string& text) {
        const size_t nPath = text.find("\nPATH=");
        return text.substr(nPath, text.find("job=") - nPath);
    };
    EXPECT_EQ(lines(seen), lines(rebuilt));
    if (bJobReported) {
        EXPECT_NE(std::string::npos, rebuilt.find("job=flags:8456,processes:1,memory:1073741824\n"))
            << rebuilt;
    }
    ::DeleteFileA(place.c_str());
}

// A process outside the tool's reach holds its output pipes (here: this test): closing still
// takes the window away at once and ends the program.
TEST_F(RunControlTest, ClosingNeverWaitsForWhatHoldsThePipes) {
    const std::string pidFile = UniqueTempPath("tool-pid");
    StartWithClip(Mode("sleep=900000;output=none;pidfile=" + pidFile +
                       ";lendpipes=" + std::to_string(::GetCurrentProcessId())));
    app->ClickButton(kGo);
    const std::string pipes = app->StandinLogPath() + ".pipes";
    ASSERT_TRUE(e2e::WaitUntil([&] { return !e2e::ReadFileText(pipes).empty(); }));
    unsigned long long out = 0, err = 0;
    ASSERT_EQ(2, std::sscanf(e2e::ReadFileText(pipes).c_str(), "%llu %llu", &out, &err));
    ASSERT_NE(0u, out);

    const ULONGLONG closing = ::GetTickCount64();
    ASSERT_TRUE(::PostMessageA(app->Main(), WM_CLOSE, 0, 0));
    ASSERT_TRUE(e2e::WaitUntil([&] { return !e2e::IsShown(app->Main()); }));
    const ULONGLONG gone = ::GetTickCount64() - closing;
    EXPECT_TRUE(app->WaitForExit(e2e::kTimeoutMs)) << "the program did not end";
    const ULONGLONG ended = ::GetTickCount64() - closing;
    std::printf("closing with the pipes held elsewhere: window gone after %llu ms, program "
                "ended after %llu ms\n",
                gone, ended);
    ::CloseHandle(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(out)));
    ::CloseHandle(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(err)));
    EXPECT_TRUE(ProcessGone(pidFile, 5000)) << "the tool runs on";
    ::DeleteFileA(pidFile.c_str());
}

} // namespace
