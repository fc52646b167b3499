#pragma once
// The one owner of the engine's process-wide state. Everything else in the engine belongs to
// the object that uses it (a run, its zip engine, a copy walk) and lives no longer than it.
// What is here must be reachable from outside a run, or outlives runs:
//   - the abort request: the main window's Abort command and the agent's stop signal reach
//     the run in progress through it; the window's run loop reads it between jobs;
//   - the window showing the run, for the copy walk's and the zip call-backs' status line;
//   - whether a run is in progress, so that a second run is refused while one runs (a run
//     lets events through, and one of them could start another);
//   - the archive-flag store, an open SQLite database kept across runs (see ArchiveFlags).
// All work runs on the one user-interface thread, except the abort and stop requests, which the
// copy workers read and a signal handler sets.

#include <memory>
#include <string>

class ArchiveFlags;
class BackupRunOwner;

namespace RunState {

// Set by the main window's Abort command; read by the copy walk, its copy workers (on their
// own threads) and the zip engine's per-file call-back; cleared at the start of a run and by
// the main window. Also true while a stop is requested.
bool AbortRequested();
void SetAbortRequested(bool bValue);

// The program was asked to end (a stop signal): every run stops as if aborted, and a run that
// starts meanwhile stops at once; the start of a run does not clear it. Safe to set from a
// signal handler.
bool StopRequested();
void SetStopRequested(bool bValue);

// The window showing the run in progress, or nullptr (runs without a window). Set by the run
// for its whole duration so that the copy walk and the zip call-backs can update its status line.
BackupRunOwner* Owner();
void SetOwner(BackupRunOwner* pOwner);

// Sets the owner for a scope and puts the previous one back at its end.
class OwnerScope {
public:
    explicit OwnerScope(BackupRunOwner* pOwner);
    ~OwnerScope();
    OwnerScope(const OwnerScope&) = delete;
    OwnerScope& operator=(const OwnerScope&) = delete;

private:
    BackupRunOwner* m_pPrevious;
};

// Marks a run in progress for its scope. Entered() is false when another run was already in
// progress: the caller must not run then (and the mark stays the other run's).
class RunningScope {
public:
    RunningScope();
    ~RunningScope();
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;
    bool Entered() const { return m_bEntered; }

private:
    bool m_bEntered;
};

// The archive-flag store of the process and the database file it was opened for. Only
// ArchiveFlags::Instance and ArchiveFlags::Close use it.
struct ArchiveFlagSlot {
    ArchiveFlagSlot();
    ~ArchiveFlagSlot();
    std::unique_ptr<ArchiveFlags> Store;
    std::string Path;
};
ArchiveFlagSlot& ArchiveFlagStore();

} // namespace RunState
