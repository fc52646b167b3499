// The main window's commands: their messages, their effects on the job files and the list, the
// run command with comments, failures, StopOnError, abort, and never two runs at once.

#include "ScheduleTestFixture.h"
#include "app/RunGuard.h"
#include "engine/BackupRun.h"
#include "ui/frmLogComment.h"
#include "ui/frmPreferences.h"
#include "ui/frmRestore.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>

namespace {

namespace P = appPreferences;
using UserInteraction::Answer;
using UserInteraction::Buttons;
using UserInteraction::Icon;

const char* const kNoRows = "You must first add and then select a backup job before clicking this button.";
const char* const kNoSelection = "You must first select a backup job before clicking this button.";

class ScheduleCommandsTest : public ScheduleTest {
protected:
    std::vector<UserInteraction::MessageRequest> Messages() { return Seam->Messages(); }
};

TEST_F(ScheduleCommandsTest, SelectionChecksOfEveryJobCommand) {
    std::vector<std::function<void()>> commands = {
        [&] { Form->cmdDelJob_Click(); },        [&] { Form->cmdBackup_Click(); },  [&] { Form->cmdSuspend_Click(); },
        [&] { Form->cmdView_Click(); },          [&] { Form->cmdEditJob_Click(); }, [&] { Form->cmdCopyJob_Click(); },
        [&] { Form->mnuCustomSchedule_Click(); }};
    for (auto& c : commands)
        c();
    SaveJob("A", true);
    Form->RefreshScheduleForm();
    List()->clearSelection();
    for (auto& c : commands)
        c();
    auto m = Messages();
    ASSERT_EQ(m.size(), 2 * commands.size());
    for (size_t i = 0; i < m.size(); ++i)
        ExpectBox(m[i], "Verification Error", Icon::Information, i < commands.size() ? kNoRows : kNoSelection);
    EXPECT_EQ(Rows(), 1);                      // nothing was deleted, and no editor opened
    EXPECT_FALSE(Form->mnuAbort->isEnabled()); // the run command put everything back
    EXPECT_TRUE(Form->fraToolbar->isEnabled());
}

TEST_F(ScheduleCommandsTest, DeleteAsksAndRemovesFilesAndRows) {
    // Names with wildcard characters: only each job's own file may go, never "Other".
    std::string a = SaveJob("?ther", true), b = SaveJob("B", true), c = SaveJob("Oth?r", false),
                d = SaveJob("Other", true);
    Form->RefreshScheduleForm();
    Select({"?ther", "B", "Oth?r"});
    Seam->Answers = {Answer::No, Answer::Cancel, Answer::Yes};
    Form->cmdDelJob_Click();
    Form->cmdDelJob_Click();
    EXPECT_EQ(Rows(), 4);
    EXPECT_TRUE(Exists(a) && Exists(b) && Exists(c));
    Form->cmdDelJob_Click();
    auto m = Messages();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].Title, "Remove Confirmation");
    EXPECT_EQ(m[0].ButtonSet, Buttons::YesNoCancel);
    EXPECT_EQ(m[0].Text, "Are you sure you want to delete 3 Backup Jobs?");
    EXPECT_EQ(Rows(), 1);
    EXPECT_FALSE(Exists(a) || Exists(b) || Exists(c));
    EXPECT_TRUE(Exists(d));
    EXPECT_EQ(Form->panNbrBackupJobs->text(), "1 Backup Jobs");
    EXPECT_EQ(JobManager()->Count(), 1);
    // Backups already made are left alone; one row asks by name.
    Seam->Clear();
    Select({"Other"});
    Seam->Answers = {Answer::Yes};
    Form->cmdDelJob_Click();
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].Text, "Are you sure you want to delete the job called Other?");
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Form->panNbrBackupJobs->text(), "0 Backup Jobs");
}

