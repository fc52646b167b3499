// A job's off-site state as its file records it (OffsitePending, OffsiteFailures): off, ok,
// pending, failing; when its off-site copy makes it stale; and what giving it a remote does.
// The keys appear only while something waits, so a job whose copies all went out saves as before.

#include "common/HandJobFolder.h"
#include "jobs/JobHealth.h"

namespace {

class OffsiteState : public HandJobFolder {
protected:
    const double Now = libDates::DateSerial(2026, 12, 8) + libDates::TimeSerial(9, 0, 0);
    void SetUp() override {
        HandJobFolder::SetUp();
        libDates::SetClock(Now);
    }
    static JobHealth::OffsiteState StateOf(const CBackupJob& job) { return JobHealth::OffsiteStateOf(job); }
};

using State = JobHealth::OffsiteState;

TEST_F(OffsiteState, TheKeysComeAndGoWithWhatWaitsAndSetTheState) {
    const std::string sPath =
        HandJob("Docs", "Password=\r\n", "OffsiteRemote=nas:backups\r\nOffsiteLastSuccess=12/07/2026 03:00:15\r\n");
    const std::string sBefore = ReadFile(sPath);
    CBackupJob job = Load(sPath);
    EXPECT_EQ(StateOf(job), State::Ok);
    job.SetOffsitePending(Now - 1);
    job.SetOffsiteFailures(2);
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    const std::string sText = ReadFile(sPath);
    EXPECT_NE(sText.find("\r\nOffsitePending=12/07/2026 09:00:00\r\n"), std::string::npos) << sText;
    EXPECT_NE(sText.find("\r\nOffsiteFailures=2\r\n"), std::string::npos) << sText;
    CBackupJob back = Load(sPath);
    EXPECT_EQ(StateOf(back), State::Pending);
    EXPECT_EQ(JobHealth::OffsiteBehindSince(back), Now - 1);
    back.SetOffsiteFailures(JobHealth::OffsiteFailingAfter);
    EXPECT_EQ(StateOf(back), State::Failing);
    EXPECT_STREQ(JobHealth::OffsiteText(StateOf(back)), "failing");
    // Sent: both keys go, and the file is as it was.
    back.SetOffsitePending(CBackupJob::NotComputed);
    back.SetOffsiteFailures(0);
    ASSERT_FALSE(back.SaveBackupJobIniFile());
    EXPECT_EQ(ReadFile(sPath), sBefore);
    // Without a remote the copy is off, whatever else the file says; damaged values read as none.
    CBackupJob off = Load(HandJob("Off", "Password=\r\n", "OffsitePending=soon\r\nOffsiteFailures=many\r\n"));
    EXPECT_EQ(StateOf(off), State::Off);
    EXPECT_EQ(off.OffsitePending(), CBackupJob::NotComputed);
    EXPECT_EQ(off.OffsiteFailures(), 0);
    EXPECT_STREQ(JobHealth::OffsiteText(State::Off), "off");
}

TEST_F(OffsiteState, ARemoteGivenAfterLocalSuccessesWaitsForTheNewestBackup) {
    // Given by hand in the file: behind since the last local success.
    CBackupJob hand = Load(HandJob("Hand", "Password=\r\n", "OffsiteRemote=nas:backups\r\n"));
    EXPECT_EQ(StateOf(hand), State::Ok) << "nothing backed up yet, so nothing waits";
    const std::string sPath =
        HandJob("Ran", "DateLastSuccess=Dec-01-2026 03:00\r\nPassword=\r\n", "OffsiteRemote=nas:backups\r\n");
    CBackupJob ran = Load(sPath);
    EXPECT_EQ(StateOf(ran), State::Pending);
    EXPECT_EQ(JobHealth::OffsiteBehindSince(ran), ran.DateLastSuccess());
    // Given through the job: behind from now; another remote starts afresh.
    CBackupJob job = Load(HandJob("Edit", "DateLastSuccess=Dec-07-2026 03:00\r\nPassword=\r\n",
                                  "OffsiteRemote=\r\nOffsiteFailures=5\r\n"));
    EXPECT_EQ(StateOf(job), State::Off);
    job.SetOffsiteRemote("b2:bucket");
    EXPECT_EQ(StateOf(job), State::Pending);
    EXPECT_EQ(job.OffsitePending(), Now);
    EXPECT_EQ(job.OffsiteFailures(), 0);
    job.SetOffsiteRemote("");
    EXPECT_EQ(job.OffsitePending(), CBackupJob::NotComputed);
    CBackupJob never = Load(HandJob("Never", "Password=\r\n"));
    never.SetOffsiteRemote("b2:bucket");
    EXPECT_EQ(StateOf(never), State::Ok);
}

TEST_F(OffsiteState, ACopyBehindForLongerThanStaleDaysIsStale) {
    CBackupJob job = Load(HandJob("Late", "DateLastSuccess=Dec-08-2026 08:00\r\nPassword=\r\n",
                                  "OffsiteRemote=nas:backups\r\nOffsiteLastSuccess=11/01/2026 03:00:00\r\n"));
    EXPECT_FALSE(JobHealth::IsStale(job, Now, 7)) << "an old copy that holds the newest backup is no stale job";
    job.SetOffsitePending(Now - 6);
    EXPECT_FALSE(JobHealth::IsStale(job, Now, 7));
    job.SetOffsitePending(Now - 8);
    EXPECT_TRUE(JobHealth::IsStale(job, Now, 7));
    EXPECT_EQ(JobHealth::StateOf(job, Now, 7), JobHealth::State::Stale);
    EXPECT_FALSE(JobHealth::IsStale(job, Now, 0)) << "StaleDays 0 turns staleness off";
    job.SetSuspended(true);
    EXPECT_FALSE(JobHealth::IsStale(job, Now, 7));
}

} // namespace
