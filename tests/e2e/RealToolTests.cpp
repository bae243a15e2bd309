// GO with the real MP4Box on videos made with ffmpeg, whole and damaged the ways users' videos
// are. tests/e2e/real_tool.py makes the videos, runs these tests and then checks the new files
// with ffprobe; here is what a user sees: the messages, the caption, whether a run happened.
//   CLIPMEND_REAL_TOOL  the MP4Box.exe to put at tool\MP4Box.exe (a Windows path)
//   CLIPMEND_MEDIA      the folder of the videos
//   CLIPMEND_RESULTS    where each run's message (<name>.txt) and new file (<name>) are kept
//   CLIPMEND_REAL_FEW   set: the first video of each kind only (the emulated 32-bit runs)
// And the program an installer installed, which runs with the tool installed beside it:
//   CLIPMEND_INSTALLED_EXE  its Windows path; CLIPMEND_MEDIA as above
#include "tests/e2e/Captions.h"
#include "tests/support/Harness.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using e2e::CClipmend;
using e2e::MessageBoxInfo;

namespace {

const int kGo = IDOK;
const int kSourcePath = 1000;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool FileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// How many processes of that name run now.
int ProcessesNamed(const char* pszName) {
    CFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = snapshot && ::Process32First(snapshot.get(), &entry); more;
         more = ::Process32Next(snapshot.get(), &entry))
        count += _stricmp(entry.szExeFile, pszName) == 0;
    return count;
}

class RealTool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Env("CLIPMEND_REAL_TOOL").empty()) << "no MP4Box.exe given to run";
        ASSERT_FALSE(Env("CLIPMEND_MEDIA").empty()) << "no videos given";
        CClipmend::Options options;
        options.toolExe = Env("CLIPMEND_REAL_TOOL");
        app.reset(new CClipmend(options));
        ASSERT_TRUE(app->Start()) << app->Error();
    }

    // The videos of a kind, all of them or the first only.
    static std::vector<std::string> Few(std::vector<std::string> names) {
        if (!Env("CLIPMEND_REAL_FEW").empty())
            names.resize(1);
        return names;
    }

    // Copies the video into the program's folder and chooses it with OPEN.
    std::string Choose(const std::string& name) {
        const std::string source = app->CopyIn(Env("CLIPMEND_MEDIA") + "\\" + name, name);
        EXPECT_FALSE(source.empty()) << "no video " << name;
        EXPECT_TRUE(app->ChooseFile(source)) << app->Error();
        EXPECT_TRUE(e2e::WaitUntil([&] { return app->ControlText(kSourcePath) == source; }));
        return source;
    }

    std::string OutputOf(const std::string& name) const {
        return app->Folder() + "\\" + name.substr(0, name.rfind('.')) + "-NEW.mp4";
    }

    // Keeps the message and the new file for the checks with ffprobe.
    void Keep(const std::string& name, const std::string& message,
              const std::string& output = std::string()) {
        const std::string results = Env("CLIPMEND_RESULTS");
        if (results.empty())
            return;
        const std::string kept = results + "\\" + name;
        ::CopyFileA((output.empty() ? OutputOf(name) : output).c_str(), kept.c_str(), FALSE);
        app->MakeFile("message.txt", message);
        ::CopyFileA((app->Folder() + "\\message.txt").c_str(), (kept + ".txt").c_str(), FALSE);
    }

    // GO on the chosen video; the message that ends the run, with the captions on the way.
    // Screenshots of the progress and of the message when named.
    std::string Run(const std::string& name, const std::string& shot = std::string(),
                    const std::string& messageShot = std::string()) {
        const std::string original = e2e::WindowText(app->Main());
        app->ClickButton(kGo);
        MessageBoxInfo box;
        bool bShot = shot.empty();
        const std::vector<std::string> captions =
            e2e::CaptionsUntilMessage(*app, &box, [&](const std::string& caption) {
                if (!bShot && caption.find("% ") != std::string::npos) {
                    bShot = true;
                    e2e::SaveScreenshot(app->Main(), shot);
                }
            });
        // One percentage for the whole run, never falling, and the caption as it was after.
        e2e::CheckProgressCaptions(captions, original);
        EXPECT_EQ(original, e2e::WindowText(app->Main()));
        EXPECT_EQ("GO", app->ControlText(kGo));
        if (!messageShot.empty())
            e2e::SaveScreenshot(box.hwnd, messageShot);
        EXPECT_TRUE(app->PressOk(box));
        Keep(name, box.text);
        return box.text;
    }

    std::unique_ptr<CClipmend> app;
};

