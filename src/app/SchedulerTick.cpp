#include "app/SchedulerTick.h"

#include "app/QtHelpers.h"
#include "app/RunGuard.h"
#include "engine/CBackupJobRun.h"
#include "jobs/CBackupJobManager.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libLog.h"

#include <QCoreApplication>

namespace SchedulerTick {

std::string FailureText(const std::string& sJobName, const std::string& sLogFile) {
    return QtHelpers::S(QCoreApplication::translate("SchedulerTick",
                                                    "Backup Job '%1' has failed. See transaction log for details: '%2'")
                            .arg(QtHelpers::Q(sJobName), QtHelpers::Q(sLogFile)));
}

int CSchedulerTick::Tick(TickHost& host) {
    return libErrorHandler::Trap("frmMain", "tmrCheckForBackupJob_Timer()", [&]() -> int {
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
        std::vector<int32_t> handles = pManager->BackupsToRun(libDates::Now());
        return RunHandles(handles, host);
    });
}

int CSchedulerTick::RunHandles(const std::vector<int32_t>& handles, TickHost& host) {
    int iRun = 0;
    for (int32_t lHandle : handles) {
        if (lHandle <= -1) continue;
        CBackupJobManager* pManager = JobManager();
        if (!pManager) break;
        std::string sFile = pManager->FileNameFromHandle(lHandle);
        if (sFile.empty()) continue; // void handle: nothing to run
        BackupRun::ExecuteBackup(*pManager, lHandle);
        ++iRun;
        if (CBackupJob* pJob = pManager->JobFromHandle(lHandle)) {
            if (!pJob->Failure())
                m_Reported.erase(sFile);
            else if (m_Reported.insert(sFile).second)
                host.ReportFailure(pJob->JobName(), libLog::LogFileName());
        }
        host.RefreshDetailsByHandle(lHandle);
    }
    return iRun;
}

} // namespace SchedulerTick
