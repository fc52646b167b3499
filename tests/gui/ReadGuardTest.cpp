// The main window's restore window and "Verify Backup" read a job's backups in the agent's own
// process: a backup of that job falling due meanwhile (the tick runs from the events the restore
// lets through) is put off, stays due, is not reported as failed and runs at the first tick after
// the read; other jobs run as usual; "Back up now" of the read job is refused; and no read
// begins while a run of the job holds its lock.

#include "ScheduleTestFixture.h"
#include "engine/BackupRun.h"
#include "engine/JobLock.h"
#include "ui/frmRestore.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QStatusBar>
#include <algorithm>

namespace {

using UserInteraction::Icon;

class ReadGuardTest : public ScheduleTest {
protected:
    SchedulerTick::CSchedulerTick Ticker;
    RecordingHost Agent;
    // The jobs A and B, listed at 12:00 (each next run 20:30 today), A backed up once.
    void TwoJobsABackedUp() {
        SaveJob("A", true);
        SaveJob("B", true);
        Form->RefreshScheduleForm();
        TagA = frmSchedule::RowTag(RowNamed("A"));
        TagB = frmSchedule::RowTag(RowNamed("B"));
        BackupRun::ExecuteBackup(*JobManager(), TagA);
        ASSERT_EQ(RunCountOf(FileA()), 1);
    }
    std::string FileA() const { return App + "BackupJobs/A.slj"; }
    std::string FileB() const { return App + "BackupJobs/B.slj"; }
    bool Due(int iTag) {
        const std::vector<int32_t> due = JobManager()->BackupsToRun(libDates::Now());
        return std::find(due.begin(), due.end(), iTag) != due.end();
    }
    // Restores all of A's newest backup into a new folder from its restore window; step runs
    // at the restore's first event and again once the restore has ended, the window still open.
    void RestoreA(const std::function<void()>& atFirstEvent, const std::function<void()>& afterRestore) {
        ModalScript script;
        DriveDialog<frmRestore>(script, [&](frmRestore& d) {
            ASSERT_EQ(d.lvwBackups->topLevelItemCount(), 1);
            d.optFolder->setChecked(true);
            d.txtToFolder->setText(QString::fromStdString(Root + "out"));
            bool bFirst = true;
            Seam->OnEvents = [&](int) {
                if (!bFirst) return;
                bFirst = false;
                atFirstEvent();
            };
            d.cmdRestore->click();
            Seam->OnEvents = nullptr;
            EXPECT_FALSE(bFirst) << "the restore let events through";
            EXPECT_EQ(d.LastReport().Restored, 1);
            afterRestore();
            d.cmdClose->click();
        });
        Select({"A"});
        Form->mnuActionRestore_Click();
        EXPECT_EQ(script.Handled(), 1);
        EXPECT_EQ(script.Unexpected(), 0);
    }
    int TagA = -1, TagB = -1;
};

} // namespace

TEST_F(ReadGuardTest, ATickDuringARestorePutsOffThatJobOnlyAndRunsItAtTheFirstTickAfter) {
    TwoJobsABackedUp();
    int iFirst = -1, iSecond = -1;
    bool bDueDuring = false, bReadDuring = false;
    RestoreA(
        [&] {
            // 20:31: both jobs have fallen due while the restore goes on.
            libDates::SetClock(libDates::DateSerial(2027, 3, 10) + libDates::TimeSerial(20, 31, 0));
            bReadDuring = JobLock::ReadHere(FileA());
            iFirst = Ticker.Tick(Agent);
        },
        [&] {
            bDueDuring = Due(TagA);
            iSecond = Ticker.Tick(Agent);
        });
    EXPECT_TRUE(bReadDuring) << "the window reads A";
    EXPECT_EQ(iFirst, 1) << "B ran, A did not";
    EXPECT_EQ(RunCountOf(FileB()), 1);
    EXPECT_EQ(RunCountOf(FileA()), 1) << "no backup of A on top of its restore";
    EXPECT_TRUE(bDueDuring) << "A stays due";
    EXPECT_EQ(iSecond, 0) << "nor while the window stays open";
    EXPECT_EQ(ReadFile(Root + "out" + Root + "src-A/data.txt"), "payload of A\n");

    // The window closed: the next tick runs A, and nothing was ever reported as failed.
    EXPECT_FALSE(JobLock::ReadHere(FileA()));
    EXPECT_TRUE(Due(TagA));
    EXPECT_FALSE(Due(TagB));
    EXPECT_EQ(Ticker.Tick(Agent), 1);
    EXPECT_EQ(RunCountOf(FileA()), 2);
    EXPECT_EQ(RunCountOf(FileB()), 1);
    EXPECT_FALSE(Due(TagA));
    EXPECT_TRUE(Agent.Failures.empty()) << Agent.Failures.front();
    EXPECT_FALSE(LogHas("Backup of 'A' put off: its backups are being read")) << "the tick never started it";
}

