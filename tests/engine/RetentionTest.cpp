// Retention of older archives: names, rotation, restore, purge and the newest-archive look-up.

#include "RunTestSupport.h"

#include "engine/libRetention.h"

using namespace runtest;

namespace {

libRetention::DatedZipName Parse(const std::string& sName, bool& bOk, const std::string& sBase = "Job") {
    libRetention::DatedZipName r;
    bOk = libRetention::ParseDatedZipName(sName, sBase, r);
    return r;
}

} // namespace

TEST(RetentionNames, DatedNamesReadTheFormTheRunWrites) {
    bool ok = false;
    auto r = Parse("Job_20011231.zip", ok);
    ASSERT_TRUE(ok);
    EXPECT_DOUBLE_EQ(r.Date, libDates::DateSerial(2001, 12, 31));
    EXPECT_EQ(r.CopyNumber, 0);
    EXPECT_FALSE(r.KeepMark);

    r = Parse("Job_20011231(12).zip", ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(r.CopyNumber, 12);

    r = Parse("Job_p20240229.ZIP", ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(r.KeepMark);
    EXPECT_DOUBLE_EQ(r.Date, libDates::DateSerial(2024, 2, 29));

    r = Parse("Job_P011231(1).zip", ok); // the short yymmdd form
    ASSERT_TRUE(ok);
    EXPECT_TRUE(r.KeepMark);
    EXPECT_DOUBLE_EQ(r.Date, libDates::DateSerial(2001, 12, 31));
    r = Parse("Job_991231.zip", ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(libDates::Year(r.Date), 1999);

    // A base name holding "_" is still read from its own end.
    r = Parse("My_Job_20270101.zip", ok, "My_Job");
    EXPECT_TRUE(ok);
}

TEST(RetentionNames, AnythingElseIsNotThisJobsDatedArchive) {
    bool ok = true;
    for (const char* s : {"Job_20230229.zip", "Job_20231301.zip", "Job_2023123.zip", "Job_202312311.zip",
                          "Job_20231231(x).zip", "Job_20231231(1.zip", "Job_20231231.txt", "Job20231231.zip",
                          "Job2_20231231.zip", "JobX_20231231.zip", "job_20231231.zip", "Job_.zip", "Job_1.zip",
                          "Job_Q20231231.zip", "Job_20231231 .zip", "Job_20231231(1)x.zip", "Other_20231231.zip"}) {
        Parse(s, ok);
        EXPECT_FALSE(ok) << s;
    }
}

TEST(RetentionNames, CountedNamesAndOwnership) {
    int n = -1;
    EXPECT_TRUE(libRetention::ParseCountedZipName("Job.zip", "Job", n));
    EXPECT_EQ(n, 0);
    EXPECT_TRUE(libRetention::ParseCountedZipName("Job_17.zip", "Job", n));
    EXPECT_EQ(n, 17);
    for (const char* s : {"Job_0.zip", "Job_01.zip", "Job_.zip", "Job2.zip", "Job2_1.zip", "Job_1a.zip", "Job_1.ZIP"})
        EXPECT_FALSE(libRetention::ParseCountedZipName(s, "Job", n)) << s;
    EXPECT_TRUE(libRetention::IsOwnZipName("Job_20270101(3).zip", "Job"));
    EXPECT_TRUE(libRetention::IsOwnZipName("Job_4.zip", "Job"));
    EXPECT_FALSE(libRetention::IsOwnZipName("Job2_4.zip", "Job"));
    EXPECT_FALSE(libRetention::IsOwnZipName("Job_backup.zip", "Job"));
}

using Retention = RunFixture;

TEST_F(Retention, RotationShiftsKeptCopiesAndDeletesTheRest) {
    const std::string base = Tgt + "Job";
    for (const char* s : {"Job.zip", "Job_1.zip", "Job_2.zip", "Job_3.zip", "Job_7.zip", "Job2_1.zip"})
        Touch(Tgt + s, s);
    EXPECT_FALSE(libRetention::RotateCountedZips(base, 3, 99));
    EXPECT_FALSE(Exists(base + ".zip"));
    EXPECT_EQ(ReadFile(base + "_1.zip"), "Job.zip");
    EXPECT_EQ(ReadFile(base + "_2.zip"), "Job_1.zip");
    EXPECT_EQ(ReadFile(base + "_3.zip"), "Job_2.zip");
    EXPECT_FALSE(Exists(base + "_7.zip"));
    EXPECT_EQ(ReadFile(Tgt + "Job2_1.zip"), "Job2_1.zip"); // the neighbour is never touched

    // The zip run made nothing: the rotation is undone.
    libRetention::RestoreCountedZips(base, 99);
    EXPECT_EQ(ReadFile(base + ".zip"), "Job.zip");
    EXPECT_EQ(ReadFile(base + "_1.zip"), "Job_1.zip");
    EXPECT_EQ(ReadFile(base + "_2.zip"), "Job_2.zip");
    EXPECT_FALSE(Exists(base + "_3.zip"));
}

TEST_F(Retention, NoCopiesKeptAndCopiesAboveTheMaximumUntouched) {
    const std::string base = Tgt + "Job";
    for (const char* s : {"Job.zip", "Job_1.zip", "Job_5.zip", "Job_6.zip"})
        Touch(Tgt + s, s);
    EXPECT_FALSE(libRetention::RotateCountedZips(base, 0, 5));
    EXPECT_TRUE(Exists(base + ".zip")); // deleted by the run itself, after the rotation
    EXPECT_FALSE(Exists(base + "_1.zip"));
    EXPECT_FALSE(Exists(base + "_5.zip"));
    EXPECT_TRUE(Exists(base + "_6.zip")); // above MaxBackupCopies
}

TEST_F(Retention, ANameWithWildcardCharactersDeletesOnlyItsOwnFiles) {
    // "?" is not removed from job names; it must never widen a deletion.
    Touch(Tgt + "Jo?_1.zip", "own");
    Touch(Tgt + "Job_1.zip", "other");
    EXPECT_FALSE(libRetention::RotateCountedZips(Tgt + "Jo?", 0, 3));
    EXPECT_FALSE(Exists(Tgt + "Jo?_1.zip"));
    EXPECT_EQ(ReadFile(Tgt + "Job_1.zip"), "other");
}

TEST_F(Retention, PurgeByWeeksAndMonths) {
    const std::string base = Tgt + "Job";
    const double today = libDates::DateSerial(2027, 3, 31);
    for (const char* s : {"Job_20270316.zip", "Job_20270317.zip"})
        Touch(Tgt + s);
    libRetention::PurgeDatedZips(base, 2, 2, today); // cut-off 03-17
    EXPECT_FALSE(Exists(Tgt + "Job_20270316.zip"));
    EXPECT_TRUE(Exists(Tgt + "Job_20270317.zip"));
    for (const char* s : {"Job_20270130.zip", "Job_20270131.zip"})
        Touch(Tgt + s);
    libRetention::PurgeDatedZips(base, 3, 2, today); // 03-31 minus 2 months: 01-31
    EXPECT_FALSE(Exists(Tgt + "Job_20270130.zip"));
    EXPECT_TRUE(Exists(Tgt + "Job_20270131.zip"));
    libRetention::PurgeDatedZips(base, 3, 1, today); // 02-31 does not exist: 02-28
    EXPECT_FALSE(Exists(Tgt + "Job_20270131.zip"));
    EXPECT_TRUE(Seam->Messages().empty());
}

TEST_F(Retention, LatestZipAndCurrentBackupSize) {
    Touch(Tgt + "Job_2.zip", std::string(1234, 'z'));
    CBackupJob job = MakeJob("Job", {});
    EXPECT_EQ(job.LatestZip(), Tgt + "Job_2.zip");
    EXPECT_EQ(job.CurrentBackupSize(), 1234);
    EXPECT_EQ(job.SizeLastRun(), 1234);
    Touch(Tgt + "Job.zip");
    EXPECT_EQ(job.LatestZip(), Tgt + "Job.zip");
    EXPECT_EQ(job.CurrentBackupSize(), 1234); // recorded once, then kept

    CBackupJob copyJob = MakeJob("Job", {}, false);
    EXPECT_EQ(copyJob.CurrentBackupSize(), -1);

    CBackupJob dated = MakeJob("Mail", {});
    dated.SetKeepPeriod(CBackupJob::KeepWeeks);
    EXPECT_EQ(dated.LatestZip(), "");
    for (const char* s : {"Mail_20270101.zip", "Mail_P20270210.zip", "Mail_20270210(2).zip", "Mail_20270210(10).zip",
                          "Mail2_20271231.zip", "Mail_18991231.zip", "Mail_20270301.txt"})
        Touch(Tgt + s);
    EXPECT_EQ(dated.LatestZip(), Tgt + "Mail_20270210(10).zip");
}