TEST_F(RealTool, WholeVideosAreRewritten) {
    const std::vector<std::string> names =
        Few({"whole-h264.mp4", "whole-mpeg4.mp4", "видео 1.mp4"});
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        Choose(name);
        EXPECT_FALSE(app->MessageBoxAppears(300)) << "a whole video was refused";
        EXPECT_EQ("Done! Created new file " + OutputOf(name),
                  Run(name, name == names[0] ? "real-tool-progress" : ""));
    }
}

// What no run can help: the message says what the file is, at OPEN and again at GO, and the
// tool is never started.
TEST_F(RealTool, FilesItDoesNotRunAreNamedForWhatTheyAre) {
    const std::vector<std::pair<std::string, std::string>> kinds{
        {"nomoov-size0.mp4", "nomoov-size0.mp4 was cut off before its index was written"},
        {"nomoov-pastend.mp4", "nomoov-pastend.mp4 was cut off before its index was written"},
        {"cut-in-moov.mp4", "cut-in-moov.mp4 holds no video"},
        {"matroska.mp4", "matroska.mp4 is a Matroska video, not an MP4 file."},
        {"._clip.mp4", "._clip.mp4 is no video: it is a macOS metadata file"},
        {"zeros.mp4", "zeros.mp4 holds nothing but zeros"},
        {"empty.mp4", "empty.mp4 is empty"},
    };
    const size_t nKinds = Env("CLIPMEND_REAL_FEW").empty() ? kinds.size() : 1;
    for (size_t i = 0; i < nKinds; ++i) {
        const std::string& name = kinds[i].first;
        SCOPED_TRACE(name);
        Choose(name);
        // A recording cut off before its index, which does not carry its settings, comes with
        // the offer of a search or a reference: Cancel here.
        const int close = name.rfind("nomoov", 0) == 0 ? IDCANCEL : IDOK;
        MessageBoxInfo box;
        ASSERT_TRUE(app->WaitForMessageBox(&box)) << app->Error();
        EXPECT_EQ(0u, box.text.find(kinds[i].second)) << box.text;
        e2e::SaveScreenshot(box.hwnd, "refused-" + name.substr(0, name.rfind('.')));
        EXPECT_TRUE(app->PressButton(box, close));
        // At GO again: the file may have changed since.
        app->ClickButton(kGo);
        ASSERT_TRUE(app->WaitForMessageBox(&box)) << app->Error();
        EXPECT_EQ(0u, box.text.find(kinds[i].second)) << box.text;
        EXPECT_TRUE(app->PressButton(box, close));
        EXPECT_EQ("GO", app->ControlText(kGo));
        EXPECT_TRUE(app->IsControlEnabled(kGo));
        EXPECT_FALSE(FileExists(OutputOf(name))) << "the tool ran";
    }
}

// Damaged, but with what the tool can save; and kinds it converts.
TEST_F(RealTool, WhatCanBeSavedIsSavedAndSaysHowMuch) {
    const std::vector<std::pair<std::string, std::string>> kinds{
        {"faststart-cut.mp4", "The new file holds "},
        {"fragmented-cut.mp4", "The new file holds "},
        {"mpegts.mp4", "mpegts.mp4 was an MPEG-TS video; the new file is an MP4 file."},
        {"avi.mp4", "avi.mp4 was an AVI video; the new file is an MP4 file."},
    };
    const size_t nKinds = Env("CLIPMEND_REAL_FEW").empty() ? kinds.size() : 1;
    for (size_t i = 0; i < nKinds; ++i) {
        const std::string& name = kinds[i].first;
        SCOPED_TRACE(name);
        Choose(name);
        EXPECT_FALSE(app->MessageBoxAppears(300)) << "refused at OPEN";
        const bool bPart = kinds[i].second.find("holds") != std::string::npos;
        const std::string text = Run(name, "", i == 0 ? "saved-in-part" : "");
        EXPECT_EQ((bPart ? "Saved what was left! Created new file " : "Done! Created new file ") +
                      OutputOf(name) + "\n" + kinds[i].second,
                  text.substr(0, text.find('\n') + 1 + kinds[i].second.size()));
    }
}

