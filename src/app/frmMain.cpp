#include "app/frmMain.h"

#include <QSocketNotifier>

#include "app/DesktopNotify.h"
#include "app/PowerWatch.h"
#include "app/QtHelpers.h"
#include "app/RunGuard.h"
#include "app/ScheduleView.h"
#include "app/frmPopup.h"
#include "support/libErrorHandler.h"
#include "support/libLog.h"

#include <QCursor>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <iostream>

namespace appSetup {
namespace {
frmMain* g_pAgent = nullptr;
}
frmMain* AgentWindow() { return g_pAgent; }
void SetAgentWindow(frmMain* pMain) { g_pAgent = pMain; }

void SetTrayMenuEnabled(bool bEnabled) {
    if (g_pAgent && g_pAgent->Popup()) g_pAgent->Popup()->setEnabled(bEnabled);
}
} // namespace appSetup

frmMain::frmMain(frmPopup* pPopup, QWidget* parent) : QWidget(parent), m_pPopup(pPopup) {
    setObjectName("frmMain");
    setWindowTitle(tr("Stowline"));
    setWindowIcon(QIcon(":/icons/stowline.svg"));
    tmrCheckForBackupJob = new QTimer(this);
    tmrCheckForBackupJob->setObjectName("tmrCheckForBackupJob");
    tmrCheckForBackupJob->setInterval(TickIntervalMs);
    connect(tmrCheckForBackupJob, &QTimer::timeout, this, &frmMain::tmrCheckForBackupJob_Timer);
    if (m_pPopup) {
        connect(m_pPopup->mnuStowline, &QMenu::aboutToHide, this, [this] { m_bMenuBusy = false; });
    }
}

frmMain::~frmMain() {
    PowerWatch::SetOnRelief(nullptr);
    if (appSetup::AgentWindow() == this) appSetup::SetAgentWindow(nullptr);
}

void frmMain::Form_Load(const std::string& sCommandLine) {
    tmrCheckForBackupJob->start();
    bool bSilent = sCommandLine.find("/SILENT") != std::string::npos;
    if (!bSilent) {
        if (OnShowSchedule) OnShowSchedule();
    } else if (!appSetup::HasNotificationArea()) {
        // Nothing else would lead back to the program: keep the window in reach, minimised.
        if (auto* view = appSetup::ScheduleWindow()) view->MinimiseSchedule();
    }
    // Back on mains power or off a metered network: what waited goes now, not at the next tick.
    PowerWatch::SetOnRelief([this] {
        m_tick.Relieved();
        QTimer::singleShot(0, this, &frmMain::tmrCheckForBackupJob_Timer);
    });
    // Opened before the start-up's look at the drives: a drive mounted after that look is then
    // always reported (the mount table's change stays pending until read).
    m_pDrives = std::make_unique<DriveWatch>();
    m_tick.StartUp(*this);
    m_pDrives->UpdateVolumes();
    if (m_pDrives->MountFd() >= 0) {
        auto* pMounts = new QSocketNotifier(m_pDrives->MountFd(), QSocketNotifier::Exception, this);
        connect(pMounts, &QSocketNotifier::activated, this, [this] {
            m_pDrives->TakeMountChange();
            DrivesChanged();
        });
    }
    if (m_pDrives->AttachFd() >= 0) {
        auto* pAttached = new QSocketNotifier(m_pDrives->AttachFd(), QSocketNotifier::Read, this);
        connect(pAttached, &QSocketNotifier::activated, this, [this] {
            m_pDrives->TakeAttached();
            DrivesChanged();
        });
    }
}

void frmMain::DrivesChanged() {
    m_tick.DrivesChanged(*this);
    m_pDrives->UpdateVolumes();
}

bool frmMain::SystemTrayAddIcon() {
    return libErrorHandler::Trap("frmMain", "SystemTrayAddIcon()", [&]() -> bool {
        hide();
        if (!trayIcon) {
            trayIcon = new QSystemTrayIcon(windowIcon(), this);
            trayIcon->setObjectName("trayIcon");
            trayIcon->setToolTip(windowTitle());
            connect(trayIcon, &QSystemTrayIcon::activated, this, &frmMain::trayIcon_Activated);
            connect(trayIcon, &QSystemTrayIcon::messageClicked, this, &frmMain::trayIcon_MessageClicked);
        }
        // Shown even without a notification area: where the panel starts after the program (a
        // session's autostart race), the icon appears as soon as the area does.
        trayIcon->show();
        return QSystemTrayIcon::isSystemTrayAvailable();
    });
}

