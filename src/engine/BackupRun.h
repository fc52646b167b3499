#pragma once
// The backup run of a job, the run of a catalogued job, the rename that moves a job's
// archives, and the pieces of the run that stand on their own.

#include "engine/FileSystemProbe.h"

#include <cstdint>
#include <string>

class BackupRunOwner;
class CBackupJob;
class CBackupJobManager;

namespace BackupRun {

// What RunNow did with the job.
enum class RunResult {
    Completed, // the run went through and is recorded; the job's Failure says whether all was backed up
    Stopped,   // a source's drive could not be read (no medium; the message shown): nothing recorded, Failure set
    Abandoned, // the run was given up (its reason logged or shown) or its wait for the job cut short; Failure set
    Refused,   // another run goes on in this process (started from an event it let through): not run, Failure set
    PutOff,    // this process reads the job's backups (JobLock::ReadScope): one log line, nothing recorded
};

// Runs the job's backup now. pOwner shows progress (or none). The run looks paths up and opens
// its sources through probe.
[[nodiscard]] RunResult RunNow(CBackupJob& job, BackupRunOwner* pOwner = nullptr,
                               const FileSystemProbe& probe = FileSystemProbe::Real());
// RunNow, true when it was not Completed or Stopped.
bool ExecuteBackupNow(CBackupJob& job, BackupRunOwner* pOwner = nullptr,
                      const FileSystemProbe& probe = FileSystemProbe::Real());

// Loads the catalogued job (unless the manager's shared job already holds it) and runs its
// backup without a window. Returns the handle passed in; a negative or unknown handle does
// nothing.
int32_t ExecuteBackup(CBackupJobManager& manager, int32_t lHandle);

// New target folder and name (CBackupJob::RenameJobFile) and, when bMoveBackups, the job's own
// zip archives moved to the new folder and base name; an archive already under a new name is
// kept. Returns true when it completed; false for a name refused.
bool RenameJob(CBackupJob& job, const std::string& sNewTargetDirectory, const std::string& sNewJobName,
               bool bMoveBackups);

// The transaction-log header of a run: "-- " + name + " " + (60 - length) dashes; a name of
// 60 characters or more gets no dashes.
std::string HeaderLine(const std::string& sJobName);

// Expands the placeholders of a pre- or post-backup command: "%J" the job name, "%Z" the zip
// base name, "%D" the target directory; "%" followed by any other character (or by nothing) is
// removed together with that character. One pass from left to right: replaced text is never
// scanned again, so a job name holding "%J" cannot make the expansion run on.
std::string ExpandPlaceholders(const std::string& sCommand, const std::string& sJobName, const std::string& sZipBase,
                               const std::string& sTargetDirectory);

// Runs a command line through "/bin/sh -c" (standard input from /dev/null) and waits for it to
// end, letting pending events run meanwhile. Returns its exit status (128 + the signal number
// when a signal ended it), or -1 when it could not be started.
int RunCommand(const std::string& sCommandLine);

} // namespace BackupRun