// A camera's recording cut off before its index that carries its own records is rebuilt as soon
// as it is chosen, with no question: the message names what was taken from it.
TEST_F(RealTool, ARecordingThatHoldsItsOwnIndexIsRebuiltWithNoQuestion) {
    const std::string name = "gopro-cut.mp4";
    ::DeleteFileA(OutputOf(name).c_str());
    Choose(name);
    MessageBoxInfo box;
    ASSERT_TRUE(app->WaitForMessageBox(&box)) << app->Error();
    EXPECT_EQ(
        0u, box.text.find("Done! Created new file " + OutputOf(name) + "\n" + name + " rebuilt: "))
        << box.text;
    EXPECT_NE(std::string::npos,
              box.text.find("\nH.264 Main, 848x480, 29.97 fps, AAC-LC 48 kHz stereo, taken from "
                            "the recording itself (the records of its camera, a GoPro Max).\n"))
        << box.text;
    EXPECT_NE(std::string::npos, box.text.find("\nIt plays from start to end: ")) << box.text;
    e2e::SaveScreenshot(box.hwnd, "rebuild-alone");
    EXPECT_TRUE(app->PressOk(box));
    EXPECT_TRUE(FileExists(OutputOf(name)));
}

// A recording cut off before its index whose video does not carry its settings: at Yes to the
// offer, they are searched for with the decoders, and the message says what was found, how,
// and what decoding could not check.
TEST_F(RealTool, ARecordingWithoutItsSettingsIsRebuiltBySearchAtYes) {
    const std::string name = "nomoov-size0.mp4";
    ::DeleteFileA(OutputOf(name).c_str());
    Choose(name);
    MessageBoxInfo box;
    ASSERT_TRUE(app->WaitForMessageBox(&box)) << app->Error();
    ASSERT_TRUE(app->PressButton(box, IDYES));
    const std::vector<std::string> captions = e2e::CaptionsUntilMessage(*app, &box);
    e2e::CheckProgressCaptions(captions, "Velmora Clipmend - ONE Click");
    EXPECT_EQ(0u, box.text.find("Done! Created new file " + OutputOf(name))) << box.text;
    EXPECT_NE(std::string::npos, box.text.find(", 640x360, ")) << box.text;
    EXPECT_NE(std::string::npos,
              box.text.find("taken from the recording itself (found by a search and checked by "
                            "decoding"))
        << box.text;
    EXPECT_NE(std::string::npos, box.text.find("\nIt plays from start to end: ")) << box.text;
    e2e::SaveScreenshot(box.hwnd, "rebuild-search");
    EXPECT_TRUE(app->PressOk(box));
    Keep("searched-" + name, box.text, OutputOf(name));
}

