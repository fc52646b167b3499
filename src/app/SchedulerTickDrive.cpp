// The tick's side of the target drives: which jobs' drives came back, the runs a connection
// asks for, and the log line of a job that waits for its drive.

#include "app/SchedulerTick.h"

#include "jobs/CBackupJobManager.h"
#include "jobs/JobHealth.h"
#include "jobs/TargetDrive.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libLog.h"

#include <algorithm>
#include <cmath>

namespace SchedulerTick {

std::vector<std::string> CSchedulerTick::NoteDrives() {
    std::vector<std::string> came;
    CBackupJobManager* pManager = JobManager();
    for (int32_t i = 0; pManager && i < pManager->Count(); ++i) {
        const std::string sFile = pManager->FileNameFromHandle(pManager->HandleFromIndex(i));
        // A job of its own: loading the shared job would store its next run afresh.
        CBackupJob probe;
        if (sFile.empty() || probe.Open(sFile) != CBackupJob::FileResult::Done || probe.TargetVolume().empty())
            continue;
        const bool bHere = TargetDrive::Locate(probe) == TargetDrive::Where::Here;
        const auto it = m_DriveHere.find(sFile);
        if (it != m_DriveHere.end() && !it->second && bHere) came.push_back(sFile);
        m_DriveHere[sFile] = bHere;
    }
    return came;
}

int CSchedulerTick::DrivesChanged(TickHost& host) {
    return libErrorHandler::Trap("frmMain", "tmrCheckForBackupJob_Timer()", [&]() -> int {
        const std::vector<std::string> came = NoteDrives();
        if (came.empty()) return 0;
        const double dNow = libDates::Now();
        for (const std::string& sFile : came) {
            CBackupJob probe;
            if (probe.Open(sFile) != CBackupJob::FileResult::Done || !probe.RunOnConnect() || probe.Suspended())
                continue;
            const double dSuccess = probe.DateLastSuccess();
            if (dSuccess <= CBackupJob::NotComputed ||
                std::llround((dNow - dSuccess) * 86400.0) > std::llround(ConnectRunHours * 3600.0))
                m_ConnectPending.insert(sFile);
        }
        if (appPreferences::RunMissedBackups) m_bCatchUpPending = true;
        // Busy with a run (the window's, or this tick's own): the next tick takes them.
        return Tick(host);
    });
}

int CSchedulerTick::RunConnected(TickHost& host, const std::vector<int32_t>& ran) {
    CBackupJobManager* pManager = JobManager();
    if (!pManager || m_ConnectPending.empty()) return 0;
    std::vector<int32_t> handles;
    for (int32_t i = 0; i < pManager->Count(); ++i) {
        const int32_t lHandle = pManager->HandleFromIndex(i);
        if (m_ConnectPending.count(pManager->FileNameFromHandle(lHandle)) == 0) continue;
        if (std::find(ran.begin(), ran.end(), lHandle) == ran.end()) handles.push_back(lHandle);
    }
    m_ConnectPending.clear();
    return RunHandles(handles, host);
}

void CSchedulerTick::NoteWaiting(const std::string& sFile, const CBackupJob& job) {
    const auto lDay = static_cast<int64_t>(std::floor(libDates::Now()));
    auto [it, bNew] = m_WaitingNoted.try_emplace(sFile, lDay);
    if (!bNew && it->second == lDay) return;
    it->second = lDay;
    libLog::LogEventLevel(2, "Backup of '" + job.JobName() + "' waits for its drive: target folder '" +
                                 job.TargetDirectory() + "' is not on a mounted file system");
}

} // namespace SchedulerTick
