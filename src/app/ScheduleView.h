#pragma once
// What start-up, the tray agent and the scheduler tick need from the main window.
// The window itself lives in the ui layer and implements this interface; this layer
// never includes a ui header. src/main.cpp hands appSetup::Main a factory that
// creates the window.

#include "engine/RunProgress.h"

#include <functional>
#include <memory>
#include <string>

class QWidget;

namespace appSetup {

class ScheduleView {
public:
    virtual ~ScheduleView() = default;

    // The window itself: placement, centring, parent of message boxes.
    virtual QWidget* Window() = 0;

    // Reloads every job file through the job manager and rebuilds the job list.
    virtual void RefreshScheduleForm() = 0;
    // Refreshes the row whose Tag is lHandle (the scheduler tick calls it after each run).
    virtual void RefreshDetailsByHandle(long lHandle) = 0;
    // Re-judges every row's job health (the stale mark) and the status light, without reloading.
    virtual void RefreshHealth() {}
    // When true, closing the window really unloads it instead of hiding it.
    virtual void SetKillForm(bool bKill) = 0;
    // Changes the caption of the File menu's close entry (mnuFileClose); window mode makes it "Exit".
    virtual void SetFileCloseCaption(const std::string& sCaption) = 0;
    // Where the desktop has no notification area the tray menu cannot be reached, so the File
    // menu gains an entry with this caption ("Exit Stowline") that calls onExit.
    virtual void AddFileMenuExit(const std::string& sCaption, std::function<void()> onExit) = 0;

    // The progress of the backup, restore or verify going on, in the status bar; nullptr: none
    // goes on (the bar is hidden).
    virtual void ShowProgress(const RunProgress::View* pView) { (void)pView; }
    // Shows the window modeless, restored if minimised, raised and activated.
    virtual void ShowSchedule();
    // Used instead of hiding where there is no notification area (the window must stay reachable).
    virtual void MinimiseSchedule();
    // Whether the user has the job list open. A minimised window counts as hidden where there is
    // no notification area (it stands in for the hidden window there).
    virtual bool IsVisibleToUser() const;
    // Sets KillForm and closes the window; its own close handling captures the placement and
    // the column layout and saves the preferences (when SaveFormSize is set).
    virtual void UnloadSchedule();

protected:
    const QWidget* ConstWindow() const { return const_cast<ScheduleView*>(this)->Window(); }
};

// Creates the main window. Called once by Main, after the application object exists.
using ScheduleViewFactory = std::function<std::unique_ptr<ScheduleView>()>;

// The main window while the program runs (nullptr before it is created, and headless).
ScheduleView* ScheduleWindow();

// True when the desktop offers a notification area and the tray icon is in use. Decided once at
// start-up; false in window mode and headless.
bool HasNotificationArea();

// Set by start-up (and by tests that stand in for it).
void SetScheduleWindow(ScheduleView* pView);
void SetHasNotificationArea(bool bHas);

} // namespace appSetup
