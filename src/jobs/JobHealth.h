#pragma once
// What a job's record says about its backups: the state shown by "/STATUS" and the job list,
// staleness (no successful backup for too long) and the runs an agent missed. Read from the
// job records only, so every agent and the command line judge a job the same way.

#include "jobs/CBackupJob.h"

#include <cstdint>
#include <string>
#include <vector>

class CBackupJobManager;

namespace JobHealth {

// A missed moment older than this is not made up any more.
constexpr double CatchUpWindowDays = 7.0;

enum class State { Ok, Failed, Stale, Suspended, NeverRun, Waiting };
// "ok", "failed", "stale", "suspended", "never run", "waiting".
const char* StateText(State state);

// The job's last run did not succeed: it has run, and either no success is recorded at or after
// that run (a file written before successes were recorded counts as none) or its failure time
// lies in the last run's minute. The one rule for "failed" wherever a job's record is judged.
bool HasFailed(const CBackupJob& job);
// When the job came into being as far as the record tells: its job file's last save while it
// has never run (runs save the file, edits of a never-run job are all there is); otherwise the
// older of that save and the last run. NotComputed without a file.
double CreatedAt(const CBackupJob& job);
// The moment since which the job has no successful backup: its last success, or its creation
// when it never succeeded. NotComputed when unknown.
double NoSuccessSince(const CBackupJob& job);
// Active and without a successful backup for more than iDays days (0 days: never stale).
bool LocallyStale(const CBackupJob& job, double dNow, int iDays);
// LocallyStale, or with an off-site copy behind the local backups for that long (OffsiteStale).
bool IsStale(const CBackupJob& job, double dNow, int iDays);

// The off-site copy of a job: off (no OffsiteRemote); ok (the newest successful local backup is
// on the remote, or there is none yet); pending (a successful local backup is not sent yet:
// awaiting its attempt, or fewer than OffsiteFailingAfter attempts failed in a row); failing
// (OffsiteFailingAfter or more attempts failed in a row).
enum class OffsiteState { Off, Ok, Pending, Failing };
constexpr int32_t OffsiteFailingAfter = 3;
// "off", "ok", "pending", "failing".
const char* OffsiteText(OffsiteState state);
OffsiteState OffsiteStateOf(const CBackupJob& job);
// Pending or failing: a local backup waits to be sent.
bool OffsitePending(const CBackupJob& job);
// Since when the remote lacks a backup the job made: the first backup not sent (OffsitePending),
// or, for a job given its remote by hand after local successes, its last local success.
// NotComputed when nothing waits.
double OffsiteBehindSince(const CBackupJob& job);
// Active, and its remote behind the local backups for more than iDays days (0: never).
bool OffsiteStale(const CBackupJob& job, double dNow, int iDays);
// Active, and its target's drive is away (TargetDrive::Where::Away): its runs wait for it.
bool WaitingForDrive(const CBackupJob& job);
// Suspended, failed, stale, waiting, never run or ok, in that order of precedence.
State StateOf(const CBackupJob& job, double dNow, int iDays);

// The scheduled moment an active job missed: its most recent scheduled moment when that lies
// after its last run and within CatchUpWindowDays of now; NotComputed when nothing was missed.
double MissedMoment(const CBackupJob& job, double dNow);

struct Missed {
    int32_t Handle;
    double Moment;
};
// The functions below read each job into an object of their own: loading the shared job would
// store its next run afresh, and a job due at this moment would no longer look due.

// The missed moments of the manager's jobs, in list order.
std::vector<Missed> MissedRuns(CBackupJobManager& manager, double dNow);

struct Stale {
    std::string JobName;
    double Since;         // NotComputed when unknown
    bool Offsite = false; // stale only because its off-site copy is behind (Since: OffsiteBehindSince)
};
// The stale jobs, in list order.
std::vector<Stale> StaleJobs(CBackupJobManager& manager, double dNow, int iDays);

// Loads every job once through the manager, so that each entry holds its next run now (nothing
// stays lazily unknown until the first tick).
void ComputeNextRuns(CBackupJobManager& manager);

// One line per job: name, state, last run, last success, next run, off-site state, separated by
// TAB; a date that does not exist reads "-". bAlarm is set when an active job is failed or stale.
std::string StatusReport(CBackupJobManager& manager, double dNow, int iDays, bool& bAlarm);

} // namespace JobHealth
