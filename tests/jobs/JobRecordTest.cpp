// The job record: defaults, property rules, state letter, copy.

#include "common/TempAppFolder.h"
#include "jobs/CBackupJob.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

class JobRecord : public TempAppFolder {
protected:
    // A job whose Changed flag is False: loaded from a file written by hand in the line layout.
    CBackupJob UnchangedJob() {
        std::string sPath =
            WriteFile(App + "BackupJobs/plain.slj", "Plain\r\nJan-01-2020 10:00\r\n10:00\r\n1\r\n254\r\n1\r\n"
                                                    "True\r\n3\r\nsecret\r\nFalse\r\n\r\n/src/a\r\n");
        CBackupJob job;
        EXPECT_FALSE(job.OpenBackupJob(sPath));
        EXPECT_FALSE(job.Changed());
        return job;
    }
};

TEST_F(JobRecord, PropertyWritesFollowTheirRules) {
    {
        CBackupJob job = UnchangedJob();
        job.SetRunCount(-5);
        EXPECT_EQ(job.RunCount(), -1);
        EXPECT_FALSE(job.Changed());
        job.SetRunCount(-1); // the current value
        EXPECT_FALSE(job.Changed());
        job.SetRunCount(0);
        EXPECT_EQ(job.RunCount(), 0);
        EXPECT_TRUE(job.Changed());
    }
    {
        CBackupJob job = UnchangedJob();
        job.SetCompress(false);
        EXPECT_FALSE(job.Compress());
        EXPECT_FALSE(job.Changed()) << "Compress never marks the job changed";
        job.SetStatus(3);
        job.SetTag(7);
        EXPECT_FALSE(job.Changed()) << "Status and Tag are plain";
        job.SetFilesToZip(job.FilesToZip());
        EXPECT_FALSE(job.Changed());
        job.SetPassword("p");
        EXPECT_TRUE(job.Changed());
        job.SetFilesToZip("/other\r\n");
        EXPECT_FALSE(job.Changed()) << "a different FilesToZip clears Changed";
    }
    // String writes compare exactly: case matters.
    CBackupJob job = UnchangedJob();
    ASSERT_EQ(job.Password(), "secret");
    job.SetPassword("secret");
    EXPECT_FALSE(job.Changed());
    job.SetPassword("SECRET");
    EXPECT_TRUE(job.Changed());
}

TEST_F(JobRecord, ScheduleWritesVoidTheCachedNextRun) {
    libDates::SetClock(libDates::DateSerial(2027, 3, 10) + libDates::TimeSerial(9, 0, 0));
    CBackupJob job;
    job.SetDayOfWeek(static_cast<int16_t>(254));
    job.DateTimeNextRun();
    ASSERT_GT(job.CachedNextRun(), 2.0);
    job.SetStartTime(0.75);
    EXPECT_EQ(job.CachedNextRun(), 2.0);
    job.DateTimeNextRun();
    job.SetOneShotDates("Mar-10-2027 10:00\r\n");
    EXPECT_EQ(job.CachedNextRun(), 2.0);
    job.DateTimeNextRun();
    job.SetPassword("x"); // not a schedule field: the cache stays
    EXPECT_GT(job.CachedNextRun(), 2.0);
}

TEST_F(JobRecord, StatusLetter) {
    CBackupJob job;
    const char* letters[] = {"?", "D", "W", "M", "O", "?"};
    for (int f = 0; f <= 5; ++f) {
        job.SetFrequency(f);
        EXPECT_EQ(job.StatusAsStr(), letters[f]) << f;
    }
    job.SetFrequency(7);
    EXPECT_EQ(job.StatusAsStr(), "?");
    job.SetFrequency(1);
    job.SetSuspended(true);
    EXPECT_EQ(job.StatusAsStr(), "S");
    job.SetStatus(3);
    EXPECT_FALSE(job.Valid());
    EXPECT_EQ(job.StatusAsStr(), "#");
    job.SetSuspended(false);
    EXPECT_EQ(job.StatusAsStr(), "#");
}

