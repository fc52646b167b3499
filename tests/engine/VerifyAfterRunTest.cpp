// The check after a zip run reads every entry's data: one bit flipped inside an entry's data
// (stored or deflated), with the archive's directory and headers untouched, fails it naming the
// entry, where a look at the directory alone would pass. The archive as written passes.

#include "RunTestSupport.h"

#include "engine/libVerify.h"

using namespace runtest;

namespace {

class VerifyAfterRun : public RunFixture {};

} // namespace

TEST_F(VerifyAfterRun, ABitFlippedInsideAnEntrysDataFailsTheCheckNamingIt) {
    const std::string sNoise = Source("sub/noise.bin", Noise(300000, 3)); // stored as it is
    std::string sText;
    for (int i = 0; i < 8000; ++i)
        sText += "line " + std::to_string(i) + " of a text that deflates well\n";
    const std::string sDeflated = Source("sub/text.txt", sText);
    Source("a.txt", "alpha");
    CBackupJob job = MakeJob("Job", {Src.substr(0, Src.size() - 1)});
    ASSERT_FALSE(BackupRun::ExecuteBackupNow(job));
    ASSERT_FALSE(job.Failure());
    const std::string sZip = Tgt + "Job.zip";
    ASSERT_TRUE(libVerify::VerifyAfterRun(job, sZip, INT64_MAX));
    ASSERT_TRUE(LogHas("  Verified the new backup"));
    const std::string sSound = ReadFile(sZip);

    const struct {
        std::string Path;
        const char* Method; // what the archive holds the entry as: 0 stored, 8 deflated
    } cases[] = {{sNoise, "0"}, {sDeflated, "8"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        WriteFile(sZip, sSound);
        ClearLog();
        const std::string sOut = Root + "method";
        ASSERT_EQ(ziptest::Tool("flip_data", {"--mask", "0x10", "--method", sOut, sZip, Stored(c.Path)}), 0);
        EXPECT_EQ(ReadFile(sOut), c.Method);
        // Its directory and headers read as sound: the entries are listed, none says it is damaged.
        std::vector<libRestore::Entry> entries;
        std::string sError;
        ASSERT_EQ(libRestore::ReadContents(job, libRestore::ListBackups(job)[0], entries, sError),
                  libRestore::Status::Ok)
            << sError;
        EXPECT_EQ(entries.size(), 3u + 2u); // three files, the folders "src/" and "src/sub/"
        for (const auto& e : entries)
            EXPECT_EQ(e.Damage, "") << e.Name;
        // Only reading the data tells.
        EXPECT_FALSE(libVerify::VerifyAfterRun(job, sZip, INT64_MAX));
        EXPECT_TRUE(LogHasPrefixSuffix("  Verify failed: '" + Stored(c.Path) + "': damaged: ", ""));
        EXPECT_FALSE(LogHas("  Verified the new backup"));
        EXPECT_NE(ziptest::Shell("unzip -tqq '" + sZip + "' >/dev/null 2>&1"), 0);
    }
}
