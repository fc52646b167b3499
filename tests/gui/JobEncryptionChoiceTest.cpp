// The editor's choice of encryption beside the password: AES-256 for new protection, the job's
// own choice loaded and saved, both choices enabled only with the password.

#include "JobOptionsFixture.h"
#include "support/libIni.h"

namespace {

std::string EncryptionKey(const std::string& sJobFile) {
    IniFile ini;
    EXPECT_TRUE(ini.Load(sJobFile));
    return ini.Has("Config", "Encryption") ? ini.Get("Config", "Encryption") : "<none>";
}

} // namespace

TEST_F(JobOptionsTest, EncryptionChoiceIsOfferedWithThePasswordAndDefaultsToAes) {
    auto& dlg = Open();
    dlg.SetCurrentPage(4);
    EXPECT_EQ(S(dlg.optEncryption[0]->text()),
              "Encryption: AES-256 (recommended; opens in 7-Zip, WinZip and other AES-capable tools)");
    EXPECT_EQ(S(dlg.optEncryption[1]->text()), "Traditional (opens in any unzip; weak)");
    EXPECT_TRUE(dlg.optEncryption[0]->isChecked());
    EXPECT_FALSE(dlg.optEncryption[0]->isEnabled());
    EXPECT_FALSE(dlg.optEncryption[1]->isEnabled());
    dlg.chkPasswordProtect->setChecked(true);
    EXPECT_TRUE(dlg.optEncryption[0]->isEnabled());
    EXPECT_TRUE(dlg.optEncryption[1]->isEnabled());
    dlg.optEncryption[1]->setChecked(true);
    EXPECT_FALSE(dlg.optEncryption[0]->isChecked()) << "the two exclude each other";
    dlg.optCompression[0]->setChecked(true); // a copy job has no password
    EXPECT_FALSE(dlg.optEncryption[0]->isEnabled());
}

TEST_F(JobOptionsTest, EncryptionChoiceRoundTripsThroughTheJobFile) {
    // An old protected job: traditional, and saved without the key while nobody changes it.
    MakeExistingJob("Secret");
    Job.SetPassword("pw");
    ASSERT_FALSE(Job.SaveBackupJobIniFile());
    auto& same = Open({"Secret"}, 0);
    EXPECT_TRUE(same.optEncryption[1]->isChecked());
    ASSERT_NO_FATAL_FAILURE(OkAndSave(same));
    EXPECT_EQ(EncryptionKey(Job.FileName()), "<none>");

    auto& toAes = Open({"Secret"}, 0);
    toAes.optEncryption[0]->setChecked(true);
    ASSERT_NO_FATAL_FAILURE(OkAndSave(toAes));
    EXPECT_EQ(EncryptionKey(Job.FileName()), "AES256");
    CBackupJob loaded;
    ASSERT_FALSE(loaded.OpenBackupJob(Job.FileName()));
    EXPECT_EQ(loaded.Encryption(), CBackupJob::EncryptionKind::Aes256);

    auto& back = Open({"Secret"}, 0);
    EXPECT_TRUE(back.optEncryption[0]->isChecked());
    back.optEncryption[1]->setChecked(true);
    ASSERT_NO_FATAL_FAILURE(OkAndSave(back));
    EXPECT_EQ(EncryptionKey(Job.FileName()), "Traditional");

    // A job without a password: saved as it was; given one, it is offered AES-256.
    Job = CBackupJob();
    MakeExistingJob("Open");
    auto& open = Open({"Open"}, 0);
    ASSERT_NO_FATAL_FAILURE(OkAndSave(open));
    EXPECT_EQ(EncryptionKey(Job.FileName()), "<none>");
    auto& protect = Open({"Open"}, 0);
    EXPECT_TRUE(protect.optEncryption[0]->isChecked());
    protect.chkPasswordProtect->setChecked(true);
    protect.txtPassword->setText("new secret");
    ASSERT_NO_FATAL_FAILURE(OkAndSave(protect));
    EXPECT_EQ(EncryptionKey(Job.FileName()), "AES256");
}
