#include "common/TempAppFolder.h"
#include "support/StowError.h"
#include "support/libIni.h"

class Ini : public TempAppFolder {};

TEST_F(Ini, ReadsWithProfileRules) {
    WriteFile(Root + "a.ini", "legacy line 1\r\n  \r\n[Job]\r\n  Name  =  My Job  \r\nQuoted=\"  spaced  \"\r\n"
                              "Single='x'\r\nHalf=\"open\r\n;Comment=hidden\r\nno equals here\r\n"
                              "[ other ]\nkey=LF only\nEmpty=\n");
    IniFile ini;
    ASSERT_TRUE(ini.Load(Root + "a.ini"));
    EXPECT_EQ(ini.PlainLines(), (std::vector<std::string>{"legacy line 1", "  "}));
    EXPECT_EQ(ini.Get("job", "NAME", "d"), "My Job");
    EXPECT_EQ(ini.Get("JOB", "quoted"), "  spaced  ");
    EXPECT_EQ(ini.Get("Job", "Single"), "x");
    EXPECT_EQ(ini.Get("Job", "Half"), "\"open");
    EXPECT_EQ(ini.Get("Job", "Comment", "dflt"), "dflt");
    EXPECT_EQ(ini.Get("Other", "Key"), "LF only");
    EXPECT_TRUE(ini.Has("other", "empty"));
    EXPECT_EQ(ini.Get("other", "empty", "dflt"), "");
    EXPECT_FALSE(ini.Has("Missing", "key"));
    EXPECT_EQ(ini.Get("Missing", "key", "dflt"), "dflt");
    EXPECT_EQ(ini.Keys("Job"), (std::vector<std::string>{"Name", "Quoted", "Single", "Half"}));
}

TEST_F(Ini, WritesInPlaceAtSectionEndAndAtFileEnd) {
    IniFile ini;
    ini.Parse("old1\r\nold2\r\n[A]\r\nx=1\r\ny=2\r\n\r\n[B]\r\nz=3\r\n");
    ini.Set("a", "X", "10");  // replaced in place, key spelled as the caller wrote it
    ini.Set("A", "new", "n"); // appended after the last key of A, before the blank line
    ini.Set("C", "k", "v");   // new section at the end
    EXPECT_EQ(ini.Text(), "old1\r\nold2\r\n[A]\r\nX=10\r\ny=2\r\nnew=n\r\n\r\n[B]\r\nz=3\r\n[C]\r\nk=v\r\n");
    ini.WriteSection("B", {});
    ini.WriteSection("D", {"p=1", "q=2"});
    EXPECT_EQ(ini.Text(),
              "old1\r\nold2\r\n[A]\r\nX=10\r\ny=2\r\nnew=n\r\n\r\n[B]\r\n[C]\r\nk=v\r\n[D]\r\np=1\r\nq=2\r\n");
    ini.Remove("A", "y");
    EXPECT_FALSE(ini.Has("A", "y"));
}

TEST_F(Ini, ValuesRoundTripThroughAFile) {
    std::vector<std::string> values = {"",   " leading", "trailing\t",      "\"quoted\"", "'single'",
                                       "\"", "a=b=c",    "[not a section]", ";semi",      "\"\" "};
    values.push_back(std::string(5000, 'L'));
    values.push_back(std::string("bin\x01\x7f\xff\0z", 9));
    values.push_back("/very/long/" + std::string(300, 'p') + "/path");
    IniFile ini;
    for (size_t i = 0; i < values.size(); ++i)
        ini.Set("S", "K" + std::to_string(i), values[i]);
    ASSERT_TRUE(ini.Save(Root + "rt.ini"));
    IniFile back;
    ASSERT_TRUE(back.Load(Root + "rt.ini"));
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(back.Get("s", "k" + std::to_string(i), "missing"), values[i]) << i;
    // A line break in a value can never split the line into two entries.
    ini.Set("S", "Broken", "one\r\n[Evil]\r\nx=1");
    ini.Save(Root + "rt.ini");
    back.Load(Root + "rt.ini");
    EXPECT_FALSE(back.HasSection("Evil"));
    EXPECT_EQ(back.Keys("S").size(), values.size() + 1);
}

TEST_F(Ini, SaveIsAtomicAndKeepsTheRequestedMode) {
    IniFile ini;
    ini.Set("Job", "Password", "secret");
    ASSERT_TRUE(ini.Save(Root + "job.slj", 0600));
    struct stat st;
    ASSERT_EQ(stat((Root + "job.slj").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadFile(Root + "job.slj"), "[Job]\r\nPassword=secret\r\n");
    // Only the file itself is left in the folder: no temporary names.
    int n = 0;
    for (auto& e : std::filesystem::directory_iterator(Root))
        n += e.path().filename() != "app";
    EXPECT_EQ(n, 1);
    // A save into a missing folder fails with an error and leaves nothing behind.
    try {
        ini.Save(Root + "nofolder/job.slj");
        FAIL() << "no error";
    } catch (const StowError& e) {
        EXPECT_EQ(e.Number, 53);
    }
}

TEST_F(Ini, LoadsAnyBytes) {
    std::string junk;
    for (int i = 0; i < 4096; ++i)
        junk += static_cast<char>((i * 131 + 7) % 256);
    WriteFile(Root + "junk.ini", junk + "\r\n[S]\r\nk=v\r\n[");
    IniFile ini;
    ASSERT_TRUE(ini.Load(Root + "junk.ini"));
    EXPECT_EQ(ini.Get("S", "k"), "v");
    EXPECT_FALSE(ini.Load(Root + "absent.ini"));
    EXPECT_EQ(ini.Get("S", "k", "d"), "d");
}