TEST_F(ScheduleCommandsTest, SuspendFlipsEachSelectedJob) {
    std::string a = SaveJob("A", true, true), b = SaveJob("B", false);
    Form->RefreshScheduleForm();
    Select({"A", "B"});
    Form->cmdSuspend_Click();
    CBackupJob ja, jb;
    ASSERT_FALSE(ja.OpenBackupJob(a));
    ASSERT_FALSE(jb.OpenBackupJob(b));
    EXPECT_FALSE(ja.Suspended());
    EXPECT_TRUE(jb.Suspended());
    EXPECT_EQ(Cell(RowNamed("A"), P::colState), "D");
    EXPECT_EQ(Cell(RowNamed("B"), P::colState), "S");
    EXPECT_EQ(RowNamed("B")->data(0, frmSchedule::ImageRole).toInt(), 4);
    EXPECT_EQ(RowNamed("A")->data(0, frmSchedule::ImageRole).toInt(), 1);
    EXPECT_EQ(JobManager()->NextRunFromHandle(frmSchedule::RowTag(RowNamed("B"))), CBackupJob::FarFuture);
}

TEST_F(ScheduleCommandsTest, ViewBackupMessagesAndOpening) {
    SaveJob("Zip", true);
    SaveJob("Copy", false);
    Form->RefreshScheduleForm();
    std::filesystem::remove_all(Root + "target-Copy/");
    Select({"Zip"});
    Form->cmdView_Click();
    Select({"Copy"});
    Form->cmdView_Click();
    auto m = Messages();
    ASSERT_EQ(m.size(), 2u);
    ExpectBox(m[0], "Nothing to view", Icon::Exclamation, "No backups appear to exist for job 'Zip'");
    ExpectBox(m[1], "Verification Error", Icon::None, "The backup directory does not yet exist.");

    // With a backup made and the folder present, the desktop opens them.
    std::filesystem::create_directories(Root + "target-Copy/");
    BackupRun::ExecuteBackup(*JobManager(), frmSchedule::RowTag(RowNamed("Zip")));
    Seam->Clear();
    Select({"Zip"});
    Form->cmdView_Click();
    Select({"Copy"});
    Form->cmdView_Click();
    Seam->StartSucceeds = false;
    Select({"Zip"});
    Form->cmdView_Click();
    const std::vector<std::string> opened = Seam->TextsOf("OpenDocument");
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0], Root + "target-Zip/Zip.zip");
    EXPECT_EQ(opened[1], Root + "target-Copy/");
    m = Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Title, "Zip Program Failure");
    EXPECT_EQ(m[0].Text, "The zip program on your system was unable to open the backup zip.");
}

TEST_F(ScheduleCommandsTest, RunNowRunsSelectedJobsAndReportsFailureWhenStopOnError) {
    std::string good = SaveJob("Good", false), bad = SaveJob("Bad", false, false, true);
    Form->RefreshScheduleForm();
    P::StopOnError = false;
    Select({"Bad", "Good"});
    Form->cmdBackup_Click();
    EXPECT_EQ(RunCountOf(good), 1);
    EXPECT_EQ(RunCountOf(bad), 0);   // abandoned: a missing source is not recorded as a run
    EXPECT_TRUE(Messages().empty()); // a failure without StopOnError shows nothing

    P::StopOnError = true;
    Seam->Answers = {Answer::Yes};
    Select({"Bad", "Good"});
    Form->cmdBackup_Click();
    EXPECT_EQ(RunCountOf(good), 2);
    auto m = Messages();
    ASSERT_GE(m.size(), 1u);
    ExpectBox(m[0], "Backup Error", Icon::Exclamation,
              "Backup Job 'Bad' has failed.\r\n\r\nSee transaction log for details: '" + App + "stowline.log'",
              Buttons::YesNoCancel);
    // Yes opened the transaction log in the viewer.
    const auto started = Seam->TextsOf("StartProgram");
    EXPECT_TRUE(std::any_of(started.begin(), started.end(),
                            [](const std::string& s) { return s.find("stowline.log") != std::string::npos; }));
    EXPECT_EQ(Form->MessageText(), "");
    EXPECT_TRUE(Form->imgLight[0]->isVisibleTo(Form.get()));
    EXPECT_FALSE(Form->imgLight[1]->isVisibleTo(Form.get()));
}

