// The main window's Add, Edit, Copy and One-shot dates commands end to end: the real window,
// the real editor (driven through its modal hook), the job manager and the job files on disk.

#include "ScheduleTestFixture.h"
#include "app/QtHelpers.h"
#include "ui/frmJobOptions.h"
#include "ui/frmOneShot.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

using QtHelpers::Q;
using QtHelpers::S;

class JobCommandsTest : public ScheduleTest {
protected:
    ModalScript Script;
    int EditorOpened = 0;
    std::string EditorCaption;

    std::string SaveWithOneShot(const std::string& sName, const std::string& sOneShot) {
        CBackupJob job = LoadJob(SaveJob(sName, true));
        job.SetOneShotDates(sOneShot);
        EXPECT_FALSE(job.SaveBackupJobIniFile());
        return job.FileName();
    }

    // Drives the next editor opening with fn, recording the opening and its caption.
    void EditorDoes(std::function<void(frmJobOptions&)> fn) {
        DriveDialog<frmJobOptions>(Script, [this, fn](frmJobOptions& dlg) {
            ++EditorOpened;
            EditorCaption = S(dlg.windowTitle());
            fn(dlg);
        });
    }
};

TEST_F(JobCommandsTest, AddAndCopyCreateSaveListAndRegisterTheJobOnce) {
    SaveJob("Daily", true);
    Form->RefreshScheduleForm();
    EditorDoes([&](frmJobOptions& dlg) {
        EXPECT_EQ(S(dlg.txtBackupJobName->text()), "New Backup Job");
        dlg.txtTargDir->setText(Q(Root + "target-Daily/"));
        dlg.cmdNext->click();
        dlg.cmdNext->click();
        dlg.lstFilesToBackup->addItem(Q(Root + "src-Daily/*.*"));
        dlg.cmdNext->click();
        dlg.cmdNext->click();
        ASSERT_EQ(dlg.CurrentPage(), 4);
        dlg.cmdOK->click();
    });
    Form->cmdAddJob_Click();
    EXPECT_EQ(EditorOpened, 1);
    EXPECT_EQ(EditorCaption, "Add New Backup Job");
    EXPECT_TRUE(Seam->Messages().empty());

    const std::string sFile = CBackupJob::JobFileNameFor("New Backup Job");
    ASSERT_TRUE(Exists(sFile));
    EXPECT_EQ(LoadJob(sFile).FilesToZip(), Root + "src-Daily/*.*\r\n"); // the editor's fields: see its tests
    ASSERT_NE(RowNamed("New Backup Job"), nullptr);
    EXPECT_EQ(Rows(), 2);
    // One entry per job in the manager: the scheduler must not see the new job twice.
    EXPECT_EQ(JobManager()->Count(), 2);
    EXPECT_EQ(Form->panNbrBackupJobs->text(), "2 Backup Jobs");

    // The next new job gets the next default name; Cancel adds nothing.
    EditorDoes([&](frmJobOptions& dlg) {
        EXPECT_EQ(S(dlg.txtBackupJobName->text()), "New Backup Job 2");
        dlg.cmdCancel->click();
    });
    Form->mnuActionAdd->trigger(); // the menu entry runs the same command
    EXPECT_EQ(EditorOpened, 2);
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(JobManager()->Count(), 2);
    EXPECT_FALSE(Exists(CBackupJob::JobFileNameFor("New Backup Job 2")));

    // Copy makes, saves, lists, selects and opens the copy, but never overwrites it.
    Select({"Daily"});
    EditorDoes([&](frmJobOptions& dlg) {
        // The copy's own row is the one being edited, so its name passes.
        EXPECT_TRUE(dlg.VerifyJobNameStep());
        dlg.cmdOK->click();
    });
    Form->cmdCopyJob_Click();
    EXPECT_EQ(EditorOpened, 3);
    EXPECT_EQ(EditorCaption, "Edit job - Copy of Daily");
    const std::string sCopy = CBackupJob::JobFileNameFor("Copy of Daily");
    ASSERT_TRUE(Exists(sCopy));
    EXPECT_EQ(LoadJob(sCopy).FilesToZip(), Root + "src-Daily/\r\n");
    QTreeWidgetItem* pCopyRow = RowNamed("Copy of Daily");
    ASSERT_NE(pCopyRow, nullptr);
    EXPECT_TRUE(pCopyRow->isSelected());
    EXPECT_FALSE(RowNamed("Daily")->isSelected());
    EXPECT_EQ(List()->currentItem(), pCopyRow);
    EXPECT_EQ(JobManager()->Count(), 3);

    // A second copy of Daily would overwrite the first: refused, file untouched.
    const std::string sBytes = ReadFile(sCopy);
    Seam->Clear();
    Select({"Daily"});
    Form->cmdCopyJob_Click();
    EXPECT_EQ(EditorOpened, 3);
    ASSERT_EQ(Seam->Messages().size(), 1u);
    EXPECT_EQ(Seam->Messages()[0].Text,
              "You cannot make another copy of this Backup Job until\r\nyou rename the existing copy.");
    EXPECT_EQ(Seam->Messages()[0].Title, "Verification Error");
    EXPECT_EQ(ReadFile(sCopy), sBytes);
    EXPECT_EQ(Rows(), 3);
}