TEST_F(ReadGuardTest, BackUpNowOfTheJobBeingRestoredIsRefusedAndOfAnotherJobRuns) {
    TwoJobsABackedUp();
    RestoreA([] {},
             [&] {
                 Seam->Clear();
                 Select({"A"});
                 Form->cmdBackup_Click();
                 auto m = Seam->Messages();
                 ASSERT_EQ(m.size(), 1u);
                 EXPECT_EQ(m[0].Text,
                           "The backups of A are being read. Back it up when the restore or verify has ended.");
                 EXPECT_EQ(RunCountOf(FileA()), 1);
                 Select({"B"});
                 Form->cmdBackup_Click();
                 EXPECT_EQ(RunCountOf(FileB()), 1) << "a restore window of A does not hold B back";
             });
    Select({"A"});
    Form->cmdBackup_Click();
    EXPECT_EQ(RunCountOf(FileA()), 2);
}

TEST_F(ReadGuardTest, NoRestoreWindowNorVerifyWhileARunOfTheJobHoldsIt) {
    TwoJobsABackedUp();
    {
        // As a run of A in another process holds it.
        FileLock run;
        ASSERT_TRUE(run.Open(JobLock::LockFileOf(FileA())));
        ASSERT_EQ(run.Try(FileLock::Mode::Exclusive), FileLock::Result::Held);
        const std::string sBusy = "A backup of A is running. Its backups can be read when it has ended.";
        ModalScript script;
        Select({"A"});
        Seam->Clear();
        Form->mnuActionRestore_Click();
        EXPECT_EQ(script.Handled() + script.Unexpected(), 0) << "the window did not open";
        Form->mnuActionVerify_Click();
        auto m = Seam->Messages();
        ASSERT_EQ(m.size(), 2u);
        EXPECT_EQ(m[0].Title, "Restore Files");
        EXPECT_EQ(m[0].Text, sBusy);
        ExpectBox(m[1], "Verify Backup", Icon::Information, sBusy);
        // B's backups are another matter.
        Seam->Clear();
        Select({"B"});
        BackupRun::ExecuteBackup(*JobManager(), TagB);
        Form->mnuActionVerify_Click();
        m = Seam->Messages();
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0].Text.rfind("The newest backup of B reads back whole", 0), 0u) << m[0].Text;
    }
    // The run over, A verifies, and its verify held the job for that time only.
    Seam->Clear();
    Select({"A"});
    Form->mnuActionVerify_Click();
    auto m = Seam->Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Text.rfind("The newest backup of A reads back whole", 0), 0u) << m[0].Text;
    EXPECT_FALSE(JobLock::ReadHere(FileA()));
}

