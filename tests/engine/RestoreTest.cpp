// Reading backups back: real runs, real archives and trees, damaged and restored; hostile
// archives; verification of damaged backups.

#include "RunTestSupport.h"

#include "engine/libVerify.h"

using namespace runtest;
using libRestore::Conflict;
using libRestore::Status;

namespace {

class RestoreRun : public TreeRunFixture {
protected:
    void SetUp() override {
        TreeRunFixture::SetUp();
        ::chmod(FileA.c_str(), 0640);
    }

    static libRestore::Report Restore(const CBackupJob& job, const libRestore::BackupInfo& b,
                                      const std::vector<libRestore::Entry>& sel, Conflict c,
                                      const std::string& sTo = "", const std::string& sPassword = "") {
        libRestore::Options o;
        o.ToFolder = sTo;
        o.OnConflict = c;
        o.Password = sPassword;
        return libRestore::Restore(job, b, sel, o);
    }

    // The restored file equals its source's bytes and time as they were backed up.
    void ExpectRestored(const std::string& sPath, const std::string& sBytes) {
        EXPECT_EQ(ReadFile(sPath), sBytes) << sPath;
        EXPECT_EQ(libFiles::ModTimeNs(sPath), kOldTime * 1000000000LL) << sPath;
    }
};

} // namespace

TEST_F(RestoreRun, ZipAndCopyBackupsComeBackWhereTheyWereAndIntoAChosenFolder) {
    for (bool bZip : {true, false}) {
        SCOPED_TRACE(bZip ? "zip" : "copy");
        const std::string sA = ReadFile(FileA), sB = ReadFile(FileB);
        CBackupJob job = MakeJob("Docs", {SrcFolder()}, bZip);
        std::vector<libRestore::Entry> entries;
        const auto backup = BackUpAndRead(job, entries);
        // Damage: one file gone, one changed.
        fs::remove(FileA);
        WriteFile(FileB, "garbage");
        SetFileTime(FileB, kOldTime - 100);
        const auto r = Restore(job, backup, entries, Conflict::OverwriteOlder);
        EXPECT_EQ(r.Result, Status::Ok);
        EXPECT_EQ(r.Restored, 2); // a.txt (missing) and b.dat (older); c.txt is as new
        EXPECT_EQ(r.Skipped, 1);
        ExpectRestored(FileA, sA);
        ExpectRestored(FileB, sB);
        EXPECT_EQ(fs::status(FileA).permissions(), fs::perms(0640));
        // Only what the filter picked, below a folder of one's choice; a link comes back as a link.
        if (!bZip) fs::create_symlink("a.txt", Tgt + "src/ln.txt");
        std::string sError;
        ASSERT_EQ(libRestore::ReadContents(job, backup, entries, sError), Status::Ok);
        const auto pick = libRestore::Filter(entries, {"*.txt"});
        ASSERT_EQ(pick.size(), bZip ? 2u : 3u);
        const std::string sTo = Root + "out" + (bZip ? "z" : "c");
        EXPECT_EQ(Restore(job, backup, pick, Conflict::Skip, sTo).Restored, bZip ? 2 : 3);
        if (!bZip) {
            EXPECT_EQ(fs::read_symlink(sTo + "/src/ln.txt").string(), "a.txt");
        }
        const std::string sCopyOfC = sTo + "/" + pick.back().Name;
        ExpectRestored(sCopyOfC, "gamma");
        EXPECT_FALSE(Exists(sTo + "/" + Stored(FileB)));
        EXPECT_TRUE(LogHas("  Backup used: '" + backup.Path + "'"));
        EXPECT_TRUE(LogHas("  Restore completed"));
        ResetTarget();
    }
}

