// The job editor driven through its real widgets: the wizard walk with its refusals, the name,
// target, schedule, source, exclude and password checks, the controls' behaviours, and the
// write-back with the rename question.

#include "common/TempAppFolder.h"
#include "jobs/CBackupJob.h"
#include "support/libLog.h"
#include "ui/frmJobOptions.h"
#include "ui/frmOneShot.h"
#include "ui/frmPickFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <memory>

using UserInteraction::Answer;
using UserInteraction::Buttons;
using UserInteraction::Icon;

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }
} // namespace

class JobOptionsTest : public TempAppFolder {
protected:
    CBackupJob Job;
    std::unique_ptr<frmJobOptions> Dlg;

    void TearDown() override {
        Dlg.reset();
        TempAppFolder::TearDown();
    }

    frmJobOptions& Open(const std::vector<std::string>& names = {}, int iSelected = -1) {
        Dlg = std::make_unique<frmJobOptions>();
        Dlg->BeginEdit(Job, names, iSelected);
        return *Dlg;
    }

    // An existing job saved in the job folder, as the main window hands it to the editor.
    void MakeExistingJob(const std::string& sName, int iRunCount = 4) {
        const std::string sTarget = Root + "target/";
        std::filesystem::create_directories(sTarget);
        Job.SetJobNameRaw(sName);
        Job.SetTargetDirectoryRaw(sTarget);
        Job.SetFileNameRaw(CBackupJob::JobFileNameFor(sName));
        Job.SetFilesToZip(Root + "src/\r\n");
        Job.SetRunCount(iRunCount);
        Job.SetStartTime(libDates::TimeSerial(21, 15, 0));
        ASSERT_FALSE(Job.SaveBackupJobIniFile());
    }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& m : Seam->Messages())
            texts.push_back(m.Text);
        return texts;
    }
    std::string LastText() const {
        auto m = Seam->Messages();
        return m.empty() ? std::string() : m.back().Text;
    }
};

TEST_F(JobOptionsTest, DefaultNamesCountUpFromTheHighestNumber) {
    EXPECT_EQ(frmJobOptions::DefaultJobName({}), "New Backup Job");
    EXPECT_EQ(frmJobOptions::DefaultJobName({"Daily"}), "New Backup Job");
    EXPECT_EQ(frmJobOptions::DefaultJobName({"New Backup Job"}), "New Backup Job 2");
    EXPECT_EQ(frmJobOptions::DefaultJobName({"New Backup Job", "New Backup Job 7"}), "New Backup Job 8");
    EXPECT_EQ(frmJobOptions::DefaultJobName({"Daily", "New Backup Job 2"}), "New Backup Job 3");
    // The comparison of the base keeps letter case.
    EXPECT_EQ(frmJobOptions::DefaultJobName({"new backup job 4"}), "New Backup Job");

    auto& dlg = Open({"New Backup Job", "Weekly", "New Backup Job 7"});
    EXPECT_EQ(S(dlg.txtBackupJobName->text()), "New Backup Job 8");
    EXPECT_EQ(S(dlg.windowTitle()), "Add New Backup Job");
    EXPECT_TRUE(dlg.txtTargDir->text().isEmpty());
}

TEST_F(JobOptionsTest, NewJobStartsAsWizardWithDefaults) {
    auto& dlg = Open();
    EXPECT_TRUE(dlg.IsNewJob());
    EXPECT_EQ(dlg.CurrentPage(), 0);
    EXPECT_TRUE(dlg.cmdFormButton[0]->isEnabled());
    for (int i = 1; i < 5; ++i)
        EXPECT_FALSE(dlg.cmdFormButton[i]->isEnabled()) << i;
    EXPECT_FALSE(dlg.cmdOK->isEnabled());
    EXPECT_FALSE(dlg.cmdBack->isEnabled());
    EXPECT_TRUE(dlg.cmdNext->isEnabled());
    EXPECT_FALSE(dlg.fraOptions[1]->isVisibleTo(&dlg));
    EXPECT_TRUE(dlg.fraOptions[0]->isVisibleTo(&dlg));
    EXPECT_TRUE(dlg.txtRunCount->isHidden());
    EXPECT_TRUE(dlg.cmdCueCard[7]->isHidden());
    EXPECT_EQ(S(dlg.txtStartTime->text()), "03:00");
    EXPECT_EQ(S(dlg.cmbFrequency->currentText()), "Daily");
    for (QCheckBox* p : {dlg.chkMonday, dlg.chkSunday, dlg.chkSaturday})
        EXPECT_TRUE(p->isChecked());
    EXPECT_TRUE(dlg.optCompression[1]->isChecked());
    EXPECT_TRUE(dlg.optCopyStyle[0]->isChecked());
    EXPECT_TRUE(dlg.optFullBackup->isChecked());
    EXPECT_EQ(S(dlg.cmbNumCountedZipsToKeep->currentText()), "3");
    EXPECT_EQ(S(dlg.cmbKeepPeriod->currentText()), "Copies");
    EXPECT_EQ(S(dlg.lblNbrCopies->text()), "in addition to the current backup");
    EXPECT_FALSE(dlg.fraCopyType->isEnabled());
    EXPECT_FALSE(dlg.txtPassword->isEnabled());
}

