// A job's drive keys (TargetVolume, RunOnConnect) in its job file, and the mount table as the
// drive checks read it. Files without the keys load with the volume unknown and save byte for
// byte as before; a new target folder forgets the volume.

#include "common/HandJobFolder.h"
#include "jobs/TargetDrive.h"

#include <sys/sysmacros.h>

namespace {

class DriveKeys : public HandJobFolder {};

TEST_F(DriveKeys, OlderFilesKeepTheirBytesAndNewKeysReadBack) {
    const std::string sOld = HandJob("Old", "Password=\r\n", "");
    const std::string sBefore = ReadFile(sOld);
    CBackupJob old = Load(sOld);
    EXPECT_EQ(old.TargetVolume(), "");
    EXPECT_FALSE(old.RunOnConnect());
    EXPECT_EQ(TargetDrive::Locate(old), TargetDrive::Where::Unknown) << "no volume: judged as before";
    ASSERT_FALSE(old.SaveBackupJobIniFile());
    EXPECT_EQ(ReadFile(sOld), sBefore);

    const std::string sPath = HandJob("Laptop", "Password=\r\n",
                                      "TargetVolume= 0820f8e2-cbf6-4f27-9d2b-c0d72e725fce \r\nRunOnConnect=-1\r\n");
    CBackupJob job = Load(sPath);
    EXPECT_EQ(job.TargetVolume(), "0820f8e2-cbf6-4f27-9d2b-c0d72e725fce");
    EXPECT_TRUE(job.RunOnConnect());
    job.SetRunOnConnect(false);
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    EXPECT_NE(ReadFile(sPath).find("\r\nRunOnConnect=0\r\n"), std::string::npos) << "turned off, kept in the file";
    // Another target may be on another drive: the volume is forgotten until a good run there.
    ASSERT_TRUE(job.RenameJobFile("/media/elsewhere/", "Laptop"));
    EXPECT_EQ(job.TargetVolume(), "");
}

TEST(MountTable, FieldsAreReadWithTheirEscapes) {
    const std::string sFile = ::testing::TempDir() + "mountinfo-test";
    std::ofstream(sFile) << "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n"
                            "61 22 7:15 / /media/me/My\\040Drive\\x rw,nosuid - ext4 /dev/loop15 rw\n"
                            "62 22 0:40 / /tmp rw master:3 propagation:x - tmpfs tmpfs rw\n"
                            "not a line of the table\n";
    const std::vector<TargetDrive::Mount> mounts = TargetDrive::ReadMounts(sFile);
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[1].MountPoint, "/media/me/My Drive\\x") << "a backslash without three octal digits is kept";
    EXPECT_EQ(mounts[1].Source, "/dev/loop15");
    EXPECT_EQ(mounts[1].Device, makedev(7, 15));
    EXPECT_EQ(mounts[2].Source, "tmpfs") << "optional fields before the separator are passed over";
    std::remove(sFile.c_str());
}

} // namespace
