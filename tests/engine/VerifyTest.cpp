// Verification of damaged backups: real runs, then their copies and archives damaged the way a
// failing disk, a careless hand or a half-done clean-up damages them, each of which must fail
// naming what is wrong, while sound backups and sources changed since the run still pass.

#include "RunTestSupport.h"

#include "engine/libCopy.h"
#include "engine/libVerify.h"

using namespace runtest;

namespace {

int Python(const std::string& sScript, const std::vector<std::string>& args) {
    std::string sCommand = "python3 -c '" + sScript + "'";
    for (const std::string& s : args)
        sCommand += " '" + s + "'";
    return ziptest::Shell(sCommand);
}

class VerifyRun : public TreeRunFixture {
protected:
    void BackUp(CBackupJob& job) {
        job.SetVerify(true);
        ASSERT_FALSE(BackupRun::ExecuteBackupNow(job));
        ASSERT_FALSE(job.Failure());
        ASSERT_TRUE(LogHas("  Verified the new backup"));
    }

    // The newest backup fails, the failure naming sNamed, and the log holding each problem.
    void ExpectFails(const CBackupJob& job, const std::string& sNamed) {
        std::string sWhy, sChecked;
        EXPECT_FALSE(libVerify::VerifyNewest(job, sWhy, &sChecked));
        const auto lines = LogLines();
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& s) {
            return s.rfind("  Verify failed: ", 0) == 0 && s.find(sNamed) != std::string::npos;
        })) << sWhy;
        EXPECT_FALSE(sChecked.empty());
    }
    void ExpectSound(const CBackupJob& job) {
        std::string sWhy;
        EXPECT_TRUE(libVerify::VerifyNewest(job, sWhy)) << sWhy;
    }
};

} // namespace

TEST_F(VerifyRun, ACopyWithOtherBytesAndItsTimePutBackFailsAsContentDiffers) {
    // Edited, zeroed, one bit flipped: same length, same time, only the bytes tell.
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> damages = {
        {"edited", [](const std::string& s) { WriteFile(s, Noise(300000, 8)); }},
        {"zeroed", [](const std::string& s) { WriteFile(s, std::string(300000, '\0')); }},
        {"bit flipped", [](const std::string& s) { FlipBit(s, 123457); }},
    };
    for (const auto& [sKind, damage] : damages) {
        SCOPED_TRACE(sKind);
        ResetTarget();
        CBackupJob job = MakeJob("Tree", {SrcFolder()}, false);
        BackUp(job);
        ExpectSound(job);
        const std::string sCopy = Tgt + "src/sub/b.dat";
        ASSERT_TRUE(Exists(sCopy));
        damage(sCopy);
        SetFileTime(sCopy, kOldTime);
        ASSERT_EQ(fs::file_size(sCopy), 300000u);
        std::string sWhy;
        EXPECT_FALSE(libVerify::VerifyNewest(job, sWhy));
        EXPECT_EQ(sWhy, sCopy + ": content differs");
        EXPECT_TRUE(LogHas("  Verify failed: " + sCopy + ": content differs"));
        // The check after a run compares by content too.
        ClearLog();
        EXPECT_FALSE(libVerify::VerifyAfterRun(job, "", INT64_MAX));
        EXPECT_TRUE(LogHas("  Verify failed: " + sCopy + ": content differs"));
    }
}

TEST_F(VerifyRun, AFileAFolderOrAWholeCopyTreeGoneFailsNamingIt) {
    for (int32_t lStyle : {libCopy::CopyRebuild, libCopy::CopyUpdate, libCopy::CopyFreshen}) {
        SCOPED_TRACE(lStyle);
        ResetTarget();
        CBackupJob job = MakeJob("Tree", {SrcFolder()}, false);
        job.SetCopyStyle(libCopy::CopyRebuild);
        BackUp(job);
        job.SetCopyStyle(lStyle);
        ExpectSound(job);
        // A file gone: Freshen never adds a file the copy lacks, so only the others miss it.
        fs::remove(Tgt + "src/a.txt");
        if (lStyle == libCopy::CopyFreshen) {
            ExpectSound(job);
        } else {
            ExpectFails(job, Tgt + "src/a.txt: missing");
            EXPECT_TRUE(LogHasPrefixSuffix("  Verify failed: " + Tgt + "src/a.txt: missing", FileA + ")"));
        }
        // A folder gone, with everything below it.
        fs::remove_all(Tgt + "src/sub/deep");
        ExpectFails(job, Tgt + "src/sub/deep/: folder missing");
        // The whole tree gone.
        fs::remove_all(Tgt + "src");
        ExpectFails(job, Tgt + "src/: backup folder missing");
    }
    // Nothing at all in the target.
    fs::remove_all(Tgt);
    CBackupJob job = MakeJob("Tree", {SrcFolder()}, false);
    ExpectFails(job, "no backup found");
}

