// The backup run: log lines, outcomes, the recorded run, commands and the status shown.

#include "RunTestSupport.h"

#include "engine/libCopy.h"
#include "jobs/CBackupJobManager.h"
#include "support/StowError.h"

using namespace runtest;
using UserInteraction::Answer;

namespace {

std::string Dashes(size_t n) { return std::string(n, '-'); }

// The job as its file holds it.
CBackupJob Saved(const std::string& sFile) {
    CBackupJob job;
    EXPECT_FALSE(job.OpenBackupJob(sFile));
    return job;
}

} // namespace

// ---- texts that stand on their own ----

TEST(RunTexts, PlaceholdersExpandOnceFromLeftToRight) {
    EXPECT_EQ(BackupRun::ExpandPlaceholders("copy %Z.zip %D%J.bak", "Mail", "/bk/Mail", "/bk/"),
              "copy /bk/Mail.zip /bk/Mail.bak");
    EXPECT_EQ(BackupRun::ExpandPlaceholders("100%", "Mail", "", "/bk/"), "100");
    EXPECT_EQ(BackupRun::ExpandPlaceholders("%%J", "Mail", "", "/bk/"), "J");
    EXPECT_EQ(BackupRun::ExpandPlaceholders("a%xb%j", "Mail", "", "/bk/"), "ab"); // case matters
    // A replacement holding a placeholder is not expanded again (and the expansion ends).
    EXPECT_EQ(BackupRun::ExpandPlaceholders("[%J][%Z]", "A%JB", "%D%Z", "/t/"), "[A%JB][%D%Z]");
    EXPECT_EQ(BackupRun::ExpandPlaceholders("", "Mail", "", ""), "");
}

TEST(RunTexts, CommandsRunThroughTheShellAndReportTheirStatus) {
    EXPECT_EQ(BackupRun::RunCommand("exit 0"), 0);
    EXPECT_EQ(BackupRun::RunCommand("true && exit 7"), 7);
    EXPECT_EQ(BackupRun::RunCommand("kill -TERM $$"), 128 + 15);
    EXPECT_EQ(BackupRun::RunCommand("read x; exit $?"), 1); // standard input is empty, never a terminal
}

// ---- copy style ----

using CopyRun = RunFixture;

TEST_F(CopyRun, CountsFilesAndBytesOverEntriesAndRecordsTheRun) {
    for (int i = 0; i < 3; ++i)
        Source("one/f" + std::to_string(i), std::string(i == 0 ? 40 : 30, 'a'));
    for (int i = 0; i < 4; ++i)
        Source("two/g" + std::to_string(i), std::string(i == 0 ? 100 : 50, 'b'));
    CBackupJob job = MakeJob("Docs", {Src + "one/*.*", Src + "two/*.*"}, false);
    job.SetRunCount(5);
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));

    const auto lines = LogLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "-- Docs " + Dashes(56));
    EXPECT_TRUE(LogHas("Backing Up   " + Src + "one/*.*"));
    EXPECT_TRUE(LogHas("Backing Up   " + Src + "two/*.*"));
    // The count line, then the run's summary last.
    EXPECT_EQ(lines[lines.size() - 2], "  Copied 7 files totaling 350 bytes");
    EXPECT_EQ(lines.back().rfind("  Backed up 7 files (350 B) in ", 0), 0u) << lines.back();
    EXPECT_TRUE(lines.back().ends_with("; 0 left out")) << lines.back();
    EXPECT_FALSE(job.Failure());
    EXPECT_TRUE(Exists(Tgt + "one/f2"));
    EXPECT_TRUE(Exists(Tgt + "two/g3"));
    // Saved: the file holds the recorded run.
    EXPECT_FALSE(job.Changed());
    const CBackupJob saved = Saved(job.FileName());
    EXPECT_EQ(saved.RunCount(), 6);
    EXPECT_EQ(saved.SizeLastRun(), 350);
    EXPECT_EQ(libDates::Format(saved.DateLastRun(), "mmm-dd-yyyy hh:mm"), "Mar-15-2027 10:00");
}

