// The desktop's progress: the main window's bar and figures in its status bar and the tray
// icon's tooltip, driven by a run's progress on a fake clock; the job list's tooltip with the
// last run's figures.

#include "app/frmMain.h"
#include "app/frmMainProgress.h"
#include "app/frmPopup.h"
#include "engine/BackupRun.h"
#include "gui/ScheduleTestFixture.h"

#include <QProgressBar>

namespace {

class ProgressDisplayTest : public ScheduleTest {
protected:
    frmPopup Popup;
    std::unique_ptr<frmMain> Agent;
    void SetUp() override {
        ScheduleTest::SetUp();
        Agent = std::make_unique<frmMain>(&Popup);
        Agent->SystemTrayAddIcon(); // the icon exists, though offscreen has no area to show it
        appSetup::SetAgentWindow(Agent.get());
        appSetup::SetScheduleWindow(Form.get());
    }
    void TearDown() override {
        appSetup::SetScheduleWindow(nullptr);
        appSetup::SetAgentWindow(nullptr);
        Agent.reset();
        ScheduleTest::TearDown();
    }
    QProgressBar* Bar() { return Form->findChild<QProgressBar*>("prgRun"); }
    QLabel* Figures() { return Form->findChild<QLabel*>("panProgress"); }
    QString Tip() { return Agent->trayIcon->toolTip(); }
};

} // namespace

TEST_F(ProgressDisplayTest, BarFiguresAndTooltipFollowTheRun) {
    const GuiProgress display;
    ASSERT_NE(Bar(), nullptr);
    ASSERT_NE(Figures(), nullptr);
    EXPECT_TRUE(Bar()->isHidden());
    EXPECT_EQ(Tip(), "Stowline");

    double t = 0;
    RunProgress progress("Documents", [&] { return t; });
    // Still counting: an indeterminate bar and what is done.
    t = 1;
    progress.AddDone(4, 4 * 1024 * 1024);
    EXPECT_FALSE(Bar()->isHidden());
    EXPECT_EQ(Bar()->maximum(), 0);
    EXPECT_EQ(Figures()->text(), "4 files (4.0 MiB) done, counting...");
    EXPECT_EQ(Tip(), "Stowline - Documents: 4 files done");

    // Counted: 100 files of 1 MiB, one a second to 30, then one every 3.6 s: at 45 the 55 left
    // take about 3 min.
    progress.AddTotal(100, 100LL * 1024 * 1024);
    progress.EndCount();
    for (int i = 4; i < 45; ++i) {
        t += i < 30 ? 1 : 3.6;
        progress.AddDone(1, 1024 * 1024);
    }
    progress.Refresh(true);
    EXPECT_EQ(Bar()->maximum(), 100);
    EXPECT_EQ(Bar()->value(), 45);
    const std::string sLeft = RunProgress::TimeLeftText(progress.Look().SecondsLeft);
    EXPECT_EQ(sLeft, "about 3 min left");
    EXPECT_TRUE(Figures()->text().startsWith("45 of 100 files, ")) << Figures()->text().toStdString();
    EXPECT_TRUE(Figures()->text().endsWith(", about 3 min left")) << Figures()->text().toStdString();
    EXPECT_EQ(Tip(), "Stowline - Documents: 45 % (about 3 min left)");
    // The status line beside it keeps its own text.
    Form->SetMessageText("Backing Up   /home/u/Documents");
    EXPECT_EQ(Form->panStatusBar->text(), "Backing Up   /home/u/Documents");

    progress.Finish();
    EXPECT_TRUE(Bar()->isHidden());
    EXPECT_TRUE(Figures()->isHidden());
    EXPECT_EQ(Tip(), "Stowline");
}

TEST_F(ProgressDisplayTest, ARealRunEndsWithTheBarHiddenAndTheListShowsItsFigures) {
    const GuiProgress display;
    const std::string sFile = SaveJob("Docs", false);
    CBackupJob job;
    ASSERT_EQ(job.Open(sFile), CBackupJob::FileResult::Done);
    EXPECT_EQ(BackupRun::RunNow(job, Form.get()), BackupRun::RunResult::Completed);
    EXPECT_TRUE(Bar()->isHidden());
    EXPECT_EQ(Tip(), "Stowline");
    Form->RefreshScheduleForm();
    QTreeWidgetItem* pRow = RowNamed("Docs");
    ASSERT_NE(pRow, nullptr);
    EXPECT_TRUE(pRow->toolTip(0).startsWith("Last run: 1 files (")) << pRow->toolTip(0).toStdString();
}
