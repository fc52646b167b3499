#pragma once
// The count of what a backup run will back up, made on a thread of its own beside the run so
// that the run's progress can show a percent and a time left, when a display shows it (a run
// nobody watches counts nothing). A cheap walk with the job's selection: the source entries and
// their patterns, the subfolders as the job says, the job's exclusions by name, cache folders
// when the job leaves them out, and (zip style, incremental) files changed since the day of the
// last run. It goes in the copy walk's own order, so that the inodes it reads are those a copy
// walk needs next. A zip run's first source entry is counted by that entry's own walk, which runs
// ahead of the writing (the run hands the count the other entries only). What it does not read
// is the archive-flag store: an incremental copy run counts every selected file, and its walk
// adds the unchanged files it passes as done, so both sides count the same files.
//
// The thread runs at the run's CPU priority (lowered, it would starve beside busy deflate
// workers and end with the run) and at the lowest level of its I/O class. When the system gives
// no thread, nothing is counted and the progress stays without a percent.

#include "engine/RunProgress.h"
#include "engine/WorkerThreads.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

class CBackupJob;

class RunCount {
public:
    struct Selection {
        std::vector<std::string> Sources; // as the job lists them
        bool Recurse = false;
        std::string ExcludeSpec; // the job's exclusions, one a line
        bool ExcludeCaches = false;
        bool DateFilter = false; // only files changed at or after ChangedSince
        std::time_t ChangedSince = 0;
    };

    // Starts counting into progress.
    RunCount(RunProgress& progress, Selection selection);
    // Stops the count if it still goes, and waits for its thread.
    ~RunCount();
    RunCount(const RunCount&) = delete;
    RunCount& operator=(const RunCount&) = delete;

    // The job's selection: its sources, subfolders, exclusions, caches, and for an incremental
    // zip job the day of its last run.
    static Selection SelectionOf(const CBackupJob& job);

    // The count on the calling thread, as the thread makes it; for the benchmark and tests.
    static void Count(RunProgress& progress, const Selection& selection, std::stop_token stop);

private:
    const Selection m_selection;
    WorkerThreads m_thread; // last: joined before the rest goes
};