TEST_F(CopyRun, NothingToCopyLogsZerosAndAFirstRunCountsOne) {
    fs::create_directories(Src + "empty");
    CBackupJob job = MakeJob("Docs", {Src + "empty/*.doc"}, false);
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    EXPECT_EQ(LogLines().end()[-2], "  Copied 0 files totaling 0 bytes");
    EXPECT_EQ(LogLines().back().rfind("  Backed up 0 files (0 B) in ", 0), 0u);
    EXPECT_EQ(job.RunCount(), 1);
    EXPECT_EQ(job.SizeLastRun(), 0);

    // A stale abort request does not empty a later run.
    Source("empty/a.doc", "1");
    RunState::SetAbortRequested(true);
    RunOk(job);
    EXPECT_TRUE(Exists(Tgt + "empty/a.doc"));
}

TEST_F(CopyRun, AYearOfDailyNoChangeRunsKeepsTheLogBounded) {
    // 40 folders with long names: about 12 KB of folder lines a run, over 4 MB a year.
    for (int i = 0; i < 40; ++i)
        Source("Y/" + std::string(200, static_cast<char>('a' + i % 26)) + std::to_string(i) + "/f.txt", "f");
    appPreferences::MaxLogSizeMB = 1;
    CBackupJob job = MakeJob("Daily", {Src + "Y/*.*"}, false);
    job.SetCopyStyle(libCopy::CopyUpdate);
    const double dFirstDay = libDates::Now();
    const std::string sLog = libLog::LogFileName();
    uint64_t lLargest = 0;
    int iRotations = 0;
    for (int iDay = 0; iDay < 365; ++iDay) {
        libDates::SetClock(dFirstDay + iDay);
        const uint64_t lBefore = libFiles::FileLen(sLog);
        ASSERT_FALSE(BackupRun::ExecuteBackupNow(job));
        if (libFiles::FileLen(sLog) < lBefore) ++iRotations;
        lLargest = std::max(lLargest, libFiles::FileLen(sLog) + libFiles::FileLen(sLog + ".1"));
    }
    EXPECT_FALSE(job.Failure());
    EXPECT_GE(iRotations, 3);
    // At most two generations, each the limit and one run's lines.
    EXPECT_LE(lLargest, 2 * ((1u << 20) + 16 * 1024));
}

// ---- abandon paths ----

using AbandonRunTest = RunFixture;

TEST_F(AbandonRunTest, MissingFileEntryLeavesTheRecordAloneAndRunsNoPostCommand) {
    const std::string sMark = App + "marks";
    CBackupJob job = MakeJob("Docs", {Src + "nothere.txt"}, false);
    job.SetRunCount(4);
    job.SetDateLastRun(libDates::DateSerial(2027, 1, 1));
    job.SetPreBackupCommand("echo pre >> " + sMark);
    job.SetPostBackupCommand("echo post >> " + sMark);
    EXPECT_TRUE(BackupRun::ExecuteBackupNow(job));
    EXPECT_EQ(ReadFile(sMark), "pre\n"); // an abandoned run runs the pre-command only
    EXPECT_TRUE(LogHas("  Pre-backup command exit status 0"));
    EXPECT_TRUE(LogHas("Stowline Pre-Emptive Error, file to backup does not exist: '" + Src + "nothere.txt'."));
    EXPECT_TRUE(job.Failure());
    EXPECT_EQ(job.RunCount(), 4);
    EXPECT_DOUBLE_EQ(job.DateLastRun(), libDates::DateSerial(2027, 1, 1));
    EXPECT_FALSE(Exists(job.FileName())); // never saved
}

