#include "app/SchedulerTick.h"

#include "app/PowerWatch.h"
#include "app/QtHelpers.h"
#include "app/ReportOutbox.h"
#include "app/RunGuard.h"
#include "engine/Background.h"
#include "engine/BackupRun.h"
#include "engine/JobLock.h"
#include "engine/Offsite.h"
#include "jobs/CBackupJobManager.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libLog.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <optional>

namespace SchedulerTick {

using QtHelpers::Q;
using QtHelpers::S;

std::string FailureText(const std::string& sJobName, const std::string& sLogFile, const std::string& sReason,
                        bool bOffsite) {
    if (bOffsite && sReason.empty())
        return S(QCoreApplication::translate(
                     "SchedulerTick",
                     "Backup Job '%1' backed up locally; off-site copy failed. See transaction log for details: '%2'")
                     .arg(Q(sJobName), Q(sLogFile)));
    if (bOffsite)
        return S(
            QCoreApplication::translate(
                "SchedulerTick",
                "Backup Job '%1' backed up locally; off-site copy failed: %3 See transaction log for details: '%2'")
                .arg(Q(sJobName), Q(sLogFile), Q(sReason)));
    if (sReason.empty())
        return S(QCoreApplication::translate("SchedulerTick",
                                             "Backup Job '%1' has failed. See transaction log for details: '%2'")
                     .arg(Q(sJobName), Q(sLogFile)));
    return S(QCoreApplication::translate("SchedulerTick",
                                         "Backup Job '%1' has failed: %3 See transaction log for details: '%2'")
                 .arg(Q(sJobName), Q(sLogFile), Q(sReason)));
}

std::string OffsiteReason(const std::string& sLine) {
    const std::string sHead = "  Off-site copy to '", sFailed = "' failed: ";
    const size_t i = sLine.find(sFailed, sHead.size());
    if (sLine.rfind(sHead, 0) != 0 || i == std::string::npos) return sLine;
    return sLine.substr(i + sFailed.size());
}

std::string StaleText(const std::vector<JobHealth::Stale>& stale, int iDays) {
    QStringList jobs;
    for (const auto& st : stale) {
        if (st.Offsite)
            jobs << QCoreApplication::translate("SchedulerTick", "'%1' (off-site copy behind since %2)")
                        .arg(Q(st.JobName), Q(libDates::Format(st.Since, "mmm-dd-yyyy hh:mm")));
        else if (st.Since > CBackupJob::NotComputed)
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
        m_bCatchUpPostponedOnly = false;
        m_dNextStaleCheck = 0;
        m_dNextOffsiteRetry = 0;
        NoteDrives(); // a drive already here at start-up is no connection
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
            if (appPreferences::RunMissedBackups) {
                m_bCatchUpPending = true;
                m_bCatchUpPostponedOnly = false;
            }
            m_dNextStaleCheck = 0;
            m_dNextOffsiteRetry = 0; // back from a suspend, perhaps with the network: try at once
        }
    }
    m_dLastWall = dWall;
    m_lastSteady = steady;
}

int CSchedulerTick::Tick(TickHost& host) {
    return libErrorHandler::Trap("frmMain", "tmrCheckForBackupJob_Timer()", [&]() -> int {
        WatchClock();
        PowerWatch::Update(); // the preferences may have changed since the last tick
        CBackupJobManager* pManager = JobManager();
        // What was sent meanwhile is logged, and the day's digest goes when it is due.
        if (ReportOutbox* pReports = ReportOutbox::Current()) pReports->Tick(pManager);
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
        std::vector<int32_t> caughtUp;
        if (m_bCatchUpPending) {
            iRun += CatchUp(host, caughtUp);
            // A job that was missed and is due as well runs once.
            std::erase_if(handles,
                          [&](int32_t h) { return std::find(caughtUp.begin(), caughtUp.end(), h) != caughtUp.end(); });
        }
        iRun += RunHandles(handles, host);
        caughtUp.insert(caughtUp.end(), handles.begin(), handles.end());
        iRun += RunConnected(host, caughtUp); // a job just run for its moment runs once
        RetryOffsite(host);
        CheckStale(host);
        return iRun;
    });
}

int CSchedulerTick::CatchUp(TickHost& host, std::vector<int32_t>& caughtUp) {
    m_bCatchUpPending = false;
    const bool bPostponedOnly = m_bCatchUpPostponedOnly;
    m_bCatchUpPostponedOnly = false;
    CBackupJobManager* pManager = JobManager();
    if (!pManager) return 0;
    int iRun = 0;
    for (const JobHealth::Missed& missed : JobHealth::MissedRuns(*pManager, libDates::Now())) {
        // Back on mains power without RunMissedBackups: only what this agent put off.
        if (bPostponedOnly && !m_Postponed.contains(pManager->FileNameFromHandle(missed.Handle))) continue;
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
        // On battery: not run, so not recorded, and the job stays due like one being read.
        if (Postponed(*pManager, lHandle, sFile)) continue;
        // Loading the job stores its next run afresh from the clock (a moment to come): a run
        // that records nothing puts the moment it was due back, so that it stays due.
        const double dDue = pManager->NextRunFromHandle(lHandle);
        const CBackupJob* pBefore = pManager->JobFromHandle(lHandle);
        // Its drive is away: not run, not failed; it stays due and runs when the drive is back.
        if (pBefore && JobHealth::WaitingForDrive(*pBefore)) {
            NoteWaiting(sFile, *pBefore);
            pManager->KeepNextRun(lHandle, dDue);
            continue;
        }
        const int32_t lRunsBefore = pBefore ? pBefore->RunCount() : -1;
        const double dLastRunBefore = pBefore ? pBefore->DateLastRun() : 0;
        libLog::ClearLastUnconditionalEvent();
        RunScheduled(*pManager, lHandle, host);
        CBackupJob* pJob = pManager->JobFromHandle(lHandle);
        if (pJob && pJob->RunCount() == lRunsBefore && pJob->DateLastRun() == dLastRunBefore)
            pManager->KeepNextRun(lHandle, dDue);
        else
            m_Postponed.erase(sFile);
        // A read of it began while the run waited for a reader elsewhere: put off, not failed.
        if (JobLock::ReadHere(sFile)) continue;
        ++iRun;
        if (pJob) {
            if (!pJob->Failure())
                m_Reported.erase(sFile);
            else if (m_Reported.insert(sFile).second)
                host.ReportFailure(pJob->JobName(), libLog::LogFileName(), libLog::LastUnconditionalEvent(), false);
            if (!pJob->Failure()) ReportOffsite(sFile, *pJob, host);
        }
        host.RefreshDetailsByHandle(lHandle);
    }
    return iRun;
}

