// Offsite::SendPending: the agents' second chance for an off-site copy that did not go out with
// its run. It sends what the run made, never a new backup, and records every attempt in the job
// file, so that each process judges the job's off-site state alike.

#include "engine/BackupRun.h"
#include "engine/JobLock.h"
#include "engine/Offsite.h"
#include "engine/RunState.h"
#include "engine/libRetention.h"
#include "jobs/JobHealth.h"
#include "support/libDates.h"
#include "support/libFiles.h"
#include "support/libLog.h"

#include <atomic>
#include <limits>

namespace Offsite {

namespace {
std::atomic<int> s_iHolds = 0;
} // namespace

HoldScope::HoldScope(bool bHold) : m_bHold(bHold) {
    if (m_bHold) s_iHolds.fetch_add(1);
}

HoldScope::~HoldScope() {
    if (m_bHold) s_iHolds.fetch_sub(1);
}

bool Held() { return s_iHolds.load() > 0; }

void RecordAttempt(CBackupJob& job, bool bSent) {
    if (bSent) {
        job.SetOffsiteLastSuccess(libDates::Now());
        job.SetOffsitePending(CBackupJob::NotComputed);
        job.SetOffsiteFailures(0);
    } else if (job.OffsiteFailures() < std::numeric_limits<int32_t>::max()) {
        job.SetOffsiteFailures(job.OffsiteFailures() + 1);
    }
}

namespace {

// Sends the job's newest local backup; false (logged) when it did not go out.
bool SendNewest(const CBackupJob& job) {
    const std::string sTarget = libFiles::AddTrailingSlash(job.TargetDirectory());
    if (!job.Compress()) return SendTree(job, sTarget, libDates::Now());
    const std::string sZip = libRetention::LatestZip(job);
    if (sZip.empty()) {
        libLog::LogEvent("  Off-site copy to '" + job.OffsiteRemote() + "' failed: no backup of the job found in '" +
                         sTarget + "'");
        return false;
    }
    // Its remote name tells when the archive was made, not when it was sent.
    const int64_t ns = libFiles::ModTimeNs(sZip);
    return SendArchive(job, sZip, ns != 0 ? libDates::FromFileTimeNs(ns) : libDates::Now());
}

} // namespace

Retry SendPending(CBackupJob& job) {
    if (!JobHealth::OffsitePending(job)) return Retry::Nothing;
    // A run of this process (started from an event the upload lets through) must not begin
    // meanwhile, nor may this begin during one.
    RunState::RunningScope running;
    if (!running.Entered()) return Retry::Busy;
    FileLock jobLock;
    if (!JobLock::TryForRun(jobLock, job)) return Retry::Busy;
    // Another process may have run or sent the job since it was loaded.
    if (!job.FileName().empty()) {
        const int32_t lTag = job.Tag();
        const std::string sFile = job.FileName(); // a copy: the load clears the job first
        const CBackupJob::FileResult opened = job.Open(sFile);
        if (opened != CBackupJob::FileResult::Done)
            return Retry::Nothing; // untagged: loaded afresh when next asked for
        job.SetTag(lTag);
    }
    if (!JobHealth::OffsitePending(job)) return Retry::Nothing;
    libLog::RunLog runLog;
    // A stale request of an earlier run must not stop this one (a stop signal still does).
    RunState::SetAbortRequested(false);
    libLog::LogEventLevel(2, BackupRun::HeaderLine(job.JobName() + " (off-site retry)"));
    const bool bSent = SendNewest(job);
    // Cut short by the user or the program's end: no failure of the remote, tried again later.
    if (!bSent && RunState::AbortRequested()) return Retry::Busy;
    RecordAttempt(job, bSent);
    job.SetOffsiteFailed(!bSent);
    if (job.Save() != CBackupJob::FileResult::Done) {
        // Not kept: the next attempt judges the job as the file still says.
        libLog::LogEvent("  Off-site state of '" + job.JobName() + "' not saved: " + job.SaveError());
        job.SetOffsiteFailed(true);
        return Retry::Failed;
    }
    return bSent ? Retry::Sent : Retry::Failed;
}

} // namespace Offsite