TEST_F(AbandonRunTest, MissingWildcardFolderAndMissingTargetKeepEveryArchiveUnderItsName) {
    Touch(Tgt + "Docs.zip", "previous newest");
    CBackupJob job = MakeJob("Docs", {Src + "gone/*.doc"});
    job.SetNumberCopies(2);
    EXPECT_TRUE(BackupRun::ExecuteBackupNow(job));
    EXPECT_TRUE(LogHas("Stowline Pre-Emptive Error, file specification (wildcards) to backup does not exist: '" + Src +
                       "gone/*.doc'."));
    EXPECT_EQ(ReadFile(Tgt + "Docs.zip"), "previous newest"); // retention comes after a new archive only
    EXPECT_EQ(EntryNames(Tgt), std::set<std::string>{"Docs.zip"});

    Source("a.txt", "a");
    CBackupJob job2 = MakeJob("Docs", {Src + "a.txt"}, false);
    job2.SetTargetDirectoryRaw(App + "nowhere/");
    EXPECT_TRUE(BackupRun::ExecuteBackupNow(job2));
    EXPECT_TRUE(LogHas("Stowline Target Path does not exist: '" + App + "nowhere/'."));
    EXPECT_TRUE(job2.Failure());
    EXPECT_EQ(job2.RunCount(), -1);
}

TEST_F(AbandonRunTest, ALongJobNameRunsAndOneWithASlashNeverWritesOutsideTheTarget) {
    Source("a.txt", "a");
    const std::string sName(70, 'L');
    CBackupJob job = MakeJob(sName, {Src + "a.txt"});
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    EXPECT_EQ(LogLines().front(), "-- " + sName + " ");
    EXPECT_TRUE(Exists(Tgt + sName + ".zip"));

    job.SetJobNameRaw("../escape");
    EXPECT_TRUE(BackupRun::ExecuteBackupNow(job));
    EXPECT_FALSE(Exists(App + "escape.zip"));
    EXPECT_TRUE(job.Failure());
}

// ---- zip style ----

using ZipRun = RunFixture;

TEST_F(ZipRun, CompletedRunWritesTheArchiveAndLogsItsSize) {
    const std::string a = Source("d/a.txt", "alpha");
    const std::string b = Source("d/s/b.txt", "beta");
    const std::string c = Source("c.txt", "gamma");
    CBackupJob job = MakeJob("My Docs!", {Src + "d/*.*", c});
    libLog::SetPendingComment("before the move");
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));

    const std::string sZip = Tgt + "MyDocs.zip";
    ASSERT_TRUE(Exists(sZip));
    const auto names = ZipNames(sZip);
    EXPECT_TRUE(names.count(Stored(a)));
    EXPECT_TRUE(names.count(Stored(b)));
    EXPECT_TRUE(names.count(Stored(c)));
    EXPECT_EQ(std::system(("unzip -tqq '" + sZip + "' >/dev/null 2>&1").c_str()), 0);

    const auto lines = LogLines();
    EXPECT_EQ(lines[0], "-- My Docs! " + Dashes(52));
    EXPECT_EQ(lines[1], "before the move");
    EXPECT_TRUE(LogHas("Zipping Up   " + Src + "d/*.*"));
    EXPECT_TRUE(LogHas("Zipping Up   " + c));
    EXPECT_EQ(lines[lines.size() - 2], "  Zip size " + std::to_string(fs::file_size(sZip)));
    EXPECT_EQ(lines.back().rfind("  Backed up ", 0), 0u) << lines.back();
    EXPECT_FALSE(job.Failure());
    EXPECT_EQ(Saved(job.FileName()).SizeLastRun(), static_cast<double>(fs::file_size(sZip)));
}

