// The run control and the progress it shows, in this test process with the program's resources:
// runs of the stand-in tool and rebuilds on a window of their own.
#include "framework/WinApp.h"
#include "job/RebuildRun.h"
#include "job/RunControl.h"
#include "job/ToolOutput.h"
#include "media/Box.h"
#include "media/Mp4Check.h"
#include "tests/job/RunTestSupport.h"
#include "tests/rebuild/TestMedia.h"
#include "tests/support/RunnerSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(RunProgressTest, CaptionAndTaskbarFollowTheRunAndAreClearedAtItsEnd) {
    // Bytes that only round-trip exactly when the caption is put back as it was read.
    const char kOriginal[] = "Velmora \xC9 - ONE Click";
    HWND hwnd = ::CreateWindowExA(0, "STATIC", kOriginal, WS_POPUP, 0, 0, 200, 50, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(nullptr, hwnd);
    const std::string original = Caption(hwnd);
    std::vector<std::string> calls;
    {
        CRunProgress progress;
        progress.Attach(hwnd);
        progress.SetTaskbarForTest(std::make_unique<CFakeTaskbar>(&calls));
        CToolOutput output;
        auto feed = [&](EOutputStream stream, const std::string& text) {
            if (output.Append(stream, text.data(), text.size()))
                progress.Show(output.Progress());
        };
        auto pumpUntilCalls = [&](size_t n) {
            return PumpUntil([&] { return calls.size() >= n; }, 5000);
        };
        const std::string bar(20, ' ');

        // A failed run of two phases, progress on stderr; the error shown briefly at the end.
        output.Reset(2);
        progress.Begin();
        feed(EOutputStream::StdOut, "Opening the file\r\n");
        EXPECT_EQ(original, Caption(hwnd));
        feed(EOutputStream::StdErr, "Importing ISO File: |" + bar + "| (1");
        feed(EOutputStream::StdErr, "0/100)\r");
        EXPECT_EQ("5% Importing ISO File - " + original, Caption(hwnd));
        // The taskbar is called later, never from inside a handler.
        EXPECT_TRUE(calls.empty());
        ASSERT_TRUE(pumpUntilCalls(2));
        feed(EOutputStream::StdErr, "Importing ISO File: |" + bar + "| (40/100)\r" + "    \r");
        EXPECT_EQ("50% Importing ISO File - " + original, Caption(hwnd));
        feed(EOutputStream::StdErr, "ISO File Writing: |" + bar + "| (10/100)\r");
        EXPECT_EQ("55% ISO File Writing - " + original, Caption(hwnd));
        ASSERT_TRUE(pumpUntilCalls(3));
        progress.End(true);
        EXPECT_EQ(original, Caption(hwnd));
        ASSERT_TRUE(PumpUntil([&] { return calls.back() == "state 0"; },
                              CRunProgress::kErrorFlashMs + 3000));
        // Only where a batch of records led shows.
        EXPECT_EQ((std::vector<std::string>{"state 2", "value 5", "value 55", "state 4",
                                            "value 100", "state 0"}),
                  calls);

        // A run that ends well; old builds print progress on stdout.
        calls.clear();
        output.Reset(1);
        progress.Begin();
        feed(EOutputStream::StdOut, "Importing ISO File: |" + bar + "| (55/100)\r");
        EXPECT_EQ("55% Importing ISO File - " + original, Caption(hwnd));
        ASSERT_TRUE(pumpUntilCalls(2));
        progress.End(false);
        EXPECT_EQ(original, Caption(hwnd));
        ASSERT_TRUE(pumpUntilCalls(3));
        EXPECT_EQ((std::vector<std::string>{"state 2", "value 55", "state 0"}), calls);

        // Records after the end change nothing.
        feed(EOutputStream::StdErr, "Importing ISO File: |" + bar + "| (60/100)\r");
        EXPECT_EQ(original, Caption(hwnd));
        PumpFor(100);
        EXPECT_EQ(3u, calls.size());
    }
    ::DestroyWindow(hwnd);
}

// The run control on a window of its own, with the stand-in tool: what a run shows.

// Keeps what a run shows instead of showing it, and answers every question with Yes.
class CTestView : public CRunView {
public:
    std::vector<bool> shownRunning;
    std::vector<std::string> messages;
    bool bThrowOnMessage = false;
    bool bForgeOutput = false;
    std::string strReference; // what the user picks when a rebuild asks for a reference
    int nSearchAnswer = IDNO; // to the offer of a search for a recording's settings

