// What a run says it did: each way a run can end is told apart from the others, and from a run
// that went through.

#include "RunTestSupport.h"
#include "engine/JobLock.h"

using namespace runtest;
using BackupRun::RunResult;

namespace {

using RunResults = RunFixture;

TEST_F(RunResults, EachEndOfARunHasItsOwnResult) {
    const std::string a = Source("a.txt", "alpha");
    CBackupJob job = MakeJob("Docs", {a});
    job.SetRunCount(2);

    // Another run going on in this process: this one is refused and marked failed.
    {
        RunState::RunningScope other;
        ASSERT_TRUE(other.Entered());
        EXPECT_EQ(BackupRun::RunNow(job), RunResult::Refused);
        EXPECT_TRUE(job.Failure());
        EXPECT_FALSE(Exists(Tgt + "Docs.zip"));
    }

    // Its backups read here: put off, nothing recorded, the failure left as it was.
    job.SetFailure(false);
    {
        JobLock::ReadScope read(job.FileName());
        ASSERT_FALSE(read.Busy());
        EXPECT_EQ(BackupRun::RunNow(job), RunResult::PutOff);
        EXPECT_FALSE(job.Failure());
        EXPECT_EQ(job.RunCount(), 2);
    }

    // Through: recorded and backed up.
    EXPECT_EQ(BackupRun::RunNow(job), RunResult::Completed);
    EXPECT_FALSE(job.Failure());
    EXPECT_EQ(job.RunCount(), 3);
    EXPECT_TRUE(ZipNames(Tgt + "Docs.zip").count(Stored(a)));

    // A source that is gone: given up, failed, not recorded.
    CBackupJob gone = MakeJob("Gone", {Src + "nothere.txt"});
    EXPECT_EQ(BackupRun::RunNow(gone), RunResult::Abandoned);
    EXPECT_TRUE(gone.Failure());
    EXPECT_EQ(gone.RunCount(), -1);

    // A source drive without a medium: stopped, failed, not recorded.
    ScriptedProbe probe;
    const std::string sFloppy = Src + "floppy/";
    probe.LookUpError = [sFloppy](const std::string& s) { return s == sFloppy ? ENOMEDIUM : 0; };
    CBackupJob floppy = MakeJob("Floppy", {sFloppy + "*.doc"});
    EXPECT_EQ(BackupRun::RunNow(floppy, nullptr, probe), RunResult::Stopped);
    EXPECT_TRUE(floppy.Failure());
    EXPECT_EQ(floppy.RunCount(), -1);
}

// A run whose record cannot be kept went through, but its job says it failed.
TEST_F(RunResults, ACompletedRunWhoseRecordCannotBeKeptShowsTheFailure) {
    const std::string a = Source("a.txt", "alpha");
    CBackupJob job = MakeJob("Docs", {a});
    job.SetFileNameRaw(App + "no-such-folder/Docs.slj");
    EXPECT_EQ(BackupRun::RunNow(job), RunResult::Completed);
    EXPECT_TRUE(job.Failure());
    EXPECT_FALSE(job.SaveError().empty());
}

} // namespace