TEST_F(JobOptionsTest, DefaultThreeCopiesIsClampedToAShortCountedList) {
    appPreferences::MaxBackupCopies = 2;
    auto& dlg = Open();
    EXPECT_EQ(dlg.cmbNumCountedZipsToKeep->count(), 3);
    EXPECT_EQ(S(dlg.cmbNumCountedZipsToKeep->currentText()), "2");
}

TEST_F(JobOptionsTest, WizardWalkRefusesEveryIncompletePage) {
    const std::string sTarget = Root + "backups/";
    auto& dlg = Open({"Daily", "My Job"});

    // Name and target both empty: two messages, one after the other; the page stays.
    dlg.txtBackupJobName->clear();
    dlg.cmdNext->click();
    ASSERT_EQ(Texts().size(), 2u);
    EXPECT_EQ(Texts()[0], "The Backup Job name must not be blank.  Please enter a name now.");
    EXPECT_EQ(Texts()[1], "The target directory is blank.  Please enter a valid directory now.");
    EXPECT_EQ(Seam->Messages()[0].Title, "Verification Error");
    EXPECT_EQ(Seam->Messages()[0].IconKind, Icon::Information);
    EXPECT_EQ(dlg.CurrentPage(), 0);

    // A missing target folder is offered for creation; the page still refuses once.
    Seam->Clear();
    dlg.txtBackupJobName->setText("Daily");
    dlg.txtTargDir->setText(Q(sTarget));
    Seam->Answers = {Answer::OK, Answer::OK};
    dlg.cmdNext->click();
    ASSERT_EQ(Texts().size(), 2u);
    EXPECT_EQ(Texts()[0], "Job name Daily has already been used; please enter a different name.");
    EXPECT_EQ(Texts()[1], "The target directory doesnt exist.  Do you want to create it?");
    EXPECT_EQ(Seam->Messages()[1].ButtonSet, Buttons::OKCancel);
    EXPECT_EQ(Seam->Messages()[1].IconKind, Icon::Question);
    EXPECT_TRUE(std::filesystem::is_directory(sTarget));
    EXPECT_EQ(dlg.CurrentPage(), 0);

    Seam->Clear();
    dlg.txtBackupJobName->setText("MyJob");
    dlg.cmdNext->click();
    EXPECT_EQ(LastText(), "A derivative of this name has already been used; please enter a different name.");
    EXPECT_EQ(dlg.CurrentPage(), 0);

    Seam->Clear();
    dlg.txtBackupJobName->setText("my job");
    dlg.cmdNext->click();
    EXPECT_TRUE(Texts().empty());
    ASSERT_EQ(dlg.CurrentPage(), 1);
    EXPECT_TRUE(dlg.cmdFormButton[1]->isEnabled());
    EXPECT_FALSE(dlg.cmdFormButton[2]->isEnabled());
    EXPECT_TRUE(dlg.cmdBack->isEnabled());

    // Scheduling: a weekly job without days, then a bad start time.
    dlg.cmbFrequency->setCurrentIndex(1);
    dlg.chkSunday->setChecked(false);
    dlg.cmdNext->click();
    EXPECT_EQ(LastText(), "For a Frequency set to Daily or Weekly, you must select at least one day of the week from "
                          "the checkboxes provided.  Please make a selection now.");
    dlg.chkWednesday->setChecked(true);
    dlg.txtStartTime->clear();
    dlg.cmdNext->click();
    EXPECT_EQ(LastText(), "The Start Time field cannot be left blank.  Please correct the value now using the format "
                          "'hh:mm' where between 00:00 - 23:59.");
    EXPECT_EQ(Seam->Messages().back().IconKind, Icon::None);
    dlg.txtStartTime->setText("25:99");
    dlg.cmdNext->click();
    EXPECT_EQ(LastText(), "The time you entered is not valid.  Please correct the value now using the format 'hh:mm' "
                          "where between 00:00 - 23:59.");
    EXPECT_EQ(dlg.CurrentPage(), 1);
    dlg.txtStartTime->setText("22:30");
    dlg.cmdNext->click();
    ASSERT_EQ(dlg.CurrentPage(), 2);

    // Files: an empty list, then a source in the target folder itself.
    Seam->Clear();
    dlg.cmdNext->click();
    EXPECT_EQ(LastText(), "You must select at least one file or directory to backup.  Please make a selection now.");
    dlg.lstFilesToBackup->addItem(Q(sTarget + "*.*"));
    dlg.lstFilesToBackup->addItem(Q(Root + "src/"));
    Seam->Clear();
    dlg.cmdNext->click();
    ASSERT_EQ(Texts().size(), 1u);
    EXPECT_EQ(Texts()[0], "The source path cannot have the same name as the target path in which the backup will be "
                          "made.\r\n\r\nThe following file/path must be removed:\r\n" +
                              sTarget + "*.*");
    dlg.lstFilesToBackup->item(0)->setSelected(true);
    dlg.cmdRemove->click();
    ASSERT_EQ(dlg.lstFilesToBackup->count(), 1);
    dlg.cmdNext->click();
    ASSERT_EQ(dlg.CurrentPage(), 3);
    EXPECT_FALSE(dlg.cmdOK->isEnabled());
    dlg.cmdNext->click();
    ASSERT_EQ(dlg.CurrentPage(), 4);
    EXPECT_TRUE(dlg.cmdOK->isEnabled());
    EXPECT_FALSE(dlg.cmdNext->isEnabled());
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(dlg.cmdFormButton[i]->isEnabled()) << i;

    // Compression: a ticked password box needs a password.
    Seam->Clear();
    dlg.chkPasswordProtect->setChecked(true);
    EXPECT_TRUE(dlg.txtPassword->isEnabled());
    dlg.cmdOK->click();
    EXPECT_EQ(LastText(), "The Password Protect flag is set; however, no password is assigned in the Password text "
                          "box.  Please enter a password now.");
    EXPECT_FALSE(dlg.JobSaved());
    dlg.txtPassword->setText("s3cret");

    // OK writes every control back and names the job file after the job.
    Seam->Clear();
    dlg.cmdOK->click();
    EXPECT_TRUE(Texts().empty());
    ASSERT_TRUE(dlg.JobSaved());
    EXPECT_EQ(Job.JobName(), "my job");
    EXPECT_EQ(Job.TargetDirectory(), sTarget);
    EXPECT_EQ(Job.FileName(), appMisc::JobFolder() + "my job.slj");
    EXPECT_EQ(Job.Frequency(), 2);
    EXPECT_EQ(Job.DayOfWeek(), 16); // Wednesday only
    EXPECT_NEAR(Job.StartTime(), libDates::TimeSerial(22, 30, 0), 1e-9);
    EXPECT_EQ(Job.Password(), "s3cret");
    EXPECT_EQ(Job.FilesToZip(), Root + "src/\r\n");
    EXPECT_EQ(Job.NumberCopies(), 3);
    EXPECT_EQ(Job.KeepPeriod(), 0);
    EXPECT_TRUE(Job.Compress());
    EXPECT_EQ(Job.RunCount(), -1); // a new job has never run
}

