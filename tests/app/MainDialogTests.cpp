// The main dialog and its run control inside this test process, where icons, the module path
// and the taskbar calls can be read (Wine does not answer WM_GETICON across processes).
#include "app/RemuxDlg.h"
#include "framework/WinApp.h"
#include "job/RunControl.h"
#include "job/JobNaming.h"
#include "job/Mp4Check.h"
#include "job/SourceCheck.h"
#include "job/ToolOutput.h"
#include "media/Box.h"
#include "rebuild/OutputFile.h"
#include "rebuild/WalkTrack.h"
#include "res/resource.h"
#include "tests/rebuild/TestMedia.h"
#include "tests/standin/SmallMp4.h"
#include "tests/support/RunnerSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

bool WriteBytes(const std::string& path, const std::string& bytes) {
    CFileHandle file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file &&
           ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
           written == bytes.size();
}

bool WriteSmallMp4(const std::string& path) {
    return WriteBytes(path, SmallMp4());
}

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Runs the real dialog modally and calls inspect once it is up, then closes it.
class CProbeDlg : public CRemuxDlg {
public:
    std::function<void(CProbeDlg&)> inspect;

    void SetSource(const char* source, const char* output) {
        m_strSource = source;
        m_strOutput = output;
    }
    HICON Icon() const { return m_hIcon; }
    void PressGo() { OnOK(); }
    CRunProgress& Progress() { return m_run.Progress(); }

protected:
    BOOL OnInitDialog() override {
        const BOOL result = CRemuxDlg::OnInitDialog();
        ::SetTimer(m_hWnd, 1, 10, &Inspect);
        return result;
    }

private:
    static VOID CALLBACK Inspect(HWND hwnd, UINT, UINT_PTR, DWORD) {
        ::KillTimer(hwnd, 1);
        auto* self = static_cast<CProbeDlg*>(CWnd::FromHandlePermanent(hwnd));
        if (self->inspect)
            self->inspect(*self);
        self->EndDialog(IDCANCEL);
    }
};

TEST(MainDialogTest, ShowsTheApplicationIconBigSmallAndWhenDragged) {
    HICON expected = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
    ASSERT_NE(nullptr, expected) << "icon 128 is missing from the resources";
    CProbeDlg dlg;
    bool inspected = false;
    dlg.inspect = [&](CProbeDlg& d) {
        inspected = true;
        EXPECT_EQ(expected, d.Icon());
        EXPECT_EQ(reinterpret_cast<LRESULT>(expected), d.SendMessage(WM_GETICON, ICON_BIG));
        EXPECT_EQ(reinterpret_cast<LRESULT>(expected), d.SendMessage(WM_GETICON, ICON_SMALL));
        EXPECT_EQ(reinterpret_cast<LRESULT>(expected), d.SendMessage(WM_QUERYDRAGICON));
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(expected, &info));
        BITMAP bitmap{};
        ::GetObjectA(info.hbmColor, sizeof(bitmap), &bitmap);
        EXPECT_EQ(32, bitmap.bmWidth);
        EXPECT_EQ(32, bitmap.bmHeight);
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
    };
    dlg.DoModal();
    EXPECT_TRUE(inspected);
}

