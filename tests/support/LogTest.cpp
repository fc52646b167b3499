#include "common/TempAppFolder.h"
#include "support/appPreferences.h"
#include "support/libLog.h"

#include <gtest/gtest.h>

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
    libLog::SetPendingComment("monthly");
    EXPECT_EQ(libLog::PendingComment(), "monthly");
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
