// Results a user can trust: "Done!" only for a sound new file, failures that say why, a file
// dropped on the window taken as if chosen with OPEN, and names in any script kept whole.
#include "tests/support/Harness.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using e2e::CClipmend;
using e2e::MessageBoxInfo;

namespace {

const int kGo = IDOK;
const int kSourcePath = 1000;

class ResultTest : public ::testing::Test {
protected:
    void Start(const std::string& standinMode) {
        CClipmend::Options options;
        options.standinMode = standinMode;
        app.reset(new CClipmend(options));
        ASSERT_TRUE(app->Start()) << app->Error();
    }

    // OPEN clip.mp4, GO, and the text of the message that ends the run.
    std::string RunClip() {
        const std::string source = app->MakeFile("clip.mp4");
        output = app->Folder() + "\\clip-NEW.mp4";
        EXPECT_TRUE(app->ChooseFile(source));
        EXPECT_TRUE(e2e::WaitUntil([&] { return app->ControlText(kSourcePath) == source; }));
        app->ClickButton(kGo);
        MessageBoxInfo box;
        EXPECT_TRUE(app->WaitForMessageBox(&box));
        // An earlier run's copy is replaced only when the user says so.
        if (box.text == output + " already exists. Replace it?") {
            EXPECT_TRUE(app->PressButton(box, IDYES));
            EXPECT_TRUE(app->WaitForMessageBox(&box));
        }
        EXPECT_TRUE(app->PressOk(box));
        return box.text;
    }

    std::string Failed(const std::string& reason) const {
        return "Failed! Could not create new file " + output + "\n" + reason;
    }

