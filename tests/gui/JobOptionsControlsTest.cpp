// The job editor's controls: the schedule and retention controls, the start time, the help
// cards, and the pickers that feed the job.

#include "JobOptionsFixture.h"

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

TEST_F(JobOptionsTest, RetentionSwitchesBetweenTheTwoListsCarryingTheNumberAndLoadsLongPeriods) {
    appPreferences::MaxBackupCopies = 5;
    auto& dlg = Open();
    dlg.SetCurrentPage(4);
    EXPECT_FALSE(dlg.cmbNumCountedZipsToKeep->isHidden());
    EXPECT_TRUE(dlg.cmbNumDatedZipsToKeep->isHidden());
    dlg.cmbKeepPeriod->setCurrentIndex(1); // Days: 3 stays 3
    EXPECT_TRUE(dlg.cmbNumCountedZipsToKeep->isHidden());
    EXPECT_FALSE(dlg.cmbNumDatedZipsToKeep->isHidden());
    EXPECT_EQ(S(dlg.cmbNumDatedZipsToKeep->currentText()), "3");
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

    // A loaded job keeps its dated number even where the counted list is shorter.
    MakeExistingJob("Daily");
    Job.SetKeepPeriod(1);
    Job.SetNumberCopies(30);
    auto& edited = Open({"Daily"}, 0);
    EXPECT_EQ(S(edited.cmbKeepPeriod->currentText()), "Days");
    EXPECT_EQ(S(edited.cmbNumDatedZipsToKeep->currentText()), "30");
    edited.cmdOK->click();
    ASSERT_TRUE(edited.JobSaved());
    EXPECT_EQ(Job.NumberCopies(), 30);
    EXPECT_EQ(Job.KeepPeriod(), 1);
}

TEST_F(JobOptionsTest, StartTimeFocusWaitsForItsPageAndTheFieldIsRewritten) {
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
    EXPECT_NE(LastText().find("cannot be left blank"), std::string::npos);
    EXPECT_TRUE(dlg.txtStartTime->hasFocus());

    dlg.hide();

    // The spinner follows the field; midnight shows as 00:01; a bad time stays as entered.
    dlg.txtStartTime->setText("7:5");
    EXPECT_TRUE(dlg.txtStartTime_LostFocus());
    dlg.vscrTime->UpArrow()->click();
    EXPECT_EQ(S(dlg.txtStartTime->text()), "07:06");
    EXPECT_EQ(dlg.vscrTime->value(), 426);
    dlg.vscrTime->setValue(0);
    EXPECT_EQ(dlg.vscrTime->value(), 1);
    EXPECT_EQ(S(dlg.txtStartTime->text()), "00:01");
    dlg.txtStartTime->setText("00:00");
    EXPECT_TRUE(dlg.txtStartTime_LostFocus());
    EXPECT_EQ(S(dlg.txtStartTime->text()), "00:01");
    Seam->Clear();
    dlg.txtStartTime->setText("7:61");
    EXPECT_FALSE(dlg.txtStartTime_LostFocus());
    EXPECT_EQ(Seam->Messages().size(), 1u);
    EXPECT_EQ(S(dlg.txtStartTime->text()), "7:61");
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

    ModalScript Script;
    // Add opens the pick-files dialog, which appends to the source list.
    dlg.SetCurrentPage(2);
    DriveDialog<frmPickFile>(Script, [&](frmPickFile& pick) {
        pick.txtPath->setText(Q(Root + "src"));
        pick.filFileList->item(0)->setSelected(true);
        pick.cmdOk->click();
    });
    dlg.cmdAddFile->click();
    frmPickFile::LastFolder().clear();
    ASSERT_EQ(dlg.lstFilesToBackup->count(), 1);
    EXPECT_EQ(S(dlg.lstFilesToBackup->item(0)->text()), Root + "src/a.txt");

    // One shot: the edited dates show in the page and go into the job on OK.
    libDates::SetClock(libDates::DateSerial(2026, 12, 5) + libDates::TimeSerial(15, 0, 0));
    dlg.SetCurrentPage(1);
    DriveDialog<frmOneShot>(Script, [](frmOneShot& one) {
        one.vscrDay->setValue(24);
        one.txtTime->setText("08:00");
        one.txtTime_LostFocus();
        one.cmdAdd->click();
        one.cmdOK->click();
    });
    dlg.cmdOneShot->click();
    EXPECT_EQ(dlg.OneShotDatesText(), "Dec-24-2026 08:00\r\n");
    EXPECT_EQ(S(dlg.txtOneShot->toPlainText()), "Dec-24-2026 08:00\n");

    dlg.SetCurrentPage(4);
    EXPECT_TRUE(Click(dlg.cmdOK).empty());
    ASSERT_TRUE(dlg.JobSaved());
    EXPECT_EQ(Job.OneShotDates(), "Dec-24-2026 08:00\r\n");
    EXPECT_EQ(Job.FilesToZip(), Root + "src/a.txt\r\n");
    EXPECT_EQ(Job.TargetDirectory(), Root + "backups/");
}