    void ShowRunning(bool bRunning) override {
        shownRunning.push_back(bRunning);
        // Output from anyone but our runner, while the run is on (the readers start only
        // after this record) never reaches the failure message.
        if (bRunning && bForgeOutput) {
            bForgeOutput = false;
            const char forged[] = "Error: forged line\n";
            COPYDATASTRUCT record{COPYDATA_OUTPUT, sizeof forged, const_cast<char*>(forged)};
            m_pOwner->SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
        }
    }
    void ShowMessage(const CString& text) override {
        messages.push_back(text.str());
        if (bThrowOnMessage) {
            bThrowOnMessage = false;
            throw std::runtime_error("the view failed");
        }
    }
    bool Ask(const CString& text, bool) override {
        messages.push_back(text.str());
        return true;
    }
    int AskThree(const CString& text) override {
        messages.push_back(text.str());
        return nSearchAnswer;
    }
    CString ChooseReference(const CString&) override { return strReference.c_str(); }
};

class CRunWindow : public CWnd {
public:
    CRunWindow() : view(*new CTestView) {
        SubclassWindow(::CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                         ::GetModuleHandleA(nullptr), nullptr));
        m_run.SetOwner(this);
        m_run.SetViewForTest(std::unique_ptr<CRunView>(&view));
    }
    ~CRunWindow() override {
        m_run.EndRunOnClose();
        ::DestroyWindow(m_hWnd);
    }

    // A job on source that writes output and runs the stand-in tool with command.
    static CJob Job(const std::string& source, const std::string& output,
                    const std::string& command) {
        CJob job = MakeJob(source.c_str(), AfxGetModuleFileName());
        job.strOutput = output.c_str();
        job.strCommandLine = command.c_str();
        return job;
    }

    CTestView& view;
    bool m_bCloseAtTheEnd = false; // the window closes just before the verdict
    std::string m_strUnhandled;
    CRunControl m_run;

protected:
    void OnUnhandledException(const char* pszWhat) override { m_strUnhandled = pszWhat; }

    LRESULT OnStdioCommand(WPARAM, LPARAM) {
        m_run.Start();
        return 0;
    }
    LRESULT OnCopyData(WPARAM, LPARAM lParam) {
        if (m_bCloseAtTheEnd &&
            reinterpret_cast<const COPYDATASTRUCT*>(lParam)->dwData == COPYDATA_FINISHED) {
            m_run.EndRunOnClose();
            return 0;
        }
        m_run.Follow(WM_COPYDATA, lParam);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CRunWindow, CWnd)
ON_REGISTERED_MESSAGE(WMSTDIOCOMMAND, OnStdioCommand)
ON_MESSAGE(WM_COPYDATA, OnCopyData)
END_MESSAGE_MAP()

// With the system's taskbar object, as a user's run has it.
TEST(RunControlInProcess, AHandlerThatThrowsLeavesGoUsableAndForgedOutputIsIgnored) {
    const std::string source = TempPath("clip.mp4");
    ASSERT_TRUE(WriteSmallMp4(source));
    ASSERT_NE(nullptr, CTaskbarProgress::Create()) << "no taskbar object to be had";
    CRunWindow window;
    window.m_run.OnTaskbarButtonCreated();
    const CJob job = CRunWindow::Job(source, "C:\\nowhere\\clip-NEW.mp4",
                                     ToolCommand("sleep=300;errors=1;exit=2"));
    window.view.bThrowOnMessage = true;
    window.view.bForgeOutput = true;

    window.m_run.Go(job);
    ASSERT_TRUE(PumpUntil([&] { return !window.view.messages.empty(); }, 20000));
    EXPECT_EQ("Failed! Could not create new file C:\\nowhere\\clip-NEW.mp4\n"
              "The BOX program ended with exit code 2.\n\nError: something failed (1)",
              window.view.messages[0]);
    EXPECT_EQ("the view failed", window.m_strUnhandled);
    EXPECT_EQ((std::vector<bool>{true, false}), window.view.shownRunning);
    EXPECT_TRUE(window.m_run.IsIdle());

    // GO works again after the handler threw.
    window.m_run.Go(job);
    ASSERT_TRUE(PumpUntil([&] { return window.view.messages.size() == 2; }, 20000));
    EXPECT_EQ(window.view.messages[0], window.view.messages[1]);
}