TEST_F(VerifyRun, TheCopyIsHeldOnlyToWhatTheJobSelects) {
    const std::string sTmp = Source("skip.tmp", "left out");
    const std::string sDoc = Source("sub/notes.doc", "notes");
    SetFileTime(sTmp, kOldTime);
    SetFileTime(sDoc, kOldTime);
    // Only .txt and .dat files, no .tmp, subfolders entered.
    CBackupJob job = MakeJob("Tree", {Src + "*.txt", Src + "sub/*.dat"}, false);
    job.SetExcludeSpec("*.TMP\r\n");
    BackUp(job);
    EXPECT_TRUE(Exists(Tgt + "src/a.txt"));
    EXPECT_TRUE(Exists(Tgt + "sub/b.dat"));
    EXPECT_FALSE(Exists(Tgt + "sub/notes.doc"));
    ExpectSound(job);
    // A copy the job no longer selects may stay as old as it is.
    WriteFile(Tgt + "sub/stale.doc", "stale");
    ExpectSound(job);
    fs::remove(Tgt + "sub/b.dat");
    ExpectFails(job, Tgt + "sub/b.dat: missing");

    // Without subfolders, a subfolder's absence is no fault; a file of the top folder still is.
    ResetTarget();
    CBackupJob flat = MakeJob("Flat", {SrcFolder()}, false);
    flat.SetSubdirectories(false);
    BackUp(flat);
    EXPECT_FALSE(Exists(Tgt + "src/sub"));
    ExpectSound(flat);
    WriteFile(Tgt + "src/a.txt", "alphA");
    SetFileTime(Tgt + "src/a.txt", kOldTime);
    ExpectFails(flat, Tgt + "src/a.txt: content differs");
}

TEST_F(VerifyRun, SourcesChangedSinceTheBackupAreNotJudged) {
    libDates::ResetClock(); // the recorded run is compared with the times the files carry
    CBackupJob job = MakeJob("Tree", {SrcFolder()}, false);
    BackUp(job);
    ::sleep(1);
    // A source edited after its copy was made, and one that came after the run.
    WriteFile(FileB, Noise(300000, 9));
    SetFileTime(FileB, kOldTime);
    Source("sub/new.txt", "new");
    ExpectSound(job);
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    EXPECT_TRUE(libVerify::VerifyAfterRun(job, "", libFiles::TimeNs(now) - 1000000000LL * 60));
}

TEST_F(VerifyRun, DamageRightAfterTheRunIsFoundWhateverMinuteTheRecordShows) {
    // The sources were made a moment before the run, in the minute the record shows it ended
    // in: the recorded start, not that minute, decides which sources the copy must hold.
    libDates::ResetClock();
    CBackupJob job = MakeJob("Tree", {SrcFolder()}, false);
    BackUp(job);
    ASSERT_GT(job.LastRunStartNs(), 0);
    CBackupJob back;
    ASSERT_FALSE(back.OpenBackupJob(job.FileName()));
    EXPECT_EQ(back.LastRunStartNs(), job.LastRunStartNs());
    // A record of the minute only (as older job files have) cannot tell; the start can.
    back.SetDateLastRun(libDates::DateSerial(2001, 1, 1));
    ExpectSound(back);
    const std::string sLate = Source("sub/late.txt", "came after the run");
    ExpectSound(back);
    FlipBit(Tgt + "src/sub/b.dat", 4242);
    SetFileTime(Tgt + "src/sub/b.dat", kOldTime);
    ExpectFails(back, Tgt + "src/sub/b.dat: content differs");
    fs::remove(Tgt + "src/a.txt");
    ExpectFails(back, Tgt + "src/a.txt: missing");
    EXPECT_FALSE(LogHas("  Verify failed: " + Tgt + "src/sub/late.txt: missing (source: " + sLate + ")"));
}

TEST_F(VerifyRun, AnArchiveWithAnEntryRemovedOrEmptiedFailsNamingWhatIsMissing) {
    CBackupJob job = MakeJob("Docs", {SrcFolder()});
    BackUp(job);
    const std::string sZip = Tgt + "Docs.zip";
    ExpectSound(job);
    const std::string sSound = ReadFile(sZip);
    // One entry dropped, the rest intact and readable.
    ASSERT_EQ(ziptest::Tool("drop_entry", {sZip, Stored(FileC)}), 0);
    ASSERT_EQ(ZipNames(sZip).count(Stored(FileC)), 0u);
    ASSERT_EQ(ZipNames(sZip).count(Stored(FileA)), 1u);
    ExpectFails(job, "'" + Stored(FileC) + "': missing from the archive");
    // A valid archive without entries.
    ASSERT_EQ(Python("import zipfile, sys; zipfile.ZipFile(sys.argv[1], \"w\").close()", {sZip}), 0);
    ExpectFails(job, "the archive holds no entries");
    // Nothing at all.
    WriteFile(sZip, "");
    ExpectFails(job, "the archive is empty (0 bytes)");
    WriteFile(sZip, sSound);
    ExpectSound(job);
    // A file selected now that changed after the archive was made is no fault of it.
    ::sleep(1);
    Source("sub/later.txt", "later");
    ExpectSound(job);
}

