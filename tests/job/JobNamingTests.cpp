#include "job/Job.h"
#include "tests/core/CodePage.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace {

struct Job {
    CString output;
    CString nameTag;
};

// What choosing `source` in the file dialog makes of it.
Job JobFor(const CString& source) {
    return {MakeJob(source, "D:\\app\\Clipmend.exe").strOutput, JobNameTag(source)};
}

struct NamingCase {
    const char* source;
    const char* output;
    const char* nameTag;
};

void ExpectNaming(std::initializer_list<NamingCase> cases) {
    for (const NamingCase& c : cases) {
        SCOPED_TRACE(c.source);
        const Job job = JobFor(c.source);
        EXPECT_EQ(job.output, c.output);
        EXPECT_EQ(job.nameTag, c.nameTag);
    }
}

} // namespace

TEST(JobNamingTest, OutputAndNameTagOfTheDocumentedExamples) {
    ExpectNaming({
        {"C:\\v\\clip.mp4", "C:\\v\\clip-NEW.mp4", "clip"},
        {"C:\\v\\Clip.MP4", "C:\\v\\Clip-NEW.mp4", "Clip"},
        {"C:\\my.videos\\clip", "C:\\my.videos\\clip-NEW.mp4", ""},
        {"C:\\v\\movie.mpeg4", "C:\\v\\movie-NEW.mp4", "movie.m"},
        {"C:\\v\\a.mp4", "C:\\v\\a-NEW.mp4", "a"},
        {"C:\\v\\.mp4", "C:\\v\\-NEW.mp4", ""},
        {"C:\\v\\abcd", "C:\\v\\abcd-NEW.mp4", ""},
    });
}

TEST(JobNamingTest, NameTagDropsFourCharactersNeverPartOfOne) {
    const auto utf8 = CCodePageScope::Utf8();
    // Cyrillic (two bytes a letter), Chinese (three), an emoji outside the BMP (four), in a
    // folder named in two scripts; with ".mp4" and with four or five letters of no extension.
    ExpectNaming({
        {"C:\\Отпуск 旅行\\видео.mp4", "C:\\Отпуск 旅行\\видео-NEW.mp4", "видео"},
        {"C:\\Отпуск 旅行\\旅行.mp4", "C:\\Отпуск 旅行\\旅行-NEW.mp4", "旅行"},
        {"C:\\Отпуск 旅行\\beach 🌊.mp4", "C:\\Отпуск 旅行\\beach 🌊-NEW.mp4", "beach 🌊"},
        {"C:\\v.1\\видео", "C:\\v.1\\видео-NEW.mp4", "в"},
        {"C:\\v.1\\旅行旅行旅", "C:\\v.1\\旅行旅行旅-NEW.mp4", "旅"},
        {"C:\\v.1\\🌊a🌊🌊🌊", "C:\\v.1\\🌊a🌊🌊🌊-NEW.mp4", "🌊"},
        {"C:\\v.1\\🌊🌊🌊🌊", "C:\\v.1\\🌊🌊🌊🌊-NEW.mp4", ""},
    });

    // The double-byte rule where the code page is a double-byte one: five Shift-JIS
    // characters whose trail bytes look like backslashes keep one whole character.
    const auto sjis = CCodePageScope::ShiftJis();
    const CString sjisSource("C:\\v.1\\\x95\x5C\x95\x5C\x95\x5C\x95\x5C\x95\x5C");
    EXPECT_EQ(JobNameTag(sjisSource), "\x95\x5C");
    EXPECT_EQ(JobFor(sjisSource).output, sjisSource + "-NEW.mp4");
}

TEST(JobNamingTest, UncRootSpacesAndPercent) {
    Job job = JobFor("\\\\server\\share\\my clips\\take 1.mp4");
    EXPECT_EQ(job.output, "\\\\server\\share\\my clips\\take 1-NEW.mp4");
    EXPECT_EQ(job.nameTag, "take 1");

    // A file in a drive's root: the folder is the bare drive, the output lands beside it.
    job = JobFor("D:\\clip.mp4");
    EXPECT_EQ(job.output, "D:\\clip-NEW.mp4");
    EXPECT_EQ(job.nameTag, "clip");

    // '%' is legal in file names and must come through untouched.
    job = JobFor("C:\\100%\\%s%n%d.mp4");
    EXPECT_EQ(job.output, "C:\\100%\\%s%n%d-NEW.mp4");
    EXPECT_EQ(job.nameTag, "%s%n%d");
}

TEST(JobNamingTest, LongPathsAreNeverCut) {
    std::string folder = "\\\\?\\C:";
    while (folder.size() < 32000)
        folder += "\\" + std::string(200, 'd');
    const CString source = CString(folder) + "\\clip.mp4";
    const Job job = JobFor(source);
    EXPECT_EQ(job.output, CString(folder) + "\\clip-NEW.mp4");
    EXPECT_EQ(job.nameTag, "clip");

    const CString module = CString(folder) + "\\Clipmend.exe";
    EXPECT_EQ(JobToolPath(JobExeFolder(module)), CString(folder) + "\\tool\\MP4Box.exe");
}

TEST(JobNamingTest, ExeFolderKeepsItsBackslash) {
    EXPECT_EQ(JobExeFolder("D:\\app\\Clipmend.exe"), "D:\\app\\");
    EXPECT_EQ(JobExeFolder("Clipmend.exe"), "");
    EXPECT_EQ(JobToolPath(JobExeFolder("D:\\app\\Clipmend.exe")), "D:\\app\\tool\\MP4Box.exe");
}

TEST(JobNamingTest, CommandLineIsExactToTheTrailingSpace) {
    const CJob job = MakeJob("C:\\v\\clip.mp4", "D:\\app\\Clipmend.exe");
    EXPECT_EQ(job.strCommandLine, "\"D:\\app\\tool\\MP4Box.exe\" -itags \"Name=clip\" -add "
                                  "\"C:\\v\\clip.mp4\" -new \"C:\\v\\clip-NEW.mp4\" ");
    EXPECT_EQ(job.strToolFolder, "D:\\app\\tool");
    EXPECT_EQ(job.strSourceName, "clip.mp4");

    // An empty name tag leaves "Name=" alone; percent signs are data, not patterns.
    const CString odd = "C:\\50%\\a%s.mp4";
    EXPECT_EQ(JobCommandLine("T.exe", JobNameTag("C:\\v\\.mp4"), odd, "O%d.mp4"),
              "\"T.exe\" -itags \"Name=\" -add \"C:\\50%\\a%s.mp4\" -new \"O%d.mp4\" ");
}
