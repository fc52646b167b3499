#pragma once
// What a backup run tells whoever reports runs off the machine (mail, monitoring pings). The
// program installs a listener at start-up (src/app/ReportOutbox); the engine knows nothing of
// how reports travel. The listener is called on the run's thread: when the run starts (the job
// lock held) and when it has ended (its result recorded in the job file). It must return at
// once, leaving the sending to a thread of its own, so that a report never delays or fails a
// backup; whatever it throws is dropped here.

#include "engine/BackupRun.h"
#include "support/libLog.h"

#include <optional>
#include <string>
#include <vector>

class CBackupJob;

namespace ReportHook {

struct RunEnd {
    bool Failed = false;            // not completed, Failure set, or its off-site copy failed
    std::string Reason;             // the run's last unconditional log line ("" when none)
    std::string Summary;            // the run's "Backed up ..." line, without its blanks; "" when none
    std::vector<std::string> Lines; // the run's log lines, as in the log (bounded)
};

class Listener {
public:
    virtual ~Listener() = default;
    virtual void RunStarted(const CBackupJob& job) = 0;
    virtual void RunEnded(const CBackupJob& job, const RunEnd& end) = 0;
};

// Installs a listener (nullptr: none). Returns the one installed before.
Listener* Install(Listener* pListener);

// The text of a run's summary line among the lines of a log ("Backed up <n> files ..."), or ""
// when none of them is one.
std::string SummaryOf(const std::vector<std::string>& lines);

// For the life of one run: the listener hears of the start at construction; the run's log lines
// are kept; End tells the listener how it ended. A run left by an exception (a fatal report) is
// told as failed.
class RunScope {
public:
    explicit RunScope(const CBackupJob& job);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;
    void End(BackupRun::RunResult result);

private:
    void Tell(bool bFailed);

    const CBackupJob& m_job;
    std::optional<libLog::LineCapture> m_capture; // from just after the start was told
    bool m_bEnded = false;
};

} // namespace ReportHook
