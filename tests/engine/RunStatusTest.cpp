// What a run records for /STATUS when two runs share a minute, and the job lock between a run
// and a restore or verify of the same job: real runs, real lock files, a holder in another
// process killed while it holds the lock.

#include "RunTestSupport.h"
#include "engine/JobLock.h"
#include "jobs/JobHealth.h"

using namespace runtest;

namespace {

const char* const kMinute = "mmm-dd-yyyy hh:mm";
const double kTen = libDates::DateSerial(2027, 3, 15) + libDates::TimeSerial(10, 0, 0);
double SecondsPastTen(int iSeconds) { return kTen + libDates::TimeSerial(0, 0, iSeconds); }

// A window that tries the job's lock when the run shows its first text.
class ProbingOwner : public RecordingOwner {
public:
    std::string LockFile;
    FileLock::Result SeenWhileRunning = FileLock::Result::Unavailable;
    void SetMessageText(const std::string& sText) override {
        if (sText == "Initializing...") {
            FileLock probe;
            if (probe.Open(LockFile)) SeenWhileRunning = probe.Try(FileLock::Mode::Shared);
        }
        RecordingOwner::SetMessageText(sText);
    }
};

class RunStatus : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        fs::create_directories(App + "BackupJobs");
    }
    static CBackupJob Saved(const CBackupJob& job) {
        CBackupJob saved;
        EXPECT_FALSE(saved.OpenBackupJob(job.FileName()));
        return saved;
    }
};

TEST_F(RunStatus, AFailedRunAfterASuccessOfTheSameMinuteReadsBackAsFailed) {
    const std::string a = Source("a.txt", "alpha");
    fs::create_directories(Src + "none");
    CBackupJob job = MakeJob("Docs", {a});
    libDates::SetClock(SecondsPastTen(5));
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    ASSERT_FALSE(job.Failure());
    EXPECT_FALSE(JobHealth::HasFailed(Saved(job)));

    // An entry that selects nothing fails the next run, 35 seconds later.
    job.SetFilesToZip(a + "\r\n" + Src + "none/*.doc\r\n");
    libDates::SetClock(SecondsPastTen(40));
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    ASSERT_TRUE(job.Failure());
    CBackupJob failed = Saved(job);
    EXPECT_EQ(libDates::Format(failed.DateLastRun(), kMinute), libDates::Format(failed.DateLastSuccess(), kMinute))
        << "the minute-resolution keys read the same for both runs";
    EXPECT_TRUE(JobHealth::HasFailed(failed));
    EXPECT_EQ(JobHealth::StateOf(failed, SecondsPastTen(90), 7), JobHealth::State::Failed);

    // A success of the same minute again.
    job.SetFilesToZip(a + "\r\n");
    libDates::SetClock(SecondsPastTen(50));
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    ASSERT_FALSE(job.Failure());
    CBackupJob mended = Saved(job);
    EXPECT_FALSE(JobHealth::HasFailed(mended));
    EXPECT_EQ(mended.DateLastFailure(), CBackupJob::NotComputed);
    EXPECT_EQ(JobHealth::StateOf(mended, SecondsPastTen(90), 7), JobHealth::State::Ok);
}