TEST(MainDialogTest, CommandLineNamesTheToolBesideThisExecutable) {
    CProbeDlg dlg;
    dlg.SetSource("C:\\v\\clip.mp4", "C:\\v\\clip-NEW.mp4");
    const CString folder = JobExeFolder(AfxGetModuleFileName());
    ASSERT_FALSE(folder.IsEmpty());
    EXPECT_EQ(CString("\"") + folder +
                  "tool\\MP4Box.exe\" -itags \"Name=clip\" -add \"C:\\v\\clip.mp4\" -new "
                  "\"C:\\v\\clip-NEW.mp4\" ",
              dlg.BuildCommandLine());
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

std::string Caption(HWND hwnd) {
    char text[512] = "";
    ::GetWindowTextA(hwnd, text, sizeof(text));
    return text;
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

HWND s_hDialog = nullptr;
std::string s_strAtDestroy;

LRESULT CALLBACK NoteCaptionAtDestroy(int code, WPARAM wParam, LPARAM lParam) {
    const auto* msg = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && msg->message == WM_DESTROY && msg->hwnd == s_hDialog)
        s_strAtDestroy = Caption(msg->hwnd);
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// Closing the window mid-run: the caption is the original when the window goes, and the
// taskbar button is cleared while it still exists.
TEST(RunProgressTest, ClosingMidRunRestoresTheCaptionBeforeTheWindowGoes) {
    char temp[MAX_PATH + 1] = "";
    ::GetTempPathA(sizeof(temp), temp);
    const std::string source = std::string(temp) + "progress-clip.mp4";
    ASSERT_TRUE(WriteSmallMp4(source));
    ::SetEnvironmentVariableA("STANDIN_MODE",
                              "output=none;progresserr;progress=4;pause=3000;sleep=20000");

    s_hDialog = nullptr;
    s_strAtDestroy = "(not destroyed)";
    const HHOOK hook = ::SetWindowsHookExA(WH_CALLWNDPROCRET, &NoteCaptionAtDestroy, nullptr,
                                           ::GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);

    std::vector<std::string> calls;
    std::string original, during;
    {
        CProbeDlg dlg;
        dlg.inspect = [&](CProbeDlg& d) {
            d.SetSource(source.c_str(), (source + "-NEW.mp4").c_str());
            s_hDialog = d.m_hWnd;
            d.Progress().SetTaskbarForTest(std::make_unique<CFakeTaskbar>(&calls));
            original = Caption(d.m_hWnd);
            d.PressGo();
            PumpUntil([&] { return Caption(d.m_hWnd) != original; }, 15000);
            during = Caption(d.m_hWnd);
        };
        dlg.DoModal();
    }
    ::UnhookWindowsHookEx(hook);
    ::SetEnvironmentVariableA("STANDIN_MODE", nullptr);
    ::DeleteFileA(source.c_str());

    EXPECT_EQ("0% Importing ISO File - " + original, during);
    EXPECT_EQ(original, s_strAtDestroy);
}

// The run control on a window of its own, with the stand-in tool: what a run shows.

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
    std::string m_strOutput = "C:\\nowhere\\clip-NEW.mp4";
    bool m_bCloseAtTheEnd = false; // the window closes just before the verdict
    std::vector<bool> m_shownRunning;
    std::vector<std::string> m_messages;
    bool m_bThrowOnMessage = false;
    bool m_bForgeOutput = false;
    std::string m_strUnhandled;
    std::string m_strReference; // what the user picks when a rebuild asks for a reference
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
    bool AskRunQuestion(const CString& text, bool) override {
        m_messages.push_back(text.str());
        return true;
    }
    CString ChooseReference(const CString&) override { return m_strReference.c_str(); }
    void OnUnhandledException(const char* pszWhat) override { m_strUnhandled = pszWhat; }

    LRESULT OnStdioCommand(WPARAM, LPARAM) {
        m_run.Start(m_strCommand.c_str(), m_strOutput.c_str());
        return 0;
    }
    LRESULT OnRebuildNotify(WPARAM, LPARAM) {
        m_run.OnRebuildNotify();
        return 0;
    }
    LRESULT OnCopyData(WPARAM, LPARAM lParam) {
        CRunnerRecord record;
        if (m_bCloseAtTheEnd && m_runner.ReadRecord(lParam, &record) &&
            record.nCode == COPYDATA_FINISHED) {
            m_run.EndRunOnClose();
            return 0;
        }
        m_run.OnCopyData(lParam);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CRunWindow, CWnd)
ON_REGISTERED_MESSAGE(WMSTDIOCOMMAND, OnStdioCommand)
ON_REGISTERED_MESSAGE(WMREBUILDNOTIFY, OnRebuildNotify)
ON_MESSAGE(WM_COPYDATA, OnCopyData)
END_MESSAGE_MAP()

// With the system's taskbar object, as a user's run has it.
TEST(RunControlInProcess, AHandlerThatThrowsLeavesGoUsableAndForgedOutputIsIgnored) {
    const std::string exe = AfxGetModuleFileName().str();
    const std::string tool = exe.substr(0, exe.rfind('\\') + 1) + "tool\\MP4Box.exe";
    const char kOutput[] = "C:\\nowhere\\clip-NEW.mp4";
    const std::string source = TempPath("clip.mp4");
    ASSERT_TRUE(WriteSmallMp4(source));
    ASSERT_NE(nullptr, CTaskbarProgress::Create()) << "no taskbar object to be had";
    CRunWindow window;
    window.m_run.OnTaskbarButtonCreated();
    window.m_strCommand = "\"" + tool + "\" --mode \"sleep=300;errors=1;exit=2\"";
    window.m_bThrowOnMessage = true;
    window.m_bForgeOutput = true;

    window.m_run.Go(source.c_str(), kOutput, tool.c_str());
    ASSERT_TRUE(PumpUntil([&] { return !window.m_messages.empty(); }, 20000));
    EXPECT_EQ("Failed! Could not create new file C:\\nowhere\\clip-NEW.mp4\n"
              "The BOX program ended with exit code 2.\n\nError: something failed (1)",
              window.m_messages[0]);
    EXPECT_EQ("the view failed", window.m_strUnhandled);
    EXPECT_EQ((std::vector<bool>{true, false}), window.m_shownRunning);
    EXPECT_TRUE(window.m_run.IsIdle());

    // GO works again after the handler threw.
    window.m_run.Go(source.c_str(), kOutput, tool.c_str());
    ASSERT_TRUE(PumpUntil([&] { return window.m_messages.size() == 2; }, 20000));
    EXPECT_EQ(window.m_messages[0], window.m_messages[1]);
}

// The tool has ended and written its copy, but the window closes before the verdict: the copy
// nobody checked is removed, the source is left alone.
TEST(RunControlInProcess, ClosingAfterTheToolEndedButBeforeTheVerdictRemovesTheCopy) {
    const std::string exe = AfxGetModuleFileName().str();
    const std::string tool = exe.substr(0, exe.rfind('\\') + 1) + "tool\\MP4Box.exe";
    const std::string source = TempPath("gap.mp4");
    ASSERT_TRUE(WriteSmallMp4(source));
    CRunWindow window;
    window.m_strOutput = TempPath("gap-NEW.mp4");
    window.m_strCommand = "\"" + tool + "\" -add \"" + source + "\" -new \"" + window.m_strOutput +
                          "\" --mode \"output=copy\"";
    window.m_bCloseAtTheEnd = true;
    window.m_run.Go(source.c_str(), window.m_strOutput.c_str(), tool.c_str());
    ASSERT_TRUE(PumpUntil([&] { return window.m_run.IsIdle(); }, 300000));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(window.m_strOutput.c_str()))
        << "a copy that was never checked was left behind";
    EXPECT_EQ(SmallMp4(), ReadWholeFile(source));
    EXPECT_TRUE(window.m_messages.empty());
    ::DeleteFileA(source.c_str());
}

// A rebuild over the copy an earlier one made: after the user's Yes the earlier copy goes and a
// new file is made; a name that is the reference itself is never removed nor written. With the
// decoders the program lends the engine, a recording ffmpeg made (the decoder tests' media) and
// a cut of it, since they must play; without them, the engine's own small media.
TEST(RunControlInProcess, ARebuildReplacesAnEarlierCopyButNeverARecording) {
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
    {
        CRunWindow window;
        window.m_strReference = reference;
        window.m_run.OnSourceChosen(broken.c_str(), output.c_str());
        ASSERT_TRUE(PumpUntil([&] { return window.m_run.IsIdle(); }, 120000));
        ASSERT_EQ(3u, window.m_messages.size());
        EXPECT_EQ(output + " already exists. Replace it?", window.m_messages[1]);
        EXPECT_EQ(0u, window.m_messages[2].find("Done! Created new file ")) << window.m_messages[2];
        EXPECT_TRUE(CheckMp4File(output.c_str()).bValid);
    }
    {
        // The reference chosen is the very file at the copy's name.
        CRunWindow window;
        window.m_strReference = output;
        const std::string earlier = ReadWholeFile(output);
        window.m_run.OnSourceChosen(broken.c_str(), output.c_str());
        ASSERT_TRUE(PumpUntil([&] { return window.m_run.IsIdle(); }, 120000));
        ASSERT_EQ(3u, window.m_messages.size());
        EXPECT_NE(std::string::npos,
                  window.m_messages[2].find("The copy cannot be written over one of the "
                                            "recordings."))
            << window.m_messages[2];
        EXPECT_EQ(earlier, ReadWholeFile(output));
    }
    for (const std::string& path : {reference, broken, output})
        ::DeleteFileA(path.c_str());
}

// The rebuild engine as this build compiles it (32 or 64 bits): a picture NAL unit may be up
// to sixteen times the reference's largest sample, whatever that is.
TEST(RebuildOnThisBuild, NalUnitsAsLargeAsTheReferenceAllows) {
    CReferenceTrack reference;
    reference.nHandler = FourCC("vide");
    reference.entry.eCodec = ETrackCodec::Avc;
    reference.entry.nLengthSize = 4;
    reference.entry.parameterSets = {testmedia::Sps(), testmedia::Pps()};
    reference.nTimescale = 15360;
    reference.nTypicalDuration = 512;
    reference.nSamples = 1;
    reference.nMaxSampleSize = 256u << 20;
    CReferenceChunk chunk;
    chunk.nSamples = 1;
    reference.chunks.push_back(chunk);
    CWalkTrack track(reference, 0);
    ASSERT_EQ(EWalkKind::Video, track.Kind());
    std::vector<uint8_t> nal = testmedia::Slice(true, 0, 0, 0);
    nal.insert(nal.end(), 5u << 20, 0x5A);
    std::vector<uint8_t> sample;
    testmedia::AppendSample(&sample, {nal});
    CTrackTry found;
    track.Try(sample.data(), sample.size(), true, true, &found);
    EXPECT_EQ(ESampleParse::Ok, found.eResult);
    EXPECT_EQ(sample.size(), found.nSize);
}

// The copy is created new: not over a file, and not kept open to others' renames; a copy
// given up goes through its own handle.
TEST(RebuildOnThisBuild, TheCopyIsMadeNewAndRemovedThroughItsHandle) {
    const std::string path = TempPath("made.mp4");
    const std::string other = TempPath("other.mp4");
    ASSERT_TRUE(WriteBytes(path, "there before"));
    COutputFile output;
    EXPECT_FALSE(output.Create(path.c_str()));
    EXPECT_EQ("there before", ReadWholeFile(path));
    ASSERT_TRUE(::DeleteFileA(path.c_str()));
    ASSERT_TRUE(output.Create(path.c_str()));
    const uint8_t bytes[] = {1, 2, 3};
    EXPECT_TRUE(output.Write(bytes, sizeof bytes));
    CFileIdentity made, named;
    EXPECT_TRUE(output.Identity(&made));
    EXPECT_TRUE(FileIdentityOf(path.c_str(), &named));
    EXPECT_EQ(made, named);
    ASSERT_TRUE(WriteBytes(other, "another file"));
    EXPECT_FALSE(::MoveFileExA(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        << "the copy could be replaced while it was written";
    output.Remove();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(path.c_str()));
    EXPECT_EQ("another file", ReadWholeFile(other));
    ::DeleteFileA(other.c_str());
}

// The box readers on a real file of more than 4 GiB (sparse: only its boxes are written), with
// the 64-bit file positions the 32-bit program needs as much as the 64-bit one.
TEST(BoxReadersOnDisk, ReadBoxesPastFourGigabytes) {
    char temp[MAX_PATH + 1] = "";
    ::GetTempPathA(sizeof(temp), temp);
    const std::string path =
        std::string(temp) + "clipmend-5gb-" + std::to_string(::GetCurrentProcessId()) + ".mp4";
    auto box = [](const char* type, uint64_t size, bool bLarge) {
        std::string header(bLarge ? 16 : 8, '\0');
        const uint64_t field = bLarge ? 1 : size;
        for (int i = 0; i < 4; ++i)
            header[i] = static_cast<char>(field >> (24 - 8 * i));
        header.replace(4, 4, type);
        for (int i = 0; bLarge && i < 8; ++i)
            header[8 + i] = static_cast<char>(size >> (56 - 8 * i));
        return header;
    };
    // ftyp, a movie box with a movie header, media data up to 5 GiB, then one more box.
    std::string head = box("ftyp", 20, false) + "isom" + std::string(4, '\0') + "isom";
    std::string mvhd = box("mvhd", 108, false) + std::string(100, '\0');
    mvhd[8 + 14] = 0x03;
    mvhd[8 + 15] = static_cast<char>(0xE8); // time scale 1000
    head += box("moov", 8 + mvhd.size(), false) + mvhd;
    const uint64_t nMdat = (5ULL << 30) - head.size();
    head += box("mdat", nMdat, true);
    const std::string tail = box("free", 40, false) + std::string(32, '\0');
    const uint64_t nTailAt = head.size() - 16 + nMdat;
    {
        CFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file.get(), head.data(), static_cast<DWORD>(head.size()), &written,
                                nullptr));
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(nTailAt);
        ASSERT_TRUE(::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::WriteFile(file.get(), tail.data(), static_cast<DWORD>(tail.size()), &written,
                                nullptr));
    }
    EXPECT_TRUE(CheckMp4File(path.c_str()).bValid);
    EXPECT_EQ(ESourceKind::Mp4, CheckSourceFile(path.c_str()).eKind);
    // One byte short, and the box past 5 GiB runs past the end.
    {
        CFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(nTailAt + tail.size() - 1);
        ASSERT_TRUE(::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::SetEndOfFile(file.get()));
    }
    EXPECT_EQ(ESourceKind::Mp4CutShort, CheckSourceFile(path.c_str()).eKind);
    EXPECT_FALSE(CheckMp4File(path.c_str()).bValid);
    ::DeleteFileA(path.c_str());
}

} // namespace
