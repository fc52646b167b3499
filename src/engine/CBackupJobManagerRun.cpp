// CBackupJobManager::ExecuteBackup: runs one catalogued job without a window.

#include "jobs/CBackupJobManager.h"

int32_t CBackupJobManager::ExecuteBackup(int32_t lHandle) {
    if (lHandle < 0) return lHandle;
    if (m_pSharedJob->Tag() != lHandle) {
        const int32_t lIndex = FindIndexByHandle(lHandle);
        if (lIndex < 0) return lHandle;
        LoadEntry(lIndex);
    }
    m_pSharedJob->ExecuteBackupNow(nullptr);
    return lHandle;
}
