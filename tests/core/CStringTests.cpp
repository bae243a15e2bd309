#include "framework/CString.h"
#include "framework/FileName.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Shift-JIS: 0x81-0x9F and 0xE0-0xFC lead a two-byte character whose trail may be 0x5C ('\').
bool ShiftJisLead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

class ShiftJisCodePage : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous = CString::GetLeadByteTest();
        CString::SetLeadByteTest(&ShiftJisLead);
    }
    void TearDown() override { CString::SetLeadByteTest(m_previous); }
    CString::LeadByteTest m_previous = nullptr;
};

} // namespace

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

TEST_F(ShiftJisCodePage, ReverseFindSkipsTrailBytesThatLookLikeBackslash) {
    // "C:\<0x95 0x5C>" : the second backslash is the trail byte of a double-byte character.
    const CString path("C:\\v\\\x95\x5C.mp4");
    EXPECT_EQ(path.ReverseFind('\\'), 4);
    EXPECT_EQ(path.Find('\\', 5), -1);
    EXPECT_EQ(AfxFileNameOf(path), "\x95\x5C.mp4");
    EXPECT_EQ(AfxFileTitleOf(path), "\x95\x5C");
}

TEST(FileNameTest, TitleDropsOnlyTheLastExtension) {
    EXPECT_EQ(AfxFileTitleOf("C:\\v\\clip.mp4"), "clip");
    EXPECT_EQ(AfxFileTitleOf("C:\\v\\clip.tar.mp4"), "clip.tar");
    EXPECT_EQ(AfxFileTitleOf("C:\\my.videos\\clip"), "clip");
    EXPECT_EQ(AfxFileTitleOf("C:\\v\\.mp4"), "");
    EXPECT_EQ(AfxFileNameOf("clip.mp4"), "clip.mp4");
}
