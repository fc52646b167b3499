// The keyring check box of the job editor, and the keyring entry following its job through the
// main window's rename (the editor), copy and delete. The same walk runs against the real desktop
// keyring when tests/cli/keyring-tests.sh starts this program inside its keyring session
// (STOWLINE_KEYRING_SESSION=1); elsewhere that case is skipped.

#include "JobOptionsFixture.h"
#include "ScheduleTestFixture.h"
#include "app/KeyringVault.h"
#include "common/MemoryVault.h"
#include "engine/BackupRun.h"
#include "ui/frmRestore.h"

#include <QStatusBar>
#include <QTreeWidgetItemIterator>

namespace {

using PasswordVault::Status;

std::string Stored(const std::string& sJobName) {
    const PasswordVault::Result r = PasswordVault::Current().Read(sJobName);
    return r.Done() ? r.Value : r.State == Status::NotFound ? "<none>" : "<unreachable: " + r.Reason + ">";
}

// Whether the box can be clicked once its page is shown.
bool BoxEnabled(const frmJobOptions& dlg) { return dlg.chkKeyring->isEnabledTo(dlg.fraOptions[4]); }

class KeyringEditor : public JobOptionsTest {
protected:
    MemoryVaultScope Keyring;
    std::string FileText() { return ReadFile(Job.FileName()); }
};

TEST_F(KeyringEditor, TheBoxIsCheckedWhenAKeyringAnswersAndOffWithItsReasonWhenNone) {
    auto& fresh = Open();
    EXPECT_TRUE(fresh.chkKeyring->isChecked());
    EXPECT_FALSE(BoxEnabled(fresh)) << "no password to keep yet";
    fresh.chkPasswordProtect->setChecked(true);
    EXPECT_TRUE(BoxEnabled(fresh));
    fresh.optCompression[0]->setChecked(true);
    EXPECT_FALSE(BoxEnabled(fresh));

    Keyring.Vault().Reachable = false;
    auto& none = Open();
    none.chkPasswordProtect->setChecked(true);
    EXPECT_FALSE(none.chkKeyring->isChecked());
    EXPECT_FALSE(BoxEnabled(none));
    EXPECT_NE(S(none.chkKeyring->toolTip()).find("the test keyring is off"), std::string::npos);
    // Probed once when the editor opened, not at every click.
    EXPECT_EQ(Keyring.Vault().Calls.size(), 2u);
}

TEST_F(KeyringEditor, SavingWritesTheKeyringAndNeverTheFile) {
    MakeExistingJob("Mail");
    auto& dlg = Open({"Mail"}, 0);
    EXPECT_TRUE(dlg.chkKeyring->isChecked()); // no password yet: the keyring is the default
    dlg.chkPasswordProtect->setChecked(true);
    dlg.txtPassword->setText("typed secret");
    ASSERT_NO_FATAL_FAILURE(OkAndSave(dlg));
    EXPECT_EQ(Keyring.Vault().Entries["Mail"], "typed secret");
    EXPECT_NE(FileText().find("\r\nPasswordStore=Keyring\r\n"), std::string::npos);
    EXPECT_NE(FileText().find("\r\nPassword=\r\n"), std::string::npos);
    EXPECT_EQ(FileText().find(CBackupJob::PasswordToFileValue("typed secret")), std::string::npos);

    // Opened again: the password comes back from the keyring. Cleared: it goes back to the
    // file, and the entry goes.
    CBackupJob loaded;
    ASSERT_FALSE(loaded.OpenBackupJob(Job.FileName()));
    Job = loaded;
    auto& again = Open({"Mail"}, 0);
    EXPECT_TRUE(again.chkKeyring->isChecked());
    EXPECT_EQ(S(again.txtPassword->text()), "typed secret");
    again.chkKeyring->setChecked(false);
    ASSERT_NO_FATAL_FAILURE(OkAndSave(again));
    EXPECT_EQ(Keyring.Vault().Entries.count("Mail"), 0u);
    EXPECT_NE(FileText().find("\r\nPassword=" + CBackupJob::PasswordToFileValue("typed secret") + "\r\n"),
              std::string::npos);
    EXPECT_NE(FileText().find("\r\nPasswordStore=File\r\n"), std::string::npos);
}

TEST_F(KeyringEditor, AKeyringThatCannotBeWrittenIsAMessageAndNoSave) {
    MakeExistingJob("Mail");
    Job.SetPasswordInKeyring(true);
    ASSERT_FALSE(Job.SaveBackupJobIniFile());
    const std::string sBefore = FileText();
    Keyring.Vault().Reachable = false;
    auto& dlg = Open({"Mail"}, 0);
    // Still shown as kept in the keyring: the password is not moved into the file unasked.
    EXPECT_TRUE(dlg.chkKeyring->isChecked());
    EXPECT_TRUE(dlg.chkPasswordProtect->isChecked());
    dlg.txtPassword->setText("new secret");
    dlg.cmdOK->click();
    EXPECT_FALSE(dlg.JobSaved());
    EXPECT_NE(LastText().find("The password of job 'Mail' is kept in the desktop keyring, which cannot be reached: "
                              "the test keyring is off"),
              std::string::npos);
    EXPECT_NE(LastText().find("The job is not saved."), std::string::npos);
    EXPECT_EQ(FileText(), sBefore);
    EXPECT_TRUE(Job.PasswordInKeyring());
}

// The entry follows the job through the main window: renamed in the editor, copied, deleted.
class KeyringJobCommands : public ScheduleTest {
protected:
    ModalScript Script;