TEST_F(ZipRun, IncrementalRunWithNothingNewIsASuccessAndKeepsTheNewestName) {
    const std::string a = Source("d/a.txt", "alpha");
    SetFileTime(a, libDates::ToTimeT(libDates::DateSerial(2027, 3, 1)));
    Touch(Tgt + "Docs.zip", "previous newest");
    Touch(Tgt + "Docs_1.zip", "previous copy 1");
    CBackupJob job = MakeJob("Docs", {Src + "d/*.*"});
    job.SetIncremental(true);
    job.SetNumberCopies(3);
    job.SetDateLastRun(libDates::DateSerial(2027, 3, 10));
    RunOk(job);
    EXPECT_FALSE(LogHas("Zip has nothing to do"));
    // No new archive, so nothing rotated: the newest backup keeps its name, and nothing is left.
    EXPECT_EQ(ReadFile(Tgt + "Docs.zip"), "previous newest");
    EXPECT_EQ(ReadFile(Tgt + "Docs_1.zip"), "previous copy 1");
    EXPECT_EQ(EntryNames(Tgt), (std::set<std::string>{"Docs.zip", "Docs_1.zip"}));
}

TEST_F(ZipRun, DatedPurgeDeletesOnlyThisJobsExpiredUnmarkedArchives) {
    Source("a.txt", "a");
    const std::vector<std::string> gone = {"Mail_20270312.zip", "Mail_20270301(2).zip", "Mail_270101.zip"};
    // Which names are a job's own dated archives is the name reader's; here the cut-off, the keep
    // marks and a neighbour's archive.
    const std::vector<std::string> kept = {"Mail_20270313.zip", "Mail_P20270101.zip", "Mail_p20270102(1).zip",
                                           "Mail2_20270101.zip", "Mail_Old_20270101.zip"};
    for (const auto& s : gone)
        Touch(Tgt + s);
    for (const auto& s : kept)
        Touch(Tgt + s);
    CBackupJob job = MakeJob("Mail", {Src + "a.txt"});
    job.SetKeepPeriod(CBackupJob::KeepDays);
    job.SetNumberCopies(2); // cut-off 2027-03-13: earlier days go
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    for (const auto& s : gone)
        EXPECT_FALSE(Exists(Tgt + s)) << s;
    for (const auto& s : kept)
        EXPECT_TRUE(Exists(Tgt + s)) << s;
    EXPECT_TRUE(Exists(Tgt + "Mail_20270315.zip"));
    EXPECT_TRUE(Seam->Messages().empty());

    // An invalid keep period is shown, and the run still zips under a dated name.
    job.SetKeepPeriod(7);
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    ExpectOneBox(*Seam, "Internal Error", UserInteraction::Icon::Exclamation, "Keep period 7 is invalid",
                 UserInteraction::Buttons::OK);
    EXPECT_TRUE(Exists(Tgt + "Mail_20270315(1).zip"));
    EXPECT_FALSE(job.Failure());
}

TEST_F(ZipRun, CommandsAreExpandedRunAndLogged) {
    Source("a.txt", "a");
    CBackupJob job = MakeJob("Mail", {Src + "a.txt"});
    job.SetPreBackupCommand("exit 3");
    job.SetPostBackupCommand("test -f %Z.zip && cp %Z.zip %D%J.bak");
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    EXPECT_TRUE(LogHas("  Pre-backup command exit status 3"));
    EXPECT_TRUE(LogHas("  Post-backup command exit status 0"));
    EXPECT_TRUE(Exists(Tgt + "Mail.bak"));
    EXPECT_FALSE(job.Failure()); // a failing command never changes the outcome
}

