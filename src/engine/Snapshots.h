#pragma once
// Dated snapshots of a copy-style job: where they lie, which are complete, and which of them the
// calendar keeps.
//
// TargetDir/<clean job name>.snapshots/ holds one folder per run, named YYYY-MM-DD_HHMMSS (local
// time), each a whole copy in which what did not change since the snapshot before is a hard link
// to it, and "latest", a relative symbolic link to the newest. A snapshot is built in the job's
// temporary folder and renamed to its dated name only once complete, so every dated folder there
// is a complete snapshot; any other name is not the program's and is never touched.

#include "jobs/CBackupJob.h"

#include <string>
#include <vector>

namespace Snapshots {

// TargetDir + "/" + clean job name + ".snapshots" (no final "/").
std::string FolderOf(const std::string& sTargetDirectory, const std::string& sJobName);

// The name of the link to the newest snapshot.
constexpr const char* kLatest = "latest";

struct Snapshot {
    std::string Name; // YYYY-MM-DD_HHMMSS
    double When = 0;  // the moment the name gives (program clock, local time)
};

// The complete snapshots in sFolder (real folders with a dated name; links and other names are
// left out), newest first. An absent folder has none.
std::vector<Snapshot> List(const std::string& sFolder);

// Why the calendar keeps a snapshot, or that it removes it.
enum class Reason { Remove, Newest, Last, Daily, Weekly, Monthly, Yearly };

struct Verdict {
    Snapshot Of;
    Reason Why = Reason::Remove;
};

// What the job's rules keep of the snapshots (newest first, as List gives them): the Last
// newest; for each of Daily, Weekly, Monthly and Yearly, the newest snapshot of each of the last
// N days (ISO weeks, months, years) that have one; the union of all rules, and the newest always.
// A snapshot kept by several rules is named by the first of last, daily, weekly, monthly, yearly.
std::vector<Verdict> Plan(const std::vector<Snapshot>& snapshots, const CBackupJob::SnapshotKeep& keep);

// "keep (daily)", "keep (last)", ..., "keep (newest)", or "remove".
std::string VerdictText(Reason why);

// The ISO 8601 week of the day d as year * 100 + week (a day early in January may belong to
// the previous year's last week, one late in December to the next year's first).
int IsoWeek(double d);

} // namespace Snapshots
