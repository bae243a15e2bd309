#include "framework/CString.h"
#include "framework/FileName.h"
#include "tests/core/CodePage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

TEST(CStringTest, SubstringsClampLikeTheFramework) {
    const CString s("abcdef");
    EXPECT_EQ(s.Left(-3), "");
    EXPECT_EQ(s.Left(99), "abcdef");
    EXPECT_EQ(s.Mid(4), "ef");
    EXPECT_EQ(s.Mid(99), "");
    EXPECT_EQ(s.Mid(-2, 3), "abc");
    EXPECT_EQ(s.Mid(2, -1), "");
    EXPECT_EQ(s.Right(2), "ef");
    EXPECT_EQ(s.Right(99), "abcdef");
}

TEST(CStringTest, FormatGrowsToAnyLengthAndKeepsPercentInArguments) {
    const std::string longText(100000, 'x');
    CString s;
    s.Format("[%s]", longText.c_str());
    EXPECT_EQ(s.GetLength(), 100002);
    s.Format("%s-NEW", "100% real %s %n");
    EXPECT_EQ(s, "100% real %s %n-NEW");
}

TEST(CStringTest, ValueSemantics) {
    CString a("one");
    CString b = a;
    b += "two";
    EXPECT_EQ(a, "one");
    EXPECT_EQ(b, "onetwo");
    CString c(nullptr);
    EXPECT_TRUE(c.IsEmpty());
}

TEST(CStringTest, ShiftJisTrailBytesThatLookLikeBackslashAreNoBackslash) {
    const auto sjis = CCodePageScope::ShiftJis();
    // "C:\<0x95 0x5C>" : the second backslash is the trail byte of a double-byte character.
    const CString path("C:\\v\\\x95\x5C.mp4");
    EXPECT_EQ(path.ReverseFind('\\'), 4);
    EXPECT_EQ(path.Find('\\', 5), -1);
    EXPECT_EQ(AfxFileNameOf(path), "\x95\x5C.mp4");
    EXPECT_EQ(AfxFileTitleOf(path), "\x95\x5C");
    EXPECT_EQ(path.GetCharCount(), 10);
    EXPECT_EQ(path.LeftChars(6), "C:\\v\\\x95\x5C");
}

TEST(CStringTest, Utf8CharactersAreWholeSequences) {
    const auto utf8 = CCodePageScope::Utf8();
    // "a", then characters of two, three and four bytes: "aЖ旅🌊".
    const CString s("a\xD0\x96\xE6\x97\x85\xF0\x9F\x8C\x8A");
    EXPECT_EQ(s.GetCharCount(), 4);
    const char* const prefixes[] = {"", "a", "a\xD0\x96", "a\xD0\x96\xE6\x97\x85",
                                    "a\xD0\x96\xE6\x97\x85\xF0\x9F\x8C\x8A"};
    for (int n = -1; n <= 5; ++n)
        EXPECT_EQ(s.LeftChars(n), prefixes[std::clamp(n, 0, 4)]) << n;

    // A sequence cut short, by the text's end or by a byte that does not continue it, and a
    // stray continuation byte each stay one unit.
    EXPECT_EQ(CString::CharLengthAt("\xF0\x9F\x8C\x8A", 3), 3u);
    EXPECT_EQ(CString::CharLengthAt("\xF0\x9F!!", 4), 2u);
    EXPECT_EQ(CString::CharLengthAt("\x8C\x8A", 2), 1u);
    EXPECT_EQ(CString::CharLengthAt("\xFF\x80", 2), 1u);
}

TEST(FileNameTest, TitleDropsOnlyTheLastExtension) {
    EXPECT_EQ(AfxFileTitleOf("C:\\v\\clip.mp4"), "clip");
    EXPECT_EQ(AfxFileTitleOf("C:\\v\\clip.tar.mp4"), "clip.tar");
    EXPECT_EQ(AfxFileTitleOf("C:\\my.videos\\clip"), "clip");
    EXPECT_EQ(AfxFileTitleOf("C:\\v\\.mp4"), "");
    EXPECT_EQ(AfxFileNameOf("clip.mp4"), "clip.mp4");
}
