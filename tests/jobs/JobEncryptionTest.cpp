// The job key Encryption: AES256 or Traditional; a file without it reads Traditional and is saved
// byte for byte as it was; the key is written once it differs, and kept afterwards.

#include "common/TempAppFolder.h"
#include "jobs/CBackupJob.h"
#include "support/libIni.h"

#include <gtest/gtest.h>

namespace {

using Kind = CBackupJob::EncryptionKind;

class JobEncryption : public TempAppFolder {
protected:
    std::string Job(const std::string& sLines) {
        return WriteFile(App + "BackupJobs/hand.slj", "[Config]\r\nJobName=Hand\r\nPassword=abc\r\n" + sLines);
    }
    static CBackupJob Load(const std::string& sPath) {
        CBackupJob job;
        EXPECT_FALSE(job.OpenBackupJob(sPath)) << sPath;
        return job;
    }
};

TEST_F(JobEncryption, AnOldFileReadsTraditionalAndSavesUnchanged) {
    const std::string sPath =
        WriteFile(App + "BackupJobs/old.slj",
                  "[Config]\r\nJobName=Old\r\nDateLastRun=Dec-05-2001 18:34\r\nDateLastSuccess=Dec-05-2001 18:34\r\n"
                  "SizeLastRun=12\r\nRunCount=3\r\nStartTime=07:05\r\nFrequency=1\r\nDayOfWeek=254\r\n"
                  "DayOfMonth=1\r\nCompress=-1\r\nCopyStyle=0\r\nKeepCount=0\r\nKeepPeriod=Copies\r\n"
                  "Password=\xc4\xc7\xc6\r\nParseSubDir=-1\r\nIncremental=0\r\nSuspended=0\r\n"
                  "PreBackupCommand=\r\nPostBackupCommand=\r\nTargetDir=/tmp/t/\r\n[Source]\r\nFile_0=/tmp/s/"
                  "*.*\r\n[Exclude]\r\n[OneShot]\r\n");
    CBackupJob job = Load(sPath);
    EXPECT_EQ(job.Encryption(), Kind::Traditional);
    EXPECT_EQ(job.Password(), "abc");
    // A file as the program wrote it before the key existed: saved again, byte for byte the same.
    const std::string sBefore = ReadFile(sPath);
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    EXPECT_EQ(ReadFile(sPath), sBefore);
    EXPECT_EQ(ReadFile(sPath).find("Encryption"), std::string::npos);
}

TEST_F(JobEncryption, ValuesRoundTripAndAreKeptOnceWritten) {
    EXPECT_EQ(Load(Job("Encryption=AES256\r\n")).Encryption(), Kind::Aes256);
    EXPECT_EQ(Load(Job("Encryption=Traditional\r\n")).Encryption(), Kind::Traditional);
    EXPECT_EQ(Load(Job("Encryption=Rot13\r\n")).Encryption(), Kind::Traditional) << "a damaged value: the default";

    CBackupJob job = Load(Job(""));
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
    CBackupJob aes = Load(Job("Encryption=AES256\r\n"));
    CBackupJob copy;
    copy.CopyJob(aes, "Copy");
    EXPECT_EQ(copy.Encryption(), Kind::Aes256);
}

} // namespace