    void WalkTheEntryThroughRenameCopyAndDelete() {
        SaveJob("Keyring Walk", true);
        {
            CBackupJob job = LoadJob(CBackupJob::JobFileNameFor("Keyring Walk"));
            job.SetPasswordInKeyring(true);
            ASSERT_FALSE(job.SaveBackupJobIniFile());
        }
        ASSERT_TRUE(PasswordVault::Current().Write("Keyring Walk", "first secret").Done());
        Form->RefreshScheduleForm();

        Select({"Keyring Walk"});
        DriveDialog<frmJobOptions>(Script, [&](frmJobOptions& dlg) {
            EXPECT_TRUE(dlg.chkKeyring->isChecked());
            EXPECT_EQ(S(dlg.txtPassword->text()), "first secret");
            dlg.txtBackupJobName->setText("Keyring Renamed");
            dlg.txtPassword->setText("second secret");
            dlg.cmdOK->click();
        });
        Form->cmdEditJob_Click();
        EXPECT_EQ(Stored("Keyring Renamed"), "second secret");
        EXPECT_EQ(Stored("Keyring Walk"), "<none>");
        const std::string sFile = ReadFile(CBackupJob::JobFileNameFor("Keyring Renamed"));
        EXPECT_NE(sFile.find("\r\nPasswordStore=Keyring\r\n"), std::string::npos);
        EXPECT_NE(sFile.find("\r\nPassword=\r\n"), std::string::npos);
        EXPECT_EQ(sFile.find("second"), std::string::npos);

        Select({"Keyring Renamed"});
        DriveDialog<frmJobOptions>(Script, [&](frmJobOptions& dlg) { dlg.cmdCancel->click(); });
        Form->cmdCopyJob_Click();
        EXPECT_EQ(Stored("Copy of Keyring Renamed"), "second secret");

        Select({"Copy of Keyring Renamed"});
        Seam->Answers = {Answer::Yes};
        Form->cmdDelJob_Click();
        EXPECT_EQ(Stored("Copy of Keyring Renamed"), "<none>");
        EXPECT_EQ(Stored("Keyring Renamed"), "second secret");

        Select({"Keyring Renamed"});
        Seam->Answers = {Answer::Yes};
        Form->cmdDelJob_Click();
        EXPECT_EQ(Stored("Keyring Renamed"), "<none>");
        EXPECT_EQ(Rows(), 0);
    }
};

TEST_F(KeyringJobCommands, TheEntryFollowsRenameCopyAndDelete) {
    MemoryVaultScope keyring;
    WalkTheEntryThroughRenameCopyAndDelete();
    EXPECT_TRUE(keyring.Vault().Entries.empty());
}

// The real keyring: only inside the session the keyring script starts.
using KeyringSession = KeyringJobCommands;
TEST_F(KeyringSession, TheEntryFollowsRenameCopyAndDeleteInTheDesktopKeyring) {
    const char* s = std::getenv("STOWLINE_KEYRING_SESSION");
    if (s == nullptr || std::string(s) != "1") GTEST_SKIP() << "run by tests/cli/keyring-tests.sh in its session";
    auto previous = PasswordVault::Install(std::make_unique<KeyringVault>());
    WalkTheEntryThroughRenameCopyAndDelete();
    PasswordVault::Install(std::move(previous));
}

using KeyringTick = TempJobFolder;

// The agents' road: a scheduled run without its password is a failure reported once with the
// keyring's line, recorded, so that the job waits for its next moment instead of every tick.
TEST_F(KeyringTick, AScheduledRunWithoutThePasswordIsReportedOnceWithTheKeyringsLine) {
    MemoryVaultScope keyring;
    keyring.Vault().Reachable = false;
    StartJobs(libDates::DateSerial(2027, 3, 10) + libDates::TimeSerial(12, 0, 0), true);
    std::string sText = ReadFile(WriteCopyJob("Mail"));
    sText.replace(sText.find("Compress=0"), 10, "Compress=-1");
    sText.replace(sText.find("Password=\r\n"), 11, "Password=\r\nPasswordStore=Keyring\r\n");
    const std::string sFile = WriteFile(App + "BackupJobs/Mail.slj", sText);
    JobManager()->Reload();
    JobManager()->BackupsToRun(Now);
    SetNow(libDates::DateSerial(2027, 3, 10) + libDates::TimeSerial(12, 6, 0));

    SchedulerTick::CSchedulerTick tick;
    RecordingHost host;
    EXPECT_EQ(tick.Tick(host), 1);
    EXPECT_EQ(tick.Tick(host), 0) << "recorded: not due again before its next moment";
    ASSERT_EQ(host.Failures.size(), 1u);
    EXPECT_EQ(host.Failures[0], "Mail: The password of job 'Mail' is kept in the desktop keyring, which cannot be "
                                "reached: the test keyring is off");
    EXPECT_EQ(RunCountOf(sFile), 1);
    EXPECT_TRUE(std::filesystem::is_empty(Root + "target-Mail/"));
}

// "Verify Backup" and the restore window read a keyring job's archives with the keyring's
// password, and say why when no keyring answers.
using KeyringReads = ScheduleTest;

TEST_F(KeyringReads, VerifyAndRestoreTakeThePasswordFromTheKeyring) {
    MemoryVaultScope keyring;
    keyring.Vault().Entries["Locked"] = "kept secret";
    {
        CBackupJob job = LoadJob(SaveJob("Locked", true));
        job.SetPasswordInKeyring(true);
        ASSERT_FALSE(job.SaveBackupJobIniFile());
    }
    Form->RefreshScheduleForm();
    BackupRun::ExecuteBackup(*JobManager(), frmSchedule::RowTag(RowNamed("Locked")));
    const std::string sZip = Root + "target-Locked/Locked.zip";
    ASSERT_TRUE(Exists(sZip));
    EXPECT_EQ(ReadFile(sZip).find("payload of Locked"), std::string::npos);
    // What the list holds afterwards comes from the job file: no password in it.
    Form->RefreshScheduleForm();
    Select({"Locked"});

    Seam->Clear();
    Form->mnuActionVerify_Click();
    ASSERT_EQ(Seam->Messages().size(), 1u);
    EXPECT_EQ(Seam->Messages()[0].Text, "The newest backup of Locked reads back whole:\r\n" + sZip);

    const std::string sOut = Root + "out";
    ModalScript script;
    DriveDialog<frmRestore>(script, [&](frmRestore& d) {
        ASSERT_EQ(d.lvwBackups->topLevelItemCount(), 1);
        d.lvwBackups->setCurrentItem(d.lvwBackups->topLevelItem(0));
        for (QTreeWidgetItemIterator it(d.tvwContents); *it; ++it)
            (*it)->setSelected(true);
        d.optFolder->setChecked(true);
        d.txtToFolder->setText(Q(sOut));
        d.cmdRestore->click();
        EXPECT_EQ(d.LastReport().Restored, 1);
        d.cmdClose->click();
    });
    Form->mnuActionRestore_Click();
    EXPECT_EQ(script.Handled(), 1);
    EXPECT_EQ(ReadFile(sOut + Root + "src-Locked/data.txt"), "payload of Locked\n");

    // No keyring: each says why (the restore window still opens, to be given the password).
    keyring.Vault().Reachable = false;
    const std::string sWhy =
        "The password of job 'Locked' is kept in the desktop keyring, which cannot be reached: the test keyring is off";
    Seam->Clear();
    Form->mnuActionVerify_Click();
    ASSERT_EQ(Seam->Messages().size(), 1u);
    EXPECT_EQ(Seam->Messages()[0].Text, sWhy);
    EXPECT_EQ(Seam->Messages()[0].Title, "Verify Backup");
    Seam->Clear();
    ModalScript closing;
    DriveDialog<frmRestore>(closing, [&](frmRestore& d) { d.cmdClose->click(); });
    Form->mnuActionRestore_Click();
    EXPECT_EQ(closing.Handled(), 1);
    ASSERT_FALSE(Seam->Messages().empty());
    EXPECT_EQ(Seam->Messages()[0].Text, sWhy);
    EXPECT_EQ(Seam->Messages()[0].Title, "Restore Files");
}

} // namespace
