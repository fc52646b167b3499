// Opening and saving a job file say what happened: a job read or written is told apart from one
// that could not be, and a failed save says why.

#include "common/TempAppFolder.h"
#include "jobs/CBackupJob.h"

namespace {

using Result = CBackupJob::FileResult;
using JobFileResult = TempAppFolder;

TEST_F(JobFileResult, OpenAndSaveTellDoneFromFailed) {
    CBackupJob job;
    job.CopyJob(CBackupJob(), "Docs");
    job.SetRunCount(7);
    EXPECT_EQ(job.Save(), Result::Done);
    EXPECT_TRUE(job.SaveError().empty());

    CBackupJob read;
    EXPECT_EQ(read.Open(job.FileName()), Result::Done);
    EXPECT_EQ(read.JobName(), "Docs");
    EXPECT_EQ(read.RunCount(), 7);

    EXPECT_EQ(read.Open(App + "BackupJobs/missing.slj"), Result::Failed);
    EXPECT_EQ(read.Open(""), Result::Failed);

    // A job file that cannot be written: a folder stands under its name.
    CBackupJob blocked;
    blocked.CopyJob(CBackupJob(), "Blocked");
    WriteFile(blocked.FileName() + "/inside", "x");
    EXPECT_EQ(blocked.Save(), Result::Failed);
    EXPECT_NE(blocked.SaveError().find(blocked.FileName()), std::string::npos) << blocked.SaveError();
}

} // namespace