    // Drops files on the main window the way the shell does: a DROPFILES block of UTF-16
    // names in a global memory object, posted as WM_DROPFILES. The block is written into the
    // program's own memory, where its HDROP must live. Names are given in UTF-8.
    void Drop(const std::vector<std::string>& files) {
        std::wstring names;
        for (const std::string& file : files) {
            const int n = ::MultiByteToWideChar(CP_UTF8, 0, file.c_str(), -1, nullptr, 0);
            ASSERT_GT(n, 0);
            std::wstring wide(static_cast<size_t>(n), L'\0');
            ::MultiByteToWideChar(CP_UTF8, 0, file.c_str(), -1, &wide[0], n);
            names += wide; // with its terminating zero
        }
        names += L'\0';
        DROPFILES header{};
        header.pFiles = sizeof(header);
        header.fWide = TRUE;
        std::string block(reinterpret_cast<const char*>(&header), sizeof(header));
        block.append(reinterpret_cast<const char*>(names.data()), names.size() * sizeof(wchar_t));
        void* remote = ::VirtualAllocEx(app->Process(), nullptr, block.size(),
                                        MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        ASSERT_NE(nullptr, remote);
        SIZE_T written = 0;
        ASSERT_TRUE(
            ::WriteProcessMemory(app->Process(), remote, block.data(), block.size(), &written));
        ASSERT_TRUE(::PostMessageA(app->Main(), WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0));
    }

    std::unique_ptr<CClipmend> app;
    std::string output;
};

TEST_F(ResultTest, DoneOnlyForAWellFormedFile) {
    Start("output=good");
    EXPECT_EQ("Done! Created new file " + app->Folder() + "\\clip-NEW.mp4", RunClip());
    // Written again seconds later, the same file is new again, not taken for the earlier one.
    EXPECT_EQ("Done! Created new file " + app->Folder() + "\\clip-NEW.mp4", RunClip());
}

// FAT keeps write times in steps of two seconds: a copy written again within the step of the
// last one has the same time, size and all. It is still the run's new file. The step is a
// minute ahead, as a file server's clock may be, so that it is still recent when GO is
// pressed however slowly the Open dialog comes and goes.
TEST_F(ResultTest, ARewriteWithinOneStepOfACoarseClockIsStillANewFile) {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const unsigned long long step = 20000000ull;
    const unsigned long long ahead = 30 * step;
    const unsigned long long time =
        ((((static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime) +
          ahead) /
         step) *
        step;
    Start("output=good;settime=" + std::to_string(time));
    const std::string earlier = app->MakeFile("clip-NEW.mp4");
    CFileHandle file(::CreateFileA(earlier.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    const FILETIME ft{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    ASSERT_TRUE(::SetFileTime(file.get(), nullptr, nullptr, &ft));
    file.reset();
    EXPECT_EQ("Done! Created new file " + app->Folder() + "\\clip-NEW.mp4", RunClip());
}

TEST_F(ResultTest, AnEarlierOutputTheToolLeftAsItWasIsNoNewFile) {
    // The tool writes the file once; the next time it exits 0 without writing.
    Start("output=good;keep");
    EXPECT_EQ("Done! Created new file " + app->Folder() + "\\clip-NEW.mp4", RunClip());
    EXPECT_EQ(Failed("The BOX program ended without writing the new file."), RunClip());
}

TEST_F(ResultTest, AToolTheSystemCouldNotLoadIsNotCalledACrash) {
    Start("output=none;exit=0xC0000135");
    EXPECT_EQ(Failed("The BOX program could not be loaded (exception 0xC0000135): a DLL it "
                     "needs is missing or does not fit. Copy the DLLs that come with MP4Box "
                     "into the tool folder beside Clipmend."),
              RunClip());
}

TEST_F(ResultTest, LinesOfTheToolsTwoStreamsAreNeverSpliced) {
    Start("output=none;interleave=4;exit=1");
    const std::string text = RunClip();
    const std::string head = Failed("The BOX program ended with exit code 1.\n\n");
    ASSERT_EQ(head, text.substr(0, head.size())) << text;
    std::vector<std::string> lines;
    for (size_t at = head.size(); at <= text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(3u, lines.size()) << text;
    for (const std::string& line : lines) {
        bool printed = false;
        for (const char* stream : {"stdout", "stderr"}) {
            for (int i = 1; i <= 4; ++i)
                printed = printed || line == std::string("Error: ") + stream + " line " +
                                                 std::to_string(i) + " of the tool";
        }
        EXPECT_TRUE(printed) << "a line the tool never printed: " << line;
    }
}

TEST_F(ResultTest, TruncatedFileIsAFailureThatSaysWhy) {
    Start("output=truncated");
    EXPECT_EQ(Failed("The new file is cut short: a box runs past its end."), RunClip());
}

TEST_F(ResultTest, NonMp4FileIsAFailure) {
    Start("output=notmp4");
    EXPECT_EQ(Failed("The new file is not an MP4 file."), RunClip());
}

TEST_F(ResultTest, NoFileAtAllIsAFailure) {
    Start("output=none");
    EXPECT_EQ(Failed("The new file does not exist."), RunClip());
}

TEST_F(ResultTest, FailureShowsTheToolsLastErrorLinesNotItsProgress) {
    Start("output=good;progress=50;errors=5;exit=1");
    EXPECT_EQ(Failed("The BOX program ended with exit code 1.\n\n"
                     "Error: something failed (3)\n"
                     "Error: something failed (4)\n"
                     "Error: something failed (5)"),
              RunClip());
}

TEST_F(ResultTest, ErrorsPrintedBeforeASuccessfulExitStillFailABadFile) {
    Start("output=truncated;errors=1");
    EXPECT_EQ(Failed("The new file is cut short: a box runs past its end.\n\n"
                     "Error: something failed (1)"),
              RunClip());
}

TEST_F(ResultTest, ADroppedFileIsTakenAsIfChosenWithOpen) {
    Start("output=good");
    const std::string dropped = app->MakeFile("dropped clip.mp4");
    Drop({dropped});
    ASSERT_TRUE(e2e::WaitUntil([&] { return app->ControlText(kSourcePath) == dropped; }));
    EXPECT_FALSE(app->MessageBoxAppears(300));

    app->ClickButton(kGo);
    MessageBoxInfo box;
    ASSERT_TRUE(app->WaitForMessageBox(&box));
    EXPECT_EQ("Done! Created new file " + app->Folder() + "\\dropped clip-NEW.mp4", box.text);
    EXPECT_TRUE(app->PressOk(box));
    EXPECT_NE(std::string::npos, app->ReadStandinLog().find("-itags \"Name=dropped clip\""));
}

TEST_F(ResultTest, SeveralDroppedFilesTakeTheFirstAndSaySo) {
    Start("output=good");
    const std::string first = app->MakeFile("first.mp4");
    const std::string second = app->MakeFile("second.mp4");
    Drop({first, second});
    MessageBoxInfo box;
    ASSERT_TRUE(app->WaitForMessageBox(&box));
    EXPECT_EQ("Clipmend fixes one file at a time. Only the first of the 2 files dropped is "
              "taken:\n" +
                  first,
              box.text);
    EXPECT_TRUE(app->PressOk(box));
    EXPECT_TRUE(e2e::WaitUntil([&] { return app->ControlText(kSourcePath) == first; }));
}

TEST_F(ResultTest, DroppedNamesGetTheSameChecksAsOpen) {
    Start("");
    const std::string noDot = app->MakeFile("noext");
    Drop({noDot});
    MessageBoxInfo box;
    ASSERT_TRUE(app->WaitForMessageBox(&box));
    EXPECT_EQ("The input is invalid", box.text);
    EXPECT_TRUE(app->PressOk(box));
    EXPECT_EQ("", app->ControlText(kSourcePath));

    // A folder is no video, even with a dot in its name; GO afterwards does nothing.
    app->MakeFile("my.videos\\inside.txt", "x");
    Drop({app->Folder() + "\\my.videos"});
    ASSERT_TRUE(app->WaitForMessageBox(&box));
    EXPECT_EQ("The input is invalid", box.text);
    EXPECT_TRUE(app->PressOk(box));
    app->ClickButton(kGo);
    EXPECT_FALSE(app->MessageBoxAppears(1000));
    EXPECT_TRUE(app->ReadStandinLog().empty());
}

// The names a Western code page lacks: the Open dialog and a drop give them whole, the tool
// is handed them exactly, and the new file gets its right name beside the source.
TEST_F(ResultTest, NamesInAnyScriptComeThroughWhole) {
    // The driver speaks UTF-8 through its ANSI calls, as Clipmend does, by its manifest.
    ASSERT_EQ(65001u, ::GetACP());
    Start("output=good");
    const std::string folder = app->Folder() + "\\Отпуск 旅行";
    const std::pair<std::string, std::string> names[] = {
        {"видео.mp4", "видео"}, {"旅行.mp4", "旅行"}, {"beach 🌊.mp4", "beach 🌊"}};
    int shots = 0;
    for (const auto& [file, title] : names) {
        const std::string source = app->MakeFile("Отпуск 旅行\\" + file);
        ASSERT_EQ(folder + "\\" + file, source);
        output = folder + "\\" + title + "-NEW.mp4";
        for (const bool bDrop : {false, true}) {
            SCOPED_TRACE((bDrop ? "dropped " : "opened ") + file);
            ::DeleteFileA(app->StandinLogPath().c_str());
            if (bDrop)
                Drop({source});
            else
                ASSERT_TRUE(app->ChooseFile(source)) << app->Error();
            ASSERT_TRUE(e2e::WaitUntil([&] { return app->ControlText(kSourcePath) == source; }))
                << app->ControlText(kSourcePath);
            if (!bDrop)
                e2e::SaveScreenshot(app->Main(), "name-in-any-script-" + std::to_string(++shots));

            app->ClickButton(kGo);
            MessageBoxInfo box;
            ASSERT_TRUE(app->WaitForMessageBox(&box)) << app->Error();
            EXPECT_EQ("Done! Created new file " + output, box.text);
            EXPECT_TRUE(app->PressOk(box));
            EXPECT_EQ("\"" + app->Folder() + "\\tool\\MP4Box.exe\" -itags \"Name=" + title +
                          "\" -add \"" + source + "\" -new \"" + output + "\" ",
                      app->ReadStandinLog());
            EXPECT_TRUE(::DeleteFileA(output.c_str())) << "no file at " << output;
        }
        ::DeleteFileA(source.c_str());
    }
}

} // namespace
