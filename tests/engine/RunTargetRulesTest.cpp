// A job's target and sources must be absolute before a run writes anything: otherwise the backup
// would land wherever the program happened to be started.

#include "RunTestSupport.h"

#include "engine/CBackupJobRun.h"
#include "engine/libRetention.h"
#include "support/libFiles.h"
#include "support/libLog.h"

#include <unistd.h>

using namespace runtest;

namespace {

class TargetRules : public RunFixture {
protected:
    // Runs from inside the source folder, so that a relative name would resolve to something real.
    bool RunFromSource(CBackupJob& job) {
        char sOld[4096];
        if (::getcwd(sOld, sizeof sOld) == nullptr) return false;
        EXPECT_EQ(::chdir(Src.c_str()), 0);
        const bool bAbandoned = BackupRun::ExecuteBackupNow(job, nullptr);
        EXPECT_EQ(::chdir(sOld), 0);
        return bAbandoned;
    }
};

TEST_F(TargetRules, TargetsThatAreNoAbsoluteFolderAreRefusedBeforeAnythingIsWritten) {
    Source("a.txt", "a");
    for (const bool bCompress : {true, false}) {
        for (const std::string sTarget : {"", "-1", "bk/", "bk"}) {
            SCOPED_TRACE(sTarget + (bCompress ? " zip" : " copy"));
            ClearLog();
            CBackupJob job = MakeJob("Job", {Src + "*.*"}, bCompress);
            job.SetTargetDirectoryRaw(sTarget);
            const int32_t lRunsBefore = job.RunCount();
            EXPECT_TRUE(RunFromSource(job));
            EXPECT_TRUE(job.Failure());
            EXPECT_EQ(job.RunCount(), lRunsBefore); // abandoned: nothing recorded
            EXPECT_TRUE(LogHas("Invalid target directory: '" + sTarget + "'."));
            EXPECT_EQ(EntryNames(Src), std::set<std::string>{"a.txt"});
        }
    }
}

TEST_F(TargetRules, ATargetWithoutItsFinalSlashStillHoldsTheBackup) {
    Source("a.txt", "a");
    CBackupJob zip = MakeJob("Job", {Src + "*.*"});
    zip.SetTargetDirectoryRaw(libFiles::RemoveTrailingSlash(Tgt));
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(zip, nullptr));
    EXPECT_TRUE(Exists(Tgt + "Job.zip"));
    EXPECT_FALSE(Exists(libFiles::RemoveTrailingSlash(Tgt) + "Job.zip"));
    EXPECT_EQ(libRetention::LatestZip(zip), Tgt + "Job.zip");

    CBackupJob copy = MakeJob("Copy", {Src + "*.*"}, false);
    copy.SetTargetDirectoryRaw(libFiles::RemoveTrailingSlash(Tgt));
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(copy, nullptr));
    EXPECT_EQ(ReadFile(Tgt + "src/a.txt"), "a");
}

TEST_F(TargetRules, RelativeSourcesAreRefusedAndAnEmptyListIsNamedMissing) {
    Source("a.txt", "a");
    CBackupJob job = MakeJob("Job", {Src + "*.*", "a.txt"}, false);
    EXPECT_TRUE(RunFromSource(job));
    EXPECT_TRUE(LogHas("Invalid source, not an absolute path: 'a.txt'."));
    EXPECT_FALSE(Exists(Tgt + "src"));

    ClearLog();
    CBackupJob empty = MakeJob("Empty", {}, false);
    EXPECT_TRUE(BackupRun::ExecuteBackupNow(empty, nullptr));
    EXPECT_TRUE(LogHas("Stowline Pre-Emptive Error, file to backup does not exist: ''."));
}

} // namespace
