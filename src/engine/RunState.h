#pragma once
// Process-wide state of the backup run in progress. All work runs on the one
// user-interface thread, so plain values suffice.

class BackupRunOwner;

namespace RunState {

// Set by the main window's Abort command; read by the copy walk and the zip engine's per-file
// call-back; cleared at the start of a zip-style run and by the main window.
bool AbortRequested();
void SetAbortRequested(bool bValue);

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

} // namespace RunState
