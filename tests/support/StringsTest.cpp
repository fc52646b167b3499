#include "support/libStrings.h"

#include <gtest/gtest.h>

using namespace libStrings;

TEST(Strings, StrToIntRangeRoundsHalfEvenAndClamps) {
    EXPECT_EQ(StrToIntRange("300", 0, 255), 255);
    EXPECT_EQ(StrToIntRange("abc", 0, 255), 0);
    EXPECT_EQ(StrToIntRange("-7", 0, 3), 0);
    EXPECT_EQ(StrToIntRange("", 5, 9), 5);
    EXPECT_EQ(StrToIntRange("2.5", 0, 9), 2);
    EXPECT_EQ(StrToIntRange("3.5", 0, 9), 4);
    EXPECT_EQ(StrToIntRange("-2.5", -9, 9), -2);
    EXPECT_EQ(StrToIntRange(" 7 ", 0, 9), 7);
    EXPECT_EQ(StrToIntRange("1e3", 0, 32767), 1000);
    EXPECT_EQ(StrToIntRange("1e400", 0, 100), 100); // infinite input still clamps
    EXPECT_EQ(StrToIntRange("99999999999", -32768, 32767), 32767);
    EXPECT_EQ(StrToIntRange("12abc", 0, 99), 0);
    EXPECT_EQ(StrToLongRange("-99999999999", -5, 5), -5);
    EXPECT_EQ(StrToLongRange("2147483647", 0, 2147483647), 2147483647);
}

TEST(Strings, IsNumericAndValFollowTheClassicRules) {
    for (const char* s : {"1", " -1 ", "+2.5", ".5", "5.", "1e5", "1E-3", "2d2", "&H1F", "&o17"})
        EXPECT_TRUE(IsNumeric(s)) << s;
    for (const char* s : {"", " ", ".", "-", "1e", "1.2.3", "abc", "1 2", "&H", "&HG", "0x10", "True"})
        EXPECT_FALSE(IsNumeric(s)) << s;
    EXPECT_DOUBLE_EQ(Val("12abc"), 12);
    EXPECT_DOUBLE_EQ(Val(" -3.5xyz"), -3.5);
    EXPECT_DOUBLE_EQ(Val("1 2 3"), 123);
    EXPECT_DOUBLE_EQ(Val("abc"), 0);
    EXPECT_DOUBLE_EQ(Val(""), 0);
    EXPECT_DOUBLE_EQ(Val("12e"), 12);
    EXPECT_DOUBLE_EQ(Val("&H10"), 16);
}

TEST(Strings, IniBooleanRule) {
    EXPECT_TRUE(BoolFromIniText("-1"));
    EXPECT_TRUE(BoolFromIniText("1"));
    EXPECT_TRUE(BoolFromIniText("True"));
    EXPECT_TRUE(BoolFromIniText("5 apples"));
    EXPECT_FALSE(BoolFromIniText("true")); // the word is exact
    EXPECT_FALSE(BoolFromIniText("0"));
    EXPECT_FALSE(BoolFromIniText(""));
    EXPECT_FALSE(BoolFromIniText("False"));
    EXPECT_FALSE(BoolFromIniText("yes"));
    EXPECT_EQ(BoolToIniText(true), "-1");
    EXPECT_EQ(BoolToIniText(false), "0");
}

TEST(Strings, GetFileListKeepsNonBlankTerminatedLines) {
    std::vector<std::string> lines;
    EXPECT_FALSE(GetFileList("/a\r\n  \r\n/b\r\n", lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"/a", "/b"}));
    GetFileList("/a\r\n/b", lines); // the unterminated last line is dropped
    EXPECT_EQ(lines, (std::vector<std::string>{"/a"}));
    GetFileList("", lines);
    EXPECT_EQ(lines, (std::vector<std::string>{""}));
    GetFileList("only\nLF\n", lines); // LF alone does not end a line
    EXPECT_EQ(lines, (std::vector<std::string>{""}));
    GetFileList("\t\r\n", lines);
    EXPECT_EQ(lines, (std::vector<std::string>{""}));
}

