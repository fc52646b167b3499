#pragma once
// The tray agent: a hidden window that owns the tray icon and the scheduler timer
// tmrCheckForBackupJob (30 s). Exists only in tray mode.

#include "app/DriveWatch.h"
#include "app/SchedulerTick.h"
#include "engine/RunProgress.h"
#include <memory>

#include <QSystemTrayIcon>
#include <QWidget>
#include <functional>

class QTimer;
class frmPopup;

class frmMain : public QWidget, public SchedulerTick::TickHost {
    Q_OBJECT
public:
    static constexpr int TickIntervalMs = 30000;
    // Tray mouse messages (the icon's events arrive under these numbers).
    static constexpr int MsgLeftButtonDown = 513;
    static constexpr int MsgLeftButtonDoubleClick = 515;
    static constexpr int MsgRightButtonUp = 517;
    static constexpr int MsgMiddleButtonUp = 520;

    explicit frmMain(frmPopup* pPopup, QWidget* parent = nullptr);
    ~frmMain() override;

    QTimer* tmrCheckForBackupJob = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;

    // While true the tick does nothing.
    bool Suspended() const { return m_tick.Suspended(); }
    void SetSuspended(bool bValue) { m_tick.SetSuspended(bValue); }
    // A tick is running jobs.
    bool Busy() const { return m_tick.Busy(); }
    // A tray-icon click is being handled (the tray menu is open).
    bool MenuBusy() const { return m_bMenuBusy; }
    int LastMouseMessage() const { return m_lLastMouseMessage; }
    frmPopup* Popup() const { return m_pPopup; }

    // Starts the timer; shows the main window unless the command line holds "/SILENT"; starts
    // the tick (next runs computed, missed runs made up once the window is hidden).
    void Form_Load(const std::string& sCommandLine);

    // Puts the icon (tip "Stowline") in the notification area and keeps this window hidden.
    // Returns false when the desktop has no notification area (the icon is then not shown).
    bool SystemTrayAddIcon();
    void SystemTrayRemoveIcon();
    // The icon's tooltip for the progress of the work going on ("Stowline - Documents: 45 %
    // (about 3 min left)"); nullptr: none goes on ("Stowline").
    void ShowProgressTip(const RunProgress::View* pView);
    static QString ProgressTip(const RunProgress::View& view);

    // One tray icon event, as its mouse message number: a left-button press or a right-button
    // release opens the tray menu; everything else is ignored.
    void Form_MouseMove(int lMessage);
    static int MouseMessageOf(QSystemTrayIcon::ActivationReason reason);

    // Hooks set by start-up: show the main window; where the failure report goes.
    std::function<void()> OnShowSchedule;

    // TickHost
    bool MainWindowVisible() override;
    void SetTrayMenuEnabled(bool bEnabled) override;
    void RefreshDetailsByHandle(int32_t lHandle) override;
    // A tray message (a click on it opens the transaction log); without a notification area the
    // desktop's notification service, else a box that does not wait. Always a line on stderr.
    void ReportFailure(const std::string& sJobName, const std::string& sLogFile, const std::string& sReason,
                       bool bOffsite) override;
    // A tray message (a click shows the job list), else the notification service or stderr; the
    // main window re-marks its rows and its light.
    void ReportStale(const std::string& sText) override;

public slots:
    void tmrCheckForBackupJob_Timer();

private:
    void trayIcon_Activated(QSystemTrayIcon::ActivationReason reason);
    void trayIcon_MessageClicked();

    frmPopup* m_pPopup;
    SchedulerTick::CSchedulerTick m_tick;
    // The drives coming and going: a change ticks at once (the mount table reports it as an
    // exception on its descriptor, udisks2's announcements as a readable byte).
    std::unique_ptr<DriveWatch> m_pDrives;
    void DrivesChanged();
    bool m_bMenuBusy = false;
    int m_lLastMouseMessage = 0;
    bool m_bLastMessageIsFailure = false; // what a click on the tray message opens
};

namespace appSetup {
// The tray agent window while the tray agent runs, else nullptr.
frmMain* AgentWindow();
void SetAgentWindow(frmMain* pMain);
} // namespace appSetup