TEST_F(ReadGuardTest, AMissedRunOfAJobBeingReadIsCaughtUpAtTheFirstTickAfterTheRead) {
    TwoJobsABackedUp();
    // The agent starts the next evening, A's 20:30 missed, while A's backups are read.
    appPreferences::RunMissedBackups = true;
    libDates::SetClock(libDates::DateSerial(2027, 3, 11) + libDates::TimeSerial(21, 0, 0));
    JobManager()->Reload();
    auto read = std::make_unique<JobLock::ReadScope>(FileA());
    ASSERT_FALSE(read->Busy());
    Ticker.StartUp(Agent);
    EXPECT_EQ(RunCountOf(FileA()), 1) << "not while it is read";
    EXPECT_TRUE(Ticker.CatchUpPending()) << "asked for again";
    Ticker.Tick(Agent);
    EXPECT_EQ(RunCountOf(FileA()), 1);
    read.reset();
    Ticker.Tick(Agent);
    EXPECT_EQ(RunCountOf(FileA()), 2);
    EXPECT_TRUE(LogHas("  Missed run of 03/11/2027 20:30:00 caught up"));
    EXPECT_FALSE(Ticker.CatchUpPending());
    EXPECT_TRUE(Agent.Failures.empty());
}

TEST_F(ReadGuardTest, ARunWaitingForAReaderElsewhereIsPutOffWhenAReadHereBeginsAndStaysDue) {
    TwoJobsABackedUp();
    JobManager()->JobFromHandle(TagB); // the tick has to load A afresh, from the clock of 20:31
    libDates::SetClock(libDates::DateSerial(2027, 3, 10) + libDates::TimeSerial(20, 31, 0));
    ASSERT_TRUE(Due(TagA));
    // As a restore of A in another process holds it.
    FileLock elsewhere;
    ASSERT_TRUE(elsewhere.Open(JobLock::LockFileOf(FileA())));
    ASSERT_EQ(elsewhere.Try(FileLock::Mode::Shared), FileLock::Result::Held);
    // The run of A waits for it, letting events through; one of them opens A's restore here.
    std::unique_ptr<JobLock::ReadScope> read;
    int iEvents = 0;
    Seam->OnEvents = [&](int) {
        if (++iEvents == 1) read = std::make_unique<JobLock::ReadScope>(FileA());
        if (iEvents == 50) RunState::SetAbortRequested(true); // a run still waiting: fail, not hang
    };
    EXPECT_EQ(Ticker.Tick(Agent), 1) << "B ran";
    Seam->OnEvents = nullptr;
    ASSERT_NE(read, nullptr);
    EXPECT_FALSE(read->Busy());
    EXPECT_EQ(RunCountOf(FileA()), 1);
    EXPECT_EQ(RunCountOf(FileB()), 1);
    EXPECT_TRUE(LogHas("Backup of 'A' put off: its backups are being read"));
    EXPECT_TRUE(Due(TagA)) << "put off, not lost";
    EXPECT_TRUE(Agent.Failures.empty());
    read.reset();
    elsewhere.Release();
    EXPECT_EQ(Ticker.Tick(Agent), 1);
    EXPECT_EQ(RunCountOf(FileA()), 2);
    EXPECT_FALSE(Due(TagA));
    EXPECT_TRUE(Agent.Failures.empty());
}

// The same rule for any run that records nothing: loading the job for the run stored its next
// run afresh from the clock, and the moment it was due is put back.
TEST_F(ReadGuardTest, AnAbandonedRunOfAJobTheTickLoadedAfreshStaysDue) {
    const std::string sGone = SaveJob("Gone", true, false, /*bMissingSource=*/true);
    SaveJob("Other", true);
    Form->RefreshScheduleForm();
    const int iGone = frmSchedule::RowTag(RowNamed("Gone"));
    JobManager()->JobFromHandle(frmSchedule::RowTag(RowNamed("Other")));
    libDates::SetClock(libDates::DateSerial(2027, 3, 10) + libDates::TimeSerial(20, 31, 0));
    ASSERT_TRUE(Due(iGone));
    EXPECT_EQ(Ticker.Tick(Agent), 2);
    EXPECT_EQ(RunCountOf(sGone), 0) << "abandoned: nothing recorded";
    EXPECT_EQ(Agent.Failures.size(), 1u);
    EXPECT_TRUE(Due(iGone)) << "tried again at the next tick";
    WriteFile(Root + "missing-Gone/x.txt", "x");
    EXPECT_EQ(Ticker.Tick(Agent), 1);
    EXPECT_EQ(RunCountOf(sGone), 1);
    EXPECT_FALSE(Due(iGone));
}
