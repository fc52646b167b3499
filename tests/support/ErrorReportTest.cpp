#include "common/TempAppFolder.h"
#include "support/libStrings.h"

class ErrorReport : public TempAppFolder {};

TEST_F(ErrorReport, FatalBlockHasSevenExactLines) {
    libDates::SetClock(libDates::DateSerial(2026, 12, 5) + libDates::TimeSerial(18, 41, 19));
    EXPECT_THROW(libErrorHandler::HandleError(true, StowError(53, "File not found"), "libLog", "LogEvent()", ""),
                 libErrorHandler::FatalApplicationError);
    const std::string sExpected = std::string(80, '-') + "\r\n" + "Date:        12/05/2026 18:41:19\r\n" +
                                  "Computer:    " + appMisc::ComputerName() + "\r\n" + "Severity:    Fatal\r\n" +
                                  "Description: ERR#53 @ Stowline - File not found\r\n" + "Last DLL:    0\r\n" +
                                  "Details:     ERR#53 @ Stowline - File not found\r\n" + std::string(40, '-') +
                                  "\r\n" + "Module/Function: libLog/LogEvent().\r\n\r\n\r\n";
    EXPECT_EQ(ReadFile(libLog::ErrorFileName()), sExpected);
    ExpectOneBox(*Seam, "Fatal Application Error", UserInteraction::Icon::Exclamation,
                 "ERR#53 @ Stowline - File not found\r\n\r\nApplication will now terminate.",
                 UserInteraction::Buttons::OK);
}

TEST_F(ErrorReport, QuotesAndSemicolonsAreCleanedAndBlocksAppend) {
    StowError err(70, "can't open \"x\"; locked", 13, "CBackupJob");
    libErrorHandler::HandleError(false, err, "frmSchedule", "cmdBackup_Click()", "more 'detail'");
    libErrorHandler::HandleError(false, StowError(6, "Overflow"), "m", "p()", "");
    std::string s = ReadFile(libLog::ErrorFileName());
    auto lines = libStrings::Split(s, "\r\n");
    ASSERT_EQ(lines.size(), 23u); // two blocks of eleven physical lines and the final break
    EXPECT_EQ(lines[3], "Severity:    Non-Fatal");
    EXPECT_EQ(lines[4], "Description: ERR#70 @ CBackupJob - can~t open ~x~~ locked");
    EXPECT_EQ(lines[5], "Last DLL:    13");
    EXPECT_EQ(lines[6], "Details:     ERR#70 @ CBackupJob - can`t open `x`` locked");
    EXPECT_EQ(lines[8], "Module/Function: frmSchedule/cmdBackup_Click().");
    EXPECT_EQ(lines[10], "more `detail`");
    EXPECT_EQ(lines[11], std::string(80, '-')); // the second block
    auto msgs = Seam->Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].Title, "Non Fatal Application Error");
    EXPECT_EQ(msgs[0].Text, "ERR#70 @ CBackupJob - can~t open ~x~~ locked\r\n\r\nPress Ok to Continue.");
}

TEST_F(ErrorReport, AnUnwritableReportGoesToStandardError) {
    appMisc::SetAppFolder(Root + "ro/");
    WriteFile(Root + "ro/stowline.err/blocker", ""); // the report name is taken by a folder
    const std::string sPrefix =
        "stowline: cannot write the error report '" + Root + "ro/stowline.err': Is a directory:\n";
    testing::internal::CaptureStderr();
    libErrorHandler::HandleError(false, StowError(5, "x"), "m", "p()", "");
    std::string sErr = testing::internal::GetCapturedStderr();
    EXPECT_EQ(sErr.substr(0, sPrefix.size()), sPrefix);
    EXPECT_NE(sErr.find("Severity:    Non-Fatal\r\nDescription: ERR#5 @ Stowline - x\r\n"), std::string::npos);
    ASSERT_EQ(Seam->Messages().size(), 1u); // a non-fatal report returns after its box
}

TEST_F(ErrorReport, FatalUnwindsThroughEnclosingTrapsWithOneReport) {
    struct Probe {
        int& Destroyed;
        ~Probe() { ++Destroyed; }
    };
    int iDestroyed = 0;
    bool bInnerResumed = false;
    auto inner = [&] {
        Probe p{iDestroyed};
        libErrorHandler::Trap("libLog", "LogEvent()", [&] {
            Probe q{iDestroyed};
            throw StowError(57, "Device I/O error");
        });
        bInnerResumed = true;
    };
    EXPECT_THROW(libErrorHandler::Trap("CBackupJob", "ExecuteBackupNow()",
                                       [&] { libErrorHandler::Trap("frmSchedule", "cmdBackup_Click()", inner); }),
                 libErrorHandler::FatalApplicationError);
    EXPECT_FALSE(bInnerResumed);
    EXPECT_EQ(iDestroyed, 2); // everything on the way out was destroyed
    const std::string sReport = ReadFile(libLog::ErrorFileName());
    auto lines = libStrings::Split(sReport, "\r\n");
    ASSERT_EQ(lines.size(), 12u); // one block: the outer traps did not report it again
    EXPECT_EQ(lines[3], "Severity:    Fatal");
    EXPECT_EQ(lines[8], "Module/Function: libLog/LogEvent().");
    ASSERT_EQ(Seam->Messages().size(), 1u);
    EXPECT_EQ(Seam->Messages()[0].Title, "Fatal Application Error");

    // Any exception, not only the program's own errors, is reported; a trap passes results on.
    EXPECT_THROW(libErrorHandler::Trap("CBackupJob", "RenameJob()", []() -> int { throw std::out_of_range("x"); }),
                 libErrorHandler::FatalApplicationError);
    EXPECT_NE(ReadFile(libLog::ErrorFileName()).find("Module/Function: CBackupJob/RenameJob()."), std::string::npos);
    EXPECT_EQ(libErrorHandler::Trap("m", "p()", [] { return 7; }), 7);
}
