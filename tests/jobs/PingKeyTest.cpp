// A job's monitoring ping address in its job file (PingUrl): absent in older files, which save
// byte for byte as before; written once set, read back trimmed, kept empty once turned off.

#include "common/HandJobFolder.h"

namespace {

class PingKey : public HandJobFolder {};

TEST_F(PingKey, AbsentStaysAbsentAndASetAddressIsReadBack) {
    const std::string sPath = HandJob("Docs", "Password=\r\n");
    const std::string sBefore = ReadFile(sPath);
    CBackupJob job = Load(sPath);
    EXPECT_EQ(job.PingUrl(), "");
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    EXPECT_EQ(ReadFile(sPath), sBefore);

    job.SetPingUrl("  https://hc.example.org/ping/abc  ");
    EXPECT_TRUE(job.Changed());
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    EXPECT_NE(ReadFile(sPath).find("\r\nPingUrl=https://hc.example.org/ping/abc\r\n"), std::string::npos);
    EXPECT_EQ(Load(sPath).PingUrl(), "https://hc.example.org/ping/abc");

    CBackupJob off = Load(sPath);
    off.SetPingUrl("");
    ASSERT_FALSE(off.SaveBackupJobIniFile());
    EXPECT_NE(ReadFile(sPath).find("\r\nPingUrl=\r\n"), std::string::npos);
    EXPECT_EQ(Load(sPath).PingUrl(), "");
}

} // namespace