TEST_F(ScheduleCommandsTest, CommentPromptAskedPerJobAndCancelSkipsThatJob) {
    std::string a = SaveJob("A", false), b = SaveJob("B", false);
    Form->RefreshScheduleForm();
    P::Commenting = 1;
    P::UseSystemTray = false;
    Select({"A", "B"});
    std::vector<QString> titles;
    ModalScript script;
    DriveDialog<frmLogComment>(script, [&](frmLogComment& d) {
        titles.push_back(d.windowTitle());
        d.cmdCancel->click();
    });
    DriveDialog<frmLogComment>(script, [&](frmLogComment& d) {
        titles.push_back(d.windowTitle());
        d.txtComment->setText("  new disk  ");
        d.cmdOk->click();
    });
    Form->cmdBackup_Click();
    ASSERT_EQ(titles.size(), 2u);
    EXPECT_EQ(titles[0], "Please enter a comment for backup - A");
    EXPECT_EQ(titles[1], "Please enter a comment for backup - B");
    EXPECT_EQ(RunCountOf(a), 0);
    EXPECT_EQ(RunCountOf(b), 1);
    EXPECT_TRUE(LogHas("new disk"));
    EXPECT_EQ(libLog::PendingComment(), ""); // not carried into later scheduled runs

    // In tray mode, or with "Job defined", nobody is asked.
    P::UseSystemTray = true;
    Form->cmdBackup_Click();
    P::UseSystemTray = false;
    P::Commenting = 2;
    Form->cmdBackup_Click();
    EXPECT_EQ(script.Unexpected(), 0);
    EXPECT_EQ(RunCountOf(a), 2);
    EXPECT_EQ(RunCountOf(b), 3);
}

