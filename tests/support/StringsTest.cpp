#include "support/libStrings.h"

#include <gtest/gtest.h>

using namespace libStrings;

TEST(Strings, StrToIntRangeRoundsHalfEvenAndClamps) {
    EXPECT_EQ(StrToIntRange("300", 0, 255), 255);
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
    for (const char* t : {"-1", "1", "True", "5 apples"})
        EXPECT_TRUE(BoolFromIniText(t)) << t;
    for (const char* t : {"true" /* the word is exact */, "0", "", "False", "yes"})
        EXPECT_FALSE(BoolFromIniText(t)) << t;
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
    EXPECT_EQ(FileList("/a\r\n  \r\n/b\r\n"), (std::vector<std::string>{"/a", "/b"}));
    EXPECT_EQ(FileList("/a"), (std::vector<std::string>{""}));
}

TEST(Strings, ShortenForDisplayAndCharacterFilters) {
    std::string s49(49, 'x'), s51 = "/" + std::string(49, 'a') + "b";
    EXPECT_EQ(ShortenForDisplay(s49), s49);
    EXPECT_EQ(ShortenForDisplay(s51), "..." + s51.substr(7));
    EXPECT_EQ(ShortenForDisplay(std::string(40, 'a') + "  tail end   "),
              "..." + std::string(31, 'a') + "  tail end"); // trimmed
    EXPECT_EQ(StripFileNameChars("My 'Job'; @#!$%^&*()\"x"), "MyJobx");
    EXPECT_EQ(StripBadChars("a-b-c", "-", "+"), "a+b+c");
    EXPECT_EQ(StripBadChars("aAa", "a", ""), "A");
    EXPECT_EQ(MakePrintable(std::string("a\tb\x7f\x80~ \x01z")), "ab~ z");
    EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa"); // a replacement holding the pattern ends
}

// Checks each (name, pattern) pair of a flat list against the expected outcome.
template <class Matcher> void ExpectMatches(Matcher match, bool bExpected, std::initializer_list<std::string> pairs) {
    for (auto it = pairs.begin(); it != pairs.end(); it += 2)
        EXPECT_EQ(match(it[0], it[1]), bExpected) << it[0] << " ~ " << it[1];
}

TEST(Strings, LikeMatchesWholeNamesIgnoringCase) {
    // An unclosed bracket is literal; many stars against a long name must not take exponential time.
    const std::string s250(250, 'a'), sStars = "*a*a*a*a*a*a*a*a*a*a*a*a*b";
    ExpectMatches(Like, true, {"Report.DOC", "*.doc",      "file7.txt",  "file#.txt", "b.tmp",    "[a-c].tmp", "B.tmp",
                               "[a-c].tmp",  "d.tmp",      "[!a-c].tmp", "a*b",       "a[*]b",    "x",         "?",
                               "",           "*",          "abcabc",     "*b*c",      "[x",       "[x",        "a",
                               "**a**",      "~$temp.doc", "~$*",        "x.BAK",     "*.[bB]ak", s250 + "b",  sStars});
    ExpectMatches(Like, false,
                  {"Report.docx", "*.doc", "fileX.txt", "file#.txt", "d.tmp", "[a-c].tmp", "a.tmp", "[!a-c].tmp", "axb",
                   "a[*]b", "", "?", "ab", "a", "a", "ab", s250, sStars});
}

TEST(Strings, WildcardMatchUsesFileNameRules) {
    // Brackets are not special here.
    ExpectMatches(WildcardMatch, true,
                  {"README", "*.*", "a.b.c", "*.*", ".hidden", "*.*", "Photo.JPG", "*.jpg", "data", "data.*", "a1.txt",
                   "a?.txt", "[x].txt", "[x].txt"});
    ExpectMatches(WildcardMatch, false,
                  {"photo.jpeg", "*.jpg", "a12.txt", "a?.txt", std::string(200, 'a'), "*a*a*a*a*a*a*b*a"});
}
