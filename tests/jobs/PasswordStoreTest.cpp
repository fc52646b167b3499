// A job's password in its job file: the Encryption key (AES256 or Traditional, written once it
// differs and kept afterwards), and where the password is kept: the PasswordStore key (older files
// load, as Traditional and File, and save byte for byte as before; with Keyring the file never holds a password, not
// even one read into memory), and reading it from the keyring for a run, a restore or a verify, and moving the entry
// with a renamed job.

#include "common/HandJobFolder.h"
#include "common/MemoryVault.h"
#include "jobs/JobPassword.h"
#include "support/libIni.h"

namespace {

class PasswordStore : public HandJobFolder {};

TEST_F(PasswordStore, AnOlderFileReadsAsFileAndSavesByteForByte) {
    // A scrambled password ("pw" XOR 0xA5) and one without any; neither file knows the key.
    for (const std::string& sLines : {std::string("Password=\xD5\xD2\r\n"), std::string("Password=\r\n")}) {
        const std::string sPath = HandJob("Old", sLines);
        const std::string sBefore = ReadFile(sPath);
        CBackupJob job = Load(sPath);
        EXPECT_FALSE(job.PasswordInKeyring());
        EXPECT_EQ(job.Encryption(), CBackupJob::EncryptionKind::Traditional);
        ASSERT_FALSE(job.SaveBackupJobIniFile());
        EXPECT_EQ(ReadFile(sPath), sBefore);
    }
    CBackupJob job = Load(HandJob("Old", "Password=\xD5\xD2\r\n"));
    EXPECT_EQ(job.Password(), "pw");
}

TEST_F(PasswordStore, KeyringJobsNeverWriteThePasswordToTheFile) {
    const std::string sPath = HandJob("Mail", "Password=\xD5\xD2\r\nPasswordStore=Keyring\r\n");
    const std::string sBefore = ReadFile(sPath);
    CBackupJob job = Load(sPath);
    EXPECT_TRUE(job.PasswordInKeyring());
    // A password left in the file beside Keyring is not taken: the keyring's is the one.
    EXPECT_EQ(job.Password(), "");
    // Read into memory for a run, changed in the editor: the file still holds none.
    job.SetPasswordRaw("from the keyring");
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    std::string sText = ReadFile(sPath);
    EXPECT_NE(sText.find("\r\nPassword=\r\n"), std::string::npos) << sText;
    EXPECT_NE(sText.find("\r\nPasswordStore=Keyring\r\n"), std::string::npos) << sText;
    EXPECT_EQ(sText.find("keyring\r\n"), std::string::npos);
    job.SetPassword("typed in the editor");
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    sText = ReadFile(sPath);
    EXPECT_EQ(sText.find(CBackupJob::PasswordToFileValue("typed in the editor")), std::string::npos);
    EXPECT_EQ(sText.find("typed"), std::string::npos);
    // Only the Password value changed from what was there (the key stays in its place).
    std::string sExpected = sBefore;
    sExpected.replace(sExpected.find("Password=\xD5\xD2"), 11, "Password=");
    EXPECT_EQ(sText, sExpected);
    // Case and blanks in the value do not matter.
    CBackupJob lower = Load(HandJob("Lower", "Password=\r\nPasswordStore = keyring \r\n"));
    EXPECT_TRUE(lower.PasswordInKeyring());
    CBackupJob other = Load(HandJob("Other", "Password=\xD5\xD2\r\nPasswordStore=Wallet\r\n"));
    EXPECT_FALSE(other.PasswordInKeyring());
    EXPECT_EQ(other.Password(), "pw");
}

TEST_F(PasswordStore, TurningTheKeyringOffWritesFileAndThePasswordAgain) {
    const std::string sPath = HandJob("Mail", "Password=\r\nPasswordStore=Keyring\r\n");
    CBackupJob job = Load(sPath);
    job.SetPasswordInKeyring(false);
    EXPECT_TRUE(job.Changed());
    job.SetPassword("pw");
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    const std::string sText = ReadFile(sPath);
    EXPECT_NE(sText.find("\r\nPassword=\xD5\xD2\r\n"), std::string::npos);
    EXPECT_NE(sText.find("\r\nPasswordStore=File\r\n"), std::string::npos);
    // A new job that keeps its password in the keyring gets the key; a copy keeps the setting.
    CBackupJob fresh;
    fresh.CopyJob(CBackupJob(), "Fresh");
    fresh.SetPasswordInKeyring(true);
    fresh.SetPassword("pw");
    ASSERT_FALSE(fresh.SaveBackupJobIniFile());
    EXPECT_NE(ReadFile(JobPath("Fresh")).find("\r\nPasswordStore=Keyring\r\n"), std::string::npos);
    EXPECT_NE(ReadFile(JobPath("Fresh")).find("\r\nPassword=\r\n"), std::string::npos);
    CBackupJob copy;
    copy.CopyJob(fresh, "Copy of Fresh");
    EXPECT_TRUE(copy.PasswordInKeyring());
    CBackupJob cleared = fresh;
    cleared.Clear();
    EXPECT_FALSE(cleared.PasswordInKeyring());
}

TEST_F(PasswordStore, FetchReadsTheKeyringOnlyForKeyringJobs) {
    MemoryVaultScope scope;
    MemoryVault& vault = scope.Vault();
    vault.Entries["Mail"] = "kept";
    std::string sProblem;

    CBackupJob inFile = Load(HandJob("Plain", "Password=\xD5\xD2\r\n"));
    EXPECT_TRUE(JobPassword::Fetch(inFile, sProblem));
    EXPECT_EQ(inFile.Password(), "pw");
    EXPECT_TRUE(vault.Calls.empty()); // a job with its password in the file never asks

    CBackupJob mail = Load(HandJob("Mail", "Password=\r\nPasswordStore=Keyring\r\n"));
    ASSERT_FALSE(mail.SaveBackupJobIniFile()); // clears Changed
    EXPECT_TRUE(JobPassword::Fetch(mail, sProblem));
    EXPECT_EQ(mail.Password(), "kept");
    EXPECT_EQ(sProblem, "");
    EXPECT_FALSE(mail.Changed()); // read for a run: nothing to save

    CBackupJob missing = Load(HandJob("Photos", "Password=\r\nPasswordStore=Keyring\r\n"));
    EXPECT_FALSE(JobPassword::Fetch(missing, sProblem));
    EXPECT_EQ(sProblem, "The password of job 'Photos' is kept in the desktop keyring, which cannot be reached: no "
                        "password is stored for it");
    EXPECT_EQ(missing.Password(), "");

    vault.Entries["Photos"] = "";
    EXPECT_FALSE(JobPassword::Fetch(missing, sProblem)) << "an empty entry would make an unprotected archive";
    EXPECT_EQ(missing.Password(), "");

    vault.Reachable = false;
    CBackupJob down = Load(JobPath("Mail"));
    EXPECT_FALSE(JobPassword::Fetch(down, sProblem));
    EXPECT_EQ(sProblem, "The password of job 'Mail' is kept in the desktop keyring, which cannot be reached: the "
                        "test keyring is off");
    EXPECT_EQ(down.Password(), "");
}

TEST_F(PasswordStore, MovingAnEntryKeepsOneWrittenUnderTheNewNameAndDropsTheOld) {
    MemoryVaultScope scope;
    MemoryVault& vault = scope.Vault();
    vault.Entries["Old"] = "old password";
    EXPECT_TRUE(JobPassword::MoveEntry("Old", "New").Done());
    EXPECT_EQ(vault.Entries, (std::map<std::string, std::string>{{"New", "old password"}}));

    // The editor writes the new password under the new name before the rename: it stays.
    vault.Entries["Newer"] = "new password";
    EXPECT_TRUE(JobPassword::MoveEntry("New", "Newer").Done());
    EXPECT_EQ(vault.Entries, (std::map<std::string, std::string>{{"Newer", "new password"}}));

    EXPECT_EQ(JobPassword::MoveEntry("Gone", "Elsewhere").State, PasswordVault::Status::NotFound);
    EXPECT_EQ(vault.Entries.count("Elsewhere"), 0u);

    vault.Reachable = false;
    EXPECT_EQ(JobPassword::MoveEntry("Newer", "Newest").State, PasswordVault::Status::Unreachable);
    vault.Reachable = true;
    EXPECT_EQ(vault.Entries.count("Newer"), 1u) << "nothing is lost when the keyring does not answer";

    // Copies read and write; the original stays.
    EXPECT_TRUE(PasswordVault::Copy("Newer", "Copy of Newer").Done());
    EXPECT_EQ(vault.Entries["Copy of Newer"], "new password");
    EXPECT_EQ(vault.Entries["Newer"], "new password");
}

TEST_F(PasswordStore, EncryptionValuesRoundTripAndAreKeptOnceWritten) {
    using Kind = CBackupJob::EncryptionKind;
    EXPECT_EQ(Load(HandJob("A", "Encryption=AES256\r\n")).Encryption(), Kind::Aes256);
    EXPECT_EQ(Load(HandJob("T", "Encryption=Traditional\r\n")).Encryption(), Kind::Traditional);
    EXPECT_EQ(Load(HandJob("R", "Encryption=Rot13\r\n")).Encryption(), Kind::Traditional)
        << "a damaged value: the default";

    CBackupJob job = Load(HandJob("Hand", "Password=\xD5\xD2\r\n"));
    job.SetEncryption(Kind::Aes256);
    EXPECT_TRUE(job.Changed());
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    IniFile ini;
    ASSERT_TRUE(ini.Load(job.FileName()));
    EXPECT_EQ(ini.Get("Config", "Encryption"), "AES256");
    EXPECT_EQ(Load(job.FileName()).Encryption(), Kind::Aes256);

    // Back to traditional: the key stays, saying so.
    job.SetEncryption(Kind::Traditional);
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    ASSERT_TRUE(ini.Load(job.FileName()));
    EXPECT_EQ(ini.Get("Config", "Encryption"), "Traditional");
    EXPECT_EQ(Load(job.FileName()).Encryption(), Kind::Traditional);

    // A copy of a job takes its encryption.
    CBackupJob copy;
    copy.CopyJob(Load(HandJob("A", "Encryption=AES256\r\n")), "Copy");
    EXPECT_EQ(copy.Encryption(), Kind::Aes256);
}

TEST(PasswordVaultSeam, WithoutAnInstalledKeyringNothingIsReachable) {
    const PasswordVault::Result r = PasswordVault::Current().Read("Mail");
    EXPECT_EQ(r.State, PasswordVault::Status::Unreachable);
    EXPECT_FALSE(r.Reason.empty());
    EXPECT_EQ(PasswordVault::Current().Write("Mail", "x").State, PasswordVault::Status::Unreachable);
}

} // namespace