TEST_F(ScheduleCommandsTest, NoSecondRunWhileOneIsInProgressAndAbortStopsTheLoop) {
    std::string a = SaveJob("A", false), b = SaveJob("B", false);
    Form->RefreshScheduleForm();
    Form->show();
    // A status-bar click without a run requests no abort that a later copy run would obey.
    QTest::mouseClick(Form->panStatusBar, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    EXPECT_FALSE(RunState::AbortRequested());
    Select({"A"});
    int iNested = 0;
    Seam->OnEvents = [&](int) {
        if (iNested++ == 0) {
            Form->cmdBackup_Click(); // a second click while the first run works
            Form->mnuActionRun_Click();
        }
    };
    Form->cmdBackup_Click();
    EXPECT_EQ(RunCountOf(a), 1);
    EXPECT_GT(iNested, 0);

    // A run started elsewhere (the tray agent's tick) holds the guard: the window starts nothing.
    Seam->OnEvents = nullptr;
    {
        appSetup::RunGuard tick;
        ASSERT_TRUE(tick.Acquired());
        Form->cmdBackup_Click();
        EXPECT_EQ(RunCountOf(a), 1);
        EXPECT_TRUE(Form->fraToolbar->isEnabled());
    }
    Form->cmdBackup_Click();
    EXPECT_EQ(RunCountOf(a), 2);

    // During a run only Abort acts, and it stops the loop before the next job.
    Select({"A", "B"});
    Seam->OnEvents = [&](int) {
        if (RunState::AbortRequested()) return;
        EXPECT_EQ(Cell(RowNamed("A"), P::colState), "R");
        EXPECT_TRUE(Form->mnuAbort->isEnabled());
        EXPECT_FALSE(Form->mnuActionRun->isEnabled());
        EXPECT_FALSE(Form->fraToolbar->isEnabled());
        EXPECT_FALSE(Form->lvwSchedule->isEnabled());
        EXPECT_TRUE(Form->imgLight[1]->isVisible());
        EXPECT_FALSE(Form->imgLight[0]->isVisible());
        EXPECT_TRUE(appSetup::RunGuard::RunInProgress());
        Form->mnuAbort_Click();
    };
    Form->cmdBackup_Click();
    EXPECT_EQ(RunCountOf(b), 0); // the second job never started
    EXPECT_EQ(Form->MessageText(), "Backup aborted!");
    EXPECT_TRUE(RunState::AbortRequested());
    EXPECT_EQ(Cell(RowNamed("A"), P::colState), "D");
    EXPECT_FALSE(Form->mnuAbort->isEnabled());
    EXPECT_TRUE(Form->mnuActionRun->isEnabled());
    EXPECT_TRUE(Form->fraToolbar->isEnabled());
    EXPECT_FALSE(appSetup::RunGuard::RunInProgress());
    // A new run clears the flag; a click on the status bar aborts as well.
    Seam->OnEvents = [&](int) {
        if (!RunState::AbortRequested())
            QTest::mouseClick(Form->panStatusBar, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    };
    Select({"A", "B"});
    Form->cmdBackup_Click();
    EXPECT_EQ(RunCountOf(b), 0);
    EXPECT_EQ(Form->MessageText(), "Backup aborted!");
}

TEST_F(ScheduleCommandsTest, LogHelpLogCommentRefreshPreferencesAndKeys) {
    libLog::LogEvent("something");
    WriteFile(libLog::ErrorFileName(), "report\r\n");
    Seam->Answers = {Answer::Cancel, Answer::OK, Answer::OK};
    Form->menuPurgeLog_Click();
    EXPECT_TRUE(Exists(libLog::LogFileName()));
    Form->menuPurgeLog_Click();
    EXPECT_FALSE(Exists(libLog::LogFileName()));
    Form->mnuDropErrorLog_Click();
    EXPECT_FALSE(Exists(libLog::ErrorFileName()));
    Form->mnuActionViewTransactionLog_Click();
    Form->mnuActionViewErrorLog_Click();
    EXPECT_EQ(Messages().size(), 5u); // the questions and notices themselves: see the log tests

    Seam->Clear();
    Form->mnuHelpContents_Click();
    Form->mnuHelpIndex_Click();
    QKeyEvent f1(QEvent::KeyRelease, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(Form.get(), &f1);
    QTest::keyRelease(Form->lvwSchedule, Qt::Key_F1); // from the list, where the focus usually is
    EXPECT_EQ(Seam->TextsOf("ShowHelp"), (std::vector<std::string>{"", "index", "", ""}));

    SaveJob("A", true);
    Form->RefreshScheduleForm();
    ModalScript script;
    DriveDialog<frmLogComment>(script, [](frmLogComment& d) {
        d.txtComment->setText("Manual note");
        d.cmdOk->click();
    });
    Form->mnuLogComment_Click();
    EXPECT_TRUE(LogHas("Manual note"));

    // A job file that appeared on disk shows after Refresh.
    SaveJob("B", false);
    Form->mnuRefresh_Click();
    EXPECT_EQ(Rows(), 2);

    // Preferences: the changed column layout shows when the dialog closes.
    DriveDialog<frmPreferences>(script, [](frmPreferences& d) {
        d.lstColumns->setCurrentRow(8);
        d.lstColumns->item(8)->setCheckState(Qt::Checked);
        d.cmdOk->click();
    });
    Form->mnuFilePreferences_Click();
    EXPECT_EQ(Form->ColumnIndex(P::colJobType), List()->columnCount() - 1);
    EXPECT_EQ(Cell(RowNamed("B"), P::colJobType), "Rebuild");

    EXPECT_EQ(script.StepsLeft(), 0);
    EXPECT_EQ(script.Unexpected(), 0);

    // The Delete key deletes (after asking).
    Select({"A"});
    Seam->Answers = {Answer::No};
    QKeyEvent del(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(Form.get(), &del);
    ASSERT_FALSE(Messages().empty());
    EXPECT_EQ(Messages().back().Title, "Remove Confirmation");
}

} // namespace

TEST_F(ScheduleCommandsTest, RestoreWindowRestoresTheChosenFilesAndVerifyFindsDamage) {
    SaveJob("Zip", true);
    const std::string sSrc = Root + "src-Zip/";
    WriteFile(sSrc + "notes.txt", "old notes");
    std::string sNoise(200000, '\0');
    for (size_t i = 0, u = 1; i < sNoise.size(); ++i, u = u * 1103515245u + 12345u)
        sNoise[i] = char(u >> 16);
    WriteFile(sSrc + "sub/pic.png", sNoise);
    Form->RefreshScheduleForm();
    const int iTag = frmSchedule::RowTag(RowNamed("Zip"));
    BackupRun::ExecuteBackup(*JobManager(), iTag);
    WriteFile(sSrc + "notes.txt", "new notes");
    BackupRun::ExecuteBackup(*JobManager(), iTag);
    auto* pRestore = Form->findChild<QAction*>("mnuActionRestore");
    ASSERT_NE(pRestore, nullptr);
    EXPECT_TRUE(Form->findChild<QMenu*>("mnuJobContext")->actions().contains(pRestore));

    const std::string sOut = Root + "out";
    const std::string sRestored = sOut + sSrc + "notes.txt";
    std::vector<std::string> leaves;
    ModalScript script;
    DriveDialog<frmRestore>(script, [&](frmRestore& d) {
        ASSERT_EQ(d.lvwBackups->topLevelItemCount(), 2);
        EXPECT_EQ(d.lvwBackups->topLevelItem(0)->text(0), "Zip.zip");
        d.lvwBackups->setCurrentItem(d.lvwBackups->topLevelItem(1)); // the older archive
        d.txtFilter->setText("*.txt");
        QTreeWidgetItem* pNotes = nullptr;
        for (QTreeWidgetItemIterator it(d.tvwContents); *it; ++it) {
            if ((*it)->childCount() > 0) continue;
            leaves.push_back((*it)->text(0).toStdString());
            if ((*it)->text(0) == "notes.txt") pNotes = *it;
        }
        ASSERT_NE(pNotes, nullptr);
        pNotes->setSelected(true);
        d.optFolder->setChecked(true);
        d.txtToFolder->setText(QString::fromStdString(sOut));
        d.cmdRestore->click();
        EXPECT_EQ(d.LastReport().Restored, 1);
        Seam->Answers = {Answer::No}; // the file exists now: keep both
        d.cmdRestore->click();
        EXPECT_EQ(d.LastReport().Restored, 1);
        EXPECT_TRUE(d.sbarRestore->currentMessage().startsWith("Restored 1 files"));
        d.cmdClose->click();
    });
    Select({"Zip"});
    Seam->Clear();
    Form->mnuActionRestore_Click();
    EXPECT_EQ(script.Handled(), 1);
    EXPECT_EQ(leaves, (std::vector<std::string>{"data.txt", "notes.txt"}));
    EXPECT_EQ(ReadFile(sRestored), "old notes");
    EXPECT_EQ(ReadFile(sOut + sSrc + "notes (restored).txt"), "old notes");
    auto m = Messages();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[1].Title, "Files Already Exist");
    EXPECT_EQ(m[1].ButtonSet, Buttons::YesNoCancel);

    Seam->Clear();
    Form->mnuActionVerify_Click();
    const std::string sZip = Root + "target-Zip/Zip.zip";
    std::string sBytes = ReadFile(sZip);
    sBytes[sBytes.size() / 2] ^= 0x20;
    WriteFile(sZip, sBytes);
    Form->mnuActionVerify_Click();
    m = Messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].Text, "The newest backup of Zip reads back whole:\r\n" + sZip);
    EXPECT_EQ(m[1].Title, "Verify Backup");
    EXPECT_EQ(m[1].IconKind, Icon::Exclamation);
    EXPECT_NE(m[1].Text.find("sub/pic.png"), std::string::npos) << m[1].Text;
    EXPECT_NE(m[1].Text.find(sZip), std::string::npos) << m[1].Text;
}