void frmMain::SystemTrayRemoveIcon() {
    if (trayIcon) trayIcon->hide();
}

int frmMain::MouseMessageOf(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return MsgLeftButtonDown;
    case QSystemTrayIcon::Context:
        return MsgRightButtonUp;
    case QSystemTrayIcon::DoubleClick:
        return MsgLeftButtonDoubleClick;
    case QSystemTrayIcon::MiddleClick:
        return MsgMiddleButtonUp;
    case QSystemTrayIcon::Unknown:
        break;
    }
    return 0;
}

void frmMain::trayIcon_Activated(QSystemTrayIcon::ActivationReason reason) { Form_MouseMove(MouseMessageOf(reason)); }

void frmMain::Form_MouseMove(int lMessage) {
    libErrorHandler::Trap("frmMain", "Form_MouseMove()", [&] {
        m_lLastMouseMessage = lMessage;
        if (m_bMenuBusy) return;
        if (lMessage != MsgLeftButtonDown && lMessage != MsgRightButtonUp) return;
        if (!m_pPopup) return;
        m_bMenuBusy = true;
        // The menu closes when the user clicks elsewhere; menu busy lasts while it is open.
        activateWindow();
        m_pPopup->mnuStowline->popup(QCursor::pos());
        if (!m_pPopup->mnuStowline->isVisible()) m_bMenuBusy = false;
    });
}

void frmMain::tmrCheckForBackupJob_Timer() {
    m_tick.Tick(*this);
    if (m_pDrives) m_pDrives->UpdateVolumes(); // a job's first good run records its volume
}

bool frmMain::MainWindowVisible() {
    auto* view = appSetup::ScheduleWindow();
    return view && view->IsVisibleToUser();
}

void frmMain::SetTrayMenuEnabled(bool bEnabled) {
    if (m_pPopup) m_pPopup->setEnabled(bEnabled);
}

void frmMain::RefreshDetailsByHandle(int32_t lHandle) {
    if (auto* view = appSetup::ScheduleWindow()) view->RefreshDetailsByHandle(lHandle);
}

void frmMain::trayIcon_MessageClicked() {
    libErrorHandler::Trap("frmMain", "trayIcon_MessageClicked()", [&] {
        if (m_bLastMessageIsFailure)
            libLog::ViewTransactionLog();
        else if (OnShowSchedule)
            OnShowSchedule();
    });
}

void frmMain::ReportFailure(const std::string& sJobName, const std::string& sLogFile, const std::string& sReason,
                            bool bOffsite) {
    std::string sText = SchedulerTick::FailureText(sJobName, sLogFile, sReason, bOffsite);
    std::cerr << "Stowline: " << sText << std::endl;
    QString text = QtHelpers::Q(sText);
    if (trayIcon && trayIcon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable()) {
        m_bLastMessageIsFailure = true;
        trayIcon->showMessage(tr("Stowline"), text, QSystemTrayIcon::Warning);
        return;
    }
    if (DesktopNotify::Send(QtHelpers::S(tr("Backup Error")), sText, true)) return;
    // No notification area: a box that does not wait, so the next scheduled job still runs.
    auto* box = new QMessageBox(QMessageBox::Warning, tr("Backup Error"), text, QMessageBox::Ok);

    box->setObjectName("msgScheduledFailure");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void frmMain::ReportStale(const std::string& sText) {
    if (auto* view = appSetup::ScheduleWindow()) view->RefreshHealth();
    if (trayIcon && trayIcon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable()) {
        m_bLastMessageIsFailure = false;
        trayIcon->showMessage(tr("Stowline"), QtHelpers::Q(sText), QSystemTrayIcon::Warning);
        return;
    }
    if (!DesktopNotify::Send("Stowline", sText, false)) std::cerr << "Stowline: " << sText << std::endl;
}