TEST_F(VerifyRun, ANewestArchiveGoneFailsWhileOlderOnesRemain) {
    CBackupJob job = MakeJob("Docs", {SrcFolder()});
    job.SetNumberCopies(3);
    BackUp(job);
    BackUp(job);
    ASSERT_TRUE(Exists(Tgt + "Docs_1.zip"));
    ExpectSound(job);
    fs::remove(Tgt + "Docs.zip");
    ExpectFails(job, Tgt + "Docs.zip: the newest archive is missing");

    // Kept by period: the record's last success names the day of the newest archive.
    ResetTarget();
    CBackupJob dated = MakeJob("Daily", {SrcFolder()});
    dated.SetKeepPeriod(CBackupJob::KeepDays);
    dated.SetNumberCopies(5);
    libDates::SetClock(libDates::DateSerial(2027, 3, 14) + libDates::TimeSerial(10, 0, 0));
    BackUp(dated);
    libDates::SetClock(libDates::DateSerial(2027, 3, 15) + libDates::TimeSerial(10, 0, 0));
    BackUp(dated);
    ASSERT_TRUE(Exists(Tgt + "Daily_20270314.zip"));
    ASSERT_TRUE(Exists(Tgt + "Daily_20270315.zip"));
    ExpectSound(dated);
    fs::remove(Tgt + "Daily_20270315.zip");
    ExpectFails(dated, Tgt + "Daily_20270315.zip: the newest archive is missing");
}

TEST_F(VerifyRun, AnIncrementalArchiveIsHeldOnlyToWhatChangedBeforeIt) {
    libDates::ResetClock();
    const std::string sNew = Source("sub/new.txt", "new today");
    const std::string sAlsoNew = Source("also.txt", "new too");
    CBackupJob job = MakeJob("Inc", {SrcFolder()});
    job.SetIncremental(true);
    job.SetNumberCopies(3);
    job.SetDateLastRun(libDates::DateValue(libDates::Now()) - 3);
    BackUp(job);
    const std::set<std::string> names = ZipNames(Tgt + "Inc.zip");
    ASSERT_EQ(names.count(Stored(sNew)), 1u);
    ASSERT_EQ(names.count(Stored(sAlsoNew)), 1u);
    ASSERT_EQ(names.count(Stored(FileA)), 0u); // old files are in earlier archives
    ExpectSound(job);
    ASSERT_EQ(ziptest::Tool("drop_entry", {Tgt + "Inc.zip", Stored(sNew)}), 0);
    ExpectFails(job, "'" + Stored(sNew) + "': missing from the archive");
}

TEST_F(VerifyRun, AnEntryWhoseDataDisagreesWithItsDeclaredSizeIsNamedDamaged) {
    const std::string sZip = Tgt + "hand.zip";
    for (const char* sDelta : {"-1", "1"}) {
        SCOPED_TRACE(sDelta);
        ASSERT_EQ(ziptest::Tool("declared_size", {sZip, sDelta}), 0);
        std::string sWhy;
        EXPECT_FALSE(libVerify::VerifyArchive(sZip, "", sWhy));
        EXPECT_NE(sWhy.find("'big.txt': damaged"), std::string::npos) << sWhy;
    }
    ASSERT_EQ(ziptest::Tool("declared_size", {sZip, "0"}), 0);
    std::string sWhy;
    EXPECT_TRUE(libVerify::VerifyArchive(sZip, "", sWhy)) << sWhy;
}

TEST_F(VerifyRun, AnIncrementalCopyIsHeldToWhatItCopiedAndNotToFilesBackedUpBefore) {
    CBackupJob job = MakeJob("Tree", {SrcFolder()}, false);
    job.SetIncremental(true);
    BackUp(job);
    // Only the changed file goes into the rebuilt tree; the others were backed up by the first run.
    WriteFile(FileA, "alpha, changed");
    SetFileTime(FileA, kOldTime + 100);
    BackUp(job);
    ASSERT_TRUE(Exists(Tgt + "src/a.txt"));
    ASSERT_FALSE(Exists(Tgt + "src/sub/b.dat"));
    ExpectSound(job);
    WriteFile(Tgt + "src/a.txt", "alpha, CHANGED");
    SetFileTime(Tgt + "src/a.txt", kOldTime + 100);
    ExpectFails(job, Tgt + "src/a.txt: content differs");
}

TEST_F(VerifyRun, ALinkIsHeldToItsTargetText) {
    ASSERT_EQ(::symlink("sub/b.dat", (Src + "link").c_str()), 0);
    ASSERT_EQ(::symlink("/nowhere/at/all", (Src + "sub/dangling").c_str()), 0);
    CBackupJob job = MakeJob("Tree", {SrcFolder()}, false);
    BackUp(job);
    ASSERT_TRUE(fs::is_symlink(Tgt + "src/link"));
    ExpectSound(job);
    fs::remove(Tgt + "src/link");
    ASSERT_EQ(::symlink("sub/deep/c.txt", (Tgt + "src/link").c_str()), 0);
    ExpectFails(job, Tgt + "src/link: link target differs");
    fs::remove(Tgt + "src/link");
    WriteFile(Tgt + "src/link", "a file now");
    ExpectFails(job, Tgt + "src/link: a link on one side only");
}
