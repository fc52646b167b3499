#include "common/TempAppFolder.h"

using libLog::ErrorFileName;
using libLog::LogFileName;

class Log : public TempAppFolder {
protected:
    void SetUp() override {
        TempAppFolder::SetUp();
        libDates::SetClock(libDates::DateSerial(2027, 1, 5) + libDates::TimeSerial(8, 3, 9));
    }
};

TEST_F(Log, LinesAreTimestampedCleanedAndAppended) {
    EXPECT_EQ(libLog::ErrorFileName(), App + "stowline.err");
    libLog::LogEvent("");
    libLog::LogEvent("Backing up \"Mail\" now");
    EXPECT_EQ(ReadFile(App + "stowline.log"),
              "01/05/2027 08:03:09  Null\r\n01/05/2027 08:03:09  Backing up 'Mail' now\r\n");
}

TEST_F(Log, LevelFilterFollowsLoggingMode) {
    appPreferences::LoggingMode = 2;
    for (int i = 0; i <= 3; ++i)
        libLog::LogEventLevel(i, "level " + std::to_string(i));
    EXPECT_EQ(ReadFile(libLog::LogFileName()), "01/05/2027 08:03:09  level 2\r\n01/05/2027 08:03:09  level 3\r\n");
    appPreferences::LoggingMode = 0;
    libLog::LogEventLevel(0, "all");
    EXPECT_NE(ReadFile(libLog::LogFileName()).find("  all\r\n"), std::string::npos);
}

// The checks before a viewer starts are the file helper's; here each log names its own file.
TEST_F(Log, ViewAndDropGoThroughTheSeam) {
    appPreferences::LogViewCommand = "xdg-open";
    libLog::ViewErrorLog();
    libLog::LogEvent("x");
    libLog::ViewTransactionLog();
    auto& calls = Seam->Calls;
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].Request.Text, "Error log file does not exist");
    EXPECT_EQ(calls[1].Kind, "StartProgram");
    EXPECT_EQ(calls[1].Request.Text, "xdg-open \"" + App + "stowline.log\"");

    Seam->Clear();
    Seam->Answers.push_back(UserInteraction::Answer::Cancel);
    EXPECT_FALSE(libLog::DropTransactionLog());
    EXPECT_TRUE(Exists(libLog::LogFileName()));
    EXPECT_TRUE(libLog::DropTransactionLog());
    EXPECT_FALSE(Exists(libLog::LogFileName()));
    EXPECT_TRUE(libLog::DropErrorLog()); // missing file: nothing happens after the question
    auto msgs = Seam->Messages();
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[0].Text, "Drop log file?");
    EXPECT_EQ(msgs[0].ButtonSet, UserInteraction::Buttons::OKCancel);
    EXPECT_EQ(msgs[0].IconKind, UserInteraction::Icon::Question);
    EXPECT_EQ(msgs[2].Text, "Drop error log file?");
}

TEST_F(Log, ARunRotatesALogPastTheLimitOnceAtItsStartAndLosesNoLine) {
    const uint64_t lLimit = 4096;
    const std::string sOlder = App + "stowline.log.1";
    WriteFile(ErrorFileName(), std::string(lLimit + 1, 'e'));
    WriteFile(sOlder, "the generation before");
    int iLine = 0;
    const auto run = [&](int iLines) {
        libLog::RunLog scope(lLimit);
        for (int i = 0; i < iLines; ++i)
            libLog::LogEvent("line " + std::to_string(iLine++));
    };
    run(200); // 8 KB, more than the limit: the run is never cut
    EXPECT_FALSE(Exists(ErrorFileName()));
    EXPECT_EQ(ReadFile(App + "stowline.err.1"), std::string(lLimit + 1, 'e'));
    EXPECT_EQ(ReadFile(sOlder), "the generation before"); // nothing was past the limit before
    const std::string sFirst = ReadFile(LogFileName());
    EXPECT_GT(sFirst.size(), lLimit);
    run(3); // rotates once, replacing the older generation
    EXPECT_EQ(ReadFile(sOlder), sFirst);
    run(3); // now under the limit: no rotation
    EXPECT_EQ(ReadFile(sOlder), sFirst);
    // Every line is in one of the two generations, in order.
    const std::string sAll = ReadFile(sOlder) + ReadFile(LogFileName());
    std::string sExpected;
    for (int i = 0; i < iLine; ++i)
        sExpected += "01/05/2027 08:03:09  line " + std::to_string(i) + "\r\n";
    EXPECT_EQ(sAll, sExpected);

    // Viewing shows the older generation when only it holds lines; dropping removes both, even
    // during a run, which then starts a new log.
    std::filesystem::remove(LogFileName());
    appPreferences::LogViewCommand = "xdg-open";
    libLog::ViewTransactionLog();
    ASSERT_EQ(Seam->Calls.size(), 1u);
    EXPECT_EQ(Seam->Calls[0].Request.Text, "xdg-open \"" + sOlder + "\"");
    {
        libLog::RunLog scope(0);
        libLog::LogEvent("before the drop");
        EXPECT_TRUE(libLog::DropTransactionLog());
        EXPECT_FALSE(Exists(LogFileName()));
        EXPECT_FALSE(Exists(sOlder));
        libLog::LogEvent("after the drop");
    }
    EXPECT_EQ(ReadFile(LogFileName()), "01/05/2027 08:03:09  after the drop\r\n");
}

TEST_F(Log, ControlBytesAreEscapedSoNoNameForgesALine) {
    // Hex escapes are split so that the compiler does not read the next letter as a digit.
    libLog::LogEvent(std::string("a\rb\nc\td\x01"
                                 "e\x1f"
                                 "\\f\x7f\xc3\xa9\0g",
                                 17));
    EXPECT_EQ(ReadFile(libLog::LogFileName()),
              "01/05/2027 08:03:09  a\\rb\\nc\\td\\x01e\\x1F\\f\x7f\xc3\xa9\\x00g\r\n");
}

TEST_F(Log, UnwritableLogGoesToStandardErrorAndTheProgramGoesOn) {
    WriteFile(App + "stowline.log/x", ""); // the log name is taken by a folder
    testing::internal::CaptureStderr();
    libLog::LogEvent("first\nline");
    libLog::LogEvent("second");
    const std::string sErr = testing::internal::GetCapturedStderr();
    const std::string sPrefix =
        "stowline: cannot write the transaction log '" + App + "stowline.log': Is a directory: ";
    EXPECT_EQ(sErr, sPrefix + "01/05/2027 08:03:09  first\\nline\n" + sPrefix + "01/05/2027 08:03:09  second\n");
    EXPECT_FALSE(Exists(libLog::ErrorFileName())); // no fatal report
    // The user is told once, not once per line.
    ASSERT_EQ(Seam->Messages().size(), 1u);
    EXPECT_NE(Seam->Messages()[0].Text.find("Is a directory"), std::string::npos);
}