TEST(Strings, ShortenForDisplayAndCharacterFilters) {
    std::string s49(49, 'x'), s51 = "/" + std::string(49, 'a') + "b";
    EXPECT_EQ(ShortenForDisplay(s49), s49);
    EXPECT_EQ(ShortenForDisplay(s51), "..." + s51.substr(7));
    EXPECT_EQ(ShortenForDisplay(s51).size(), 47u);
    EXPECT_EQ(ShortenForDisplay(std::string(40, 'a') + "  tail end   "),
              "..." + std::string(31, 'a') + "  tail end"); // trimmed
    EXPECT_EQ(StripFileNameChars("My 'Job'; @#!$%^&*()\"x"), "MyJobx");
    EXPECT_EQ(StripBadChars("a-b-c", "-", "+"), "a+b+c");
    EXPECT_EQ(StripBadChars("aAa", "a", ""), "A");
    EXPECT_EQ(MakePrintable(std::string("a\tb\x7f\x80~ \x01z")), "ab~ z");
}

TEST(Strings, LikeMatchesWholeNamesIgnoringCase) {
    EXPECT_TRUE(Like("Report.DOC", "*.doc"));
    EXPECT_FALSE(Like("Report.docx", "*.doc"));
    EXPECT_TRUE(Like("file7.txt", "file#.txt"));
    EXPECT_FALSE(Like("fileX.txt", "file#.txt"));
    EXPECT_TRUE(Like("b.tmp", "[a-c].tmp"));
    EXPECT_TRUE(Like("B.tmp", "[a-c].tmp"));
    EXPECT_FALSE(Like("d.tmp", "[a-c].tmp"));
    EXPECT_TRUE(Like("d.tmp", "[!a-c].tmp"));
    EXPECT_FALSE(Like("a.tmp", "[!a-c].tmp"));
    EXPECT_TRUE(Like("a*b", "a[*]b"));
    EXPECT_FALSE(Like("axb", "a[*]b"));
    EXPECT_TRUE(Like("x", "?"));
    EXPECT_FALSE(Like("", "?"));
    EXPECT_TRUE(Like("", "*"));
    EXPECT_TRUE(Like("abcabc", "*b*c"));
    EXPECT_TRUE(Like("[x", "[x")); // an unclosed bracket is literal
    EXPECT_TRUE(Like("a", "**a**"));
    EXPECT_FALSE(Like("ab", "a"));
    EXPECT_FALSE(Like("a", "ab"));
    EXPECT_TRUE(Like("~$temp.doc", "~$*"));
    EXPECT_TRUE(Like("x.BAK", "*.[bB]ak"));
    // Many stars against a long name must not take exponential time.
    EXPECT_FALSE(Like(std::string(250, 'a'), "*a*a*a*a*a*a*a*a*a*a*a*a*b"));
    EXPECT_TRUE(Like(std::string(250, 'a') + "b", "*a*a*a*a*a*a*a*a*a*a*a*a*b"));
}

TEST(Strings, WildcardMatchUsesFileNameRules) {
    EXPECT_TRUE(WildcardMatch("README", "*.*"));
    EXPECT_TRUE(WildcardMatch("a.b.c", "*.*"));
    EXPECT_TRUE(WildcardMatch(".hidden", "*.*"));
    EXPECT_TRUE(WildcardMatch("Photo.JPG", "*.jpg"));
    EXPECT_FALSE(WildcardMatch("photo.jpeg", "*.jpg"));
    EXPECT_TRUE(WildcardMatch("data", "data.*"));
    EXPECT_TRUE(WildcardMatch("a1.txt", "a?.txt"));
    EXPECT_FALSE(WildcardMatch("a12.txt", "a?.txt"));
    EXPECT_TRUE(WildcardMatch("[x].txt", "[x].txt")); // brackets are not special here
    EXPECT_TRUE(WildcardMatch(std::string(200, 'a'), "*a*a*a*a*a*a*b*a") == false);
}

TEST(Strings, SmallHelpers) {
    EXPECT_EQ(Trim(" \t a b \t"), "a b");
    EXPECT_TRUE(IEquals("JobName", "JOBNAME"));
    EXPECT_FALSE(IEquals("Job", "Jobs"));
    EXPECT_TRUE(IEndsWith("x.SLJ", ".slj"));
    EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(Split("a,,b", ","), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(JoinLines({"a", "b"}), "a\r\nb\r\n");
    EXPECT_DOUBLE_EQ(RoundHalfEven(0.5), 0);
    EXPECT_DOUBLE_EQ(RoundHalfEven(1.5), 2);
    EXPECT_DOUBLE_EQ(RoundHalfEven(-1.5), -2);
}
