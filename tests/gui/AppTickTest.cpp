// The scheduler tick: which ticks run jobs, in which order, and what the agent sees.

#include "ScheduleTestFixture.h"
#include "app/RunGuard.h"
#include "app/frmMain.h"
#include "app/frmPopup.h"

#include <algorithm>

namespace {

class AppTickTest : public TempJobFolder {
protected:
    SchedulerTick::CSchedulerTick Ticker;
    RecordingHost Host;
    void SetUp() override {
        TempJobFolder::SetUp();
        StartJobs(libDates::DateSerial(2027, 3, 10) + libDates::TimeSerial(12, 0, 0), true);
    }
    // Lists the jobs at 12:00 (their next run becomes today 12:05), then lets the clock pass
    // 12:05, so that every active job is due.
    void Reload() {
        SetNow(libDates::DateSerial(2027, 3, 10) + libDates::TimeSerial(12, 0, 0));
        JobManager()->Reload();
        JobManager()->BackupsToRun(Now);
        SetNow(libDates::DateSerial(2027, 3, 10) + libDates::TimeSerial(12, 6, 0));
    }
};

TEST_F(AppTickTest, DueJobRunsOnceUnlessSuspendedOrTheWindowShowsAndVoidHandlesAreSkipped) {
    Reload();
    EXPECT_EQ(Ticker.Tick(Host), 0);
    EXPECT_TRUE(Host.Events.empty()); // the tray menu was never touched
    std::string sPaused = WriteCopyJob("Paused", /*bSuspended=*/true);
    std::string sFile = WriteCopyJob("Nightly");
    Reload();
    const std::vector<int32_t> due = JobManager()->BackupsToRun(Now);
    ASSERT_EQ(due.size(), 1u);
    const std::string sRefresh = "refresh:" + std::to_string(due[0]);
    Ticker.SetSuspended(true);
    EXPECT_EQ(Ticker.Tick(Host), 0);
    Ticker.SetSuspended(false);
    Host.bVisible = true;
    EXPECT_EQ(Ticker.Tick(Host), 0);
    EXPECT_TRUE(Host.Events.empty());
    EXPECT_EQ(RunCountOf(sFile), 0);
    // Hidden again: the first tick picks the active job up, never the suspended one.
    Host.bVisible = false;
    EXPECT_EQ(Ticker.Tick(Host), 1);
    EXPECT_EQ(Host.Events, (std::vector<std::string>{"menu:0", sRefresh, "menu:1"}));
    EXPECT_EQ(RunCountOf(sFile), 1);
    EXPECT_EQ(RunCountOf(sPaused), 0);
    EXPECT_FALSE(Ticker.Busy());
    // The save moved the next run on: the next tick finds nothing to do.
    Host.Events.clear();
    EXPECT_EQ(Ticker.Tick(Host), 0);
    EXPECT_EQ(RunCountOf(sFile), 1);
    // Negative and unknown handles are skipped.
    Host.Events.clear();
    EXPECT_EQ(Ticker.RunHandles({-1, -7, due[0], 99}, Host), 1);
    EXPECT_EQ(Host.Events, std::vector<std::string>{sRefresh});
    EXPECT_EQ(RunCountOf(sFile), 2);
}

TEST_F(AppTickTest, DueJobsRunInListOrderAndABusyTickOrARunInProgressStartsNothing) {
    std::string sA = WriteCopyJob("Alpha");
    std::string sB = WriteCopyJob("Beta");
    Reload();
    std::vector<int32_t> due = JobManager()->BackupsToRun(Now);
    ASSERT_EQ(due.size(), 2u);
    // Each refresh comes after its own run and before the next one starts; a tick arriving
    // meanwhile (a run lets events through) returns at once.
    std::vector<int> runCountsAtRefresh, nested;
    Host.OnRefresh = [&] {
        runCountsAtRefresh.push_back(RunCountOf(sA) + RunCountOf(sB));
        EXPECT_TRUE(Ticker.Busy());
        nested.push_back(Ticker.Tick(Host));
    };
    EXPECT_EQ(Ticker.Tick(Host), 2);
    EXPECT_EQ(Host.Events, (std::vector<std::string>{"menu:0", "refresh:" + std::to_string(due[0]),
                                                     "refresh:" + std::to_string(due[1]), "menu:1"}));
    EXPECT_EQ(runCountsAtRefresh, (std::vector<int>{1, 2}));
    EXPECT_EQ(nested, (std::vector<int>{0, 0}));
    Host.OnRefresh = nullptr;

    // A run started from the window holds the guard: the tick waits for the next interval.
    std::string sC = WriteCopyJob("Gamma");
    Reload();
    {
        appSetup::RunGuard windowRun;
        ASSERT_TRUE(windowRun.Acquired());
        EXPECT_EQ(Ticker.Tick(Host), 0);
        EXPECT_EQ(RunCountOf(sC), 0);
    }
    // The listing at 12:00 made Alpha and Beta due again as well.
    EXPECT_EQ(Ticker.Tick(Host), 3);
    EXPECT_EQ(RunCountOf(sC), 1);
}

TEST_F(AppTickTest, FailedScheduledRunIsReportedWithJobAndLog) {
    WriteCopyJob("Broken", false, /*bMissingSource=*/true);
    std::string sGood = WriteCopyJob("Good");
    Reload();
    EXPECT_EQ(Ticker.Tick(Host), 2);
    EXPECT_NE(std::find(Host.Events.begin(), Host.Events.end(), "failure:Broken|" + libLog::LogFileName()),
              Host.Events.end());
    const std::string sReason =
        "Stowline Pre-Emptive Error, file to backup does not exist: '" + Root + "no-such-folder-Broken/'.";
    ASSERT_EQ(Host.Failures, std::vector<std::string>{"Broken: " + sReason})
        << "the reason is the run's error line in the log";
    EXPECT_TRUE(LogHas(sReason));
    EXPECT_EQ(RunCountOf(sGood), 1); // the tick went on with the next job
    EXPECT_EQ(SchedulerTick::FailureText("Broken", "/x/stowline.log"),
              "Backup Job 'Broken' has failed. See transaction log for details: '/x/stowline.log'");
    EXPECT_EQ(SchedulerTick::FailureText("Broken", "/x/stowline.log", "Disk full."),
              "Backup Job 'Broken' has failed: Disk full. See transaction log for details: '/x/stowline.log'");
}

// Missed runs made up with the clock set by the test: the jobs run at 12:05 and last ran two
// days ago at 08:00.
TEST_F(AppTickTest, MissedRunsAreCaughtUpOnceAtStartUpAndAfterAClockJump) {
    std::string sSlept = WriteCopyJob("Slept");
    std::string sPaused = WriteCopyJob("Paused", /*bSuspended=*/true);
    auto caughtUpLines = [] {
        int n = 0;
        for (const auto& sLine : LogLines())
            n += sLine.find("Missed run of") != std::string::npos;
        return n;
    };
    SetNow(libDates::DateSerial(2027, 3, 10) + libDates::TimeSerial(13, 0, 0)); // asleep at 12:05
    appPreferences::RunMissedBackups = true;
    JobManager()->Reload();
    EXPECT_EQ(Ticker.StartUp(Host), 1);
    EXPECT_EQ(RunCountOf(sSlept), 1);
    EXPECT_EQ(RunCountOf(sPaused), 0) << "never for a suspended job";
    EXPECT_TRUE(LogHas("  Missed run of 03/10/2027 12:05:00 caught up"));
    EXPECT_EQ(caughtUpLines(), 1);
    EXPECT_EQ(LoadJob(sSlept).DateLastSuccess(), Now) << "a run without failure records its success";
    // Never twice: neither the next tick nor the next start-up runs it again.
    EXPECT_EQ(Ticker.Tick(Host), 0);
    JobManager()->Reload();
    SchedulerTick::CSchedulerTick again;
    EXPECT_EQ(again.StartUp(Host), 0);
    EXPECT_EQ(RunCountOf(sSlept), 1);
    // Three days off (a wall-clock jump far beyond two ticks): one run for all the moments missed.
    SetNow(Now + 3);
    EXPECT_EQ(again.Tick(Host), 1);
    EXPECT_EQ(RunCountOf(sSlept), 2);
    EXPECT_TRUE(LogHas("  Missed run of 03/13/2027 12:05:00 caught up"));
    EXPECT_EQ(caughtUpLines(), 2);
    EXPECT_FALSE(again.CatchUpPending());
    EXPECT_EQ(RunCountOf(sPaused), 0);
    // A step of less than two ticks is no jump.
    SetNow(Now + 1.0 / 1440);
    EXPECT_EQ(again.Tick(Host), 0);
    EXPECT_FALSE(again.CatchUpPending());
}

TEST_F(AppTickTest, StaleJobsAreNamedOnceADay) {
    // Its source is missing: every run is abandoned and records nothing.
    std::string sFile = WriteCopyJob("Old", false, /*bMissingSource=*/true);
    CBackupJob job = LoadJob(sFile);
    job.SetDateLastSuccess(libDates::DateValue(Now) - 8);
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    Reload();
    Host.bVisible = true;
    Ticker.Tick(Host);
    EXPECT_TRUE(Host.StaleReports.empty()) << "not while the window shows (it marks the rows itself)";
    Host.bVisible = false;
    Ticker.Tick(Host);
    ASSERT_EQ(Host.StaleReports.size(), 1u);
    EXPECT_EQ(Host.StaleReports[0], "No successful backup for more than 7 day(s): 'Old' (since Mar-02-2027 00:00)");
    Ticker.Tick(Host);
    EXPECT_EQ(Host.StaleReports.size(), 1u) << "once a day";
    libDates::SetClock(libDates::DateValue(Now) + 1 + libDates::TimeSerial(0, 0, 10));
    Ticker.Tick(Host);
    EXPECT_EQ(Host.StaleReports.size(), 2u) << "and again the next day";
    // The source appears: the next run succeeds, and the job is no longer named.
    WriteFile(Root + "no-such-folder-Old/x.txt", "x");
    libDates::SetClock(libDates::DateValue(Now) + 2 + libDates::TimeSerial(12, 10, 0));
    Ticker.Tick(Host);
    EXPECT_EQ(RunCountOf(sFile), 1);
    EXPECT_EQ(Host.StaleReports.size(), 2u);
}

TEST_F(AppTickTest, FailingJobIsReportedOncePerFailureStreak) {
    WriteCopyJob("Flaky", false, /*bMissingSource=*/true);
    Reload();
    // An abandoned run records nothing: the job stays due and is tried at every tick.
    EXPECT_EQ(Ticker.Tick(Host), 1);
    EXPECT_EQ(Ticker.Tick(Host), 1);
    EXPECT_EQ(Host.Failures.size(), 1u);
    // The source appears: the run completes, and a later failure is news again.
    WriteFile(Root + "no-such-folder-Flaky/x.txt", "x");
    EXPECT_EQ(Ticker.Tick(Host), 1);
    EXPECT_EQ(Host.Failures.size(), 1u);
    std::filesystem::remove_all(Root + "no-such-folder-Flaky/");
    Reload();
    EXPECT_EQ(Ticker.Tick(Host), 1);
    EXPECT_EQ(Host.Failures.size(), 2u);
}

// ---- the tray agent window ----

class FakeScheduleView : public QWidget, public appSetup::ScheduleView {
public:
    std::vector<long> Refreshed;
    std::function<void()> OnRefresh;
    bool bKill = false;
    QWidget* Window() override { return this; }
    void RefreshScheduleForm() override {}
    void RefreshDetailsByHandle(long lHandle) override {
        Refreshed.push_back(lHandle);
        if (OnRefresh) OnRefresh();
    }
    void SetKillForm(bool b) override { bKill = b; }
    void SetFileCloseCaption(const std::string&) override {}
    void AddFileMenuExit(const std::string&, std::function<void()>) override {}
};

class AppTrayAgentTest : public AppTickTest {
protected:
    FakeScheduleView View;
    frmPopup Popup;
    std::unique_ptr<frmMain> Agent;
    void SetUp() override {
        AppTickTest::SetUp();
        Agent = std::make_unique<frmMain>(&Popup);
        appSetup::SetAgentWindow(Agent.get());
        appSetup::SetScheduleWindow(&View);
        appSetup::SetHasNotificationArea(false);
    }
    void TearDown() override {
        appSetup::SetScheduleWindow(nullptr);
        Agent.reset();
        AppTickTest::TearDown();
    }
};

TEST_F(AppTrayAgentTest, LoadStartsTimerAndShowsWindowUnlessSilent) {
    int iShown = 0;
    Agent->OnShowSchedule = [&] { ++iShown; };
    Agent->Form_Load("/RUN x");
    EXPECT_TRUE(Agent->tmrCheckForBackupJob->isActive());
    EXPECT_EQ(iShown, 1);
    // "SILENT" without the slash does not keep the window hidden; "/SILENT" does, and without a
    // notification area the window is kept in reach, minimised.
    Agent->Form_Load("SILENT");
    EXPECT_EQ(iShown, 2);
    Agent->Form_Load("/SILENT");
    EXPECT_EQ(iShown, 2);
    EXPECT_TRUE(View.isMinimized());
    // The offscreen platform has no notification area: the icon is not added.
    EXPECT_FALSE(Agent->SystemTrayAddIcon());
    EXPECT_FALSE(Agent->isVisible());
}

TEST_F(AppTrayAgentTest, VisibleWindowHoldsJobsAndMinimisedCountsAsHiddenWithoutTray) {
    std::string sFile = WriteCopyJob("Nightly");
    Reload();
    View.show();
    ASSERT_TRUE(View.IsVisibleToUser());
    Agent->tmrCheckForBackupJob_Timer();
    EXPECT_EQ(RunCountOf(sFile), 0);
    // Minimised where there is a notification area: still counts as visible.
    View.showMinimized();
    appSetup::SetHasNotificationArea(true);
    EXPECT_TRUE(View.IsVisibleToUser());
    Agent->tmrCheckForBackupJob_Timer();
    EXPECT_EQ(RunCountOf(sFile), 0);
    // Without one, a minimised window stands in for the hidden one.
    appSetup::SetHasNotificationArea(false);
    EXPECT_FALSE(View.IsVisibleToUser());
    bool bMenuEnabledDuringRun = true, bExitEnabledDuringRun = true;
    View.OnRefresh = [&] {
        bMenuEnabledDuringRun = Popup.isEnabled();
        bExitEnabledDuringRun = Popup.Exit->isEnabled();
    };
    Agent->tmrCheckForBackupJob_Timer();
    EXPECT_EQ(RunCountOf(sFile), 1);
    EXPECT_EQ(View.Refreshed, std::vector<long>{0});
    EXPECT_FALSE(bMenuEnabledDuringRun);
    EXPECT_FALSE(bExitEnabledDuringRun);
    EXPECT_TRUE(Popup.isEnabled());
    EXPECT_TRUE(Popup.Exit->isEnabled());
}

TEST_F(AppTrayAgentTest, EntriesDoNothingWhileDisabledOrRunningAndOnlySomeClicksOpenTheMenu) {
    int iExit = 0, iSchedule = 0;
    Popup.OnExit = [&] { ++iExit; };
    Popup.OnSchedule = [&] { ++iSchedule; };
    appSetup::SetTrayMenuEnabled(false);
    Popup.Exit->trigger();
    Popup.Schedule_Click();
    EXPECT_EQ(iExit + iSchedule, 0);
    appSetup::SetTrayMenuEnabled(true);
    {
        appSetup::RunGuard run;
        Popup.Exit_Click();
        EXPECT_EQ(iExit, 0);
    }
    Popup.Exit->trigger();
    Popup.Schedule->trigger();
    EXPECT_EQ(iExit, 1);
    EXPECT_EQ(iSchedule, 1);

    // A left press or a right release opens the menu; other messages do not.
    for (int iMessage : {512, 514, 515, 516, 519}) {
        Agent->Form_MouseMove(iMessage);
        EXPECT_EQ(Agent->LastMouseMessage(), iMessage);
        EXPECT_FALSE(Popup.mnuStowline->isVisible()) << iMessage;
        EXPECT_FALSE(Agent->MenuBusy());
    }
    Agent->Form_MouseMove(517);
    EXPECT_TRUE(Popup.mnuStowline->isVisible());
    EXPECT_TRUE(Agent->MenuBusy());
    // A further click while the menu is open opens no second menu, but is remembered.
    Agent->Form_MouseMove(513);
    EXPECT_EQ(Agent->LastMouseMessage(), 513);
    Popup.mnuStowline->hide();
    EXPECT_FALSE(Agent->MenuBusy());
    Agent->Form_MouseMove(513);
    EXPECT_TRUE(Popup.mnuStowline->isVisible());
    Popup.mnuStowline->hide();
}

} // namespace
