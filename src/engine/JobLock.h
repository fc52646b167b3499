#pragma once
// A job's backups are never read while a run of the job writes them, and never written while
// they are read: a backup run holds the job's lock exclusively for its whole length, a restore
// or a verify holds it shared. The lock file lies in the job folder (".locks/" and the job
// file's name), so every process of one installation meets the same file whatever its
// environment, and the system lets go of it when its holder ends, also when it is killed.

#include "support/FileLock.h"

#include <functional>
#include <string>

class CBackupJob;

namespace JobLock {

// The lock file of the job whose job file is sJobFile; "" when there is no job file.
std::string LockFileOf(const std::string& sJobFile);

// Takes the lock for a run of the job, waiting while a restore or verify of it holds the lock:
// one log line says so, events run meanwhile, and an abort request ends the wait. False only
// when the wait was aborted. A job without a file, or a lock file that cannot be had, runs
// without the lock (true).
bool ForRun(FileLock& lock, const CBackupJob& job);

// Takes the lock for reading the backups of the job whose job file is sJobFile, waiting while
// a run of it holds the lock; onWait is called once before the wait begins. The lock returned
// is not held when no lock file could be had.
FileLock ForReading(const std::string& sJobFile, const std::function<void()>& onWait);

} // namespace JobLock
