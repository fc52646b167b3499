#pragma once
// The scheduler tick: every 30 seconds, run each job that is due, one after the other.
// One implementation for the tray agent (frmMain's timer) and the headless agent. Qt-free.
//
// Besides the due jobs a tick makes up missed runs (when RunMissedBackups is set: at the first
// tick of an agent and after the wall clock jumped by more than two ticks, as after a suspend
// or a clock change) and, once a day, names the jobs without a recent successful backup. At
// start-up and every OffsiteRetryMinutes it sends the backups that wait for their off-site copy
// (Offsite::SendPending), without running the backups again.
//
// A job whose target drive is away (JobHealth::WaitingForDrive) is not run: it waits, stays due,
// and is named in the log once a day. When the agent hears that the drives changed
// (DrivesChanged: the mount table, a drive attached), a job whose drive came back runs at once.

#include "jobs/JobHealth.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace SchedulerTick {

// What the tick needs from the agent that hosts it.
class TickHost {
public:
    virtual ~TickHost() = default;
    // The main window is open for the user: scheduled jobs wait.
    virtual bool MainWindowVisible() = 0;
    // Disables (false) the tray menu while the runs last, enables it again (true).
    virtual void SetTrayMenuEnabled(bool bEnabled) = 0;
    // Refreshes the job's row in the main window after its run.
    virtual void RefreshDetailsByHandle(int32_t lHandle) = 0;
    // A scheduled run ended with Failure set, or (bOffsite) its backup was made but its off-site
    // copy failed, in the run or a retry: tell the user (a notification, a line on stderr).
    // sReason is the last error line in the log ("" when none was written). The text is
    // FailureText's.
    virtual void ReportFailure(const std::string& sJobName, const std::string& sLogFile, const std::string& sReason,
                               bool bOffsite) = 0;
    // Once a day while any job is stale: tell the user (the text names them and since when).
    virtual void ReportStale(const std::string& sText) = 0;
    // Backups are also started by hand in this process (the main window): a background run
    // must leave its thread as fast as it found it.
    virtual bool RunsBackupsByHand() { return true; }
};

// The text of a failure report: "Backup Job '<name>' has failed." (bOffsite: "... backed up
// locally; off-site copy failed.") and where the log is; with a reason, the reason too.
std::string FailureText(const std::string& sJobName, const std::string& sLogFile, const std::string& sReason = "",
                        bool bOffsite = false);
// The reason in an off-site failure's log line ("  Off-site copy to '<remote>' failed: <reason>"),
// or the line as it is when it is no such line.
std::string OffsiteReason(const std::string& sLine);

// How often the agents retry the off-site copies that wait.
constexpr double OffsiteRetryMinutes = 30;
// One line naming the stale jobs and since when each has no successful backup.
std::string StaleText(const std::vector<JobHealth::Stale>& stale, int iDays);
// The log line of a made-up run (without the log's own time stamp).
std::string CaughtUpLine(double dMoment);

class CSchedulerTick {
public:
    explicit CSchedulerTick(int iTickMs = 30000) : m_iTickMs(iTickMs) {}

    // While true the tick does nothing.
    bool Suspended() const { return m_bSuspended; }
    void SetSuspended(bool bValue) { m_bSuspended = bValue; }
    // A tick is running jobs.
    bool Busy() const { return m_bBusy; }
    // Missed runs wait for the next tick that may run jobs.
    bool CatchUpPending() const { return m_bCatchUpPending; }

    // An agent starts: every job's next run is computed now (a one-shot date inside the first
    // tick is then due at that tick), missed runs are asked for when RunMissedBackups is set,
    // and the first tick follows at once. Returns the number of jobs it ran.
    int StartUp(TickHost& host);

    // One tick: returns the number of jobs it ran. Does nothing when there is no job manager or
    // no job, when suspended, while the main window is visible, while busy, or while another
    // run (from the window) is in progress. Errors are fatal ("frmMain",
    // "tmrCheckForBackupJob_Timer()").
    int Tick(TickHost& host);
    // Step 6 of a tick: runs each handle greater than -1 in order, refreshing its row and
    // reporting a failure. Returns the number run.
    //
    // An abandoned run records nothing, so the job stays due and the next tick tries again (a
    // target drive plugged in later is then used at once). The user hears of a failing job once,
    // not every 30 seconds: again only after a run of it has completed without failure. A job
    // whose backups this process reads is not run (nor reported): it stays due until they are
    // no longer read.
    int RunHandles(const std::vector<int32_t>& handles, TickHost& host);
    // Mains power returned or the network is no longer metered (PowerWatch): the runs put off
    // on battery are caught up and the off-site copies that wait are sent, at the next tick,
    // which the agent starts at once.
    void Relieved();

    // The drives changed (the mount table, a drive attached). For each job whose drive has just
    // come, the missed runs are asked for (when RunMissedBackups is set) and a job with
    // RunOnConnect whose last success is older than ConnectRunHours is queued; when a drive came,
    // a tick follows at once. Returns the number of jobs it ran.
    int DrivesChanged(TickHost& host);
    static constexpr double ConnectRunHours = 1;

private:
    // Notes for each job with a recorded volume whether its drive is here; returns the job files
    // whose drive was not here at the previous look and is now.
    std::vector<std::string> NoteDrives();
    // Runs the jobs queued for their drive's connection, except those in ran.
    int RunConnected(TickHost& host, const std::vector<int32_t>& ran);
    // The job waits for its drive: one log line a day at most.
    void NoteWaiting(const std::string& sFile, const CBackupJob& job);

    // Notes a wall-clock jump since the previous tick (the steady clock does not jump).
    void WatchClock();
    // Runs every missed moment's job once, in list order, each with its log line; their handles
    // go to caughtUp.
    int CatchUp(TickHost& host, std::vector<int32_t>& caughtUp);
    // At most hourly until the day's report is made: names the stale jobs.
    void CheckStale(TickHost& host);
    // At the first tick, after a wall-clock jump and every OffsiteRetryMinutes: each active job
    // whose backup waits for its off-site copy (and is not being read here) is sent.
    void RetryOffsite(TickHost& host);
    // Tells the user of a failed off-site copy of the job once, until a copy succeeds again.
    void ReportOffsite(const std::string& sFile, const CBackupJob& job, TickHost& host);
    // A scheduled run of the job waits while the machine is on battery (when the user asks for
    // that): true, with one log line per postponement.
    bool Postponed(CBackupJobManager& manager, int32_t lHandle, const std::string& sFile);
    // Runs one scheduled job, as a background run or with its off-site copy held back when the
    // preferences and the machine say so.
    void RunScheduled(CBackupJobManager& manager, int32_t lHandle, TickHost& host);

    int m_iTickMs;
    bool m_bSuspended = false;
    bool m_bBusy = false;
    bool m_bCatchUpPending = false;
    double m_dLastWall = 0;
    std::chrono::steady_clock::time_point m_lastSteady;
    double m_dNextStaleCheck = 0;
    double m_dNextOffsiteRetry = 0;
    std::set<std::string> m_Reported;              // job files whose failure the user was told of
    std::set<std::string> m_OffsiteReported;       // job files whose off-site failure the user was told of
    std::map<std::string, bool> m_DriveHere;       // job file -> its drive was here at the last look
    std::set<std::string> m_ConnectPending;        // job files to run for their drive's connection
    std::map<std::string, int64_t> m_WaitingNoted; // job file -> the day its waiting was logged
    std::set<std::string> m_Postponed;             // job files whose scheduled run waits for mains power
    bool m_bCatchUpPostponedOnly = false;          // the pending catch-up is only for those
};

} // namespace SchedulerTick
