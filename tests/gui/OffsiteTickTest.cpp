// The agents' off-site retry as the scheduler tick times it, with the clock set by the test: at
// start-up, then every 30 minutes, each attempt recorded in the job file, the user told once
// until a copy succeeds, never for a job this process reads, and the job's next run left as it
// was. The remote is a local folder, which rclone reaches without a server.

#include "ScheduleTestFixture.h"
#include "engine/JobLock.h"

#include <iterator>

namespace {

class OffsiteTickTest : public TempJobFolder {
protected:
    const double Start = libDates::DateSerial(2027, 3, 10) + libDates::TimeSerial(13, 0, 0);
    std::string Target, File;
    void SetUp() override {
        TempJobFolder::SetUp();
        StartJobs(Start, true);
        // A zip job whose backup waits for its remote, its archive gone: every attempt fails
        // before rclone is asked.
        Target = Root + "target/";
        std::filesystem::create_directories(Target);
        File = WriteFile(App + "BackupJobs/Waits.slj",
                         "[Config]\r\nJobName=Waits\r\nDateLastRun=Mar-10-2027 03:00\r\nDateLastSuccess=Mar-10-2027 "
                         "03:00\r\nRunCount=1\r\nStartTime=03:00\r\nFrequency=1\r\nDayOfWeek=254\r\nCompress=-1\r\n"
                         "KeepCount=1\r\nKeepPeriod=Copies\r\nOffsiteRemote=" +
                             Root + "remote\r\nOffsitePending=03/10/2027 03:00:00\r\nTargetDir=" + Target +
                             "\r\n[Source]\r\nFile_0=" + Root + "src/\r\n");
        JobManager()->Reload();
    }
    int Failures() const { return LoadJob(File).OffsiteFailures(); }
    int Retries() const {
        int n = 0;
        for (const auto& sLine : LogLines())
            n += sLine.find("-- Waits (off-site retry) ") != std::string::npos;
        return n;
    }
};

TEST_F(OffsiteTickTest, RetriedAtStartUpThenEveryThirtyMinutesAndReportedOnceUntilACopySucceeds) {
    // A day-long tick: the test's steps of the clock are no wall-clock jumps.
    SchedulerTick::CSchedulerTick tick(86400000);
    RecordingHost host;
    const int32_t lHandle = JobManager()->HandleFromIndex(0);
    EXPECT_EQ(tick.StartUp(host), 0) << "a retry is no run";
    const double dNextRun = LoadJob(File).DateTimeNextRun();
    EXPECT_EQ(Retries(), 1);
    EXPECT_EQ(Failures(), 1);
    ASSERT_EQ(host.Notices.size(), 1u);
    EXPECT_EQ(host.Notices[0], "Backup Job 'Waits' backed up locally; off-site copy failed: no backup of the job "
                               "found in '" +
                                   Target + "' See transaction log for details: '" + libLog::LogFileName() + "'");
    tick.Tick(host);
    SetNow(Start + libDates::TimeSerial(0, 29, 0));
    tick.Tick(host);
    EXPECT_EQ(Retries(), 1) << "not before 30 minutes";
    SetNow(Start + libDates::TimeSerial(0, 30, 0));
    tick.Tick(host);
    EXPECT_EQ(Retries(), 2);
    SetNow(Start + libDates::TimeSerial(1, 0, 0));
    tick.Tick(host);
    EXPECT_EQ(Failures(), 3);
    EXPECT_EQ(JobHealth::OffsiteStateOf(LoadJob(File)), JobHealth::OffsiteState::Failing);
    EXPECT_EQ(host.Notices.size(), 1u) << "told once until a copy succeeds";
    EXPECT_EQ(LoadJob(File).RunCount(), 1) << "never a new backup";
    EXPECT_EQ(JobManager()->NextRunFromHandle(lHandle), dNextRun);
    // Its backups read here: not tried.
    {
        JobLock::ReadScope reading(File);
        SetNow(Start + libDates::TimeSerial(1, 30, 0));
        tick.Tick(host);
        EXPECT_EQ(Retries(), 3);
    }
    EXPECT_EQ(SchedulerTick::OffsiteReason("  Off-site copy to 'a:b' failed: quota exceeded"), "quota exceeded");
    EXPECT_EQ(SchedulerTick::FailureText("W", "/x/stowline.log", "", true),
              "Backup Job 'W' backed up locally; off-site copy failed. See transaction log for details: "
              "'/x/stowline.log'");
    if (std::system("command -v rclone >/dev/null 2>&1") != 0) GTEST_SKIP() << "rclone is not installed";
    // The archive is there again: the next retry sends it, and a later failure is news again.
    ::setenv("RCLONE_CONFIG", (Root + "rclone.conf").c_str(), 1);
    WriteFile(Target + "Waits.zip", "the archive's bytes");
    SetNow(Start + libDates::TimeSerial(2, 0, 0));
    tick.Tick(host);
    EXPECT_EQ(JobHealth::OffsiteStateOf(LoadJob(File)), JobHealth::OffsiteState::Ok) << LogLines().back();
    EXPECT_EQ(Failures(), 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Root + "remote/Waits"), {}), 1);
    CBackupJob again = LoadJob(File);
    again.SetOffsitePending(Start);
    ASSERT_FALSE(again.SaveBackupJobIniFile());
    std::filesystem::remove(Target + "Waits.zip");
    SetNow(Start + libDates::TimeSerial(2, 30, 0));
    tick.Tick(host);
    EXPECT_EQ(host.Notices.size(), 2u);
    ::unsetenv("RCLONE_CONFIG");
}

} // namespace
