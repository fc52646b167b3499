// Reads of a job's backups by this process (the restore window, a verify): a run of the job
// started meanwhile in the same process is put off at once, never waits under the read, records
// nothing; a read never begins under a run of the job; other processes meet the read through
// the lock file. Real runs, real lock files, a holder in another process.

#include "RunTestSupport.h"
#include "engine/JobLock.h"

using namespace runtest;

namespace {

// A window that tries to begin a read of the job when the run shows its first text.
class ReadingOwner : public RecordingOwner {
public:
    std::string JobFile;
    int Tries = 0;
    bool BusySeen = false, ReadHereSeen = true;
    void SetMessageText(const std::string& sText) override {
        if (sText == "Initializing...") {
            ++Tries;
            JobLock::ReadScope read(JobFile);
            BusySeen = read.Busy();
            ReadHereSeen = JobLock::ReadHere(JobFile);
        }
        RecordingOwner::SetMessageText(sText);
    }
};

class JobRead : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        fs::create_directories(App + "BackupJobs/.locks");
    }
    // A run that waits would poll events for ever: the third event aborts it, so that a fault
    // shows as a failed expectation, not as a test that never ends.
    void AbortAWait() {
        Seam->OnEvents = [this](int) {
            if (++Events >= 3) RunState::SetAbortRequested(true);
        };
    }
    int Events = 0;
};

} // namespace

TEST_F(JobRead, ARunOfAJobReadHereIsPutOffAtOnceRecordingNothingWhileOtherJobsRun) {
    const std::string a = Source("a.txt", "alpha");
    CBackupJob job = MakeJob("Docs", {a});
    CBackupJob other = MakeJob("Other", {a});
    job.SetRunCount(4);
    job.SetPreBackupCommand("touch " + App + "pre-ran");
    {
        JobLock::ReadScope read(job.FileName());
        ASSERT_FALSE(read.Busy());
        EXPECT_TRUE(JobLock::ReadHere(job.FileName()));
        EXPECT_FALSE(JobLock::ReadHere(other.FileName()));
        FileLock run;
        ASSERT_TRUE(run.Open(JobLock::LockFileOf(job.FileName())));
        EXPECT_EQ(run.Try(FileLock::Mode::Exclusive), FileLock::Result::Busy)
            << "a run elsewhere meets the read in the lock file";

        AbortAWait();
        EXPECT_TRUE(BackupRun::ExecuteBackupNow(job)) << "not run";
        EXPECT_EQ(Events, 0) << "nothing waited for";
        EXPECT_FALSE(job.Failure()) << "put off, not failed";
        EXPECT_EQ(job.RunCount(), 4);
        EXPECT_FALSE(Exists(Tgt + "Docs.zip"));
        EXPECT_FALSE(Exists(App + "pre-ran"));
        EXPECT_FALSE(Exists(job.FileName())) << "nothing recorded";
        EXPECT_TRUE(LogHas("Backup of 'Docs' put off: its backups are being read"));
        EXPECT_FALSE(LogHas("Waiting for the restore or verify of 'Docs' to end"));

        // Another job's run goes on.
        Seam->OnEvents = nullptr;
        EXPECT_FALSE(BackupRun::ExecuteBackupNow(other));
        EXPECT_FALSE(other.Failure());
        EXPECT_TRUE(ZipNames(Tgt + "Other.zip").count(Stored(a)));
    }
    // The read over, the job runs.
    EXPECT_FALSE(JobLock::ReadHere(job.FileName()));
    RunOk(job);
    EXPECT_EQ(job.RunCount(), 5);
    EXPECT_TRUE(ZipNames(Tgt + "Docs.zip").count(Stored(a)));
    EXPECT_TRUE(Exists(App + "pre-ran"));
}

