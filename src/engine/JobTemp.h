#pragma once
// The one place where a job keeps what it writes before that gets a final name: the folder
// TargetDirectory + ".stowline-tmp-" + clean job name. A new archive, the new tree of a Rebuild
// and the temporary copies of files all live there until they are complete, so a crash or a
// kill never leaves anything partial under a final name, and the job's next run finds every
// leftover in one known place and removes it.

#include <cstdint>
#include <string>

namespace JobTemp {

// What every temporary folder name of the program begins with.
constexpr const char* Prefix = ".stowline-tmp-";

// The job's temporary folder (with its final "/") in the target directory sTarget (which ends
// with "/").
std::string FolderOf(const std::string& sTarget, const std::string& sJobName);

// True for the name of a temporary folder of any job: walks never enter one, so that a target
// inside a source tree never backs up half-written files.
bool IsTempName(const std::string& sName);

// Removes what an interrupted run of the job left in sFolder, if anything, and logs one line
// saying how much was reclaimed. Returns false (with a log line) when something could not be
// removed; the run goes on, since the leftovers hold no backup.
bool Reclaim(const std::string& sFolder);

// Creates the job's temporary folder (owner only: it may hold a password archive). Throws a
// StowError when it cannot be created.
void Create(const std::string& sFolder);

// Removes the folder after a run; failures are left for the next run's Reclaim.
void Remove(const std::string& sFolder);

} // namespace JobTemp