TEST_F(RestoreRun, ARestoreKeepsTheLogAsARunDoes) {
    CBackupJob job = MakeJob("Docs", {SrcFolder()}, false);
    std::vector<libRestore::Entry> entries;
    const auto backup = BackUpAndRead(job, entries);
    // A log past its limit is put aside before the restore writes, never in the middle of it.
    const std::string sLog = libLog::LogFileName();
    WriteFile(sLog, std::string((1u << 20) + 1, 'x'));
    appPreferences::MaxLogSizeMB = 1;
    appPreferences::LoggingMode = 0;
    const auto r = Restore(job, backup, entries, Conflict::Skip, Root + "out");
    EXPECT_EQ(r.Result, Status::Ok);
    EXPECT_EQ(r.Restored, 3);
    EXPECT_EQ(libFiles::FileLen(libLog::OlderGeneration(sLog)), (1u << 20) + 1);
    const auto lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.front().find("-- Restore Docs --"), std::string::npos);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& s) { return s.find("  Restored '") != std::string::npos; }),
              3);
    EXPECT_TRUE(LogHas("  Restore completed"));
}

TEST_F(RestoreRun, EachConflictChoiceTreatsAnExistingFileItsWay) {
    CBackupJob job = MakeJob("Docs", {FileA, FileC});
    std::vector<libRestore::Entry> entries;
    const auto backup = BackUpAndRead(job, entries);
    WriteFile(FileA, "newer");
    SetFileTime(FileA, kOldTime + 100);
    WriteFile(FileC, "older");
    SetFileTime(FileC, kOldTime - 100);

    auto r = Restore(job, backup, entries, Conflict::Skip);
    EXPECT_EQ(r.Skipped, 2);
    EXPECT_EQ(ReadFile(FileA), "newer");
    EXPECT_EQ(ReadFile(FileC), "older");

    r = Restore(job, backup, entries, Conflict::OverwriteOlder);
    EXPECT_EQ(r.Restored, 1);
    EXPECT_EQ(ReadFile(FileA), "newer");
    ExpectRestored(FileC, "gamma");

    r = Restore(job, backup, entries, Conflict::KeepBoth);
    EXPECT_EQ(r.Restored, 2);
    EXPECT_EQ(ReadFile(FileA), "newer");
    ExpectRestored(Src + "a (restored).txt", "alpha");
    ExpectRestored(Src + "sub/deep/c (restored).txt", "gamma");
    EXPECT_EQ(Restore(job, backup, entries, Conflict::KeepBoth).Restored, 2);
    ExpectRestored(Src + "a (restored 2).txt", "alpha");
    EXPECT_EQ(libRestore::RestoredName(".profile"), ".profile (restored)");
}

TEST_F(RestoreRun, APasswordArchiveNeedsTheRightPassword) {
    CBackupJob job = MakeJob("Secret", {FileA, FileB});
    job.SetPassword("right one");
    std::vector<libRestore::Entry> entries;
    const auto backup = BackUpAndRead(job, entries);
    const std::string sTo = Root + "out";
    for (const std::string sWrong : {"wrong", ""}) {
        const auto r = Restore(job, backup, entries, Conflict::Skip, sTo, sWrong);
        EXPECT_EQ(r.Result, Status::WrongPassword);
        EXPECT_NE(r.Error.find(backup.Path), std::string::npos) << r.Error;
        EXPECT_EQ(r.Restored, 0);
        EXPECT_FALSE(Exists(sTo + "/" + Stored(FileA)));
    }
    EXPECT_TRUE(LogHasPrefixSuffix("  Restore failed: ", "'" + backup.Path + "'."));
    EXPECT_EQ(Restore(job, backup, entries, Conflict::Skip, sTo, "right one").Restored, 2);
    EXPECT_EQ(ReadFile(sTo + "/" + Stored(FileB)), ReadFile(FileB));
}

