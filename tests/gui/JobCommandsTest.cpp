// The main window's Add, Edit, Copy and One-shot dates commands end to end: the real window,
// the real editor (driven through its modal hook), the job manager and the job files on disk.

#include "DriveDialog.h"
#include "app/QtHelpers.h"
#include "common/TempJobFolder.h"
#include "ui/frmJobOptions.h"
#include "ui/frmOneShot.h"
#include "ui/frmSchedule.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>

#include <memory>

using QtHelpers::Q;
using QtHelpers::S;

using UserInteraction::Answer;

class JobCommandsTest : public TempJobFolder {
protected:
    std::unique_ptr<frmSchedule> Window;
    ModalScript Script;
    int EditorOpened = 0;
    std::string EditorCaption;

    void SetUp() override {
        TempJobFolder::SetUp();
        StartJobs(libDates::DateSerial(2026, 12, 5) + libDates::TimeSerial(15, 0, 0), true);
        std::filesystem::create_directories(Root + "target");
        std::filesystem::create_directories(Root + "src");
        Window = std::make_unique<frmSchedule>();
    }
    void TearDown() override {
        Window.reset();
        TempJobFolder::TearDown();
    }

    std::string JobFile(const std::string& sName) const { return App + "BackupJobs/" + sName + ".slj"; }

    void SaveJob(const std::string& sName, const std::string& sOneShot = "") {
        CBackupJob job;
        job.SetJobNameRaw(sName);
        job.SetTargetDirectoryRaw(Root + "target/");
        job.SetFileNameRaw(JobFile(sName));
        job.SetFilesToZip(Root + "src/\r\n");
        job.SetOneShotDates(sOneShot);
        job.SetStartTime(libDates::TimeSerial(8, 0, 0));
        ASSERT_FALSE(job.SaveBackupJobIniFile());
    }

    void Refresh() {
        Window->RefreshScheduleForm();
        Seam->Clear();
    }

    QTreeWidgetItem* Row(const std::string& sName) const {
        for (int i = 0; i < Window->lvwSchedule->topLevelItemCount(); ++i)
            if (S(Window->lvwSchedule->topLevelItem(i)->text(0)) == sName) return Window->lvwSchedule->topLevelItem(i);
        return nullptr;
    }

