// Zip runs that fail or leave files out: earlier archives stay as they were, nothing partial
// takes a final name, every file left out is named; names are never patterns.

#include "RunTestSupport.h"

using namespace runtest;

using ZipRunNames = RunFixture;

// A run that fails while zipping leaves every earlier archive as it was, and nothing else.
class FailedZipRun : public RunFixture {
protected:
    const std::vector<std::string> Earlier = {"Docs.zip", "Docs_1.zip", "Docs_2.zip", "Docs_3.zip"};
    void PutEarlier(const std::string& sDir) {
        for (const auto& s : Earlier)
            Touch(sDir + s, "earlier " + s);
    }
    void ExpectEarlier(const std::string& sDir) {
        EXPECT_EQ(EntryNames(sDir), std::set<std::string>(Earlier.begin(), Earlier.end()));
        for (const auto& s : Earlier)
            EXPECT_EQ(ReadFile(sDir + s), "earlier " + s);
    }
};

TEST_F(FailedZipRun, AZipErrorOrAnAbortLeavesEveryEarlierArchiveAsItWas) {
    const std::string c = Source("c.txt", "gamma");
    Source("d.txt", "delta");
    fs::create_directories(Src + "none");
    PutEarlier(Tgt);
    // The second entry names nothing: the first entry's files are not kept under a final name,
    // the rest is skipped, and the run is recorded as failed.
    CBackupJob job = MakeJob("Docs", {c, Src + "none/*.doc", Src + "d.txt"});
    job.SetNumberCopies(3);
    job.SetRunCount(2);
    job.SetPostBackupCommand("touch " + App + "post-ran");
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    EXPECT_TRUE(job.Failure());
    EXPECT_TRUE(LogHas("  Archive discarded, not written: '" + Tgt + "Docs.zip': Zip has nothing to do"));
    EXPECT_FALSE(LogHas("Zipping Up   " + Src + "d.txt"));
    EXPECT_FALSE(Exists(App + "post-ran"));
    EXPECT_EQ(job.RunCount(), 3);
    EXPECT_DOUBLE_EQ(job.DateLastRun(), libDates::Now());
    CBackupJob saved;
    ASSERT_FALSE(saved.OpenBackupJob(job.FileName()));
    EXPECT_EQ(saved.RunCount(), 3);
    ExpectEarlier(Tgt);

    // The user aborts while the archive is written.
    ClearLog();
    AbortingOwner owner;
    owner.AbortOn = [c](const std::string& s) { return s.rfind(c, 0) == 0; };
    CBackupJob job2 = MakeJob("Docs", {c});
    job2.SetNumberCopies(3);
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job2, &owner));
    EXPECT_TRUE(job2.Failure());
    EXPECT_TRUE(LogHas("Backup terminated by user"));
    EXPECT_TRUE(LogHas("  Archive discarded, not written: '" + Tgt +
                       "Docs.zip': The user aborted zip prematurely with control-C (or similar)"));
    ExpectEarlier(Tgt);
}

TEST_F(FailedZipRun, AFullDiskFailsTheRunAndNamesTheArchive) {
    const std::string sSmall = App + "small/";
    fs::create_directories(sSmall);
    if (std::system(("mount -t tmpfs -o size=2m tmpfs '" + sSmall + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    struct Unmount {
        std::string Dir;
        ~Unmount() { (void)!std::system(("umount '" + Dir + "'").c_str()); }
    } unmount{sSmall};
    PutEarlier(sSmall);
    Source("big.bin", Noise(3u << 20, 7)); // more than the disk holds, and deflate cannot shrink it
    CBackupJob job = MakeJob("Docs", {Src + "big.bin"});
    job.SetTargetDirectoryRaw(sSmall);
    job.SetNumberCopies(3);
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    EXPECT_TRUE(job.Failure());
    EXPECT_EQ(job.RunCount(), 1);
    EXPECT_TRUE(LogHas("Error writing to a file"));
    EXPECT_TRUE(LogHas("  Error writing '" + sSmall + "Docs.zip': No space left on device"));
    ExpectEarlier(sSmall);
}

TEST_F(ZipRunNames, JobAndTargetNamesWithPatternCharactersStayLiteral) {
    Source("a.txt", "a");
    const std::string sDir = App + "b*?[x]#/";
    fs::create_directories(sDir);
    const std::set<std::string> others = {"Jo_20270101.zip", "Job_20270101.zip", "J[o]?X_20270101.zip", "Job.zip"};
    for (const auto& s : others)
        Touch(sDir + s, s);
    Touch(sDir + "J[o]?_20270101.zip"); // its own, expired
    CBackupJob job = MakeJob("J[o]?#", {Src + "a.txt"});
    job.SetTargetDirectoryRaw(sDir);
    job.SetKeepPeriod(CBackupJob::KeepDays);
    job.SetNumberCopies(2);
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    std::set<std::string> expected = others;
    expected.insert({"J[o]?_20270315.zip", "J[o]?_20270315(1).zip"});
    EXPECT_EQ(EntryNames(sDir), expected);
    EXPECT_EQ(libRetention::LatestZip(job), sDir + "J[o]?_20270315(1).zip");

    job.SetKeepPeriod(CBackupJob::KeepCopies);
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    expected.insert({"J[o]?.zip", "J[o]?_1.zip"});
    EXPECT_EQ(EntryNames(sDir), expected);
    EXPECT_EQ(libRetention::LatestZip(job), sDir + "J[o]?.zip");
}

TEST_F(ZipRunNames, EveryFileLeftOutIsNamedAndTheRunIsAFailure) {
    const std::string a = Source("d/a.txt", "alpha");
    const std::string b = Source("d/b.txt", "beta");
    Source("d/.stowline-tmp-Other/half.zip", "half"); // another job's unfinished archive
    ScriptedProbe probe;
    probe.OpenError = [b](const std::string& sPath) { return sPath == b ? EACCES : 0; };
    // A folder below a path longer than PATH_MAX.
    ASSERT_GT(MakeDeepTree(Src + "d/deep", 4200), 0u);
    CBackupJob job = MakeJob("Docs", {Src + "d/*.*"});
    job.SetPostBackupCommand("true");
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job, nullptr, probe));

    const auto names = ZipNames(Tgt + "Docs.zip");
    EXPECT_TRUE(names.count(Stored(a)));
    EXPECT_FALSE(names.count(Stored(b)));
    for (const auto& n : names)
        EXPECT_EQ(n.find(".stowline-tmp-"), std::string::npos) << n;
    EXPECT_TRUE(job.Failure());
    EXPECT_TRUE(LogHas("  Not backed up: '" + b + "': Permission denied"));
    // The first level whose path is too long to name is named.
    EXPECT_TRUE(LogHasPrefixSuffix("  Not backed up: '" + Src + "d/deep/", "': File name too long"));
    EXPECT_TRUE(LogHas("One or more source files were unable to be archived from the filespec"
                       "  This error is typically caused by a file in use."));
    EXPECT_TRUE(LogHas("  Post-backup command exit status 0"));
}