TEST_F(ZipRun, TheOwnerShowsProgressAndEndsIdle) {
    Source("a.txt", "a");
    CBackupJob job = MakeJob("Docs", {Src + "a.txt"});
    RecordingOwner owner;
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job, &owner));
    ASSERT_GE(owner.Messages.size(), 3u);
    EXPECT_EQ(owner.Messages.front(), "Initializing...");
    EXPECT_NE(std::find(owner.Messages.begin(), owner.Messages.end(), "Zipping Up   " + Src + "a.txt"),
              owner.Messages.end());
    EXPECT_EQ(owner.Messages.back(), "");
    for (const auto& s : owner.LightStates)
        EXPECT_NE(s, "mixed");
    EXPECT_EQ(owner.LightStates.front(), "busy");
    EXPECT_EQ(owner.LightStates.back(), "idle");
    EXPECT_EQ(owner.Pointer, (std::vector<bool>{true, false}));
    EXPECT_EQ(RunState::Owner(), nullptr);
    // Pending events ran 20 times per light change.
    EXPECT_GE(Seam->EventsRun, 20 * static_cast<int>(owner.LightStates.size()));
}

TEST_F(ZipRun, TheOwnerShowsTheOffsiteUploadsProgress) {
    // An archive that cannot shrink, sent at 1 MiB/s to a folder rclone writes as its remote:
    // rclone's stats of each second reach the status line.
    std::string sNoise(3 << 20, '\0');
    unsigned u = 1;
    for (char& c : sNoise)
        c = static_cast<char>((u = u * 1103515245 + 12345) >> 16);
    Source("noise.bin", sNoise);
    CBackupJob job = MakeJob("Docs", {Src + "noise.bin"});
    job.SetOffsiteRemote(App + "remote");
    appPreferences::OffsiteBandwidth = "1M";
    RecordingOwner owner;
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job, &owner));
    appPreferences::OffsiteBandwidth.clear();
    EXPECT_FALSE(job.OffsiteFailed());
    const std::string sStatus = "Off-site copy to " + App + "remote: ";
    const auto progress = std::find_if(owner.Messages.begin(), owner.Messages.end(), [&](const std::string& s) {
        return s.rfind(sStatus, 0) == 0 && s.find(" of 3.0 MiB (") != std::string::npos;
    });
    EXPECT_NE(progress, owner.Messages.end());
    EXPECT_TRUE(LogHasPrefixSuffix("  Off-site copy sent 3.0 MiB in ", "/s)"));
}

// ---- the manager's run command ----

TEST_F(ZipRun, ManagerRunsTheJobOfAHandleAndTheFileRecordsIt) {
    Source("a.txt", "a");
    CBackupJob job = MakeJob("Docs", {Src + "a.txt"});
    job.SetStartTime(libDates::TimeSerial(9, 0, 0));
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    CBackupJobManager& manager = CreateJobManager();
    manager.Reload();
    ASSERT_EQ(manager.Count(), 1);
    EXPECT_EQ(BackupRun::ExecuteBackup(manager, 0), 0);
    EXPECT_TRUE(Exists(Tgt + "Docs.zip"));
    EXPECT_EQ(Saved(job.FileName()).RunCount(), 1);
    // The save refreshed the entry: its next run lies ahead.
    EXPECT_GT(manager.NextRunFromHandle(0), libDates::Now());
    EXPECT_EQ(manager.BackupsToRun(libDates::Now()), std::vector<int32_t>{-1});
    EXPECT_EQ(BackupRun::ExecuteBackup(manager, -1), -1);
    EXPECT_EQ(BackupRun::ExecuteBackup(manager, 42), 42);
    DestroyJobManager();
}

// ---- the disk prompts and the run's error trap ----

class DiskRun : public RunFixture {
protected:
    ScriptedProbe Probe;
};

TEST_F(DiskRun, WildcardFolderOnADriveWithoutMediumStopsAndIsNoSuccess) {
    const std::string sFloppy = Src + "floppy/";
    Probe.LookUpError = [sFloppy](const std::string& s) { return s == sFloppy ? ENOMEDIUM : 0; };
    CBackupJob job = MakeJob("Docs", {sFloppy + "*.doc"});
    job.SetRunCount(3);
    RecordingOwner owner;
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job, &owner, Probe)); // stopped, not abandoned
    ExpectOneBox(*Seam, "Disk I/O Error", UserInteraction::Icon::Information,
                 "Please put the floppy or zip disk into the drive and try again.", UserInteraction::Buttons::OK);
    EXPECT_TRUE(job.Failure()); // nothing was backed up
    EXPECT_EQ(job.RunCount(), 3);
    EXPECT_FALSE(Exists(job.FileName()));
    EXPECT_EQ(owner.LightStates.back(), "idle");
    EXPECT_EQ(owner.Messages.back(), "");
}

