#include "app/SchedulerTick.h"

#include "app/QtHelpers.h"
#include "app/RunGuard.h"
#include "engine/BackupRun.h"
#include "engine/JobLock.h"
#include "jobs/CBackupJobManager.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libLog.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>

namespace SchedulerTick {

using QtHelpers::Q;
using QtHelpers::S;

std::string FailureText(const std::string& sJobName, const std::string& sLogFile, const std::string& sReason) {
    if (sReason.empty())
        return S(QCoreApplication::translate("SchedulerTick",
                                             "Backup Job '%1' has failed. See transaction log for details: '%2'")
                     .arg(Q(sJobName), Q(sLogFile)));
    return S(QCoreApplication::translate("SchedulerTick",
                                         "Backup Job '%1' has failed: %3 See transaction log for details: '%2'")
                 .arg(Q(sJobName), Q(sLogFile), Q(sReason)));
}

std::string StaleText(const std::vector<JobHealth::Stale>& stale, int iDays) {
    QStringList jobs;
    for (const auto& st : stale) {
        if (st.Since > CBackupJob::NotComputed)
            jobs << QCoreApplication::translate("SchedulerTick", "'%1' (since %2)")
                        .arg(Q(st.JobName), Q(libDates::Format(st.Since, "mmm-dd-yyyy hh:mm")));
        else
            jobs << QString("'%1'").arg(Q(st.JobName));
    }
    return S(QCoreApplication::translate("SchedulerTick", "No successful backup for more than %n day(s): %1", "", iDays)
                 .arg(jobs.join(", ")));
}

std::string CaughtUpLine(double dMoment) {
    return "  Missed run of " + libDates::Format(dMoment, "mm/dd/yyyy hh:mm:ss") + " caught up";
}

int CSchedulerTick::StartUp(TickHost& host) {
    return libErrorHandler::Trap("frmMain", "tmrCheckForBackupJob_Timer()", [&]() -> int {
        if (CBackupJobManager* pManager = JobManager()) JobHealth::ComputeNextRuns(*pManager);
        m_bCatchUpPending = appPreferences::RunMissedBackups;
        m_dNextStaleCheck = 0;
        return Tick(host);
    });
}

void CSchedulerTick::WatchClock() {
    const double dWall = libDates::Now();
    const auto steady = std::chrono::steady_clock::now();
    if (m_dLastWall > 0) {
        const double dWallMs = (dWall - m_dLastWall) * 86400000.0;
        const double dSteadyMs = std::chrono::duration<double, std::milli>(steady - m_lastSteady).count();
        if (std::fabs(dWallMs - dSteadyMs) > 2.0 * m_iTickMs) {
            if (appPreferences::RunMissedBackups) m_bCatchUpPending = true;
            m_dNextStaleCheck = 0;
        }
    }
    m_dLastWall = dWall;
    m_lastSteady = steady;
}

int CSchedulerTick::Tick(TickHost& host) {
    return libErrorHandler::Trap("frmMain", "tmrCheckForBackupJob_Timer()", [&]() -> int {
        WatchClock();
        CBackupJobManager* pManager = JobManager();
        if (!pManager || pManager->Count() == 0 || m_bSuspended) return 0;
        if (host.MainWindowVisible()) return 0;
        if (m_bBusy) return 0;
        // A run started from the main window lets events through; never start a second one.
        appSetup::RunGuard guard;
        if (!guard.Acquired()) return 0;
        m_bBusy = true;
        struct Restore {
            CSchedulerTick* pTick;
            TickHost& host;
            ~Restore() {
                pTick->m_bBusy = false;
                host.SetTrayMenuEnabled(true);
            }
        } restore{this, host};
        host.SetTrayMenuEnabled(false);
        // The due jobs first: loading a job (as the catch-up and the stale check do) stores its
        // next run afresh, and a job that is due now would no longer look due.
        std::vector<int32_t> handles = pManager->BackupsToRun(libDates::Now());
        int iRun = 0;
        if (m_bCatchUpPending) {
            std::vector<int32_t> caughtUp;
            iRun += CatchUp(host, caughtUp);
            // A job that was missed and is due as well runs once.
            std::erase_if(handles,
                          [&](int32_t h) { return std::find(caughtUp.begin(), caughtUp.end(), h) != caughtUp.end(); });
        }
        iRun += RunHandles(handles, host);
        CheckStale(host);
        return iRun;
    });
}

int CSchedulerTick::CatchUp(TickHost& host, std::vector<int32_t>& caughtUp) {
    m_bCatchUpPending = false;
    CBackupJobManager* pManager = JobManager();
    if (!pManager) return 0;
    int iRun = 0;
    for (const JobHealth::Missed& missed : JobHealth::MissedRuns(*pManager, libDates::Now())) {
        // Put off while its backups are read here: the catch-up is asked for again next tick.
        if (JobLock::ReadHere(pManager->FileNameFromHandle(missed.Handle))) {
            m_bCatchUpPending = true;
            continue;
        }
        iRun += RunHandles({missed.Handle}, host);
        caughtUp.push_back(missed.Handle);
        // An abandoned run records nothing: the moment stays missed for the next chance.
        const CBackupJob* pJob = pManager->JobFromHandle(missed.Handle);
        if (pJob && pJob->DateLastRun() >= missed.Moment) libLog::LogEventLevel(2, CaughtUpLine(missed.Moment));
    }
    return iRun;
}

void CSchedulerTick::CheckStale(TickHost& host) {
    const double dNow = libDates::Now();
    if (appPreferences::StaleDays <= 0 || dNow < m_dNextStaleCheck) return;
    CBackupJobManager* pManager = JobManager();
    if (!pManager) return;
    const std::vector<JobHealth::Stale> stale = JobHealth::StaleJobs(*pManager, dNow, appPreferences::StaleDays);
    if (stale.empty()) {
        m_dNextStaleCheck = dNow + 1.0 / 24; // becoming stale is a matter of days: hourly is soon enough
        return;
    }
    host.ReportStale(StaleText(stale, appPreferences::StaleDays));
    m_dNextStaleCheck = std::floor(dNow) + 1; // once a day
}

int CSchedulerTick::RunHandles(const std::vector<int32_t>& handles, TickHost& host) {
    int iRun = 0;
    for (int32_t lHandle : handles) {
        if (lHandle <= -1) continue;
        CBackupJobManager* pManager = JobManager();
        if (!pManager) break;
        std::string sFile = pManager->FileNameFromHandle(lHandle);
        if (sFile.empty()) continue; // void handle: nothing to run
        // Its backups are being read here (the restore window, a verify): the run would wait
        // under that read. Not run, so not recorded: the job stays due for a later tick.
        if (JobLock::ReadHere(sFile)) continue;
        // Loading the job stores its next run afresh from the clock (a moment to come): a run
        // that records nothing puts the moment it was due back, so that it stays due.
        const double dDue = pManager->NextRunFromHandle(lHandle);
        const CBackupJob* pBefore = pManager->JobFromHandle(lHandle);
        const int32_t lRunsBefore = pBefore ? pBefore->RunCount() : -1;
        const double dLastRunBefore = pBefore ? pBefore->DateLastRun() : 0;
        libLog::ClearLastUnconditionalEvent();
        BackupRun::ExecuteBackup(*pManager, lHandle);
        CBackupJob* pJob = pManager->JobFromHandle(lHandle);
        if (pJob && pJob->RunCount() == lRunsBefore && pJob->DateLastRun() == dLastRunBefore)
            pManager->KeepNextRun(lHandle, dDue);
        // A read of it began while the run waited for a reader elsewhere: put off, not failed.
        if (JobLock::ReadHere(sFile)) continue;
        ++iRun;
        if (pJob) {
            if (!pJob->Failure())
                m_Reported.erase(sFile);
            else if (m_Reported.insert(sFile).second)
                host.ReportFailure(pJob->JobName(), libLog::LogFileName(), libLog::LastUnconditionalEvent());
        }
        host.RefreshDetailsByHandle(lHandle);
    }
    return iRun;
}

} // namespace SchedulerTick
