// The job editor driven through its real widgets: the wizard walk with its refusals, the name,
// target, run count, source and exclude checks, and the write-back with the rename question.

#include "JobOptionsFixture.h"

TEST_F(JobOptionsTest, DefaultNamesCountUpFromTheHighestNumber) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"New Backup Job", "New Backup Job 7"}, "New Backup Job 8"},
        {{"Daily", "New Backup Job 2"}, "New Backup Job 3"},
        {{"new backup job 4"}, "New Backup Job"}, // the comparison of the base keeps letter case
    };
    for (const auto& [names, expected] : cases)
        EXPECT_EQ(frmJobOptions::DefaultJobName(names), expected);
}

TEST_F(JobOptionsTest, WizardWalkRefusesEveryIncompletePage) {
    const std::string sTarget = Root + "backups/";
    auto& dlg = Open({"Daily", "My Job"});
    // A new job starts on the first page with the others locked.
    EXPECT_EQ(dlg.CurrentPage(), 0);
    for (int i = 1; i < 5; ++i)
        EXPECT_FALSE(dlg.cmdFormButton[i]->isEnabled()) << i;
    EXPECT_FALSE(dlg.cmdOK->isEnabled());
    EXPECT_FALSE(dlg.cmdBack->isEnabled());
    EXPECT_TRUE(dlg.txtRunCount->isHidden());

    // Name and target both empty: two messages, one after the other; the page stays.
    dlg.txtBackupJobName->clear();
    dlg.cmdNext->click();
    ASSERT_EQ(Texts().size(), 2u);
    ExpectBox(Seam->Messages()[0], "Verification Error", Icon::Information,
              "The Backup Job name must not be blank.  Please enter a name now.");
    EXPECT_EQ(Texts()[1], "The target directory is blank.  Please enter a valid directory now.");
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

    dlg.txtBackupJobName->setText("MyJob");
    EXPECT_EQ(Click(dlg.cmdNext),
              TextList{"A derivative of this name has already been used; please enter a different name."});
    EXPECT_EQ(dlg.CurrentPage(), 0);

    dlg.txtBackupJobName->setText("my job");
    EXPECT_TRUE(Click(dlg.cmdNext).empty());
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
    EXPECT_EQ(Click(dlg.cmdNext),
              TextList{"You must select at least one file or directory to backup.  Please make a selection now."});
    dlg.lstFilesToBackup->addItem(Q(sTarget + "*.*"));
    dlg.lstFilesToBackup->addItem(Q(Root + "src/"));
    EXPECT_EQ(Click(dlg.cmdNext),
              TextList{"The source path cannot have the same name as the target path in which the backup will be "
                       "made.\r\n\r\nThe following file/path must be removed:\r\n" +
                       sTarget + "*.*"});
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
    EXPECT_TRUE(Click(dlg.cmdOK).empty());
    ASSERT_TRUE(dlg.JobSaved());
    EXPECT_EQ(Job.JobName(), "my job");
    EXPECT_EQ(Job.TargetDirectory(), sTarget);
    EXPECT_EQ(Job.FileName(), appMisc::JobFolder() + "my job.slj");
    EXPECT_EQ(Job.Frequency(), 2);
    EXPECT_EQ(Job.DayOfWeek(), 16); // Wednesday only
    EXPECT_NEAR(Job.StartTime(), libDates::TimeSerial(22, 30, 0), 1e-9);
    EXPECT_EQ(Job.Password(), "s3cret");
    EXPECT_EQ(Job.FilesToZip(), Root + "src/\r\n");
    EXPECT_EQ(Job.RunCount(), -1); // a new job has never run
}

TEST_F(JobOptionsTest, ExcludePageNeedsSourcesCtrlTabWrapsWithoutChecksAndExcludeRules) {
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

    // Exclude specifications: "*.ext" only, each once, letter case counting.
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

    dlg.lstExcludeFiles->clearSelection();
    EXPECT_EQ(Click(dlg.cmdRemoveExclude), TextList{"You must first select an exclude specification to remove."});
    dlg.lstExcludeFiles->item(0)->setSelected(true);
    dlg.lstExcludeFiles->item(2)->setSelected(true);
    dlg.cmdRemoveExclude->click();
    ASSERT_EQ(dlg.lstExcludeFiles->count(), 1);
    EXPECT_EQ(S(dlg.lstExcludeFiles->item(0)->text()), "*.tmp");
}

TEST_F(JobOptionsTest, EditedJobOpensAllPagesSkipsItsOwnNameAndRefusesABadRunCount) {
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

    // A run count that is not a whole number is refused clearly.
    dlg.txtBackupJobName->setText("Daily");
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
    EXPECT_TRUE(Click(dlg.cmdOK).empty());
    EXPECT_TRUE(dlg.JobSaved());
    EXPECT_EQ(Job.RunCount(), 12);
}

TEST_F(JobOptionsTest, JobNameAndTargetFolderChecksKeepTheEditorOpen) {
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
    dlg.txtBackupJobName->setText("   ");
    EXPECT_FALSE(dlg.VerifyJobNameStep()); // not empty, but blanks leave no name for its archives
    dlg.txtBackupJobName->setText(" . ");
    EXPECT_FALSE(dlg.VerifyJobNameStep());

    dlg.txtBackupJobName->setText("Job");
    Seam->Clear();
    // Target folder checks. Cancel to the offer: nothing is created.
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
    ExpectBox(Seam->Messages()[1], "Create failure", Icon::Exclamation, "Failed to creat target directory");

    // A symbolic link to itself: looking the folder up fails with an error, not "missing".
    Seam->Clear();
    std::filesystem::create_directory_symlink(Root + "loop", Root + "loop");
    dlg.txtTargDir->setText(Q(Root + "loop/inner/"));
    bool bFatal = false;
    try {
        EXPECT_FALSE(dlg.VerifyTargetDirectoryStep());
    } catch (const libErrorHandler::FatalApplicationError&) {
        bFatal = true;
    }
    EXPECT_FALSE(bFatal);
    ASSERT_GE(Seam->Messages().size(), 1u);
    EXPECT_EQ(Seam->Messages()[0].Text, "Disk Error - cannot locate target dir.");
    EXPECT_EQ(Seam->Messages()[0].Title, "Disk Error");
    const std::string sReport = ReadFile(libLog::ErrorFileName());
    EXPECT_NE(sReport.find("VerifyTargetDirectoryStep()"), std::string::npos);
    EXPECT_NE(sReport.find("frmJobOptions/"), std::string::npos);
    EXPECT_TRUE(dlg.fraOptions[0]->isVisibleTo(&dlg));
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
    EXPECT_TRUE(Click(dlg2.cmdOK).empty());
    EXPECT_TRUE(dlg2.JobSaved());
    EXPECT_EQ(never.TargetDirectory(), Root + "elsewhere/");
}