// The tool has ended and written its copy, but the window closes before the verdict: the copy
// nobody checked is removed, the source is left alone.
TEST(RunControlInProcess, ClosingAfterTheToolEndedButBeforeTheVerdictRemovesTheCopy) {
    const std::string source = TempPath("gap.mp4");
    const std::string output = TempPath("gap-NEW.mp4");
    ASSERT_TRUE(WriteSmallMp4(source));
    CRunWindow window;
    const CJob job = CRunWindow::Job(source, output,
                                     "\"" + ToolPath() + "\" -add \"" + source + "\" -new \"" +
                                         output + "\" --mode \"output=copy\"");
    window.m_bCloseAtTheEnd = true;
    window.m_run.Go(job);
    ASSERT_TRUE(PumpUntil([&] { return window.m_run.IsIdle(); }, 300000));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(output.c_str()))
        << "a copy that was never checked was left behind";
    EXPECT_EQ(testmedia::SmallMp4(), ReadWholeFile(source));
    EXPECT_TRUE(window.view.messages.empty());
    ::DeleteFileA(source.c_str());
}

// A rebuild over the copy an earlier one made: after the user's Yes the earlier copy goes; the
// recording, whose video does not carry its settings, cannot be rebuilt by itself, so the user
// is asked for a reference, told why, and a new file is made from it. With the decoders the program
// lends the engine, a recording ffmpeg made (the decoder tests' media) and a cut of it, since they
// must play: a search for its settings is offered first, and No to it asks for the reference at
// once; at Yes, the search rebuilds it alone. Without them, the engine's own small media.
void RebuildWithAnswer(int nSearchAnswer) {
    const std::string reference = TempPath("ref.mp4");
    const std::string broken = TempPath("cut.mp4");
    const std::string output = TempPath("cut-NEW.mp4");
    const char* pszMedia = std::getenv("CLIPMEND_DECODE_MEDIA");
    if (pszMedia) {
        const std::string whole = ReadWholeFile(std::string(pszMedia) + "\\h264.mp4");
        ASSERT_TRUE(WriteBytes(reference, whole));
        // Its first 60 % of media data, as a recorder cut off leaves it.
        CMemoryByteSource source(reinterpret_cast<const uint8_t*>(whole.data()), whole.size());
        CBox mdat;
        ASSERT_TRUE(FindBox(source, 0, whole.size(), FourCC("mdat"), &mdat)) << pszMedia;
        const size_t nBegin = static_cast<size_t>(mdat.nOffset + mdat.nHeaderSize);
        const size_t nKeep = static_cast<size_t>(mdat.End() - nBegin) * 6 / 10;
        ASSERT_TRUE(
            WriteBytes(broken, Text(testmedia::BrokenFile(std::vector<uint8_t>(
                                   whole.begin() + nBegin, whole.begin() + nBegin + nKeep)))));
    } else {
        ASSERT_TRUE(WriteBytes(reference, Text(testmedia::SmallReference())));
        ASSERT_TRUE(WriteBytes(broken, Text(testmedia::BrokenFile(testmedia::SmallRecording()))));
    }
    ASSERT_TRUE(WriteBytes(output, "an earlier copy"));
    CRunWindow window;
    window.view.strReference = reference;
    window.view.nSearchAnswer = nSearchAnswer;
    CJob job = CRunWindow::Job(broken, output, "");
    window.m_run.Check(job);
    EXPECT_TRUE(job.found.bMediaData);
    ASSERT_TRUE(PumpUntil([&] { return window.m_run.IsIdle(); }, 120000));
    ASSERT_EQ(3u, window.view.messages.size());
    EXPECT_EQ(output + " already exists. Replace it?", window.view.messages[0]);
    EXPECT_NE(std::string::npos,
              window.view.messages[1].find(pszMedia ? "Search for the settings now?"
                                                    : "Clipmend cannot rebuild the index from "
                                                      "this file alone: it does not carry the "
                                                      "settings its video was recorded with"))
        << window.view.messages[1];
    EXPECT_EQ(0u, window.view.messages[2].find("Done! Created new file "))
        << window.view.messages[2];
    EXPECT_EQ(pszMedia && nSearchAnswer == IDYES,
              window.view.messages[2].find("found by a search and checked by decoding") !=
                  std::string::npos)
        << window.view.messages[2];
    EXPECT_TRUE(CheckMp4File(output.c_str()).IsValid());
    for (const std::string& path : {reference, broken, output})
        ::DeleteFileA(path.c_str());
}

TEST(RunControlInProcess, ARebuildReplacesAnEarlierCopyAndAsksForAReferenceWithWhy) {
    RebuildWithAnswer(IDNO);
}

TEST(RunControlInProcess, ARebuildSearchesForTheSettingsAtYes) {
    RebuildWithAnswer(IDYES);
}

} // namespace
