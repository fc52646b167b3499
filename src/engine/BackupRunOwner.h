#pragma once
// The window that shows a backup run's progress: its status line, the four-image
// status light and a repaint. The main window implements it; a run without a
// window (scheduler, command line) has no owner. No Qt here: the engine only
// talks to this interface.

#include <string>

class BackupRunOwner {
public:
    virtual ~BackupRunOwner() = default;

    // The status line of the window.
    virtual void SetMessageText(const std::string& sText) = 0;
    virtual std::string MessageText() const = 0;
    // Shows or hides one image of the status light (index 0..3).
    virtual void SetLight(int iIndex, bool bVisible) = 0;
    // Repaints the window at once.
    virtual void Repaint() = 0;
    // The hourglass pointer while a run is busy; false restores the default pointer.
    virtual void SetBusyPointer(bool bBusy) = 0;
};

namespace RunStatus {

// Number of times pending events are run after a status-light change.
constexpr int LightEventRounds = 20;

// The two states of the status light: idle shows images 0 and 3, busy images 1 and 2.
// Sets the four images in index order, repaints the owner, then lets pending events run
// 20 times. Nothing happens without an owner.
void SetLightIdle(BackupRunOwner* pOwner);
void SetLightBusy(BackupRunOwner* pOwner);

// The status line of the window showing the current run (RunState::Owner()): text followed by
// the path shortened for display. Nothing happens while no window shows a run.
void SetStatusMessage(const std::string& sText, const std::string& sPath);
// The status line set to a plain text (same rule: only while a window shows a run).
void SetMessageText(const std::string& sText);

} // namespace RunStatus