    void Select(std::initializer_list<const char*> names) {
        Window->lvwSchedule->clearSelection();
        bool bFirst = true;
        for (const char* p : names) {
            QTreeWidgetItem* pRow = Row(p);
            ASSERT_NE(pRow, nullptr) << p;
            if (bFirst) Window->lvwSchedule->setCurrentItem(pRow, 0, QItemSelectionModel::NoUpdate);
            bFirst = false;
            pRow->setSelected(true);
        }
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

TEST_F(JobCommandsTest, AddCreatesSavesListsAndRegistersTheJobOnce) {
    SaveJob("Daily");
    Refresh();
    EditorDoes([&](frmJobOptions& dlg) {
        EXPECT_EQ(S(dlg.txtBackupJobName->text()), "New Backup Job");
        dlg.txtTargDir->setText(Q(Root + "target/"));
        dlg.cmdNext->click();
        dlg.cmdNext->click();
        dlg.lstFilesToBackup->addItem(Q(Root + "src/*.*"));
        dlg.cmdNext->click();
        dlg.cmdNext->click();
        ASSERT_EQ(dlg.CurrentPage(), 4);
        dlg.cmdOK->click();
    });
    Window->cmdAddJob_Click();
    EXPECT_EQ(EditorOpened, 1);
    EXPECT_EQ(EditorCaption, "Add New Backup Job");
    EXPECT_TRUE(Seam->Messages().empty());

    ASSERT_TRUE(Exists(JobFile("New Backup Job")));
    CBackupJob saved = LoadJob(JobFile("New Backup Job"));
    EXPECT_EQ(saved.JobName(), "New Backup Job");
    EXPECT_EQ(saved.FilesToZip(), Root + "src/*.*\r\n");
    EXPECT_EQ(saved.TargetDirectory(), Root + "target/");
    EXPECT_NEAR(saved.StartTime(), libDates::TimeSerial(3, 0, 0), 1e-6);
    EXPECT_EQ(saved.NumberCopies(), 3);
    ASSERT_NE(Row("New Backup Job"), nullptr);
    EXPECT_EQ(Window->lvwSchedule->topLevelItemCount(), 2);
    // One entry per job in the manager: the scheduler must not see the new job twice.
    EXPECT_EQ(JobManager()->Count(), 2);
    EXPECT_EQ(S(Window->panNbrBackupJobs->text()).find("2"), 0u);

    // The next new job gets the next default name; Cancel adds nothing.
    EditorDoes([&](frmJobOptions& dlg) {
        EXPECT_EQ(S(dlg.txtBackupJobName->text()), "New Backup Job 2");
        dlg.cmdCancel->click();
    });
    Window->mnuActionAdd->trigger(); // the menu entry runs the same command
    EXPECT_EQ(EditorOpened, 2);
    EXPECT_EQ(Window->lvwSchedule->topLevelItemCount(), 2);
    EXPECT_EQ(JobManager()->Count(), 2);
    EXPECT_FALSE(Exists(JobFile("New Backup Job 2")));
}

TEST_F(JobCommandsTest, EditChangesTheJobFileAndRenamesIt) {
    SaveJob("Daily");
    SaveJob("Weekly");
    Refresh();

    // Without a selection the command says so.
    Window->lvwSchedule->clearSelection();
    Window->cmdEditJob_Click();
    ASSERT_EQ(Seam->Messages().size(), 1u);
    EXPECT_EQ(Seam->Messages()[0].Text, "You must first select a backup job before clicking this button.");
    EXPECT_EQ(EditorOpened, 0);

    Select({"Weekly"});
    EditorDoes([&](frmJobOptions& dlg) {
        EXPECT_EQ(S(dlg.txtBackupJobName->text()), "Weekly");
        dlg.txtStartTime->setText("19:40");
        dlg.txtBackupJobName->setText("Weekly Docs");
        dlg.cmdOK->click();
    });
    Window->cmdEditJob->click(); // the toolbar button
    EXPECT_EQ(EditorCaption, "Edit job - Weekly");
    EXPECT_FALSE(Exists(JobFile("Weekly")));
    ASSERT_TRUE(Exists(JobFile("Weekly Docs")));
    CBackupJob saved = LoadJob(JobFile("Weekly Docs"));
    EXPECT_EQ(saved.JobName(), "Weekly Docs");
    EXPECT_NEAR(saved.StartTime(), libDates::TimeSerial(19, 40, 0), 1e-6);
    EXPECT_NE(Row("Weekly Docs"), nullptr);
    EXPECT_EQ(JobManager()->Count(), 2);

    // The double-click route opens the same editor; a name taken by the other job is refused.
    Select({"Daily"});
    EditorDoes([&](frmJobOptions& dlg) {
        dlg.txtBackupJobName->setText("Weekly Docs");
        dlg.cmdOK->click();
        EXPECT_FALSE(dlg.JobSaved());
        dlg.cmdCancel->click();
    });
    Window->lvwSchedule_DblClick();
    EXPECT_EQ(EditorOpened, 2);
    EXPECT_TRUE(Exists(JobFile("Daily")));
    EXPECT_EQ(Seam->Messages().back().Text,
              "Job name Weekly Docs has already been used; please enter a different name.");
}

TEST_F(JobCommandsTest, CopyMakesSavesListsSelectsAndOpensTheCopyButNeverOverwritesIt) {
    SaveJob("Daily", "Dec-24-2026 08:00\r\n");
    Refresh();
    Select({"Daily"});
    EditorDoes([&](frmJobOptions& dlg) {
        // The copy's own row is the one being edited, so its name passes.
        EXPECT_TRUE(dlg.VerifyJobNameStep());
        dlg.cmdOK->click();
    });
    Window->cmdCopyJob_Click();
    EXPECT_EQ(EditorOpened, 1);
    EXPECT_EQ(EditorCaption, "Edit job - Copy of Daily");
    ASSERT_TRUE(Exists(JobFile("Copy of Daily")));
    CBackupJob copy = LoadJob(JobFile("Copy of Daily"));
    EXPECT_EQ(copy.JobName(), "Copy of Daily");
    EXPECT_EQ(copy.FilesToZip(), Root + "src/\r\n");
    EXPECT_NE(ReadFile(JobFile("Copy of Daily")).find("RunCount=-1\r\n"), std::string::npos); // never run
    EXPECT_EQ(copy.OneShotDates(), ""); // one-shot dates are not copied
    QTreeWidgetItem* pCopyRow = Row("Copy of Daily");
    ASSERT_NE(pCopyRow, nullptr);
    EXPECT_TRUE(pCopyRow->isSelected());
    EXPECT_FALSE(Row("Daily")->isSelected());
    EXPECT_EQ(Window->lvwSchedule->currentItem(), pCopyRow);
    EXPECT_EQ(JobManager()->Count(), 2);

    // A second copy of Daily would overwrite the first: refused, file untouched.
    const std::string sBytes = ReadFile(JobFile("Copy of Daily"));
    Seam->Clear();
    Select({"Daily"});
    Window->cmdCopyJob_Click();
    EXPECT_EQ(EditorOpened, 1);
    ASSERT_EQ(Seam->Messages().size(), 1u);
    EXPECT_EQ(Seam->Messages()[0].Text,
              "You cannot make another copy of this Backup Job until\r\nyou rename the existing copy.");
    EXPECT_EQ(Seam->Messages()[0].Title, "Verification Error");
    EXPECT_EQ(ReadFile(JobFile("Copy of Daily")), sBytes);
    EXPECT_EQ(Window->lvwSchedule->topLevelItemCount(), 2);
}

TEST_F(JobCommandsTest, OneShotDatesForOneOrSeveralJobs) {
    SaveJob("Alpha", "Dec-24-2026 08:00\r\n");
    SaveJob("Beta", "Dec-25-2026 08:00\r\n");
    SaveJob("Gamma", "Dec-24-2026 08:00\r\n");
    Refresh();

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
    Window->mnuCustomSchedule_Click();
    EXPECT_EQ(sCaption, "One shot dates for - Multiple jobs");
    EXPECT_TRUE(seen.empty());
    // Equal lists: the editor starts with that list.
    Select({"Alpha", "Gamma"});
    Window->mnuCustomSchedule_Click();
    EXPECT_EQ(seen, std::vector<std::string>{"Dec-24-2026 08:00"});
    Select({"Beta"});
    Window->mnuCustomSchedule_Click();
    EXPECT_EQ(sCaption, "One shot dates for - Beta");

    // OK writes the edited list into every selected job's file.
    DriveDialog<frmOneShot>(Script, [&](frmOneShot& dlg) {
        dlg.vscrYear->setValue(2027);
        dlg.vscrMonth->setValue(1);
        dlg.vscrDay->setValue(15);
        dlg.txtTime->setText("06:30");
        dlg.txtTime_LostFocus();
        dlg.cmdAdd->click();
        dlg.cmdOK->click();
    });
    Select({"Alpha", "Beta"});
    Window->mnuCustomSchedule_Click();
    EXPECT_EQ(LoadJob(JobFile("Alpha")).OneShotDates(), "Jan-15-2027 06:30\r\n");
    EXPECT_EQ(LoadJob(JobFile("Beta")).OneShotDates(), "Jan-15-2027 06:30\r\n");
    EXPECT_EQ(LoadJob(JobFile("Gamma")).OneShotDates(), "Dec-24-2026 08:00\r\n");
}

TEST_F(JobCommandsTest, CommandsOnAnEmptyListSaySoAndOpenNothing) {
    Refresh();
    Window->cmdEditJob_Click();
    Window->cmdCopyJob_Click();
    Window->mnuCustomSchedule_Click();
    ASSERT_EQ(Seam->Messages().size(), 3u);
    for (const auto& m : Seam->Messages())
        EXPECT_EQ(m.Text, "You must first add and then select a backup job before clicking this button.");
    EXPECT_EQ(EditorOpened, 0);
}
