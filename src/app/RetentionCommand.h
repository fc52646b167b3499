#pragma once
// "/RETENTION <job>": what the calendar rules of a copy-style job with snapshots would keep of
// the snapshots it has now, one line per snapshot, newest first. Changes nothing.

#include "engine/Snapshots.h"
#include "jobs/CBackupJob.h"

#include <string>
#include <vector>

namespace RetentionCommand {

// One line per snapshot, as the command prints them and the job editor previews them:
// "<YYYY-MM-DD_HHMMSS>  keep (daily)", "...  remove".
std::vector<std::string> PlanLines(const std::vector<Snapshots::Snapshot>& snapshots,
                                   const CBackupJob::SnapshotKeep& keep);

// The snapshots in sFolder, newest first (Snapshots::List); an absent folder has none. False, with
// the reason in sProblem, when something is there that cannot be read as a folder: "none" would
// then be a claim this program cannot make.
bool ListSnapshots(const std::string& sFolder, std::vector<Snapshots::Snapshot>& snapshots, std::string& sProblem);

// args as SplitCommandLine gives them (index 0 empty). 0: the plan was printed (also "no
// snapshots yet"); 1: no such job file, or it or the snapshot folder cannot be read; 2: usage (no job or an unknown
// switch: the help box shown; a job that keeps no snapshots: said on standard error).
int Print(const std::vector<std::string>& args);

} // namespace RetentionCommand
