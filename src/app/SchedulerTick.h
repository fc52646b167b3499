#pragma once
// The scheduler tick: every 30 seconds, run each job that is due, one after the other.
// One implementation for the tray agent (frmMain's timer) and the headless agent. Qt-free.

#include <cstdint>
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
    // A scheduled run ended with Failure set: tell the user (a notification, a line on stderr).
    virtual void ReportFailure(const std::string& sJobName, const std::string& sLogFile) = 0;
};

// The text of a failure report: "Backup Job '<name>' has failed." and where the log is.
std::string FailureText(const std::string& sJobName, const std::string& sLogFile);

class CSchedulerTick {
public:
    // While true the tick does nothing.
    bool Suspended() const { return m_bSuspended; }
    void SetSuspended(bool bValue) { m_bSuspended = bValue; }
    // A tick is running jobs.
    bool Busy() const { return m_bBusy; }

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
    // not every 30 seconds: again only after a run of it has completed without failure.
    int RunHandles(const std::vector<int32_t>& handles, TickHost& host);

private:
    bool m_bSuspended = false;
    bool m_bBusy = false;
    std::set<std::string> m_Reported; // job files whose failure the user was told of
};

} // namespace SchedulerTick
