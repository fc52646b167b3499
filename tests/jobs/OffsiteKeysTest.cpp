// A job's off-site keys in its job file: OffsiteRemote, OffsiteKeepDays and OffsiteLastSuccess.
// Files without them load with the copy off and save byte for byte as before; once present
// they are read back as written.

#include "common/TempAppFolder.h"
#include "jobs/CBackupJob.h"
#include "support/libDates.h"

#include <gtest/gtest.h>

namespace {

class OffsiteKeys : public TempAppFolder {
protected:
    std::string JobPath(const std::string& sName) { return App + "BackupJobs/" + sName + ".slj"; }
    std::string HandJob(const std::string& sName, const std::string& sOffsiteLines) {
        return WriteFile(JobPath(sName), "[Config]\r\nJobName=" + sName +
                                             "\r\nDateLastRun=Jan-01-1900 00:00\r\nSizeLastRun=-1\r\nRunCount=0\r\n"
                                             "StartTime=12:00\r\nFrequency=1\r\nDayOfWeek=254\r\nDayOfMonth=1\r\n"
                                             "Compress=-1\r\nCopyStyle=0\r\nKeepCount=3\r\nKeepPeriod=Copies\r\n"
                                             "Password=\r\nParseSubDir=-1\r\nIncremental=0\r\nSuspended=0\r\n" +
                                             sOffsiteLines +
                                             "PreBackupCommand=\r\nPostBackupCommand=\r\nTargetDir=/backups/\r\n"
                                             "[Source]\r\nFile_0=/home/u/docs\r\n[Exclude]\r\n[OneShot]\r\n");
    }
    CBackupJob Load(const std::string& sPath) {
        CBackupJob job;
        EXPECT_FALSE(job.OpenBackupJob(sPath)) << sPath;
        return job;
    }
};

TEST_F(OffsiteKeys, AnOlderFileHasTheCopyOffAndSavesByteForByte) {
    const std::string sPath = HandJob("Old", "");
    const std::string sBefore = ReadFile(sPath);
    CBackupJob job = Load(sPath);
    EXPECT_EQ(job.OffsiteRemote(), "");
    EXPECT_EQ(job.OffsiteKeepDays(), CBackupJob::DefaultOffsiteKeepDays);
    EXPECT_EQ(job.OffsiteLastSuccess(), CBackupJob::NotComputed);
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    EXPECT_EQ(ReadFile(sPath), sBefore);
}

TEST_F(OffsiteKeys, KeysAreReadAsWrittenAndKeptInTheirPlace) {
    const std::string sPath = HandJob("Docs", "OffsiteRemote= nas:backups/stowline \r\nOffsiteKeepDays=14\r\n"
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
    const std::string sPath = HandJob("New", "");
    CBackupJob job = Load(sPath);
    job.SetOffsiteRemote("b2:bucket");
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    std::string sText = ReadFile(sPath);
    EXPECT_NE(sText.find("\r\nOffsiteRemote=b2:bucket\r\n"), std::string::npos) << sText;
    EXPECT_EQ(sText.find("OffsiteKeepDays"), std::string::npos) << sText;
    EXPECT_EQ(sText.find("OffsiteLastSuccess"), std::string::npos) << sText;
    // Days out of range are clamped; text that is no number gives the lowest.
    EXPECT_EQ(Load(HandJob("Many", "OffsiteKeepDays=999999\r\n")).OffsiteKeepDays(), 36500);
    EXPECT_EQ(Load(HandJob("Zero", "OffsiteKeepDays=0\r\n")).OffsiteKeepDays(), 1);
    EXPECT_EQ(Load(HandJob("Text", "OffsiteKeepDays=soon\r\n")).OffsiteKeepDays(), 1);
    EXPECT_EQ(Load(HandJob("BadDate", "OffsiteLastSuccess=never\r\n")).OffsiteLastSuccess(), CBackupJob::NotComputed);
}

} // namespace
