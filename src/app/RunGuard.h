#pragma once
// One process-wide "a backup run is in progress" flag.
//
// A run lets pending window events through, so a timer tick, a tray click or a second click on
// the run command can arrive while it works. Every place that starts runs — the scheduler tick,
// the main window's run command, the command line — holds a RunGuard for the duration of its
// runs and starts nothing when Acquired() is false:
//
//     appSetup::RunGuard guard;
//     if (!guard.Acquired()) return;          // another run is in progress
//     appSetup::SetTrayMenuEnabled(false);    // frmPopup: Exit cannot act during the runs
//     ... run the jobs ...
//     appSetup::SetTrayMenuEnabled(true);
//
// The guard is released by its destructor, also when a run throws.

namespace appSetup {

class RunGuard {
public:
    RunGuard();
    ~RunGuard();
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

    // True when this guard holds the flag (no other run was in progress).
    bool Acquired() const { return m_bAcquired; }
    // True while any guard holds the flag.
    static bool RunInProgress();

private:
    bool m_bAcquired;
};

// Enables or disables the tray menu window frmPopup (and its commands). Does nothing when the
// tray agent is not loaded.
void SetTrayMenuEnabled(bool bEnabled);

} // namespace appSetup
