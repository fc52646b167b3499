#pragma once
// A job's backups are never read while a run of the job writes them, and never written while
// they are read: a backup run holds the job's lock exclusively for its whole length, a restore
// or a verify holds it shared. The lock file lies in the job folder (".locks/" and the job
// file's name), so every process of one installation meets the same file whatever its
// environment, and the system lets go of it when its holder ends, also when it is killed.
//
// Within one process the lock cannot keep a run and a read apart: a read lets events through,
// and a run started from one of them would wait for a lock that only the read, further down the
// same stack, can let go of. So this process also records which jobs it reads (ReadScope), and
// a run of such a job is put off at once instead of waiting.

#include "support/FileLock.h"

#include <functional>
#include <string>

class CBackupJob;

namespace JobLock {

// The lock file of the job whose job file is sJobFile; "" when there is no job file.
std::string LockFileOf(const std::string& sJobFile);

enum class RunLock {
    Held,     // the run may go on
    Aborted,  // the wait for a reader in another process was aborted
    ReadHere, // this process reads the job's backups: the run is put off, nothing waited for
};

// Takes the lock for a run of the job, waiting while a restore or verify of it in another
// process holds the lock: one log line says so, events run meanwhile, and an abort request ends
// the wait. Never waits for a read of this process (ReadHere, also when one begins during the
// wait). A job without a file, or a lock file that cannot be had, runs without the lock (Held).
RunLock ForRun(FileLock& lock, const CBackupJob& job);

// Takes the lock for work that writes the job's record and must not wait (the off-site retry):
// false, with nothing held, while this process reads the job's backups or a run or read of it
// holds the lock anywhere. A job without a file, or a lock file that cannot be had, goes on
// without the lock (true), as a run does.
bool TryForRun(FileLock& lock, const CBackupJob& job);

// Takes the lock for reading the backups of the job whose job file is sJobFile, waiting while
// a run of it holds the lock; onWait is called once before the wait begins. The lock returned
// is not held when no lock file could be had. For a process that runs no backup itself (the
// command line's restore and verify): the wait blocks.
FileLock ForReading(const std::string& sJobFile, const std::function<void()>& onWait);

// A read of a job's backups by this process, for as long as the object lives: runs of the job
// started here meanwhile are put off (ForRun answers ReadHere), and the lock is held shared so
// that runs in other processes wait. It never waits itself: when a run of the job holds the lock
// (here or in another process) nothing is taken and Busy() is true, and the caller says so
// instead of reading. Several reads of one job may overlap.
class ReadScope {
public:
    explicit ReadScope(const std::string& sJobFile);
    ~ReadScope();
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;

    bool Busy() const { return m_bBusy; }

private:
    std::string m_sKey; // "" while nothing is recorded
    FileLock m_lock;
    bool m_bBusy = false;
};

// Whether this process reads the backups of the job whose job file is sJobFile now.
bool ReadHere(const std::string& sJobFile);

} // namespace JobLock