TEST_F(JobRead, OverlappingReadsKeepTheJobReadUntilTheLastEnds) {
    const std::string a = Source("a.txt", "alpha");
    CBackupJob job = MakeJob("Docs", {a});
    auto first = std::make_unique<JobLock::ReadScope>(job.FileName());
    {
        JobLock::ReadScope second(job.FileName());
        EXPECT_FALSE(second.Busy()) << "reads share the job";
    }
    EXPECT_TRUE(JobLock::ReadHere(job.FileName())) << "the first read still goes on";
    AbortAWait();
    EXPECT_TRUE(BackupRun::ExecuteBackupNow(job));
    EXPECT_FALSE(Exists(Tgt + "Docs.zip"));
    EXPECT_EQ(Events, 0);
    Seam->OnEvents = nullptr;
    first.reset();
    EXPECT_FALSE(JobLock::ReadHere(job.FileName()));
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    EXPECT_TRUE(Exists(Tgt + "Docs.zip"));
}

TEST_F(JobRead, AReadNeverBeginsUnderARunOfTheJobHereOrInAnotherProcess) {
    const std::string a = Source("a.txt", "alpha");
    CBackupJob job = MakeJob("Docs", {a});
    // A run of this process: the read is refused at once, not waited for (the run could not end
    // before the event that asked for the read returns).
    ReadingOwner owner;
    owner.JobFile = job.FileName();
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job, &owner));
    EXPECT_EQ(owner.Tries, 1);
    EXPECT_TRUE(owner.BusySeen);
    EXPECT_FALSE(owner.ReadHereSeen) << "a refused read is no read";
    EXPECT_FALSE(job.Failure());
    EXPECT_TRUE(Exists(Tgt + "Docs.zip"));

    // A run in another process.
    OtherProcess run(JobLock::LockFileOf(job.FileName()), FileLock::Mode::Exclusive);
    ASSERT_TRUE(run.Holding());
    {
        JobLock::ReadScope read(job.FileName());
        EXPECT_TRUE(read.Busy());
        EXPECT_FALSE(JobLock::ReadHere(job.FileName()));
    }
    run.Kill();
    JobLock::ReadScope read(job.FileName());
    EXPECT_FALSE(read.Busy()) << "the killed run's lock was let go";
    EXPECT_TRUE(JobLock::ReadHere(job.FileName()));
}

TEST_F(JobRead, AReadBegunWhileARunWaitsForAReaderElsewherePutsTheRunOff) {
    const std::string a = Source("a.txt", "alpha");
    CBackupJob job = MakeJob("Docs", {a});
    OtherProcess restore(JobLock::LockFileOf(job.FileName()), FileLock::Mode::Shared);
    ASSERT_TRUE(restore.Holding());
    // The run waits for the other process's read; an event it lets through opens a read here,
    // which shares the lock with the other reader.
    std::unique_ptr<JobLock::ReadScope> read;
    int iEvents = 0;
    Seam->OnEvents = [&](int) {
        if (++iEvents == 1) {
            read = std::make_unique<JobLock::ReadScope>(job.FileName());
            EXPECT_FALSE(read->Busy());
        }
        if (iEvents >= 5) RunState::SetAbortRequested(true); // a run still waiting is a fault
    };
    EXPECT_TRUE(BackupRun::ExecuteBackupNow(job));
    EXPECT_EQ(iEvents, 1) << "put off at the next look, not waited for";
    EXPECT_FALSE(job.Failure());
    EXPECT_TRUE(LogHas("Waiting for the restore or verify of 'Docs' to end"));
    EXPECT_TRUE(LogHas("Backup of 'Docs' put off: its backups are being read"));
    EXPECT_FALSE(Exists(Tgt + "Docs.zip"));
    // The run let go of its descriptor: once both reads end, the next run goes on at once.
    read.reset();
    restore.Kill();
    Seam->OnEvents = nullptr;
    RunOk(job);
    EXPECT_TRUE(ZipNames(Tgt + "Docs.zip").count(Stored(a)));
}