TEST_F(DiskRun, DiskPromptOkTriesTheLookUpAgainAndCancelAbandonsTheRun) {
    const std::string a = Source("a.txt", "a");
    int iTries = 0;
    Probe.LookUpError = [a, &iTries](const std::string& s) { return s == a && iTries++ == 0 ? ENOMEDIUM : 0; };
    Seam->Answers.push_back(Answer::OK);
    CBackupJob zipJob = MakeJob("Docs", {a});
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(zipJob, nullptr, Probe));
    ExpectOneBox(*Seam, "Disk Error", UserInteraction::Icon::None,
                 "Disk Error, please insert the diskette and try again.", UserInteraction::Buttons::OKCancel);
    EXPECT_EQ(iTries, 2);
    EXPECT_FALSE(zipJob.Failure());
    EXPECT_TRUE(ZipNames(Tgt + "Docs.zip").count(Stored(a)));

    Probe.LookUpError = [a](const std::string& s) { return s == a ? ENOMEDIUM : 0; };
    Seam->Answers.push_back(Answer::Cancel);
    CBackupJob job = MakeJob("Docs", {a}, false);
    EXPECT_TRUE(BackupRun::ExecuteBackupNow(job, nullptr, Probe));
    EXPECT_TRUE(LogHas("User cancelled out at error prompt to insert floppy disk."));
    EXPECT_TRUE(job.Failure());
    EXPECT_EQ(job.RunCount(), -1);
}

TEST_F(DiskRun, AnyOtherErrorIsAFatalReport) {
    const std::string a = Source("a.txt", "a");
    Probe.LookUpError = [a](const std::string& s) -> int {
        if (s == a) throw StowError(StowErrors::DeviceIO, "device error");
        return 0;
    };
    CBackupJob job = MakeJob("Docs", {a});
    EXPECT_THROW(BackupRun::ExecuteBackupNow(job, nullptr, Probe), libErrorHandler::FatalApplicationError);
    EXPECT_NE(ReadFile(libLog::ErrorFileName()).find("Module/Function: BackupRun/RunNow()."), std::string::npos);
    EXPECT_EQ(RunState::Owner(), nullptr);
}

TEST_F(ZipRun, ASecondRunStartedDuringARunIsRefused) {
    Source("a.txt", "a");
    CBackupJob inner = MakeJob("Inner", {Src + "a.txt"});
    struct NestingOwner : RecordingOwner {
        CBackupJob* Job = nullptr;
        int Result = -1;
        void Repaint() override {
            RecordingOwner::Repaint();
            if (Job != nullptr && Result < 0) Result = BackupRun::ExecuteBackupNow(*Job) ? 1 : 0;
        }
    } owner;
    owner.Job = &inner;
    CBackupJob outer = MakeJob("Outer", {Src + "a.txt"});
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(outer, &owner));
    EXPECT_EQ(owner.Result, 1);
    EXPECT_TRUE(inner.Failure());
    EXPECT_FALSE(Exists(Tgt + "Inner.zip"));
    EXPECT_TRUE(Exists(Tgt + "Outer.zip"));
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(inner)); // afterwards it runs
}

