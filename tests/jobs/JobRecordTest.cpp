// The job record: property rules, state letter, safe names.

#include "common/TempAppFolder.h"
#include "jobs/CBackupJob.h"

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
        return job;
    }
};

TEST_F(JobRecord, PropertyWritesFollowTheirRules) {
    CBackupJob job = UnchangedJob();
    job.SetRunCount(-5);
    EXPECT_EQ(job.RunCount(), -1);
    job.SetRunCount(-1); // the current value
    job.SetCompress(false);
    EXPECT_FALSE(job.Compress());
    job.SetStatus(3);
    job.SetTag(7);
    job.SetFilesToZip(job.FilesToZip());
    ASSERT_EQ(job.Password(), "secret");
    job.SetPassword("secret");
    EXPECT_FALSE(job.Changed()) << "same values, Compress, Status and Tag never mark the job changed";
    job.SetPassword("SECRET"); // string writes compare exactly: case matters
    EXPECT_TRUE(job.Changed());
    job.SetFilesToZip("/other\r\n");
    EXPECT_FALSE(job.Changed()) << "a different FilesToZip clears Changed";
    job.SetRunCount(0);
    EXPECT_EQ(job.RunCount(), 0);
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

TEST_F(JobRecord, JobNamesThatCannotNameAFileInTheJobFolder) {
    // Also those whose clean name (what names the archives and the temporary folder) is empty
    // or nothing but dots.
    for (const char* s : {"", ".", "..", "...", "a/b", "../x", "/etc/passwd", "x/", "' '", "'.'", "(..)", " . "})
        EXPECT_FALSE(CBackupJob::IsSafeJobName(s)) << s;
    EXPECT_FALSE(CBackupJob::IsSafeJobName(std::string("a\0b", 3)));
    EXPECT_FALSE(CBackupJob::IsSafeJobName(std::string(CBackupJob::MaxJobNameBytes + 1, 'x')));
    for (const char* s : {"Docs", ".hidden", "a..b", "Copy of Mail (2)", "a\\b", "..x"})
        EXPECT_TRUE(CBackupJob::IsSafeJobName(s)) << s;
    EXPECT_TRUE(CBackupJob::IsSafeJobName(std::string(CBackupJob::MaxJobNameBytes, 'x')));
    EXPECT_EQ(CBackupJob::CleanJobName("Copy of Mail (2)"), "CopyofMail2");
    EXPECT_EQ(CBackupJob::CleanJobName("' . . '"), "");
    EXPECT_EQ(CBackupJob::CleanJobName("a/../b"), "");
    EXPECT_EQ(CBackupJob::JobFileNameFor("../../evil"), "");
    EXPECT_EQ(CBackupJob::JobFileNameFor("Docs"), App + "BackupJobs/Docs.slj");

    // A copy under such a name has no file and its save refuses to write anywhere.
    CBackupJob src;
    CBackupJob copy;
    copy.CopyJob(src, "../../escaped");
    EXPECT_EQ(copy.FileName(), "");
    EXPECT_TRUE(copy.SaveBackupJobIniFile());
    EXPECT_FALSE(std::filesystem::exists(App + "../escaped.slj"));
}

TEST_F(JobRecord, KeepPeriodTextsAndWeekdayMask) {
    const std::pair<const char*, int> fromText[] = {{"months", 3}, {"Weeks", 2}, {"DAYS", 1},
                                                    {"copies", 0}, {"years", 0}, {"", 0}};
    for (const auto& [sText, iPeriod] : fromText)
        EXPECT_EQ(CBackupJob::KeepPeriodFromText(sText), iPeriod) << sText;
    const std::pair<int, const char*> toText[] = {{0, "Copies"}, {3, "Months"}, {4, ""}, {-1, ""}};
    for (const auto& [iPeriod, sText] : toText)
        EXPECT_EQ(CBackupJob::KeepPeriodToText(iPeriod), sText) << iPeriod;

    CBackupJob job = UnchangedJob();
    job.SetDayOfWeek(true, false, false, false, false, false, true);
    EXPECT_EQ(job.DayOfWeek(), 6);
    EXPECT_FALSE(job.Changed()) << "the weekday builder writes the field directly";
    job.SetDayOfWeek(true, true, true, true, true, true, true);
    EXPECT_EQ(job.DayOfWeek(), 254);
}

} // namespace