TEST_F(JobOptionsTest, ExcludePageNeedsSourcesAndCtrlTabWrapsWithoutChecks) {
    auto& dlg = Open();
    dlg.SetCurrentPage(3);
    dlg.cmdNext->click();
    EXPECT_EQ(LastText(), "You must select at least one file or directory to backup.  Please make a selection now.");
    EXPECT_EQ(dlg.CurrentPage(), 3);

    QTest::keyClick(dlg.txtExcludeSpec, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(dlg.CurrentPage(), 4);
    QTest::keyClick(dlg.cmbKeepPeriod, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(dlg.CurrentPage(), 0);
    dlg.cmdBack->click();
    EXPECT_EQ(dlg.CurrentPage(), 0);

    Seam->Clear();
    QTest::keyRelease(dlg.txtBackupJobName, Qt::Key_F1);
    ASSERT_FALSE(Seam->Calls.empty());
    EXPECT_EQ(Seam->Calls.back().Kind, "ShowHelp");
}

TEST_F(JobOptionsTest, EditedJobOpensAllPagesAndSkipsItsOwnName) {
    MakeExistingJob("Daily");
    auto& dlg = Open({"Weekly", "Daily"}, 1);
    EXPECT_FALSE(dlg.IsNewJob());
    EXPECT_EQ(S(dlg.windowTitle()), "Edit job - Daily");
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(dlg.cmdFormButton[i]->isEnabled()) << i;
    EXPECT_TRUE(dlg.cmdOK->isEnabled());
    EXPECT_FALSE(dlg.txtRunCount->isHidden());
    EXPECT_EQ(S(dlg.txtRunCount->text()), "4");
    EXPECT_EQ(S(dlg.txtStartTime->text()), "21:15");
    EXPECT_EQ(dlg.vscrTime->value(), 21 * 60 + 15);
    EXPECT_TRUE(dlg.VerifyJobNameStep());

    // Edit mode moves on without checks.
    dlg.txtBackupJobName->clear();
    dlg.cmdNext->click();
    EXPECT_EQ(dlg.CurrentPage(), 1);
    EXPECT_TRUE(Texts().empty());
    dlg.cmdFormButton[4]->click();
    EXPECT_EQ(dlg.CurrentPage(), 4);

    // OK checks every page again and shows the first failing one.
    dlg.cmdOK->click();
    EXPECT_EQ(dlg.CurrentPage(), 0);
    EXPECT_FALSE(dlg.JobSaved());
    dlg.txtBackupJobName->setText("Weekly");
    EXPECT_FALSE(dlg.VerifyJobNameStep());
}

TEST_F(JobOptionsTest, RunCountThatIsNotAWholeNumberIsRefusedClearly) {
    MakeExistingJob("Daily", 4);
    auto& dlg = Open({"Daily"}, 0);
    dlg.SetCurrentPage(2);
    for (const char* sBad : {"abc", "", "1.5", "12x", "99999999999"}) {
        Seam->Clear();
        dlg.txtRunCount->setText(sBad);
        dlg.cmdOK->click();
        ASSERT_EQ(Seam->Messages().size(), 1u) << sBad;
        EXPECT_EQ(Seam->Messages()[0].Title, "Verification Error");
        EXPECT_NE(LastText().find("whole number"), std::string::npos);
        EXPECT_FALSE(dlg.JobSaved());
        EXPECT_EQ(dlg.CurrentPage(), 0);
    }
    EXPECT_EQ(Job.RunCount(), 4);
    dlg.cmdClearRunCount->click();
    EXPECT_EQ(S(dlg.txtRunCount->text()), "0");
    dlg.txtRunCount->setText(" 12 ");
    Seam->Clear();
    dlg.cmdOK->click();
    EXPECT_TRUE(Texts().empty());
    EXPECT_TRUE(dlg.JobSaved());
    EXPECT_EQ(Job.RunCount(), 12);
}

TEST_F(JobOptionsTest, TargetFolderChecks) {
    auto& dlg = Open();
    dlg.txtBackupJobName->setText("Job");

    // Cancel to the offer: nothing is created.
    dlg.txtTargDir->setText(Q(Root + "new/"));
    Seam->Answers = {Answer::Cancel};
    EXPECT_FALSE(dlg.VerifyTargetDirectoryStep());
    EXPECT_FALSE(Exists(Root + "new"));

    // A missing parent: the creation fails with its own box.
    Seam->Clear();
    dlg.txtTargDir->setText(Q(Root + "no/parent/"));
    Seam->Answers = {Answer::OK};
    EXPECT_FALSE(dlg.VerifyTargetDirectoryStep());
    ASSERT_EQ(Seam->Messages().size(), 2u);
    EXPECT_EQ(Seam->Messages()[1].Text, "Failed to creat target directory");
    EXPECT_EQ(Seam->Messages()[1].Title, "Create failure");
    EXPECT_EQ(Seam->Messages()[1].IconKind, Icon::Exclamation);

    // Created on the first check, passing on the second.
    dlg.txtTargDir->setText(Q(Root + "new/"));
    Seam->Answers = {Answer::OK};
    EXPECT_FALSE(dlg.VerifyTargetDirectoryStep());
    EXPECT_TRUE(dlg.VerifyTargetDirectoryStep());
}

TEST_F(JobOptionsTest, TargetLookupErrorIsRecordedAndTheEditorStaysOpen) {
    // A symbolic link to itself: looking the folder up fails with an error, not "missing".
    std::filesystem::create_directory_symlink(Root + "loop", Root + "loop");
    auto& dlg = Open();
    dlg.txtTargDir->setText(Q(Root + "loop/inner/"));
    bool bFatal = false;
    try {
        EXPECT_FALSE(dlg.VerifyTargetDirectoryStep());
    } catch (const FatalExit&) {
        bFatal = true;
    }
    EXPECT_FALSE(bFatal);
    ASSERT_GE(Seam->Messages().size(), 1u);
    EXPECT_EQ(Seam->Messages()[0].Text, "Disk Error - cannot locate target dir.");
    EXPECT_EQ(Seam->Messages()[0].Title, "Disk Error");
    const std::string sReport = ReadFile(libLog::ErrorFileName());
    EXPECT_NE(sReport.find("VerifyTargetDirectoryStep()"), std::string::npos);
    EXPECT_NE(sReport.find("frmOptions"), std::string::npos);
    EXPECT_TRUE(dlg.fraOptions[0]->isVisibleTo(&dlg));
}

TEST_F(JobOptionsTest, FrequencyReshapesTheSchedulingPage) {
    auto& dlg = Open();
    dlg.SetCurrentPage(1);
    dlg.cmbFrequency->setCurrentIndex(1); // Weekly
    EXPECT_TRUE(dlg.chkSunday->isChecked());
    EXPECT_FALSE(dlg.chkMonday->isChecked());
    EXPECT_FALSE(dlg.chkMonday->isHidden());
    EXPECT_FALSE(dlg.lblSelectDayOf->isHidden());
    dlg.chkMonday->setChecked(true);
    dlg.chkFriday->setChecked(true);
    dlg.cmbFrequency->setCurrentIndex(0); // Daily: all ticked, hidden
    EXPECT_TRUE(dlg.chkTuesday->isChecked());
    EXPECT_TRUE(dlg.chkMonday->isHidden());
    EXPECT_TRUE(dlg.lblSelectDayOf->isHidden());
    dlg.cmbFrequency->setCurrentIndex(1); // back to Weekly: Sunday only
    for (QCheckBox* p :
         {dlg.chkMonday, dlg.chkTuesday, dlg.chkWednesday, dlg.chkThursday, dlg.chkFriday, dlg.chkSaturday})
        EXPECT_FALSE(p->isChecked());
    EXPECT_TRUE(dlg.chkSunday->isChecked());

    dlg.cmbFrequency->setCurrentIndex(2); // Monthly always selects day 1
    dlg.cmbDayOfMonth->setCurrentIndex(14);
    dlg.cmbFrequency->setCurrentIndex(3);
    dlg.cmbFrequency->setCurrentIndex(2);
    EXPECT_EQ(S(dlg.cmbDayOfMonth->currentText()), "1");
    EXPECT_EQ(S(dlg.lblSelectDayOf->text()), "Select the day of the month:");
    EXPECT_FALSE(dlg.cmbDayOfMonth->isHidden());

    dlg.cmbFrequency->setCurrentIndex(3); // One Shot: no start time
    EXPECT_TRUE(dlg.txtStartTime->isHidden());
    EXPECT_TRUE(dlg.vscrTime->isHidden());
    EXPECT_TRUE(dlg.cmbDayOfMonth->isHidden());
    EXPECT_FALSE(dlg.fraOneShot->isHidden());
    // The start-time rule still applies.
    dlg.txtStartTime->setText("nonsense");
    EXPECT_FALSE(dlg.VerifyScheduleStep());
}

TEST_F(JobOptionsTest, StartTimeIsRewrittenAndTheSpinnerFollows) {
    auto& dlg = Open();
    dlg.SetCurrentPage(1);
    dlg.txtStartTime->setText("7:5");
    EXPECT_TRUE(dlg.txtStartTime_LostFocus());
    EXPECT_EQ(S(dlg.txtStartTime->text()), "07:05");
    EXPECT_EQ(dlg.vscrTime->value(), 425);

    dlg.vscrTime->UpArrow()->click(); // the up arrow raises the time
    EXPECT_EQ(S(dlg.txtStartTime->text()), "07:06");
    EXPECT_EQ(dlg.vscrTime->value(), 426);
    dlg.vscrTime->setValue(0); // midnight shows as 00:01
    EXPECT_EQ(dlg.vscrTime->value(), 1);
    EXPECT_EQ(S(dlg.txtStartTime->text()), "00:01");
    dlg.txtStartTime->setText("00:00");
    EXPECT_TRUE(dlg.txtStartTime_LostFocus());
    EXPECT_EQ(S(dlg.txtStartTime->text()), "00:01");

    Seam->Clear();
    dlg.txtStartTime->setText("7:61");
    EXPECT_FALSE(dlg.txtStartTime_LostFocus());
    EXPECT_EQ(LastText(), "The time you entered is not valid.  Please correct the value now using the format 'hh:mm' "
                          "where between 00:00 - 23:59.");
    EXPECT_EQ(S(dlg.txtStartTime->text()), "7:61"); // the entered value stays
}

TEST_F(JobOptionsTest, RetentionSwitchesBetweenTheTwoListsCarryingTheNumber) {
    appPreferences::MaxBackupCopies = 5;
    auto& dlg = Open();
    dlg.SetCurrentPage(4);
    EXPECT_FALSE(dlg.cmbNumCountedZipsToKeep->isHidden());
    EXPECT_TRUE(dlg.cmbNumDatedZipsToKeep->isHidden());
    dlg.cmbKeepPeriod->setCurrentIndex(1); // Days: 3 stays 3
    EXPECT_TRUE(dlg.cmbNumCountedZipsToKeep->isHidden());
    EXPECT_FALSE(dlg.cmbNumDatedZipsToKeep->isHidden());
    EXPECT_EQ(S(dlg.cmbNumDatedZipsToKeep->currentText()), "3");
    EXPECT_EQ(S(dlg.lblNbrCopies->text()), "worth of backup files");
    dlg.cmbKeepPeriod->setCurrentIndex(2); // Weeks: still 3
    EXPECT_EQ(S(dlg.cmbNumDatedZipsToKeep->currentText()), "3");
    dlg.cmbKeepPeriod->setCurrentIndex(0);
    EXPECT_EQ(S(dlg.cmbNumCountedZipsToKeep->currentText()), "3");

    // 0 copies becomes 1 day; 30 days becomes the last counted entry.
    dlg.cmbNumCountedZipsToKeep->setCurrentIndex(0);
    dlg.cmbKeepPeriod->setCurrentIndex(1);
    EXPECT_EQ(S(dlg.cmbNumDatedZipsToKeep->currentText()), "1");
    dlg.cmbNumDatedZipsToKeep->setCurrentIndex(29);
    dlg.cmbKeepPeriod->setCurrentIndex(0);
    EXPECT_EQ(S(dlg.cmbNumCountedZipsToKeep->currentText()), "5");

    // Turning compression off and on again does not confuse which list is in use.
    dlg.cmbKeepPeriod->setCurrentIndex(3);
    dlg.cmbNumDatedZipsToKeep->setCurrentIndex(11);
    dlg.optCompression[0]->setChecked(true);
    EXPECT_FALSE(dlg.cmbKeepPeriod->isEnabled());
    EXPECT_TRUE(dlg.fraCopyType->isEnabled());
    EXPECT_TRUE(dlg.optCopyStyle[2]->isEnabled());
    EXPECT_FALSE(dlg.chkPasswordProtect->isEnabled());
    dlg.optCompression[1]->setChecked(true);
    dlg.cmbKeepPeriod->setCurrentIndex(1);
    EXPECT_EQ(S(dlg.cmbNumDatedZipsToKeep->currentText()), "12");
}

TEST_F(JobOptionsTest, LoadingAJobKeepsItsDatedNumberWhenTheCountedListIsShort) {
    appPreferences::MaxBackupCopies = 5;
    MakeExistingJob("Daily");
    Job.SetKeepPeriod(1);
    Job.SetNumberCopies(30);
    auto& dlg = Open({"Daily"}, 0);
    EXPECT_EQ(S(dlg.cmbKeepPeriod->currentText()), "Days");
    EXPECT_EQ(S(dlg.cmbNumDatedZipsToKeep->currentText()), "30");
    dlg.cmdOK->click();
    ASSERT_TRUE(dlg.JobSaved());
    EXPECT_EQ(Job.NumberCopies(), 30);
    EXPECT_EQ(Job.KeepPeriod(), 1);
}

TEST_F(JobOptionsTest, ExcludeSpecificationRules) {
    auto& dlg = Open();
    dlg.SetCurrentPage(3);
    auto add = [&](const char* sSpec) {
        Seam->Clear();
        dlg.txtExcludeSpec->setText(sSpec);
        dlg.cmdAddExclude->click();
        return Seam->Messages();
    };
    auto m = add("  ");
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Text, "You have to type in *.ext where ext is the extension for the file type you wish to exclude.");
    for (const char* sBad : {"*.", ".tmp", "tmp", "a*.tmp"}) {
        m = add(sBad);
        ASSERT_EQ(m.size(), 1u) << sBad;
        EXPECT_EQ(m[0].Text, "The proper format for an exclude is *.ext where ext represents the extension of the file "
                             "type you wish to exclude.");
        EXPECT_EQ(m[0].IconKind, Icon::Information);
    }
    EXPECT_TRUE(add("*.t").empty());
    EXPECT_TRUE(add(" *.tmp ").empty());
    EXPECT_TRUE(dlg.txtExcludeSpec->text().isEmpty());
    EXPECT_TRUE(add("*.tmp").empty()); // a second one only beeps
    EXPECT_EQ(S(dlg.txtExcludeSpec->text()), "*.tmp");
    EXPECT_TRUE(add("*.TMP").empty()); // letter case counts
    ASSERT_EQ(dlg.lstExcludeFiles->count(), 3);
    EXPECT_EQ(S(dlg.lstExcludeFiles->item(1)->text()), "*.tmp");

    Seam->Clear();
    dlg.lstExcludeFiles->clearSelection();
    dlg.cmdRemoveExclude->click();
    EXPECT_EQ(LastText(), "You must first select an exclude specification to remove.");
    dlg.lstExcludeFiles->item(0)->setSelected(true);
    dlg.lstExcludeFiles->item(2)->setSelected(true);
    dlg.cmdRemoveExclude->click();
    ASSERT_EQ(dlg.lstExcludeFiles->count(), 1);
    EXPECT_EQ(S(dlg.lstExcludeFiles->item(0)->text()), "*.tmp");
}

TEST_F(JobOptionsTest, JobNameRefusesCharactersAsTheyAreTyped) {
    auto& dlg = Open();
    dlg.txtBackupJobName->setText("Ab");
    dlg.txtBackupJobName->setCursorPosition(2);
    QTest::keyClicks(dlg.txtBackupJobName, "c 1_-.");
    EXPECT_EQ(S(dlg.txtBackupJobName->text()), "Abc 1_-.");
    EXPECT_TRUE(Texts().empty());
    for (const char* sKey : {"/", ":", "*"}) {
        Seam->Clear();
        QTest::keyClicks(dlg.txtBackupJobName, sKey);
        ASSERT_EQ(Seam->Messages().size(), 1u) << sKey;
        EXPECT_EQ(Seam->Messages()[0].Title, "Keypress Error");
        EXPECT_EQ(Seam->Messages()[0].Text,
                  std::string("The character '") + sKey + "' is not allowed in a backup job name.");
    }
    EXPECT_EQ(S(dlg.txtBackupJobName->text()), "Abc 1_-.");
    QTest::keyClick(dlg.txtBackupJobName, Qt::Key_Backspace);
    EXPECT_EQ(S(dlg.txtBackupJobName->text()), "Abc 1_-");

    // A name that cannot be a file name (pasted, or dots only) is refused by the check.
    dlg.txtBackupJobName->setText("..");
    EXPECT_FALSE(dlg.VerifyJobNameStep());
    dlg.txtBackupJobName->setText("a/b");
    EXPECT_FALSE(dlg.VerifyJobNameStep());
    dlg.txtBackupJobName->setText("   ");
    EXPECT_TRUE(dlg.VerifyJobNameStep()); // blanks are not "empty"
}

TEST_F(JobOptionsTest, HelpCardsShowTheirTitles) {
    auto& dlg = Open();
    const char* kTitles[12] = {"Add Files and Folders",    "Full Backup",         "Incremental Backup",
                               "Target Directory",         "Scheduling",          "Include Subdirectories",
                               "Exclude Specification(s)", "Clear Backup Count",  "Non Compression Backup",
                               "Compression Backup",       "Password Encryption", "One Shot Backup"};
    for (int i = 0; i < 12; ++i) {
        Seam->Clear();
        dlg.cmdCueCard_Click(i);
        ASSERT_EQ(Seam->Messages().size(), 1u);
        EXPECT_EQ(Seam->Messages()[0].Title, kTitles[i]);
        EXPECT_EQ(Seam->Messages()[0].IconKind, Icon::Information);
        EXPECT_NE(Seam->Messages()[0].Text.find("\r\n"), std::string::npos);
    }
}

TEST_F(JobOptionsTest, RenameAsksWhetherToShiftBackupsAndCancelKeepsTheEditorOpen) {
    MakeExistingJob("Daily", 2);
    const std::string sOldFile = Job.FileName();
    const std::string sOldBytes = ReadFile(sOldFile);
    WriteFile(Root + "target/Daily.zip", "zip");
    auto& dlg = Open({"Daily"}, 0);
    dlg.txtBackupJobName->setText("Docs");

    Seam->Answers = {Answer::Cancel};
    dlg.cmdOK->click();
    ASSERT_EQ(Seam->Messages().size(), 1u);
    EXPECT_EQ(Seam->Messages()[0].Text, "Shift any existing backups?");
    EXPECT_EQ(Seam->Messages()[0].ButtonSet, Buttons::YesNoCancel);
    EXPECT_EQ(Seam->Messages()[0].IconKind, Icon::None);
    EXPECT_FALSE(dlg.JobSaved());
    EXPECT_EQ(Job.JobName(), "Daily");
    EXPECT_EQ(ReadFile(sOldFile), sOldBytes);

    Seam->Clear();
    Seam->Answers = {Answer::Yes};
    dlg.cmdOK->click();
    ASSERT_TRUE(dlg.JobSaved());
    EXPECT_EQ(Job.JobName(), "Docs");
    EXPECT_EQ(Job.FileName(), appMisc::JobFolder() + "Docs.slj");
    EXPECT_FALSE(Exists(sOldFile));
    EXPECT_TRUE(Exists(Root + "target/Docs.zip"));
}

TEST_F(JobOptionsTest, NeverRunJobMovesNothingAndAsksNothing) {
    MakeExistingJob("Daily", 4);
    Job.SetRunCount(4);
    auto& dlg = Open({"Daily"}, 0);
    std::filesystem::create_directories(Root + "elsewhere");
    dlg.txtTargDir->setText(Q(Root + "elsewhere")); // no final slash: the job adds it
    dlg.txtRunCount->setText("-1");
    Seam->Answers = {Answer::No};
    dlg.cmdOK->click();
    // -1 is ignored by the job, so the job has run and the question comes.
    ASSERT_EQ(Seam->Messages().size(), 1u);
    EXPECT_TRUE(dlg.JobSaved());
    EXPECT_EQ(Job.TargetDirectory(), Root + "elsewhere/");

    CBackupJob never;
    never.SetJobNameRaw("Never");
    never.SetTargetDirectoryRaw(Root + "target/");
    never.SetFileNameRaw(CBackupJob::JobFileNameFor("Never"));
    never.SetFilesToZip(Root + "src/\r\n");
    ASSERT_FALSE(never.SaveBackupJobIniFile());
    frmJobOptions dlg2;
    dlg2.BeginEdit(never, {"Never"}, 0);
    dlg2.txtTargDir->setText(Q(Root + "elsewhere/"));
    Seam->Clear();
    dlg2.cmdOK->click();
    EXPECT_TRUE(Texts().empty());
    EXPECT_TRUE(dlg2.JobSaved());
    EXPECT_EQ(never.TargetDirectory(), Root + "elsewhere/");
}

TEST_F(JobOptionsTest, EditJobSavesOnlyAfterOk) {
    MakeExistingJob("Daily");
    const std::string sBytes = ReadFile(Job.FileName());
    frmJobOptions::ModalHook() = [](frmJobOptions& dlg) {
        dlg.txtStartTime->setText("06:45");
        dlg.cmdCancel->click();
    };
    EXPECT_FALSE(frmJobOptions::EditJob(Job, nullptr));
    EXPECT_EQ(ReadFile(Job.FileName()), sBytes);

    frmJobOptions::ModalHook() = [](frmJobOptions& dlg) {
        dlg.txtStartTime->setText("06:45");
        dlg.optCompression[0]->setChecked(true);
        dlg.optCopyStyle[1]->setChecked(true);
        dlg.optIncremental->setChecked(true);
        dlg.chkSubdirectories->setChecked(true);
        dlg.cmdOK->click();
    };
    const bool bSaved = frmJobOptions::EditJob(Job, nullptr);
    frmJobOptions::ModalHook() = nullptr;
    ASSERT_TRUE(bSaved);
    CBackupJob reread;
    ASSERT_FALSE(reread.OpenBackupJob(Job.FileName()));
    EXPECT_NEAR(reread.StartTime(), libDates::TimeSerial(6, 45, 0), 1e-6);
    EXPECT_FALSE(reread.Compress());
    EXPECT_EQ(reread.CopyStyle(), 1);
    EXPECT_TRUE(reread.Incremental());
    EXPECT_TRUE(reread.Subdirectories());
    EXPECT_EQ(reread.RunCount(), 4);
}

TEST_F(JobOptionsTest, StartTimeFocusRequestedFromAnotherPageWaitsForItsPage) {
    MakeExistingJob("Daily");
    auto& dlg = Open({"Daily"}, 0);
    dlg.show();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    QTest::qWait(20);
    EXPECT_TRUE(dlg.txtBackupJobName->hasFocus()); // the user starts at the job name

    dlg.SetCurrentPage(4);
    dlg.txtStartTime->setText("99:99");
    dlg.cmdOK->click();
    EXPECT_EQ(dlg.CurrentPage(), 1);
    EXPECT_FALSE(dlg.JobSaved());
    EXPECT_TRUE(dlg.txtStartTime->hasFocus());

    // Leaving the field checks and rewrites it.
    dlg.txtStartTime->setText("7:5");
    dlg.cmbFrequency->setFocus();
    EXPECT_EQ(S(dlg.txtStartTime->text()), "07:05");
    EXPECT_EQ(dlg.vscrTime->value(), 425);
    Seam->Clear();
    dlg.txtStartTime->setFocus();
    dlg.txtStartTime->clear();
    dlg.cmbFrequency->setFocus();
    QTest::qWait(20);
    ASSERT_EQ(Seam->Messages().size(), 1u);
    EXPECT_EQ(Seam->Messages()[0].Text, "The Start Time field cannot be left blank.  Please correct the value now "
                                        "using the format 'hh:mm' where between 00:00 - 23:59.");
    EXPECT_TRUE(dlg.txtStartTime->hasFocus());
    dlg.hide();
}

TEST_F(JobOptionsTest, TargetBrowseSourcePickerAndOneShotEditorFeedTheJob) {
    WriteFile(Root + "src/a.txt", "a");
    std::filesystem::create_directories(Root + "backups");
    auto& dlg = Open();

    // Browse: a missing folder is refused and the browser opens again; cancel leaves the text.
    std::vector<std::string> starts;
    std::vector<std::string> answers = {Root + "nowhere", Root + "backups", ""};
    CBrowseDlg::Chooser() = [&](QWidget*, const std::string& sPrompt, const std::string& sStart) {
        EXPECT_EQ(sPrompt, "Please select a directory into which the backup will be placed.");
        starts.push_back(sStart);
        std::string s = answers.front();
        answers.erase(answers.begin());
        return s;
    };
    dlg.txtTargDir->setText(Q(Root + "gone/"));
    dlg.cmdBrowseTargetDirectory_Click();
    EXPECT_EQ(S(dlg.txtTargDir->text()), Root + "backups/");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0], S(QDir::currentPath())); // a missing start folder gives way to the current one
    ASSERT_EQ(Seam->Messages().size(), 1u);
    EXPECT_EQ(Seam->Messages()[0].Text, "The specified directory does not exist; please try again.");
    dlg.cmdBrowseTargetDirectory_Click(); // cancelled
    EXPECT_EQ(S(dlg.txtTargDir->text()), Root + "backups/");
    CBrowseDlg::Chooser() = nullptr;

    // Add opens the pick-files dialog, which appends to the source list.
    dlg.SetCurrentPage(2);
    frmPickFile::ModalHook() = [&](frmPickFile& pick) {
        pick.txtPath->setText(Q(Root + "src"));
        pick.filFileList->item(0)->setSelected(true);
        pick.cmdOk->click();
    };
    dlg.cmdAddFile->click();
    frmPickFile::ModalHook() = nullptr;
    frmPickFile::LastFolder().clear();
    ASSERT_EQ(dlg.lstFilesToBackup->count(), 1);
    EXPECT_EQ(S(dlg.lstFilesToBackup->item(0)->text()), Root + "src/a.txt");

    // One shot: the edited dates show in the page and go into the job on OK.
    libDates::SetClock(libDates::DateSerial(2026, 12, 5) + libDates::TimeSerial(15, 0, 0));
    dlg.SetCurrentPage(1);
    frmOneShot::ModalHook() = [](frmOneShot& one) {
        one.vscrDay->setValue(24);
        one.txtTime->setText("08:00");
        one.txtTime_LostFocus();
        one.cmdAdd->click();
        one.cmdOK->click();
    };
    dlg.cmdOneShot->click();
    frmOneShot::ModalHook() = nullptr;
    EXPECT_EQ(dlg.OneShotDatesText(), "Dec-24-2026 08:00\r\n");
    EXPECT_EQ(S(dlg.txtOneShot->toPlainText()), "Dec-24-2026 08:00\n");

    dlg.SetCurrentPage(4);
    Seam->Clear();
    dlg.cmdOK->click();
    EXPECT_TRUE(Texts().empty());
    ASSERT_TRUE(dlg.JobSaved());
    EXPECT_EQ(Job.OneShotDates(), "Dec-24-2026 08:00\r\n");
    EXPECT_EQ(Job.FilesToZip(), Root + "src/a.txt\r\n");
    EXPECT_EQ(Job.TargetDirectory(), Root + "backups/");
}
