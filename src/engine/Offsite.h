#pragma once
// The off-site copy of a zip job: after a successful local run the new archive goes to
// <OffsiteRemote>/<clean job name>/<clean job name>_YYYY-MM-DD_HHMMSS.zip through rclone. It is
// uploaded under a temporary name in that folder, checked (by hash where both sides have one,
// else by size), and only then moved to its final name, so that no final name ever holds a
// partial object. Then the remote keeps as many dated archives as the job keeps locally.
// A copy-style job's tree goes to the same folder as a mirror with versions (SendTree).

#include "engine/Rclone.h"
#include "jobs/CBackupJob.h"

#include <string>

namespace Offsite {

// A name in a remote folder: "nas:" + "x" -> "nas:x", "nas:a" + "x" -> "nas:a/x".
std::string Join(const std::string& sFolder, const std::string& sName);
// The remote folder of a job: sRemote joined with the clean job name.
std::string JobFolder(const std::string& sRemote, const std::string& sJobName);
// "<clean job name>_YYYY-MM-DD_HHMMSS.zip" of the moment d (local time).
std::string DatedName(const std::string& sJobName, double d);
// The moment in a name of that form (local serial); false when sName is no such name of the job.
bool ParseDatedName(const std::string& sName, const std::string& sJobName, double& dWhen);

// Sends sArchive (the run's new local archive, made at dWhen) to the job's remote and applies
// retention there. Logs what it did; on failure logs "  Off-site copy to '<remote>' failed:
// <reason>" and returns false. Never touches the local backup. onStats hears of the upload's
// progress (the step's running total) as rclone reports it.
bool SendArchive(const CBackupJob& job, const std::string& sArchive, double dWhen,
                 const Rclone::StatsSink& onStats = {});
// Sends the copy-style job's tree sTree (its target folder, made at dWhen; the program's own
// temporary names left out) to <job folder>/current/, through <job folder>/.staging/ so that no
// file in current/ is ever partial; what it replaces or deletes there moves to
// <job folder>/versions/YYYY-MM-DD_HHMMSS/, and version folders older than the job's
// OffsiteKeepDays go. Logs and returns as SendArchive does.
bool SendTree(const CBackupJob& job, const std::string& sTree, double dWhen, const Rclone::StatsSink& onStats = {});

// The outcome of an off-site attempt kept in the job (not saved): a success records
// OffsiteLastSuccess and clears OffsitePending and OffsiteFailures; a failure counts one more
// failure in a row. (engine/OffsiteRetry.cpp)
void RecordAttempt(CBackupJob& job, bool bSent);

enum class Retry {
    Nothing, // no backup waits for the remote (or the job's file no longer loads)
    Sent,    // the waiting backup went out
    Failed,  // it did not (logged); one more failure in a row is recorded
    Busy,    // a run or read of the job goes on, here or elsewhere: not tried now
};
// Sends the job's newest local backup (a zip job's newest archive, a copy job's target tree)
// when it waits for the remote, without running the backup again. Takes the job's lock as a run
// does, but never waits for it; reads the job's file afresh under it (the object keeps its tag),
// logs a header line, records the attempt and saves the job.
Retry SendPending(CBackupJob& job);

// While one lives (an agent's scheduled run on a metered network, when the user asks for it),
// a run's off-site step sends nothing: it logs that the copy was postponed and leaves the backup
// pending for the agents' retry. Runs started by hand never make one.
class HoldScope {
public:
    explicit HoldScope(bool bHold);
    ~HoldScope();
    HoldScope(const HoldScope&) = delete;
    HoldScope& operator=(const HoldScope&) = delete;

private:
    bool m_bHold;
};
// A HoldScope that holds lives.
bool Held();

} // namespace Offsite
