#include "engine/JobLock.h"

#include "engine/BackupRunOwner.h"
#include "engine/RunState.h"
#include "jobs/CBackupJob.h"
#include "support/UserInteraction.h"
#include "support/libFiles.h"
#include "support/libLog.h"

#include <chrono>
#include <sys/stat.h>
#include <thread>

namespace JobLock {

namespace {
// Opens the job's lock file, making its folder when missing.
bool OpenFor(FileLock& lock, const std::string& sJobFile) {
    const std::string sLockFile = LockFileOf(sJobFile);
    if (sLockFile.empty()) return false;
    ::mkdir(libFiles::FilePathStripFileName(sLockFile).c_str(), 0700);
    return lock.Open(sLockFile);
}
} // namespace

std::string LockFileOf(const std::string& sJobFile) {
    const std::string sName = libFiles::FilePathStripPath(sJobFile);
    if (sName.empty()) return "";
    return libFiles::FilePathStripFileName(sJobFile) + ".locks/" + sName;
}

bool ForRun(FileLock& lock, const CBackupJob& job) {
    if (!OpenFor(lock, job.FileName())) return true;
    FileLock::Result result = lock.Try(FileLock::Mode::Exclusive);
    if (result != FileLock::Result::Busy) return true;
    const std::string sWaiting = "Waiting for the restore or verify of '" + job.JobName() + "' to end";
    libLog::LogEvent(sWaiting);
    if (BackupRunOwner* pOwner = RunState::Owner()) pOwner->SetMessageText(sWaiting + "...");
    // A request left over from an earlier run must not end this wait (the run clears it too).
    RunState::SetAbortRequested(false);
    while (result == FileLock::Result::Busy) {
        // Polled, not blocked on: the agent's events (a stop signal, the Abort command) go on.
        UserInteraction::DoEvents();
        if (RunState::AbortRequested()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        result = lock.Try(FileLock::Mode::Exclusive);
    }
    return true;
}

FileLock ForReading(const std::string& sJobFile, const std::function<void()>& onWait) {
    FileLock lock;
    if (!OpenFor(lock, sJobFile)) return lock;
    if (lock.Try(FileLock::Mode::Shared) == FileLock::Result::Busy) {
        if (onWait) onWait();
        lock.Wait(FileLock::Mode::Shared);
    }
    return lock;
}

} // namespace JobLock