TEST_F(JobRecord, CopyJobMakesANeverRunCopyUnderTheNewName) {
    CBackupJob src;
    src.SetJobNameRaw("Daily Docs");
    src.SetTargetDirectoryRaw("/backup/");
    src.SetFileNameRaw("/elsewhere/Daily Docs.slj");
    src.SetRunCount(12);
    src.SetDateLastRun(45000.25);
    src.SetSizeLastRun(999);
    src.SetFailure(true);
    src.SetTag(4);
    src.SetStatus(3);
    src.SetCopyStyle(2);
    src.SetStartTime(0.3);
    src.SetFrequency(3);
    src.SetDayOfWeek(static_cast<int16_t>(6));
    src.SetDayOfMonth(15);
    src.SetCompress(false);
    src.SetNumberCopies(7);
    src.SetKeepPeriod(1);
    src.SetPassword("pw");
    src.SetFilesToZip("/a\r\n");
    src.SetExcludeSpec("*.o\r\n");
    src.SetSubdirectories(true);
    src.SetIncremental(true);
    src.SetSuspended(true);
    src.SetPreBackupCommand("pre");
    src.SetPostBackupCommand("post");
    src.SetOneShotDates("Jan-01-2030 10:00\r\n");

    CBackupJob copy;
    copy.SetOneShotDates("Feb-02-2031 11:00\r\n");
    copy.CopyJob(src, "Copy of Daily Docs");
    EXPECT_TRUE(copy.Changed());
    EXPECT_EQ(copy.JobName(), "Copy of Daily Docs");
    EXPECT_EQ(copy.FileName(), App + "BackupJobs/Copy of Daily Docs.slj");
    EXPECT_EQ(copy.RunCount(), -1);
    EXPECT_EQ(copy.DateLastRun(), 2.0);
    EXPECT_EQ(copy.CachedNextRun(), 2.0);
    EXPECT_EQ(copy.SizeLastRun(), -1);
    EXPECT_EQ(copy.Tag(), -1);
    EXPECT_EQ(copy.Status(), 0);
    EXPECT_TRUE(copy.Failure()) << "Failure is copied as it is";
    EXPECT_EQ(copy.CopyStyle(), 2);
    EXPECT_EQ(copy.StartTime(), 0.3);
    EXPECT_EQ(copy.Frequency(), 3);
    EXPECT_EQ(copy.DayOfWeek(), 6);
    EXPECT_EQ(copy.DayOfMonth(), 15);
    EXPECT_FALSE(copy.Compress());
    EXPECT_EQ(copy.NumberCopies(), 7);
    EXPECT_EQ(copy.KeepPeriod(), 1);
    EXPECT_EQ(copy.Password(), "pw");
    EXPECT_EQ(copy.TargetDirectory(), "/backup/");
    EXPECT_EQ(copy.FilesToZip(), "/a\r\n");
    EXPECT_EQ(copy.ExcludeSpec(), "*.o\r\n");
    EXPECT_TRUE(copy.Subdirectories() && copy.Incremental() && copy.Suspended());
    EXPECT_EQ(copy.PreBackupCommand(), "pre");
    EXPECT_EQ(copy.PostBackupCommand(), "post");
    EXPECT_EQ(copy.OneShotDates(), "Feb-02-2031 11:00\r\n") << "one-shot dates are not copied";

    // Copying onto itself keeps the definition.
    src.CopyJob(src, "Self");
    EXPECT_EQ(src.Password(), "pw");
    EXPECT_EQ(src.JobName(), "Self");
}

TEST_F(JobRecord, JobNamesThatCannotNameAFileInTheJobFolder) {
    for (const char* s : {"", ".", "..", "a/b", "../x", "/etc/passwd", "x/"})
        EXPECT_FALSE(CBackupJob::IsSafeJobName(s)) << s;
    EXPECT_FALSE(CBackupJob::IsSafeJobName(std::string("a\0b", 3)));
    for (const char* s : {"Docs", "...", ".hidden", "a..b", "Copy of Mail (2)", "a\\b"})
        EXPECT_TRUE(CBackupJob::IsSafeJobName(s)) << s;
    EXPECT_EQ(CBackupJob::JobFileNameFor("../../evil"), "");
    EXPECT_EQ(CBackupJob::JobFileNameFor("Docs"), App + "BackupJobs/Docs.slj");

    // A copy under such a name has no file and its save refuses to write anywhere.
    CBackupJob src;
    CBackupJob copy;
    copy.CopyJob(src, "../../escaped");
    EXPECT_EQ(copy.FileName(), "");
    EXPECT_TRUE(copy.SaveBackupJobIniFile());
    EXPECT_FALSE(std::filesystem::exists(App + "../escaped.slj"));
    EXPECT_FALSE(std::filesystem::exists(App + "BackupJobs/../../escaped.slj"));
}

TEST_F(JobRecord, KeepPeriodTextsAndWeekdayMask) {
    EXPECT_EQ(CBackupJob::KeepPeriodFromText("months"), 3);
    EXPECT_EQ(CBackupJob::KeepPeriodFromText("Weeks"), 2);
    EXPECT_EQ(CBackupJob::KeepPeriodFromText("DAYS"), 1);
    EXPECT_EQ(CBackupJob::KeepPeriodFromText("copies"), 0);
    EXPECT_EQ(CBackupJob::KeepPeriodFromText("years"), 0);
    EXPECT_EQ(CBackupJob::KeepPeriodFromText(""), 0);
    EXPECT_EQ(CBackupJob::KeepPeriodToText(0), "Copies");
    EXPECT_EQ(CBackupJob::KeepPeriodToText(3), "Months");
    EXPECT_EQ(CBackupJob::KeepPeriodToText(4), "");
    EXPECT_EQ(CBackupJob::KeepPeriodToText(-1), "");

    CBackupJob job = UnchangedJob();
    job.SetDayOfWeek(true, false, false, false, false, false, true);
    EXPECT_EQ(job.DayOfWeek(), 6);
    EXPECT_FALSE(job.Changed()) << "the weekday builder writes the field directly";
    job.SetDayOfWeek(true, true, true, true, true, true, true);
    EXPECT_EQ(job.DayOfWeek(), 254);
    job.SetDayOfWeek(false, false, false, false, true, false, false);
    EXPECT_EQ(job.DayOfWeek(), 64);
    job.SetDayOfWeek(false, false, false, false, false, false, false);
    EXPECT_EQ(job.DayOfWeek(), 0);
}

} // namespace
