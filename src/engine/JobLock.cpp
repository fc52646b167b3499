#include "engine/JobLock.h"

#include "engine/BackupRunOwner.h"
#include "engine/RunState.h"
#include "jobs/CBackupJob.h"
#include "support/UserInteraction.h"
#include "support/libFiles.h"
#include "support/libLog.h"

#include <chrono>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace JobLock {

namespace {
// The jobs this process reads now, by lock file, each with the number of reads going on.
std::mutex g_readsMutex;
std::map<std::string, int> g_reads;

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

RunLock ForRun(FileLock& lock, const CBackupJob& job) {
    if (ReadHere(job.FileName())) return RunLock::ReadHere;
    if (!OpenFor(lock, job.FileName())) return RunLock::Held;
    FileLock::Result result = lock.Try(FileLock::Mode::Exclusive);
    if (result != FileLock::Result::Busy) return RunLock::Held;
    const std::string sWaiting = "Waiting for the restore or verify of '" + job.JobName() + "' to end";
    libLog::LogEvent(sWaiting);
    if (BackupRunOwner* pOwner = RunState::Owner()) pOwner->SetMessageText(sWaiting + "...");
    // A request left over from an earlier run must not end this wait (the run clears it too).
    RunState::SetAbortRequested(false);
    while (result == FileLock::Result::Busy) {
        // Polled, not blocked on: the agent's events (a stop signal, the Abort command) go on.
        UserInteraction::DoEvents();
        if (RunState::AbortRequested()) return RunLock::Aborted;
        // A read begun by one of those events would never end while this run waits under it.
        if (ReadHere(job.FileName())) {
            lock.Release();
            return RunLock::ReadHere;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        result = lock.Try(FileLock::Mode::Exclusive);
    }
    return RunLock::Held;
}

bool TryForRun(FileLock& lock, const CBackupJob& job) {
    if (ReadHere(job.FileName())) return false;
    if (!OpenFor(lock, job.FileName())) return true;
    if (lock.Try(FileLock::Mode::Exclusive) != FileLock::Result::Busy) return true;
    lock.Release();
    return false;
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

ReadScope::ReadScope(const std::string& sJobFile) {
    const std::string sKey = LockFileOf(sJobFile);
    if (sKey.empty()) return;
    // Tried, never waited for: a run of this process holding the lock lies further down the
    // stack of the event that asked for this read, and would never end during the wait.
    if (OpenFor(m_lock, sJobFile) && m_lock.Try(FileLock::Mode::Shared) == FileLock::Result::Busy) {
        m_lock.Release();
        m_bBusy = true;
        return;
    }
    m_sKey = sKey;
    std::lock_guard<std::mutex> guard(g_readsMutex);
    ++g_reads[m_sKey];
}

ReadScope::~ReadScope() {
    if (m_sKey.empty()) return;
    std::lock_guard<std::mutex> guard(g_readsMutex);
    auto it = g_reads.find(m_sKey);
    if (it != g_reads.end() && --it->second <= 0) g_reads.erase(it);
}

bool ReadHere(const std::string& sJobFile) {
    const std::string sKey = LockFileOf(sJobFile);
    if (sKey.empty()) return false;
    std::lock_guard<std::mutex> guard(g_readsMutex);
    return g_reads.count(sKey) != 0;
}

} // namespace JobLock
