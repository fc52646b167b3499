// BackupRun::ExecuteBackup: runs one catalogued job without a window.

#include "engine/CBackupJobRun.h"

#include "jobs/CBackupJobManager.h"

namespace BackupRun {

int32_t ExecuteBackup(CBackupJobManager& manager, int32_t lHandle) {
    if (lHandle < 0) return lHandle;
    if (manager.SharedJob().Tag() != lHandle && manager.JobFromHandle(lHandle) == nullptr) return lHandle;
    ExecuteBackupNow(manager.SharedJob(), nullptr);
    return lHandle;
}

} // namespace BackupRun