TEST_F(RunStatus, ARunWaitsWhileItsJobIsReadAndHoldsItsLockWhileItRuns) {
    const std::string a = Source("a.txt", "alpha");
    CBackupJob job = MakeJob("Docs", {a});
    CBackupJob other = MakeJob("Other", {a});
    FileLock reader = JobLock::ForReading(job.FileName(), [] { ADD_FAILURE() << "no run holds the lock"; });
    ASSERT_TRUE(reader.Held());

    // Another job's run goes on at once.
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(other));
    EXPECT_TRUE(Exists(Tgt + "Other.zip"));
    EXPECT_FALSE(LogHas("Waiting for the restore or verify of 'Other' to end"));

    // The reader's job waits, events going on, until the reader lets go; a stale abort request
    // from before does not end the wait.
    RunState::SetAbortRequested(true);
    int iEvents = 0;
    Seam->OnEvents = [&](int) {
        if (!reader.Held()) return;
        ++iEvents;
        EXPECT_TRUE(LogHas("Waiting for the restore or verify of 'Docs' to end"));
        EXPECT_FALSE(Exists(Tgt + "Docs.zip")) << "nothing is written while the job is read";
        if (iEvents == 3) reader.Release();
    };
    ProbingOwner owner;
    owner.LockFile = JobLock::LockFileOf(job.FileName());
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job, &owner));
    EXPECT_EQ(iEvents, 3);
    EXPECT_FALSE(job.Failure());
    EXPECT_TRUE(ZipNames(Tgt + "Docs.zip").count(Stored(a)));
    EXPECT_EQ(owner.SeenWhileRunning, FileLock::Result::Busy) << "a reader cannot have the lock during the run";
    ASSERT_GE(owner.Messages.size(), 2u);
    EXPECT_EQ(owner.Messages[0], "Waiting for the restore or verify of 'Docs' to end...") << "the window says why";
    EXPECT_EQ(owner.Messages[1], "Initializing...");

    // Once the run has ended, a reader has it at once.
    bool bWaited = false;
    EXPECT_TRUE(JobLock::ForReading(job.FileName(), [&] { bWaited = true; }).Held());
    EXPECT_FALSE(bWaited);
}

TEST_F(RunStatus, AnAbortWhileWaitingIsNoRun) {
    const std::string a = Source("a.txt", "alpha");
    CBackupJob job = MakeJob("Docs", {a});
    job.SetRunCount(4);
    job.SetPreBackupCommand("touch " + App + "pre-ran");
    FileLock reader = JobLock::ForReading(job.FileName(), nullptr);
    ASSERT_TRUE(reader.Held());
    Seam->OnEvents = [](int) { RunState::SetAbortRequested(true); };
    EXPECT_TRUE(BackupRun::ExecuteBackupNow(job));
    EXPECT_TRUE(job.Failure());
    EXPECT_EQ(job.RunCount(), 4);
    EXPECT_FALSE(Exists(Tgt + "Docs.zip"));
    EXPECT_FALSE(Exists(App + "pre-ran"));
    EXPECT_FALSE(Exists(job.FileName())) << "nothing recorded";
}

TEST_F(RunStatus, AReaderWaitsForAHolderInAnotherProcessUntilItIsKilled) {
    const std::string sJobFile = CBackupJob::JobFileNameFor("Docs");
    const std::string sLockFile = JobLock::LockFileOf(sJobFile);
    EXPECT_EQ(sLockFile, App + "BackupJobs/.locks/Docs.slj");
    fs::create_directories(App + "BackupJobs/.locks");
    OtherProcess holder(sLockFile, FileLock::Mode::Exclusive); // as a run in another program holds it
    ASSERT_TRUE(holder.Holding());
    bool bWaited = false, bKilled = false;
    FileLock reader = JobLock::ForReading(sJobFile, [&] {
        bWaited = true;
        bKilled = holder.Kill();
    });
    EXPECT_TRUE(bWaited) << "the holder's lock made the reader wait";
    EXPECT_TRUE(bKilled);
    EXPECT_TRUE(reader.Held()) << "the killed holder's lock was let go";
}

TEST_F(RunStatus, NoLockFileForAJobWithoutAFileOrAMissingJob) {
    EXPECT_EQ(JobLock::LockFileOf(""), "");
    const std::string a = Source("a.txt", "alpha");
    CBackupJob job = MakeJob("Docs", {a});
    job.SetFileNameRaw("");
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    EXPECT_TRUE(Exists(Tgt + "Docs.zip"));
    EXPECT_FALSE(Exists(App + "BackupJobs/.locks"));
}

} // namespace
