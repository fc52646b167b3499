#include "jobs/JobHealth.h"

#include "jobs/CBackupJobManager.h"
#include "jobs/TargetDrive.h"
#include "support/libFiles.h"

#include <algorithm>
#include <cmath>

namespace JobHealth {

namespace {
constexpr const char* kMinute = "mmm-dd-yyyy hh:mm"; // the resolution of the job file's dates

// Job dates are stored to the minute: compare whole seconds, never float noise.
int64_t Seconds(double d) { return std::llround(d * 86400.0); }

bool Recorded(double d) { return Seconds(d) > Seconds(CBackupJob::NotComputed); }

// Calls f(handle, job) for each entry whose job file loads, in list order.
template <typename F> void ForEachJob(CBackupJobManager& manager, F f) {
    for (int32_t i = 0; i < manager.Count(); ++i) {
        const int32_t lHandle = manager.HandleFromIndex(i);
        CBackupJob job;
        if (job.Open(manager.FileNameFromHandle(lHandle)) != CBackupJob::FileResult::Done) continue;
        f(lHandle, job);
    }
}

std::string DateText(double d) {
    if (!Recorded(d) || Seconds(d) >= Seconds(CBackupJob::FarFuture)) return "-";
    return libDates::Format(d, kMinute);
}
} // namespace

const char* StateText(State state) {
    switch (state) {
    case State::Ok:
        return "ok";
    case State::Failed:
        return "failed";
    case State::Stale:
        return "stale";
    case State::Suspended:
        return "suspended";
    case State::NeverRun:
        return "never run";
    case State::Waiting:
        return "waiting";
    }
    return "";
}

bool HasFailed(const CBackupJob& job) {
    if (!Recorded(job.DateLastRun())) return false;
    if (Seconds(job.DateLastSuccess()) < Seconds(job.DateLastRun())) return true;
    // The dates read back to the minute: a failure after a success of the same minute shows
    // only in the failure's own time, which counts while it lies in the last run's minute (an
    // older one is left from before a run that did not write it).
    const double dFailure = job.DateLastFailure();
    return Recorded(dFailure) && libDates::Format(dFailure, kMinute) == libDates::Format(job.DateLastRun(), kMinute);
}

double CreatedAt(const CBackupJob& job) {
    double dSaved = CBackupJob::NotComputed;
    if (const int64_t ns = job.FileName().empty() ? 0 : libFiles::ModTimeNs(job.FileName()); ns != 0)
        dSaved = libDates::FromFileTimeNs(ns);
    if (!Recorded(job.DateLastRun())) return dSaved;
    return Recorded(dSaved) ? std::min(dSaved, job.DateLastRun()) : job.DateLastRun();
}

double NoSuccessSince(const CBackupJob& job) {
    return Recorded(job.DateLastSuccess()) ? job.DateLastSuccess() : CreatedAt(job);
}

namespace {
bool Older(double dSince, double dNow, int iDays) {
    return Recorded(dSince) && Seconds(dNow) - Seconds(dSince) > int64_t{iDays} * 86400;
}
} // namespace

bool LocallyStale(const CBackupJob& job, double dNow, int iDays) {
    return iDays > 0 && !job.Suspended() && Older(NoSuccessSince(job), dNow, iDays);
}

bool IsStale(const CBackupJob& job, double dNow, int iDays) {
    return LocallyStale(job, dNow, iDays) || OffsiteStale(job, dNow, iDays);
}

const char* OffsiteText(OffsiteState state) {
    switch (state) {
    case OffsiteState::Off:
        return "off";
    case OffsiteState::Ok:
        return "ok";
    case OffsiteState::Pending:
        return "pending";
    case OffsiteState::Failing:
        return "failing";
    }
    return "";
}

bool OffsitePending(const CBackupJob& job) {
    if (job.OffsiteRemote().empty()) return false;
    if (Recorded(job.OffsitePending())) return true;
    // A remote given by hand to a job with local successes: its newest backup is not there.
    return !Recorded(job.OffsiteLastSuccess()) && Recorded(job.DateLastSuccess());
}

OffsiteState OffsiteStateOf(const CBackupJob& job) {
    if (job.OffsiteRemote().empty()) return OffsiteState::Off;
    if (!OffsitePending(job)) return OffsiteState::Ok;
    return job.OffsiteFailures() >= OffsiteFailingAfter ? OffsiteState::Failing : OffsiteState::Pending;
}

double OffsiteBehindSince(const CBackupJob& job) {
    if (!OffsitePending(job)) return CBackupJob::NotComputed;
    if (Recorded(job.OffsitePending())) return job.OffsitePending();
    return job.DateLastSuccess(); // a remote given by hand: behind since the last local success
}

bool OffsiteStale(const CBackupJob& job, double dNow, int iDays) {
    return iDays > 0 && !job.Suspended() && Older(OffsiteBehindSince(job), dNow, iDays);
}

bool WaitingForDrive(const CBackupJob& job) {
    return !job.Suspended() && TargetDrive::Locate(job) == TargetDrive::Where::Away;
}

State StateOf(const CBackupJob& job, double dNow, int iDays) {
    if (job.Suspended()) return State::Suspended;
    if (HasFailed(job)) return State::Failed;
    if (IsStale(job, dNow, iDays)) return State::Stale;
    if (WaitingForDrive(job)) return State::Waiting;
    if (!Recorded(job.DateLastRun())) return State::NeverRun;
    return State::Ok;
}

double MissedMoment(const CBackupJob& job, double dNow) {
    if (job.Suspended() || !job.Valid()) return CBackupJob::NotComputed;
    const double dMoment = job.DateTimePreviousRun();
    if (!Recorded(dMoment) || Seconds(dMoment) <= Seconds(job.DateLastRun())) return CBackupJob::NotComputed;
    if (Seconds(dNow) - Seconds(dMoment) > Seconds(CatchUpWindowDays)) return CBackupJob::NotComputed;
    return dMoment;
}

std::vector<Missed> MissedRuns(CBackupJobManager& manager, double dNow) {
    std::vector<Missed> missed;
    ForEachJob(manager, [&](int32_t lHandle, const CBackupJob& job) {
        const double dMoment = MissedMoment(job, dNow);
        if (Recorded(dMoment)) missed.push_back({lHandle, dMoment});
    });
    return missed;
}

std::vector<Stale> StaleJobs(CBackupJobManager& manager, double dNow, int iDays) {
    std::vector<Stale> stale;
    if (iDays <= 0) return stale;
    ForEachJob(manager, [&](int32_t, const CBackupJob& job) {
        if (LocallyStale(job, dNow, iDays))
            stale.push_back({job.JobName(), NoSuccessSince(job)});
        else if (OffsiteStale(job, dNow, iDays))
            stale.push_back({job.JobName(), OffsiteBehindSince(job), true});
    });
    return stale;
}

void ComputeNextRuns(CBackupJobManager& manager) {
    for (int32_t i = 0; i < manager.Count(); ++i)
        manager.JobFromIndex(i);
}

std::string StatusReport(CBackupJobManager& manager, double dNow, int iDays, bool& bAlarm) {
    bAlarm = false;
    std::string sReport;
    ForEachJob(manager, [&](int32_t, CBackupJob& job) {
        const State state = StateOf(job, dNow, iDays);
        if (state == State::Failed || state == State::Stale) bAlarm = true;
        const double dNext = job.Suspended() ? CBackupJob::FarFuture : job.DateTimeNextRun();
        sReport += job.JobName() + "\t" + StateText(state) + "\t" + DateText(job.DateLastRun()) + "\t" +
                   DateText(job.DateLastSuccess()) + "\t" + DateText(dNext) + "\t" + OffsiteText(OffsiteStateOf(job)) +
                   "\t" + (job.LastRun().Known() ? job.LastRunText() : std::string("-")) + "\n";
    });
    return sReport;
}

} // namespace JobHealth
