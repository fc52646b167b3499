// A failed last run told from a success of the same minute: the DateLastFailure key of the job
// file (written to the second, beside the minute-resolution dates), its round trip, files
// written before it existed, and what the one rule of JobHealth makes of each record.

#include "common/TempAppFolder.h"
#include "jobs/CBackupJob.h"
#include "jobs/CBackupJobManager.h"
#include "jobs/JobHealth.h"
#include "support/libIni.h"

namespace {

using libDates::DateSerial;
using libDates::TimeSerial;

const double kDay = DateSerial(2026, 12, 7);
double At(int iHour, int iMinute, int iSecond) { return kDay + TimeSerial(iHour, iMinute, iSecond); }

class JobStatus : public TempAppFolder {
protected:
    // A saved daily job that has never run.
    CBackupJob NewJob(const std::string& sName) {
        CBackupJob job;
        job.CopyJob(CBackupJob(), sName);
        job.SetDayOfWeek(CBackupJob::AllDays);
        job.SetTargetDirectoryRaw("/backup/");
        EXPECT_FALSE(job.SaveBackupJobIniFile());
        return job;
    }
    // What a backup run records at its end, saved; the job as the file then gives it back.
    static CBackupJob RecordRun(CBackupJob& job, double dWhen, bool bFailed) {
        job.SetDateLastRun(dWhen);
        if (!bFailed) job.SetDateLastSuccess(dWhen);
        job.SetDateLastFailure(bFailed ? dWhen : CBackupJob::NotComputed);
        EXPECT_FALSE(job.SaveBackupJobIniFile());
        CBackupJob back;
        EXPECT_FALSE(back.OpenBackupJob(job.FileName()));
        return back;
    }
    static std::string Key(const std::string& sFile, const char* sKey) {
        IniFile ini;
        EXPECT_TRUE(ini.Load(sFile));
        return ini.Has("Config", sKey) ? ini.Get("Config", sKey) : "(none)";
    }
    static std::string StateAt(const CBackupJob& job, double dNow) {
        return JobHealth::StateText(JobHealth::StateOf(job, dNow, 7));
    }
};

TEST_F(JobStatus, TheFailureTimeIsWrittenToTheSecondAndTakenAwayByASuccess) {
    CBackupJob job = NewJob("Docs");
    RecordRun(job, At(10, 0, 5), false);
    EXPECT_EQ(Key(job.FileName(), "DateLastFailure"), "(none)") << "a success writes no failure";
    const CBackupJob back = RecordRun(job, At(10, 0, 40), true);
    // The older keys keep their minute format and read the same for both runs.
    EXPECT_EQ(Key(job.FileName(), "DateLastRun"), "Dec-07-2026 10:00");
    EXPECT_EQ(Key(job.FileName(), "DateLastSuccess"), "Dec-07-2026 10:00");
    EXPECT_EQ(Key(job.FileName(), "DateLastFailure"), "12/07/2026 10:00:40");
    EXPECT_EQ(libDates::Format(back.DateLastFailure(), "mm/dd/yyyy hh:mm:ss"), "12/07/2026 10:00:40");

    // A later success of the same minute takes the key away again, whatever else the file holds.
    CBackupJob again = back;
    const CBackupJob after = RecordRun(again, At(10, 0, 50), false);
    EXPECT_EQ(Key(job.FileName(), "DateLastFailure"), "(none)");
    EXPECT_EQ(after.DateLastFailure(), CBackupJob::NotComputed);

    // A value that is no date reads as none.
    WriteFile(App + "BackupJobs/Damaged.slj",
              "[Config]\r\nJobName=Damaged\r\nDateLastRun=Dec-07-2026 10:00\r\nDateLastSuccess=Dec-07-2026 10:00\r\n"
              "DateLastFailure=10:00:4x\r\n");
    CBackupJob damaged;
    ASSERT_FALSE(damaged.OpenBackupJob(App + "BackupJobs/Damaged.slj"));
    EXPECT_EQ(damaged.DateLastFailure(), CBackupJob::NotComputed);
    EXPECT_EQ(StateAt(damaged, At(11, 0, 0)), "ok");
}

TEST_F(JobStatus, TheStartOfTheLastRunIsKeptToTheNanosecondAndADamagedOneReadsAsNone) {
    CBackupJob job = NewJob("Docs");
    EXPECT_EQ(Key(job.FileName(), "LastRunStartNs"), "(none)") << "a job that never ran has none";
    job.SetLastRunStartNs(1796637605123456789);
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    EXPECT_EQ(Key(job.FileName(), "LastRunStartNs"), "1796637605123456789");
    CBackupJob back;
    ASSERT_FALSE(back.OpenBackupJob(job.FileName()));
    EXPECT_EQ(back.LastRunStartNs(), 1796637605123456789);
    for (const char* sBad : {"-5", "12x", "99999999999999999999", "9223372036854775808", ""}) {
        SCOPED_TRACE(sBad);
        WriteFile(App + "BackupJobs/Damaged.slj",
                  std::string("[Config]\r\nJobName=Damaged\r\nLastRunStartNs=") + sBad + "\r\n");
        CBackupJob damaged;
        ASSERT_FALSE(damaged.OpenBackupJob(App + "BackupJobs/Damaged.slj"));
        EXPECT_EQ(damaged.LastRunStartNs(), 0);
    }
}

TEST_F(JobStatus, AFileWrittenBeforeTheKeyLoadsAndSavesByteForByte) {
    const std::string sOld =
        "[Config]\r\nJobName=Old\r\nDateLastRun=Dec-07-2026 10:00\r\nDateLastSuccess=Dec-07-2026 10:00\r\n"
        "SizeLastRun=1234\r\nRunCount=7\r\nStartTime=10:00\r\nFrequency=1\r\nDayOfWeek=254\r\nDayOfMonth=1\r\n"
        "Compress=-1\r\nCopyStyle=0\r\nKeepCount=3\r\nKeepPeriod=Copies\r\nPassword=\r\nParseSubDir=-1\r\n"
        "Incremental=0\r\nSuspended=0\r\nPreBackupCommand=\r\nPostBackupCommand=\r\nTargetDir=/backup/\r\n"
        "[Source]\r\nFile_0=/data/\r\n[Exclude]\r\n[OneShot]\r\n";
    const std::string sPath = WriteFile(App + "BackupJobs/Old.slj", sOld);
    CBackupJob job;
    ASSERT_FALSE(job.OpenBackupJob(sPath));
    EXPECT_EQ(job.DateLastFailure(), CBackupJob::NotComputed);
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    EXPECT_EQ(ReadFile(sPath), sOld);
}

TEST_F(JobStatus, AFailureAfterASuccessOfTheSameMinuteIsFailedAndTheReverseIsOk) {
    CBackupJob failing = NewJob("Failing");
    RecordRun(failing, At(10, 0, 5), false);
    const CBackupJob failed = RecordRun(failing, At(10, 0, 40), true);
    EXPECT_TRUE(JobHealth::HasFailed(failed));
    EXPECT_EQ(StateAt(failed, At(10, 5, 0)), "failed");

    CBackupJob mending = NewJob("Mending");
    RecordRun(mending, At(10, 0, 5), true);
    const CBackupJob mended = RecordRun(mending, At(10, 0, 40), false);
    EXPECT_FALSE(JobHealth::HasFailed(mended));
    EXPECT_EQ(StateAt(mended, At(10, 5, 0)), "ok");

    // The report of /STATUS reads the files and raises the alarm for the failed job only.
    CBackupJobManager manager;
    manager.Reload();
    bool bAlarm = false;
    const std::string sReport = JobHealth::StatusReport(manager, At(10, 5, 0), 7, bAlarm);
    EXPECT_TRUE(bAlarm);
    EXPECT_NE(sReport.find("Failing\tfailed\tDec-07-2026 10:00\tDec-07-2026 10:00\t"), std::string::npos) << sReport;
    EXPECT_NE(sReport.find("Mending\tok\tDec-07-2026 10:00\tDec-07-2026 10:00\t"), std::string::npos) << sReport;

    // In memory too, where both moments round to the same whole second.
    CBackupJob close = NewJob("Close");
    const double dSuccess = At(10, 0, 5) + 0.6 / 86400, dFailure = At(10, 0, 6) + 0.2 / 86400;
    close.SetDateLastRun(dSuccess);
    close.SetDateLastSuccess(dSuccess);
    close.SetDateLastRun(dFailure);
    close.SetDateLastFailure(dFailure);
    EXPECT_TRUE(JobHealth::HasFailed(close));
}

TEST_F(JobStatus, FilesWithoutTheKeyAndKeysLeftFromAnEarlierMinuteReadAsBefore) {
    auto load = [&](const std::string& sName, const std::string& sLines) {
        WriteFile(App + "BackupJobs/" + sName + ".slj",
                  "[Config]\r\nJobName=" + sName + "\r\nDayOfWeek=254\r\n" + sLines);
        CBackupJob job;
        EXPECT_FALSE(job.OpenBackupJob(App + "BackupJobs/" + sName + ".slj"));
        return job;
    };
    const double dNow = At(12, 0, 0);
    EXPECT_EQ(
        StateAt(load("SameMinute", "DateLastRun=Dec-07-2026 10:00\r\nDateLastSuccess=Dec-07-2026 10:00\r\n"), dNow),
        "ok");
    EXPECT_EQ(StateAt(load("Later", "DateLastRun=Dec-07-2026 10:01\r\nDateLastSuccess=Dec-07-2026 10:00\r\n"), dNow),
              "failed");
    EXPECT_EQ(StateAt(load("NoSuccess", "DateLastRun=Dec-07-2026 10:01\r\n"), dNow), "failed");
    EXPECT_EQ(StateAt(load("Never", "DateLastRun=Jan-01-1900 00:00\r\n"), dNow), "never run");
    // A program that does not know the key ran the job successfully at 11:00 and left the key of
    // a 10:00 failure in place: it belongs to no run the file records any more.
    EXPECT_EQ(StateAt(load("Leftover", "DateLastRun=Dec-07-2026 11:00\r\nDateLastSuccess=Dec-07-2026 11:00\r\n"
                                       "DateLastFailure=12/07/2026 10:00:40\r\n"),
                      dNow),
              "ok");
    // A failure key of the last run's minute counts, also when the success is older.
    EXPECT_EQ(StateAt(load("Both", "DateLastRun=Dec-07-2026 10:00\r\nDateLastSuccess=Dec-07-2026 09:00\r\n"
                                   "DateLastFailure=12/07/2026 10:00:40\r\n"),
                      dNow),
              "failed");
}

} // namespace