TEST_F(ZipRun, AnArchiveThatCannotBeRemovedAbandonsTheRun) {
    Source("a.txt", "a");
    CBackupJob job = MakeJob("Docs", {Src + "a.txt"});
    job.SetNumberCopies(0);
    // Something that is no file stands under the archive's name (a folder cannot be unlinked).
    WriteFile(App + "bk/Docs.zip/keep", "k");
    EXPECT_TRUE(BackupRun::ExecuteBackupNow(job));
    EXPECT_TRUE(LogHas("Error removing previous zip file for this backup job."));
    EXPECT_TRUE(job.Failure());

    ClearLog();
    fs::remove_all(Tgt + "Docs.zip");
    WriteFile(App + "bk/Docs_3.zip/keep", "k");
    EXPECT_TRUE(BackupRun::ExecuteBackupNow(job));
    EXPECT_TRUE(LogHas("Error deleting old copies (n) of zip file.")); // the text as it stands, "(n)" included
    EXPECT_EQ(job.RunCount(), -1);
}

// ---- a target and sources must be absolute before a run writes anything ----

namespace {

class TargetRules : public RunFixture {
protected:
    // Runs from inside the source folder, so that a relative name would resolve to something real.
    bool RunFromSource(CBackupJob& job) {
        const fs::path old = fs::current_path();
        fs::current_path(Src);
        const bool bAbandoned = BackupRun::ExecuteBackupNow(job, nullptr);
        fs::current_path(old);
        return bAbandoned;
    }
};

} // namespace

TEST_F(TargetRules, TargetsThatAreNoAbsoluteFolderAreRefusedBeforeAnythingIsWritten) {
    Source("a.txt", "a");
    for (const bool bCompress : {true, false}) {
        for (const std::string sTarget : {"", "-1", "bk/", "bk"}) {
            SCOPED_TRACE(sTarget + (bCompress ? " zip" : " copy"));
            ClearLog();
            CBackupJob job = MakeJob("Job", {Src + "*.*"}, bCompress);
            job.SetTargetDirectoryRaw(sTarget);
            const int32_t lRunsBefore = job.RunCount();
            EXPECT_TRUE(RunFromSource(job));
            EXPECT_TRUE(job.Failure());
            EXPECT_EQ(job.RunCount(), lRunsBefore); // abandoned: nothing recorded
            EXPECT_TRUE(LogHas("Invalid target directory: '" + sTarget + "'."));
            EXPECT_EQ(EntryNames(Src), std::set<std::string>{"a.txt"});
        }
    }
}

TEST_F(TargetRules, ATargetWithoutItsFinalSlashStillHoldsTheBackup) {
    Source("a.txt", "a");
    CBackupJob zip = MakeJob("Job", {Src + "*.*"});
    zip.SetTargetDirectoryRaw(libFiles::RemoveTrailingSlash(Tgt));
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(zip, nullptr));
    EXPECT_TRUE(Exists(Tgt + "Job.zip"));
    EXPECT_FALSE(Exists(libFiles::RemoveTrailingSlash(Tgt) + "Job.zip"));
    EXPECT_EQ(libRetention::LatestZip(zip), Tgt + "Job.zip");

    CBackupJob copy = MakeJob("Copy", {Src + "*.*"}, false);
    copy.SetTargetDirectoryRaw(libFiles::RemoveTrailingSlash(Tgt));
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(copy, nullptr));
    EXPECT_EQ(ReadFile(Tgt + "src/a.txt"), "a");
}

TEST_F(TargetRules, RelativeSourcesAreRefusedAndAnEmptyListIsNamedMissing) {
    Source("a.txt", "a");
    CBackupJob job = MakeJob("Job", {Src + "*.*", "a.txt"}, false);
    EXPECT_TRUE(RunFromSource(job));
    EXPECT_TRUE(LogHas("Invalid source, not an absolute path: 'a.txt'."));
    EXPECT_FALSE(Exists(Tgt + "src"));

    ClearLog();
    CBackupJob empty = MakeJob("Empty", {}, false);
    EXPECT_TRUE(BackupRun::ExecuteBackupNow(empty, nullptr));
    EXPECT_TRUE(LogHas("Stowline Pre-Emptive Error, file to backup does not exist: ''."));
}
