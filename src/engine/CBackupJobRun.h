#pragma once
// Pieces of the backup run (CBackupJob::ExecuteBackupNow) that stand on their own.

#include <functional>
#include <string>

namespace BackupRun {

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

// Test seam: a function consulted before the run looks a path up (drives, target, sources); a
// non-zero result is taken as the errno of a failed look-up (ENOMEDIUM: a drive without a
// medium). An empty function removes it.
void SetLookUpHook(std::function<int(const std::string& sPath)> hook);

} // namespace BackupRun