bool CSchedulerTick::Postponed(CBackupJobManager& manager, int32_t lHandle, const std::string& sFile) {
    if (!appPreferences::PostponeOnBattery || !PowerWatch::OnBattery()) return false;
    if (m_Postponed.insert(sFile).second) {
        // Loading the job for its name stores its next run afresh: the moment it was due stays.
        const double dDue = manager.NextRunFromHandle(lHandle);
        const CBackupJob* pJob = manager.JobFromHandle(lHandle);
        manager.KeepNextRun(lHandle, dDue);
        libLog::LogEventLevel(2, BackupRun::HeaderLine(pJob ? pJob->JobName() : sFile));
        libLog::LogEventLevel(2, "  Postponed: on battery");
    }
    return true;
}

void CSchedulerTick::RunScheduled(CBackupJobManager& manager, int32_t lHandle, TickHost& host) {
    std::optional<Background::Scope> background;
    if (appPreferences::BackgroundRuns) background.emplace(!host.RunsBackupsByHand());
    const Offsite::HoldScope hold(appPreferences::PostponeOffsiteMetered && PowerWatch::Metered());
    BackupRun::ExecuteBackup(manager, lHandle);
}

void CSchedulerTick::Relieved() {
    if (!m_Postponed.empty() && !PowerWatch::OnBattery()) {
        // A catch-up asked for already (RunMissedBackups) covers every missed job.
        if (!m_bCatchUpPending) m_bCatchUpPostponedOnly = true;
        m_bCatchUpPending = true;
    }
    if (!PowerWatch::Metered()) m_dNextOffsiteRetry = 0;
}

void CSchedulerTick::ReportOffsite(const std::string& sFile, const CBackupJob& job, TickHost& host) {
    if (job.OffsiteFailed()) {
        if (m_OffsiteReported.insert(sFile).second)
            host.ReportFailure(job.JobName(), libLog::LogFileName(), OffsiteReason(libLog::LastUnconditionalEvent()),
                               true);
    } else if (!JobHealth::OffsitePending(job)) {
        m_OffsiteReported.erase(sFile); // sent (a run without a new backup changes nothing)
    }
}

void CSchedulerTick::RetryOffsite(TickHost& host) {
    // On a metered network (when the user asks so) the copies wait for the network to change.
    if (appPreferences::PostponeOffsiteMetered && PowerWatch::Metered()) return;
    const double dNow = libDates::Now();
    // In whole seconds: a retry 30 minutes after the last is due, whatever the serials' rounding.
    if (std::llround(dNow * 86400.0) < std::llround(m_dNextOffsiteRetry * 86400.0)) return;
    m_dNextOffsiteRetry = dNow + OffsiteRetryMinutes / 1440.0;
    CBackupJobManager* pManager = JobManager();
    for (int32_t i = 0; pManager && i < pManager->Count(); ++i) {
        const int32_t lHandle = pManager->HandleFromIndex(i);
        const std::string sFile = pManager->FileNameFromHandle(lHandle);
        // Judged from a job of its own: loading the shared job only for this would store every
        // job's next run afresh.
        CBackupJob probe;
        if (sFile.empty() || JobLock::ReadHere(sFile) || probe.Open(sFile) != CBackupJob::FileResult::Done) continue;
        if (!JobHealth::OffsitePending(probe)) {
            m_OffsiteReported.erase(sFile); // sent meanwhile (a run from the window, another process)
            continue;
        }
        if (probe.Suspended()) continue;
        // Sent through the shared job, the one a run uses, so that it never saves an older state.
        const double dDue = pManager->NextRunFromHandle(lHandle);
        CBackupJob* pJob = pManager->JobFromHandle(lHandle);
        if (!pJob) continue;
        libLog::ClearLastUnconditionalEvent();
        const Offsite::Retry retry = Offsite::SendPending(*pJob);
        // No run: the job stays due when it was.
        pManager->KeepNextRun(lHandle, dDue);
        if (retry != Offsite::Retry::Sent && retry != Offsite::Retry::Failed) continue;
        ReportOffsite(sFile, *pJob, host);
        host.RefreshDetailsByHandle(lHandle);
    }
}

} // namespace SchedulerTick