TEST_F(RestoreRun, AnAbortHalfwayLeavesNoPartialFile) {
    const std::string sBig = Source("big.bin", Noise(5u << 20, 3));
    for (bool bZip : {true, false}) {
        CBackupJob job = MakeJob("Big", {sBig}, bZip);
        std::vector<libRestore::Entry> entries;
        const auto backup = BackUpAndRead(job, entries);
        const std::string sTo = Root + (bZip ? "z" : "c");
        libRestore::Options o;
        o.ToFolder = sTo;
        uint64_t lSeen = 0;
        o.Progress = [&](const std::string&, uint64_t lDone, uint64_t) {
            lSeen = std::max(lSeen, lDone);
            return lDone == 0; // stops once the first piece is written
        };
        const auto r = libRestore::Restore(job, backup, entries, o);
        EXPECT_EQ(r.Result, Status::Aborted);
        EXPECT_GT(lSeen, 0u);
        const std::string sFolder = sTo + (bZip ? "/" + Stored(Src) : "");
        EXPECT_TRUE(fs::is_empty(sFolder)) << *EntryNames(sFolder).begin();
        EXPECT_TRUE(LogHas("  Restore terminated by user"));
        ResetTarget();
    }
}

TEST_F(RestoreRun, AHostileArchiveNeverWritesOutsideTheChosenFolder) {
    const std::string sOutside = Root + "outside";
    fs::create_directories(sOutside);
    const std::string sAbs = Root + "abs-" + std::to_string(::getpid());
    int iErr = 0;
    zip_t* za = zip_open((Tgt + "Evil.zip").c_str(), ZIP_CREATE | ZIP_TRUNCATE, &iErr);
    ASSERT_NE(za, nullptr);
    auto add = [&](const std::string& sName, const std::string& sData, uint32_t uMode) {
        zip_source_t* src = zip_source_buffer(za, strdup(sData.c_str()), sData.size(), 1);
        const zip_int64_t i = zip_file_add(za, sName.c_str(), src, 0);
        ASSERT_GE(i, 0) << sName;
        zip_file_set_external_attributes(za, static_cast<zip_uint64_t>(i), 0, ZIP_OPSYS_UNIX, uMode << 16);
    };
    add("../escaped.txt", "x", S_IFREG | 0644);
    add(sAbs, "x", S_IFREG | 0644);
    add("link", sOutside, S_IFLNK | 0777);
    add("link/through.txt", "x", S_IFREG | 0644);
    add("ok/fine.txt", "fine", S_IFREG | 0644);
    ASSERT_EQ(zip_close(za), 0);

    CBackupJob job = MakeJob("Evil", {FileA});
    const auto backups = libRestore::ListBackups(job);
    ASSERT_EQ(backups.size(), 1u);
    std::vector<libRestore::Entry> entries;
    std::string sError;
    ASSERT_EQ(libRestore::ReadContents(job, backups[0], entries, sError), Status::Ok);
    const std::string sTo = Root + "dest/inner";
    for (Conflict c : {Conflict::Skip, Conflict::Overwrite}) {
        const auto r = Restore(job, backups[0], entries, c, sTo);
        EXPECT_EQ(r.Result, Status::Incomplete);
        EXPECT_EQ(r.NotRestored, 3); // "..", absolute, through the link
    }
    EXPECT_TRUE(fs::is_empty(sOutside));
    EXPECT_FALSE(Exists(Root + "dest/escaped.txt"));
    EXPECT_FALSE(Exists(sAbs));
    EXPECT_TRUE(fs::is_symlink(sTo + "/link"));
    EXPECT_EQ(fs::read_symlink(sTo + "/link").string(), sOutside);
    EXPECT_EQ(ReadFile(sTo + "/ok/fine.txt"), "fine");
    EXPECT_TRUE(LogHasPrefixSuffix("  Not restored 'link/through.txt': ", "nothing is written through it"));
}

