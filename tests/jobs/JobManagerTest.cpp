// The job manager: the catalogue of job files, handles, due jobs and the shared job object.

#include "common/TempJobFolder.h"
#include "jobs/JobHealth.h"

#include <set>

namespace {

using libDates::DateSerial;
using libDates::TimeSerial;

const double kNow = DateSerial(2027, 3, 10) + TimeSerial(12, 0, 0); // a Wednesday

class JobManagerTest : public TempJobFolder {
protected:
    void SetUp() override {
        TempJobFolder::SetUp();
        StartJobs(kNow, false);
    }

    // Saves a daily job (all weekdays) at the given start time, without a manager around.
    std::string SaveJob(const std::string& sName, double dStart, bool bSuspended = false,
                        int32_t lFrequency = CBackupJob::Daily) {
        CBackupJob job;
        job.CopyJob(CBackupJob(), sName);
        job.SetFrequency(lFrequency);
        job.SetDayOfWeek(CBackupJob::AllDays);
        job.SetStartTime(dStart);
        job.SetSuspended(bSuspended);
        job.SetFilesToZip("/src/" + sName + "\r\n");
        EXPECT_FALSE(job.SaveBackupJobIniFile());
        return job.FileName();
    }
};

TEST_F(JobManagerTest, HandlesAndTheSharedJobAfterReloadDeleteAndAdd) {
    // A missing or empty job folder is an empty catalogue.
    std::filesystem::remove(App + "BackupJobs");
    CBackupJobManager manager;
    manager.Reload();
    EXPECT_EQ(manager.Count(), 0);
    EXPECT_EQ(manager.BackupsToRun(kNow + 365), std::vector<int32_t>{-1});
    std::filesystem::create_directories(App + "BackupJobs");
    manager.Reload();
    EXPECT_EQ(manager.Count(), 0);
    EXPECT_EQ(manager.JobFromIndex(0), nullptr);
    EXPECT_EQ(manager.JobFromHandle(-1), nullptr) << "nothing loaded: -1 is no job";

    std::string a = SaveJob("Alpha", 0.25), b = SaveJob("Beta", 0.5), c = SaveJob("Gamma", 0.75);
    WriteFile(App + "BackupJobs/notes.txt", "not a job");
    WriteFile(App + "BackupJobs/UPPER.SLJ", "[Config]\r\nJobName=Upper\r\n");
    std::filesystem::create_directories(App + "BackupJobs/folder.slj");
    manager.Reload();
    ASSERT_EQ(manager.Count(), 4) << "*.slj files of any letter case; no folders, no other files";
    EXPECT_EQ(manager.FileNameFromHandle(0), a);
    EXPECT_EQ(manager.FileNameFromHandle(1), b);
    EXPECT_EQ(manager.FileNameFromHandle(2), c);
    EXPECT_EQ(manager.FileNameFromHandle(3), App + "BackupJobs/UPPER.SLJ");
    EXPECT_EQ(manager.NextRunFromHandle(0), CBackupJob::NotComputed) << "no file is opened by Reload";

    manager.DeleteByHandle(1);
    manager.DeleteByHandle(1); // gone already: nothing happens
    manager.DeleteByHandle(3);
    EXPECT_EQ(manager.Count(), 2);
    CBackupJob job;
    job.CopyJob(CBackupJob(), "Delta");
    EXPECT_EQ(manager.Add(job), 4);
    EXPECT_EQ(job.Tag(), 4);
    EXPECT_EQ(manager.Count(), 3);
    EXPECT_EQ(manager.FileNameFromHandle(1), "");
    EXPECT_EQ(manager.JobFromHandle(1), nullptr);

    // Clear keeps counting; Reload starts again from 0.
    manager.Clear();
    EXPECT_EQ(manager.Count(), 0);
    EXPECT_EQ(manager.Add(job), 5);
    manager.Reload();
    EXPECT_EQ(manager.FileNameFromHandle(0), a);
    EXPECT_EQ(manager.FileNameFromHandle(5), "");

    // One shared job object, loaded by index or handle.
    CBackupJob* p0 = manager.JobFromIndex(0);
    ASSERT_NE(p0, nullptr);
    EXPECT_EQ(p0->JobName(), "Alpha");
    EXPECT_EQ(p0->Tag(), 0);
    CBackupJob* p1 = manager.JobFromIndex(1);
    EXPECT_EQ(p1, p0) << "one shared object";
    EXPECT_EQ(p1->JobName(), "Beta");
    EXPECT_EQ(manager.NextRunFromHandle(1), DateSerial(2027, 3, 11) + 0.5) << "loading stores the next run";
    // Unsaved changes stay visible while the same handle is asked for.
    p1->SetPassword("unsaved");
    EXPECT_EQ(manager.JobFromHandle(1)->Password(), "unsaved");
    EXPECT_EQ(manager.JobFromHandle(0)->JobName(), "Alpha");
    EXPECT_EQ(manager.JobFromHandle(1)->Password(), "") << "reloaded from its file";

    manager.DeleteByHandle(1);
    EXPECT_EQ(&manager.SharedJob(), p0);
    EXPECT_EQ(manager.SharedJob().Tag(), 1) << "deleting leaves the shared job alone";
}

TEST_F(JobManagerTest, DueJobsInListOrderStrictlyBetween1900AndAsOf) {
    SaveJob("A", TimeSerial(13, 0, 0));                            // today 13:00
    SaveJob("B", TimeSerial(11, 0, 0));                            // tomorrow 11:00
    SaveJob("C", TimeSerial(12, 30, 0), true);                     // suspended
    SaveJob("D", TimeSerial(12, 15, 0));                           // today 12:15
    SaveJob("E", TimeSerial(9, 0, 0), false, CBackupJob::OneShot); // no dates: never
    CBackupJobManager manager;
    manager.Reload();
    EXPECT_EQ(manager.BackupsToRun(kNow), std::vector<int32_t>{-1}) << "nothing is due yet";
    EXPECT_EQ(manager.NextRunFromHandle(2), CBackupJob::FarFuture);
    EXPECT_EQ(manager.NextRunFromHandle(4), CBackupJob::FarFuture);
    const double dA = DateSerial(2027, 3, 10) + TimeSerial(13, 0, 0);
    const double dD = DateSerial(2027, 3, 10) + TimeSerial(12, 15, 0);
    ASSERT_EQ(manager.NextRunFromHandle(0), dA);
    ASSERT_EQ(manager.NextRunFromHandle(3), dD);
    EXPECT_EQ(manager.BackupsToRun(dD), std::vector<int32_t>{-1}) << "a next run equal to asOf is not due";
    EXPECT_EQ(manager.BackupsToRun(dA), (std::vector<int32_t>{3}));
    EXPECT_EQ(manager.BackupsToRun(dA + 1e-6), (std::vector<int32_t>{0, 3}));
    EXPECT_EQ(manager.BackupsToRun(kNow + 2), (std::vector<int32_t>{0, 1, 3})) << "list order, not time order";
}

// Adding and refreshing through a save are checked below; here what only Update does.
TEST_F(JobManagerTest, UpdateGivesAnInvalidJobNoRunAndAddsOnlyWhenAsked) {
    SaveJob("A", TimeSerial(13, 0, 0));
    CBackupJobManager manager;
    manager.Reload();
    CBackupJob* pJob = manager.JobFromIndex(0);
    pJob->SetStatus(3);
    manager.Update(*pJob, true);
    EXPECT_EQ(manager.NextRunFromHandle(0), CBackupJob::FarFuture) << "an invalid job never runs";
    CBackupJob fresh;
    fresh.CopyJob(CBackupJob(), "Fresh");
    manager.Update(fresh, false);
    EXPECT_EQ(manager.Count(), 1) << "not added without addIfNew";
    EXPECT_EQ(fresh.Tag(), -1);
}

TEST_F(JobManagerTest, ASaveTellsTheOneManagerWhenThereIsOne) {
    ASSERT_EQ(JobManager(), nullptr);
    SaveJob("Before", 0.5); // no manager: the save still works
    CBackupJobManager& manager = CreateJobManager();
    EXPECT_EQ(&CreateJobManager(), &manager);
    EXPECT_EQ(JobManager(), &manager);
    manager.Reload();
    ASSERT_EQ(manager.Count(), 1);

    CBackupJob job;
    job.CopyJob(CBackupJob(), "New");
    job.SetDayOfWeek(CBackupJob::AllDays);
    job.SetStartTime(TimeSerial(18, 0, 0));
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    EXPECT_EQ(manager.Count(), 2) << "a new job is registered by its first save";
    EXPECT_EQ(job.Tag(), 1);
    EXPECT_EQ(manager.FileNameFromHandle(1), App + "BackupJobs/New.slj");
    EXPECT_EQ(manager.NextRunFromHandle(1), DateSerial(2027, 3, 10) + TimeSerial(18, 0, 0));
    job.SetStartTime(TimeSerial(19, 0, 0));
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    EXPECT_EQ(manager.Count(), 2) << "later saves refresh the same entry";
    EXPECT_EQ(manager.NextRunFromHandle(1), DateSerial(2027, 3, 10) + TimeSerial(19, 0, 0));

    // The shared job, saved after a change, moves its own entry on.
    CBackupJob* pShared = manager.JobFromIndex(0);
    pShared->SetSuspended(true);
    ASSERT_FALSE(pShared->SaveBackupJobIniFile());
    EXPECT_EQ(manager.NextRunFromHandle(0), CBackupJob::FarFuture);
    EXPECT_EQ(manager.Count(), 2);

    DestroyJobManager();
    EXPECT_EQ(JobManager(), nullptr);
    job.SetStartTime(TimeSerial(20, 0, 0));
    EXPECT_FALSE(job.SaveBackupJobIniFile());
}

TEST_F(JobManagerTest, DuplicateNamesAndDamagedFilesKeepTheirEntries) {
    WriteFile(App + "BackupJobs/one.slj", "[Config]\r\nJobName=Same\r\nDayOfWeek=254\r\nStartTime=13:00\r\n");
    WriteFile(App + "BackupJobs/two.slj", "[Config]\r\nJobName=same\r\nDayOfWeek=254\r\nStartTime=14:00\r\n");
    WriteFile(App + "BackupJobs/zz-junk.slj", std::string("\x01\xff\0garbage\r\n\xfe", 14));
    WriteFile(App + "BackupJobs/zz-weekless.slj", "Weekless\r\nJan-01-2020 10:00\r\n10:00\r\n1\r\n0\r\n1\r\n"
                                                  "True\r\n3\r\n\r\nFalse\r\n\r\n");
    CBackupJobManager manager;
    manager.Reload();
    ASSERT_EQ(manager.Count(), 4);
    EXPECT_EQ(manager.JobFromIndex(0)->JobName(), "Same");
    EXPECT_EQ(manager.JobFromIndex(1)->JobName(), "same");
    EXPECT_EQ(manager.JobFromIndex(0)->Status(), 0) << "the manager does not judge names; the job list does";
    std::filesystem::remove(App + "BackupJobs/two.slj");
    std::vector<int32_t> due;
    ASSERT_NO_THROW(due = manager.BackupsToRun(kNow + 1.5));
    EXPECT_EQ(manager.Count(), 4) << "a file that no longer loads keeps its entry";
    EXPECT_EQ(due.front(), 0);
    EXPECT_EQ(manager.NextRunFromHandle(3), CBackupJob::FarFuture) << "a mask without weekdays never runs";
    EXPECT_FALSE(std::filesystem::exists(App + "stowline.err"));
}

// Missed moments and staleness read from real job files, with the clock set by the test.
class JobHealthTest : public JobManagerTest {
protected:
    // A daily job at 03:00 with its last run and last success (NotComputed: none recorded).
    std::string SaveRun(const std::string& sName, double dLastRun, double dLastSuccess, bool bSuspended = false) {
        CBackupJob job;
        job.OpenBackupJob(SaveJob(sName, TimeSerial(3, 0, 0), bSuspended));
        job.SetDateLastRun(dLastRun);
        job.SetDateLastSuccess(dLastSuccess);
        EXPECT_FALSE(job.SaveBackupJobIniFile());
        return job.FileName();
    }
    static void SetSaved(const std::string& sFile, double dWhen) {
        const int64_t ns = libDates::ToFileTimeNs(dWhen);
        SetFileTime(sFile, ns / 1000000000, ns % 1000000000);
    }
};

// The tick's trials run the jobs; here, the window of seven days and which moment counts.
TEST_F(JobHealthTest, MissedMomentIsTheLatestAfterTheLastRunWithinAWeek) {
    CBackupJob job;
    job.SetDayOfWeek(CBackupJob::AllDays);
    job.SetStartTime(TimeSerial(3, 0, 0));
    job.SetDateLastRun(kNow - 3);
    const double dToday3 = DateSerial(2027, 3, 10) + TimeSerial(3, 0, 0);
    EXPECT_DOUBLE_EQ(JobHealth::MissedMoment(job, kNow), dToday3) << "the latest of three missed moments";
    job.SetDateLastRun(dToday3 + 0.01);
    EXPECT_EQ(JobHealth::MissedMoment(job, kNow), CBackupJob::NotComputed) << "it ran after the moment";
    libDates::SetClock(kNow + 1);
    EXPECT_DOUBLE_EQ(JobHealth::MissedMoment(job, kNow + 1), dToday3 + 1) << "the next day's moment is its own";
    job.SetFrequency(CBackupJob::Monthly);
    job.SetDayOfMonth(2);
    job.SetDateLastRun(kNow - 30);
    libDates::SetClock(kNow);
    EXPECT_EQ(JobHealth::MissedMoment(job, kNow), CBackupJob::NotComputed) << "eight days back";
    libDates::SetClock(kNow - 2);
    EXPECT_DOUBLE_EQ(JobHealth::MissedMoment(job, kNow - 2), dToday3 - 8) << "six days back";
    job.SetSuspended(true);
    EXPECT_EQ(JobHealth::MissedMoment(job, kNow - 2), CBackupJob::NotComputed);
}

TEST_F(JobHealthTest, StaleOverTheBoundaryAndForFilesWithoutASuccess) {
    SaveRun("Good", kNow - 7, kNow - 7);
    std::string sFailing = SaveRun("Failing", kNow - 1, kNow - 8);
    std::string sNew = SaveJob("New", TimeSerial(3, 0, 0));
    SetSaved(sNew, kNow - 6);
    std::string sOldFile = SaveJob("OldFile", TimeSerial(3, 0, 0));
    SetSaved(sOldFile, kNow - 40);
    SaveRun("Paused", kNow - 30, kNow - 30, true);
    CBackupJobManager manager;
    manager.Reload();
    auto stale = [&](double dNow, int iDays) {
        std::set<std::string> names;
        for (const auto& st : JobHealth::StaleJobs(manager, dNow, iDays))
            names.insert(st.JobName + "@" + libDates::Format(st.Since, "mmm-dd-yyyy hh:mm"));
        return names;
    };
    // Reading the jobs leaves the stored next runs alone: a job due now stays due.
    manager.BackupsToRun(kNow);
    libDates::SetClock(kNow + 0.7);
    stale(kNow + 0.7, 7);
    EXPECT_EQ(manager.BackupsToRun(kNow + 0.7).size(), 4u) << "every active job's 03:00 has passed";
    libDates::SetClock(kNow);
    EXPECT_EQ(stale(kNow, 7), (std::set<std::string>{"Failing@Mar-02-2027 12:00", "OldFile@Jan-29-2027 12:00"}));
    EXPECT_EQ(stale(kNow + 1.0 / 1440, 7), (std::set<std::string>{"Good@Mar-03-2027 12:00", "Failing@Mar-02-2027 12:00",
                                                                  "OldFile@Jan-29-2027 12:00"}))
        << "a minute past seven days";
    EXPECT_TRUE(stale(kNow + 30, 0).empty()) << "0 days turns the alarm off";
    EXPECT_EQ(stale(kNow + 2, 7).count("New@Mar-04-2027 12:00"), 1u) << "a never-run job ages from its last save";

    bool bAlarm = false;
    std::string sReport = JobHealth::StatusReport(manager, kNow, 7, bAlarm);
    EXPECT_TRUE(bAlarm);
    EXPECT_NE(sReport.find("Good\tok\tMar-03-2027 12:00\tMar-03-2027 12:00\tMar-11-2027 03:00\toff\t-\n"),
              std::string::npos)
        << sReport;
    EXPECT_NE(sReport.find("Failing\tfailed\t"), std::string::npos);
    EXPECT_NE(sReport.find("New\tnever run\t-\t-\tMar-11-2027 03:00\toff\t-\n"), std::string::npos);
    EXPECT_NE(sReport.find("OldFile\tstale\t-\t-\t"), std::string::npos);
    std::filesystem::remove(sFailing);
    std::filesystem::remove(sOldFile);
    manager.Reload();
    JobHealth::StatusReport(manager, kNow, 7, bAlarm);
    EXPECT_FALSE(bAlarm) << "ok, never run and suspended jobs raise no alarm";
}

} // namespace
