// Retention of older archives: names, rotation, dated names, purge and the newest-archive look-up.

#include "RunTestSupport.h"

using namespace runtest;

namespace {

libRetention::DatedZipName Parse(const std::string& sName, bool& bOk, const std::string& sBase = "Job") {
    libRetention::DatedZipName r;
    bOk = libRetention::ParseDatedZipName(sName, sBase, r);
    return r;
}

} // namespace

TEST(RetentionNames, DatedNamesReadTheFormTheRunWrites) {
    struct Case {
        const char* Name;
        double Date;
        int CopyNumber;
        bool KeepMark;
    };
    const double d20011231 = libDates::DateSerial(2001, 12, 31);
    for (const Case& c : std::vector<Case>{{"Job_20011231.zip", d20011231, 0, false},
                                           {"Job_20011231(12).zip", d20011231, 12, false},
                                           {"Job_p20240229.ZIP", libDates::DateSerial(2024, 2, 29), 0, true},
                                           {"Job_P011231(1).zip", d20011231, 1, true}, // the short yymmdd form
                                           {"Job_991231.zip", libDates::DateSerial(1999, 12, 31), 0, false}}) {
        SCOPED_TRACE(c.Name);
        bool ok = false;
        const auto r = Parse(c.Name, ok);
        ASSERT_TRUE(ok);
        EXPECT_DOUBLE_EQ(r.Date, c.Date);
        EXPECT_EQ(r.CopyNumber, c.CopyNumber);
        EXPECT_EQ(r.KeepMark, c.KeepMark);
    }
    // A base name holding "_" is still read from its own end.
    bool ok = false;
    Parse("My_Job_20270101.zip", ok, "My_Job");
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

class Retention : public RunFixture {
protected:
    // Each named file in the target holding its own name; the new archive in the job's
    // temporary folder holding "new". Returns the new archive's path.
    std::string Generations(const std::vector<std::string>& names) {
        for (const auto& s : names)
            Touch(Tgt + s, s);
        return WriteFile(Tgt + ".stowline-tmp-Job/Job.zip", "new");
    }
    // What the target holds under the job's counted names: name -> content.
    std::map<std::string, std::string> Counted() {
        std::map<std::string, std::string> m;
        for (const auto& e : fs::directory_iterator(Tgt)) {
            int n = 0;
            const std::string sName = e.path().filename().string();
            if (e.is_regular_file() && libRetention::ParseCountedZipName(sName, "Job", n))
                m[sName] = ReadFile(e.path());
        }
        return m;
    }
};

TEST_F(Retention, RotationShiftsKeptCopiesAndDeletesTheRestAfterTheNewArchiveHasItsName) {
    const std::string base = Tgt + "Job";
    std::string sNew = Generations({"Job.zip", "Job_1.zip", "Job_2.zip", "Job_3.zip", "Job_7.zip", "Job2_1.zip"});
    EXPECT_EQ(libRetention::RotateCountedZips(base, sNew, 3, 99), libRetention::Rotation::Done);
    EXPECT_EQ(
        Counted(),
        (std::map<std::string, std::string>{
            {"Job.zip", "new"}, {"Job_1.zip", "Job.zip"}, {"Job_2.zip", "Job_1.zip"}, {"Job_3.zip", "Job_2.zip"}}));
    EXPECT_FALSE(Exists(sNew));
    EXPECT_EQ(ReadFile(Tgt + "Job2_1.zip"), "Job2_1.zip"); // the neighbour is never touched

    // A gap: the copy above a missing one goes, as the shift from nothing would leave it.
    fs::remove_all(Tgt);
    sNew = Generations({"Job.zip", "Job_2.zip", "Job_3.zip"});
    EXPECT_EQ(libRetention::RotateCountedZips(base, sNew, 3, 99), libRetention::Rotation::Done);
    EXPECT_EQ(Counted(), (std::map<std::string, std::string>{
                             {"Job.zip", "new"}, {"Job_1.zip", "Job.zip"}, {"Job_3.zip", "Job_2.zip"}}));

    // No free number to park the oldest under: it is replaced in the shift.
    fs::remove_all(Tgt);
    sNew = Generations({"Job.zip", "Job_1.zip", "Job_2.zip"});
    EXPECT_EQ(libRetention::RotateCountedZips(base, sNew, 2, 2), libRetention::Rotation::Done);
    EXPECT_EQ(Counted(), (std::map<std::string, std::string>{
                             {"Job.zip", "new"}, {"Job_1.zip", "Job.zip"}, {"Job_2.zip", "Job_1.zip"}}));

    // No copies kept; copies above the maximum are not touched.
    fs::remove_all(Tgt);
    sNew = Generations({"Job.zip", "Job_1.zip", "Job_5.zip", "Job_6.zip"});
    EXPECT_EQ(libRetention::RotateCountedZips(base, sNew, 0, 5), libRetention::Rotation::Done);
    EXPECT_EQ(Counted(), (std::map<std::string, std::string>{{"Job.zip", "new"}, {"Job_6.zip", "Job_6.zip"}}));
}

// A kill between any two steps of a rotation: until the new archive has its name every earlier
// generation is under one of the job's names; after it, every generation the job keeps is.
TEST_F(Retention, ARotationStoppedAtAnyStepLosesNoGeneration) {
    struct Case {
        int Copies;
        std::vector<std::string> Names;
    };
    const std::vector<Case> cases = {
        {3, {"Job.zip", "Job_1.zip", "Job_2.zip", "Job_3.zip", "Job_7.zip"}},
        {1, {"Job.zip", "Job_1.zip", "Job_2.zip"}},
        {2, {"Job.zip", "Job_2.zip", "Job_3.zip"}},
        {0, {"Job.zip", "Job_1.zip", "Job_4.zip"}},
    };
    for (const Case& c : cases) {
        for (int iSteps = 0;; ++iSteps) {
            SCOPED_TRACE(std::to_string(c.Copies) + " copies, stopped after " + std::to_string(iSteps) + " steps");
            fs::remove_all(Tgt);
            const std::string sNew = Generations(c.Names);
            int iTaken = 0;
            const libRetention::Rotation result =
                libRetention::RotateCountedZips(Tgt + "Job", sNew, c.Copies, 9, [&] { return iTaken++ < iSteps; });
            ASSERT_NE(result, libRetention::Rotation::Failed);
            const bool bStopped = result == libRetention::Rotation::Stopped;
            std::multiset<std::string> held;
            for (const auto& [sName, sContent] : Counted())
                held.insert(sContent);
            const bool bNewNamed = held.count("new") == 1;
            EXPECT_EQ(bNewNamed, !Exists(sNew));
            for (const auto& sOld : c.Names) {
                int n = 0;
                libRetention::ParseCountedZipName(sOld, "Job", n);
                // Kept: the newest and the copies that move up into the kept range.
                if (!bNewNamed || n < c.Copies) {
                    EXPECT_EQ(held.count(sOld), 1u) << sOld;
                }
            }
            if (!bStopped) break;
            ASSERT_LT(iSteps, 20);
        }
    }
}

// A step the system refuses is a failure, told apart from a rotation stopped on purpose: the new
// archive keeps its temporary name and every earlier archive stays.
TEST_F(Retention, ARotationWhoseRenameFailsSaysSoAndKeepsEverything) {
    const std::string sNew = Generations({"Job_1.zip"});
    Touch(Tgt + "Job.zip/inside", "a folder where the newest archive goes"); // the rename cannot replace it
    EXPECT_EQ(libRetention::RotateCountedZips(Tgt + "Job", sNew, 0, 3), libRetention::Rotation::Failed);
    EXPECT_EQ(ReadFile(sNew), "new");
    EXPECT_EQ(ReadFile(Tgt + "Job_1.zip"), "Job_1.zip");
    EXPECT_TRUE(LogHas("Error removing previous zip file for this backup job."));
}

TEST_F(Retention, ANameWithWildcardCharactersTouchesOnlyItsOwnFiles) {
    // "?" and "[" are not removed from job names; they must never widen a deletion or a look-up.
    Touch(Tgt + "J[o]?_1.zip", "own");
    Touch(Tgt + "Jo?_1.zip", "other");
    Touch(Tgt + "Job_1.zip", "other");
    const std::string sNew = WriteFile(Tgt + ".stowline-tmp-J[o]?/J[o]?.zip", "new");
    EXPECT_EQ(libRetention::RotateCountedZips(Tgt + "J[o]?", sNew, 0, 3), libRetention::Rotation::Done);
    EXPECT_EQ(ReadFile(Tgt + "J[o]?.zip"), "new");
    EXPECT_FALSE(Exists(Tgt + "J[o]?_1.zip"));
    EXPECT_EQ(ReadFile(Tgt + "Jo?_1.zip"), "other");
    EXPECT_EQ(ReadFile(Tgt + "Job_1.zip"), "other");
}

TEST_F(Retention, TheDatedNameIsTheFirstFreeOneAndNeverReplacesAFile) {
    Touch(Tgt + "Job_20270315.zip", "first");
    Touch(Tgt + "Job_20270315(1).zip", "second");
    const std::string sNew = WriteFile(Tgt + ".stowline-tmp-Job/Job.zip", "new");
    EXPECT_EQ(libRetention::GiveDatedName(Tgt + "Job", sNew, libDates::Now()), Tgt + "Job_20270315(2).zip");
    EXPECT_EQ(ReadFile(Tgt + "Job_20270315(2).zip"), "new");
    EXPECT_EQ(ReadFile(Tgt + "Job_20270315.zip"), "first");
    EXPECT_EQ(ReadFile(Tgt + "Job_20270315(1).zip"), "second");
    EXPECT_FALSE(Exists(sNew));
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
    EXPECT_EQ(libRetention::LatestZip(job), Tgt + "Job_2.zip");
    EXPECT_EQ(libRetention::CurrentBackupSize(job), 1234);
    EXPECT_EQ(job.SizeLastRun(), 1234);
    Touch(Tgt + "Job.zip");
    EXPECT_EQ(libRetention::LatestZip(job), Tgt + "Job.zip");
    EXPECT_EQ(libRetention::CurrentBackupSize(job), 1234); // recorded once, then kept

    CBackupJob copyJob = MakeJob("Job", {}, false);
    EXPECT_EQ(libRetention::CurrentBackupSize(copyJob), -1);

    CBackupJob dated = MakeJob("Mail", {});
    dated.SetKeepPeriod(CBackupJob::KeepWeeks);
    EXPECT_EQ(libRetention::LatestZip(dated), "");
    for (const char* s : {"Mail_20270101.zip", "Mail_P20270210.zip", "Mail_20270210(2).zip", "Mail_20270210(10).zip",
                          "Mail2_20271231.zip", "Mail_18991231.zip", "Mail_20270301.txt"})
        Touch(Tgt + s);
    EXPECT_EQ(libRetention::LatestZip(dated), Tgt + "Mail_20270210(10).zip");
}
