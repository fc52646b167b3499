// A job's off-site keys in its job file: OffsiteRemote, OffsiteKeepDays and OffsiteLastSuccess.
// Files without them load with the copy off and save byte for byte as before; once present
// they are read back as written.

#include "common/HandJobFolder.h"

namespace {

class OffsiteKeys : public HandJobFolder {};

TEST_F(OffsiteKeys, AnOlderFileHasTheCopyOffAndSavesByteForByte) {
    const std::string sPath = HandJob("Old", "Password=\r\n", "");
    const std::string sBefore = ReadFile(sPath);
    CBackupJob job = Load(sPath);
    EXPECT_EQ(job.OffsiteRemote(), "");
    EXPECT_EQ(job.OffsiteKeepDays(), CBackupJob::DefaultOffsiteKeepDays);
    EXPECT_EQ(job.OffsiteLastSuccess(), CBackupJob::NotComputed);
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    EXPECT_EQ(ReadFile(sPath), sBefore);
}

TEST_F(OffsiteKeys, KeysAreReadAsWrittenAndKeptInTheirPlace) {
    const std::string sPath = HandJob("Docs", "Password=\r\n",
                                      "OffsiteRemote= nas:backups/stowline \r\nOffsiteKeepDays=14\r\n"
                                      "OffsiteLastSuccess=12/07/2026 03:00:15\r\n");
    CBackupJob job = Load(sPath);
    EXPECT_EQ(job.OffsiteRemote(), "nas:backups/stowline");
    EXPECT_EQ(job.OffsiteKeepDays(), 14);
    EXPECT_EQ(libDates::Format(job.OffsiteLastSuccess(), "mm/dd/yyyy hh:mm:ss"), "12/07/2026 03:00:15");
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    const std::string sText = ReadFile(sPath);
    EXPECT_NE(sText.find("Suspended=0\r\nOffsiteRemote=nas:backups/stowline\r\nOffsiteKeepDays=14\r\n"
                         "OffsiteLastSuccess=12/07/2026 03:00:15\r\nPreBackupCommand="),
              std::string::npos)
        << sText;
    // A remote turned off stays in the file, empty; the days and the last success stay as they were.
    job.SetOffsiteRemote("");
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    CBackupJob off = Load(sPath);
    EXPECT_EQ(off.OffsiteRemote(), "");
    EXPECT_EQ(off.OffsiteKeepDays(), 14);
    EXPECT_EQ(off.OffsiteLastSuccess(), job.OffsiteLastSuccess());
}

TEST_F(OffsiteKeys, NewKeysAreAddedOnlyWhenSetAndBadDaysFallBack) {
    const std::string sPath = HandJob("New", "Password=\r\n", "");
    CBackupJob job = Load(sPath);
    job.SetOffsiteRemote("b2:bucket");
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    std::string sText = ReadFile(sPath);
    EXPECT_NE(sText.find("\r\nOffsiteRemote=b2:bucket\r\n"), std::string::npos) << sText;
    EXPECT_EQ(sText.find("OffsiteKeepDays"), std::string::npos) << sText;
    EXPECT_EQ(sText.find("OffsiteLastSuccess"), std::string::npos) << sText;
    // Days out of range are clamped; text that is no number gives the lowest.
    EXPECT_EQ(Load(HandJob("Many", "Password=\r\n", "OffsiteKeepDays=999999\r\n")).OffsiteKeepDays(), 36500);
    EXPECT_EQ(Load(HandJob("Zero", "Password=\r\n", "OffsiteKeepDays=0\r\n")).OffsiteKeepDays(), 1);
    EXPECT_EQ(Load(HandJob("Text", "Password=\r\n", "OffsiteKeepDays=soon\r\n")).OffsiteKeepDays(), 1);
    EXPECT_EQ(Load(HandJob("BadDate", "Password=\r\n", "OffsiteLastSuccess=never\r\n")).OffsiteLastSuccess(),
              CBackupJob::NotComputed);
}

} // namespace
