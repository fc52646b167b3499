// Zip jobs whose password is kept in the keyring: the run reads it before it writes anything and
// protects the archive with it; without it (no keyring, no entry) the run fails with one line and
// makes no archive at all, neither unprotected nor otherwise; the job file never gets it; a
// rename takes the entry along.

#include "RunTestSupport.h"
#include "common/MemoryVault.h"
#include "engine/libVerify.h"
#include "jobs/JobPassword.h"

using namespace runtest;
using ziptest::ReadArchive;

namespace {

class KeyringRun : public RunFixture {
protected:
    MemoryVaultScope Keyring;
    CBackupJob KeyringJob(const std::string& sName) {
        CBackupJob job = MakeJob(sName, {Src + "notes.txt", Src + "sub"});
        job.SetPasswordInKeyring(true);
        job.SetNumberCopies(3);
        return job;
    }
    void SetUp() override {
        RunFixture::SetUp();
        Source("notes.txt", "the only copy of my work");
        Source("sub/more.txt", "more of it");
    }
};

TEST_F(KeyringRun, TheRunProtectsTheArchiveWithTheKeyringsPassword) {
    Keyring.Vault().Entries["Mail"] = "from the keyring";
    CBackupJob job = KeyringJob("Mail");
    RunOk(job);
    ASSERT_TRUE(Exists(Tgt + "Mail.zip"));
    // Read back with that password; without it the entries do not open.
    const auto withPassword = ReadArchive(Tgt + "Mail.zip", "from the keyring");
    ASSERT_EQ(withPassword.size(), 3u); // notes.txt, sub/, sub/more.txt
    const auto notes = std::find_if(withPassword.begin(), withPassword.end(),
                                    [](const auto& entry) { return entry.first.ends_with("notes.txt"); });
    ASSERT_NE(notes, withPassword.end());
    EXPECT_EQ(notes->second, "the only copy of my work");
    for (const auto& [name, data] : ReadArchive(Tgt + "Mail.zip"))
        if (data != "/") {
            EXPECT_EQ(data, "<unreadable>") << name;
        }
    EXPECT_EQ(ReadFile(Tgt + "Mail.zip").find("the only copy"), std::string::npos);
    // The record saved by the run holds no password.
    const std::string sFile = ReadFile(job.FileName());
    EXPECT_NE(sFile.find("\r\nPassword=\r\n"), std::string::npos);
    EXPECT_NE(sFile.find("\r\nPasswordStore=Keyring\r\n"), std::string::npos);
    EXPECT_EQ(sFile.find(CBackupJob::PasswordToFileValue("from the keyring")), std::string::npos);
    for (const std::string& s : LogLines())
        EXPECT_EQ(s.find("from the keyring"), std::string::npos) << s;
    // A verify of the loaded job reads the archive once it has the password.
    CBackupJob loaded;
    ASSERT_FALSE(loaded.OpenBackupJob(job.FileName()));
    std::string sProblem, sWhy;
    ASSERT_TRUE(JobPassword::Fetch(loaded, sProblem)) << sProblem;
    EXPECT_TRUE(libVerify::VerifyNewest(loaded, sWhy)) << sWhy;
}

TEST_F(KeyringRun, WithoutThePasswordTheRunFailsAndWritesNothing) {
    struct Case {
        const char* Why;
        bool Reachable;
        const char* Reason;
    };
    for (const Case& c : {Case{"no entry", true, "no password is stored for it"},
                          Case{"no keyring", false, "the test keyring is off"}}) {
        SCOPED_TRACE(c.Why);
        ClearLog();
        Keyring.Vault().Reachable = c.Reachable;
        Keyring.Vault().Entries.clear();
        // An earlier archive stays as it is; no new one, unprotected or otherwise, appears.
        Touch(Tgt + "Mail.zip", "earlier");
        CBackupJob job = KeyringJob("Mail");
        job.SetPreBackupCommand("touch " + App + "pre-ran");
        job.SetRunCount(4);
        EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
        EXPECT_TRUE(job.Failure());
        const std::string sLine =
            std::string("The password of job 'Mail' is kept in the desktop keyring, which cannot be reached: ") +
            c.Reason;
        const auto lines = LogLines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), sLine), 1);
        ASSERT_GE(lines.size(), 2u);
        // The reason is the run's last line before its summary, which backed up nothing.
        EXPECT_EQ(lines[lines.size() - 2], sLine);
        EXPECT_EQ(lines.back().rfind("  Backed up 0 files (0 B) in ", 0), 0u) << lines.back();
        EXPECT_TRUE(lines.back().ends_with(", 0 B/s; 0 left out")) << lines.back();
        EXPECT_EQ(EntryNames(Tgt), std::set<std::string>{"Mail.zip"});
        EXPECT_EQ(ReadFile(Tgt + "Mail.zip"), "earlier");
        EXPECT_FALSE(Exists(App + "pre-ran")) << "nothing of the run began";
        // Recorded as a failed run, so that it is reported and waits for its next moment.
        EXPECT_EQ(job.RunCount(), 5);
        EXPECT_DOUBLE_EQ(job.DateLastFailure(), libDates::Now());
        EXPECT_EQ(job.Password(), "");
    }
}

TEST_F(KeyringRun, OnlyZipJobsThatKeepTheirPasswordInTheKeyringAskForIt) {
    CBackupJob inFile = MakeJob("Plain", {Src + "notes.txt"});
    inFile.SetPassword("in the file");
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(inFile));
    CBackupJob copies = MakeJob("Copies", {Src + "notes.txt"}, false);
    copies.SetPasswordInKeyring(true);
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(copies));
    EXPECT_FALSE(copies.Failure());
    EXPECT_TRUE(Keyring.Vault().Calls.empty());
    EXPECT_EQ(ReadArchive(Tgt + "Plain.zip", "in the file").begin()->second, "the only copy of my work");
}

TEST_F(KeyringRun, ARenameTakesTheEntryAlong) {
    MemoryVault& vault = Keyring.Vault();
    vault.Entries["Mail"] = "pw";
    vault.Entries["Other"] = "other";
    CBackupJob job = KeyringJob("Mail");
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    EXPECT_TRUE(BackupRun::RenameJob(job, Tgt, "Post", true));
    EXPECT_EQ(vault.Entries, (std::map<std::string, std::string>{{"Other", "other"}, {"Post", "pw"}}));

    // A job keeping its password in its file leaves the keyring alone.
    CBackupJob plain = MakeJob("Plain", {Src + "notes.txt"});
    ASSERT_FALSE(plain.SaveBackupJobIniFile());
    vault.Calls.clear();
    EXPECT_TRUE(BackupRun::RenameJob(plain, Tgt, "Plainer", true));
    EXPECT_TRUE(vault.Calls.empty());

    // No keyring: the rename is done, the entry stays under the old name, and the user is told.
    vault.Reachable = false;
    Seam->Clear();
    EXPECT_TRUE(BackupRun::RenameJob(job, Tgt, "Letters", true));
    EXPECT_EQ(job.JobName(), "Letters");
    ASSERT_EQ(Seam->Messages().size(), 1u);
    EXPECT_NE(Seam->Messages()[0].Text.find("The password of job 'Post' is kept in the desktop keyring, which "
                                            "cannot be reached: the test keyring is off"),
              std::string::npos);
    vault.Reachable = true;
    EXPECT_EQ(vault.Entries.count("Post"), 1u);
}

} // namespace