TEST_F(RestoreRun, BackupsAreListedNewestFirstAndAnOlderOneRestoresItsContent) {
    CBackupJob job = MakeJob("Docs", {FileA});
    job.SetNumberCopies(3);
    for (const char* s : {"one", "two", "three"}) {
        WriteFile(FileA, s);
        ASSERT_FALSE(BackupRun::ExecuteBackupNow(job));
    }
    // Dated names beside them, as a keep-by-period job leaves them.
    fs::copy_file(Tgt + "Docs_2.zip", Tgt + "Docs_20270301.zip");
    fs::copy_file(Tgt + "Docs_1.zip", Tgt + "Docs_P20270314.zip");
    fs::copy_file(Tgt + "Docs.zip", Tgt + "Docs_20270314(1).zip");
    Touch(Tgt + "Docs2.zip");
    std::vector<std::string> names;
    for (const auto& b : libRestore::ListBackups(job))
        names.push_back(b.Path.substr(Tgt.size()));
    // Counted names first, then dated ones.
    EXPECT_EQ(names, (std::vector<std::string>{"Docs.zip", "Docs_1.zip", "Docs_2.zip", "Docs_20270314(1).zip",
                                               "Docs_P20270314.zip", "Docs_20270301.zip"}));
    job.SetKeepPeriod(CBackupJob::KeepDays);
    const auto backups = libRestore::ListBackups(job);
    EXPECT_EQ(backups[0].Path, Tgt + "Docs_20270314(1).zip");
    EXPECT_EQ(backups[0].Size, fs::file_size(Tgt + "Docs.zip"));
    std::vector<libRestore::Entry> entries;
    std::string sError;
    ASSERT_EQ(libRestore::ReadContents(job, backups.back(), entries, sError), Status::Ok);
    EXPECT_EQ(Restore(job, backups.back(), entries, Conflict::Overwrite).Restored, 1);
    EXPECT_EQ(ReadFile(FileA), "one");
}

TEST_F(RestoreRun, VerificationCatchesAFlippedByteAndATruncatedCopy) {
    CBackupJob job = MakeJob("Docs", {SrcFolder()});
    job.SetVerify(true);
    std::vector<libRestore::Entry> entries;
    const auto backup = BackUpAndRead(job, entries);
    EXPECT_TRUE(LogHas("  Verified the new backup"));
    std::string sWhy;
    EXPECT_TRUE(libVerify::VerifyNewest(job, sWhy)) << sWhy;
    const std::vector<std::string> missing{Stored(FileA), "not/there.txt"};
    EXPECT_FALSE(libVerify::VerifyArchive(backup.Path, "", sWhy, &missing));
    EXPECT_EQ(sWhy, "'not/there.txt': missing from the archive");
    FlipBit(backup.Path, static_cast<off_t>(fs::file_size(backup.Path) / 2));
    EXPECT_FALSE(libVerify::VerifyNewest(job, sWhy));
    EXPECT_NE(sWhy.find(Stored(FileB)), std::string::npos) << sWhy;
    EXPECT_TRUE(LogHas("  Verify failed: " + sWhy));

    CBackupJob copy = MakeJob("Tree", {SrcFolder()}, false);
    copy.SetVerify(true);
    ResetTarget();
    BackUpAndRead(copy, entries);
    EXPECT_TRUE(libVerify::VerifyNewest(copy, sWhy)) << sWhy;
    const std::string sCopyOfB = Tgt + "src/sub/b.dat";
    ASSERT_TRUE(Exists(sCopyOfB));
    ::truncate(sCopyOfB.c_str(), 1000);
    EXPECT_FALSE(libVerify::VerifyNewest(copy, sWhy));
    EXPECT_NE(sWhy.find(sCopyOfB), std::string::npos) << sWhy;
    // Same size, same time, other bytes: the content comparison sees it.
    WriteFile(sCopyOfB, Noise(300000, 8));
    SetFileTime(sCopyOfB, kOldTime);
    EXPECT_FALSE(libVerify::VerifyNewest(copy, sWhy));
    EXPECT_EQ(sWhy, sCopyOfB + ": content differs");
}