TEST_F(JobCommandsTest, EditChangesTheJobFileAndRenamesIt) {
    const std::string sDaily = SaveJob("Daily", true), sWeekly = SaveJob("Weekly", true);
    Form->RefreshScheduleForm();
    const int iRunCount = LoadJob(sWeekly).RunCount();
    const std::string sDailyBytes = ReadFile(sDaily);
    Select({"Weekly"});
    EditorDoes([&](frmJobOptions& dlg) {
        EXPECT_EQ(S(dlg.txtBackupJobName->text()), "Weekly");
        dlg.txtStartTime->setText("19:40");
        dlg.txtBackupJobName->setText("Weekly Docs");
        dlg.optCompression[0]->setChecked(true);
        dlg.optCopyStyle[1]->setChecked(true);
        dlg.optIncremental->setChecked(true);
        dlg.chkSubdirectories->setChecked(false);
        dlg.cmdOK->click();
    });
    Form->cmdEditJob->click(); // the toolbar button
    EXPECT_EQ(EditorCaption, "Edit job - Weekly");
    EXPECT_FALSE(Exists(sWeekly));
    const std::string sDocs = CBackupJob::JobFileNameFor("Weekly Docs");
    ASSERT_TRUE(Exists(sDocs));
    CBackupJob saved = LoadJob(sDocs);
    EXPECT_EQ(saved.JobName(), "Weekly Docs");
    EXPECT_NEAR(saved.StartTime(), libDates::TimeSerial(19, 40, 0), 1e-6);
    EXPECT_FALSE(saved.Compress());
    EXPECT_EQ(saved.CopyStyle(), 1);
    EXPECT_TRUE(saved.Incremental());
    EXPECT_FALSE(saved.Subdirectories());
    EXPECT_EQ(saved.RunCount(), iRunCount);
    EXPECT_NE(RowNamed("Weekly Docs"), nullptr);
    EXPECT_EQ(JobManager()->Count(), 2);

    // The double-click route opens the same editor; a name taken by the other job is refused,
    // and Cancel leaves the job file untouched.
    Select({"Daily"});
    EditorDoes([&](frmJobOptions& dlg) {
        dlg.txtBackupJobName->setText("Weekly Docs");
        dlg.txtStartTime->setText("06:45");
        dlg.cmdOK->click();
        EXPECT_FALSE(dlg.JobSaved());
        dlg.cmdCancel->click();
    });
    Form->lvwSchedule_DblClick();
    EXPECT_EQ(EditorOpened, 2);
    EXPECT_EQ(ReadFile(sDaily), sDailyBytes);
}

TEST_F(JobCommandsTest, OneShotDatesForOneOrSeveralJobs) {
    const std::string sAlpha = SaveWithOneShot("Alpha", "Dec-24-2027 08:00\r\n");
    const std::string sBeta = SaveWithOneShot("Beta", "Dec-25-2027 08:00\r\n");
    const std::string sGamma = SaveWithOneShot("Gamma", "Dec-24-2027 08:00\r\n");
    Form->RefreshScheduleForm();

    std::string sCaption;
    std::vector<std::string> seen;
    for (int i = 0; i < 3; ++i)
        DriveDialog<frmOneShot>(Script, [&](frmOneShot& dlg) {
            sCaption = S(dlg.windowTitle());
            seen.clear();
            for (int iRow = 0; iRow < dlg.lstDates->count(); ++iRow)
                seen.push_back(S(dlg.lstDates->item(iRow)->text()));
            dlg.cmdCancel->click();
        });
    // Disagreeing lists: the editor starts empty and names no single job.
    Select({"Alpha", "Beta"});
    Form->mnuCustomSchedule_Click();
    EXPECT_EQ(sCaption, "One shot dates for - Multiple jobs");
    EXPECT_TRUE(seen.empty());
    // Equal lists: the editor starts with that list.
    Select({"Alpha", "Gamma"});
    Form->mnuCustomSchedule_Click();
    EXPECT_EQ(seen, std::vector<std::string>{"Dec-24-2027 08:00"});
    Select({"Beta"});
    Form->mnuCustomSchedule_Click();
    EXPECT_EQ(sCaption, "One shot dates for - Beta");

    // OK writes the edited list into every selected job's file.
    DriveDialog<frmOneShot>(Script, [&](frmOneShot& dlg) {
        dlg.vscrYear->setValue(2028);
        dlg.vscrMonth->setValue(1);
        dlg.vscrDay->setValue(15);
        dlg.txtTime->setText("06:30");
        dlg.txtTime_LostFocus();
        dlg.cmdAdd->click();
        dlg.cmdOK->click();
    });
    Select({"Alpha", "Beta"});
    Form->mnuCustomSchedule_Click();
    EXPECT_EQ(LoadJob(sAlpha).OneShotDates(), "Jan-15-2028 06:30\r\n");
    EXPECT_EQ(LoadJob(sBeta).OneShotDates(), "Jan-15-2028 06:30\r\n");
    EXPECT_EQ(LoadJob(sGamma).OneShotDates(), "Dec-24-2027 08:00\r\n");
}
