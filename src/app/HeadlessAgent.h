#pragma once
// The tray agent without a display: no window, the 30-second tick runs due jobs, a change of the
// drives (DriveWatch) ticks at once, SIGTERM or SIGINT performs the orderly shut-down. Runs no Qt
// event loop.

#include "app/SchedulerTick.h"

#include <string>

namespace StopSignals {
// Routes SIGTERM and SIGINT into a self-pipe (installed once). Returns its read end. A signal
// also asks a run in progress to stop (RunState::SetStopRequested).
int Install();
// True once a stop signal (or Request) arrived.
bool Requested();
// What a stop signal does, for callers without signals (tests).
void Request();
// Forgets a handled request (tests).
void Reset();
} // namespace StopSignals

namespace HeadlessAgent {

// The agent's host for the tick: no window, no tray menu; a failure or the day's stale jobs are
// one line on stderr each (and a desktop notification when the service can be reached).
class HeadlessHost : public SchedulerTick::TickHost {
public:
    bool MainWindowVisible() override { return false; }
    void SetTrayMenuEnabled(bool) override {}
    void RefreshDetailsByHandle(int32_t) override {}
    void ReportFailure(const std::string& sJobName, const std::string& sLogFile, const std::string& sReason,
                       bool bOffsite) override;
    void ReportStale(const std::string& sText) override;
    // /RUN is another process: every run here is a scheduled one.
    bool RunsBackupsByHand() override { return false; }
};

// Starts the tick at once (next runs computed, missed runs made up when asked for), then runs
// the agent until a stop signal, ticking every iTickMs milliseconds; then shuts down in
// order (saves the preferences, stops the tick). A stop signal during a run asks the run to
// abort at its next event point. Returns the exit status (0).
int Run(int iTickMs = 30000);

} // namespace HeadlessAgent