// A recording cut off before its index, rebuilt from a whole one made the same way: the offer,
// the choice of the reference, the run with its progress, the message with the decoders'
// verdict on the copy; and references made another way or at another size, refused with the
// difference named and nothing written.
TEST_F(RealTool, ARecordingCutOffBeforeItsIndexIsRebuiltFromOneMadeTheSameWay) {
    const std::vector<std::pair<std::string, std::string>> references{
        {"reference-h264.mp4", "Done! Created new file "},
        {"reference-hevc.mp4", "Cannot rebuild nomoov-size0.mp4 from reference-hevc.mp4.\n"},
        {"reference-720.mp4", "Cannot rebuild nomoov-size0.mp4 from reference-720.mp4.\nThe "
                              "recording's video is 640x360: it is not 1280x720 like the "
                              "reference's.\n"},
    };
    const size_t nCases = Env("CLIPMEND_REAL_FEW").empty() ? references.size() : 1;
    const std::string name = "nomoov-size0.mp4";
    for (size_t i = 0; i < nCases; ++i) {
        SCOPED_TRACE(references[i].first);
        ::DeleteFileA(OutputOf(name).c_str());
        const std::string reference =
            app->CopyIn(Env("CLIPMEND_MEDIA") + "\\" + references[i].first, references[i].first);
        Choose(name);
        MessageBoxInfo box;
        ASSERT_TRUE(app->WaitForMessageBox(&box)) << app->Error();
        EXPECT_EQ(0u, box.text.find(name + " was cut off before its index was written"))
            << box.text;
        EXPECT_NE(std::string::npos,
                  box.text.find("Search for the settings now? Choose No to rebuild it from such "
                                "a recording."))
            << box.text;
        EXPECT_EQ((std::vector<std::string>{"&Yes", "&No", "Cancel"}), box.buttons);
        if (i == 0)
            e2e::SaveScreenshot(box.hwnd, "rebuild-offer");
        ASSERT_TRUE(app->PressButton(box, IDNO));
        ASSERT_TRUE(app->ChooseInOpenDialog("A whole recording made the same way as " + name,
                                            reference, i == 0 ? "rebuild-reference" : ""))
            << app->Error();

        const std::string original = "Velmora Clipmend - ONE Click";
        const std::vector<std::string> captions = e2e::CaptionsUntilMessage(*app, &box);
        e2e::CheckProgressCaptions(captions, original);
        EXPECT_EQ(original, e2e::WindowText(app->Main()));
        EXPECT_EQ("GO", app->ControlText(kGo));
        EXPECT_EQ(0u, box.text.find(references[i].second)) << box.text;
        if (i == 0) {
            EXPECT_NE(std::string::npos, box.text.find(name + " rebuilt: ")) << box.text;
            EXPECT_NE(std::string::npos, box.text.find("\nIt plays from start to end: "))
                << box.text;
            EXPECT_EQ(std::string::npos, box.text.find("Damaged")) << box.text;
            e2e::SaveScreenshot(box.hwnd, "rebuild-done");
        } else {
            EXPECT_NE(std::string::npos, box.text.find("Nothing was written.")) << box.text;
            EXPECT_FALSE(FileExists(OutputOf(name))) << "a refused rebuild wrote a file";
            if (i == 2)
                e2e::SaveScreenshot(box.hwnd, "rebuild-other-size");
        }
        EXPECT_TRUE(app->PressOk(box));
        if (i == 0)
            Keep("rebuilt-" + name, box.text, OutputOf(name));
    }

    // Closing the window mid-rebuild ends the rebuild tool and removes the copy it began (or
    // had finished without its message).
    ::DeleteFileA(OutputOf(name).c_str());
    MessageBoxInfo box;
    ASSERT_TRUE(app->ChooseFile(app->Folder() + "\\" + name)) << app->Error();
    ASSERT_TRUE(app->WaitForMessageBox(&box)) << app->Error();
    ASSERT_TRUE(app->PressButton(box, IDNO));
    ASSERT_TRUE(app->ChooseInOpenDialog("A whole recording made the same way as " + name,
                                        app->Folder() + "\\reference-h264.mp4"))
        << app->Error();
    ASSERT_TRUE(e2e::WaitUntil([] { return ProcessesNamed("ClipmendRebuild.exe") > 0; }));
    ASSERT_TRUE(::PostMessageA(app->Main(), WM_CLOSE, 0, 0));
    EXPECT_TRUE(app->WaitForExit(e2e::kTimeoutMs)) << "the program did not end";
    EXPECT_TRUE(e2e::WaitUntil([] { return ProcessesNamed("ClipmendRebuild.exe") == 0; }, 10000))
        << "the rebuild tool runs on";
    EXPECT_FALSE(FileExists(OutputOf(name))) << "the rebuild's copy was left behind";
}

// The installed program, started from the Start menu's target, runs a video end to end with
// the MP4Box installed beside it.
TEST(Installed, RunsAVideoEndToEnd) {
    ASSERT_FALSE(Env("CLIPMEND_INSTALLED_EXE").empty()) << "no installed program given";
    CClipmend::Options options;
    options.installedExe = Env("CLIPMEND_INSTALLED_EXE");
    CClipmend app(options);
    ASSERT_TRUE(app.Start()) << app.Error();
    const std::string source =
        app.CopyIn(Env("CLIPMEND_MEDIA") + "\\whole-h264.mp4", "whole-h264.mp4");
    ASSERT_TRUE(app.ChooseFile(source)) << app.Error();
    app.ClickButton(kGo);
    MessageBoxInfo box;
    ASSERT_TRUE(app.WaitForMessageBox(&box)) << app.Error();
    const std::string output = app.Folder() + "\\whole-h264-NEW.mp4";
    EXPECT_EQ("Done! Created new file " + output, box.text);
    EXPECT_TRUE(app.PressOk(box));
    EXPECT_TRUE(FileExists(output));
    EXPECT_TRUE(app.Close()) << app.Error();
}

} // namespace
