// The main window itself: its menus, toolbar and status bar, the status light and status line
// a run shows its progress in, and what the window does when shown, closed or keyed.

#include "ui/frmSchedule.h"

#include "support/appPreferences.h"
#include "support/libErrorHandler.h"

#include "app/QtHelpers.h"
#include "app/libForms.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>

using namespace QtHelpers;

namespace {

constexpr int kColumns = appPreferences::ColumnCount;

int Px(int iTwips) { return (iTwips + frmSchedule::TwipsPerPixel / 2) / frmSchedule::TwipsPerPixel; }

} // namespace

frmSchedule::frmSchedule(QWidget* parent) : QWidget(parent) {
    setObjectName("frmSchedule");
    setWindowIcon(QIcon(":/icons/stowline.svg"));
    m_ColumnIndex.fill(-1);

    BuildMenus();
    BuildToolbar();

    lvwSchedule = new QTreeWidget(this);
    lvwSchedule->setObjectName("lvwSchedule");
    lvwSchedule->setRootIsDecorated(false);
    lvwSchedule->setItemsExpandable(false);
    lvwSchedule->setUniformRowHeights(true);
    lvwSchedule->setAllColumnsShowFocus(true);
    lvwSchedule->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvwSchedule->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwSchedule->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvwSchedule->setSortingEnabled(false);
    lvwSchedule->header()->setSectionsClickable(true);
    lvwSchedule->header()->setSectionsMovable(false);
    lvwSchedule->header()->setStretchLastSection(false);
    lvwSchedule->setIconSize(QSize(16, 16));
    connect(lvwSchedule->header(), &QHeaderView::sectionClicked, this, &frmSchedule::lvwSchedule_ColumnClick);
    connect(lvwSchedule, &QTreeWidget::itemDoubleClicked, this, [this] { lvwSchedule_DblClick(); });
    mnuJobContext = new QMenu(this);
    mnuJobContext->setObjectName("mnuJobContext");
    mnuJobContext->addAction(mnuActionRestore);
    mnuJobContext->addAction(mnuActionVerify);
    lvwSchedule->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvwSchedule, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (lvwSchedule->itemAt(pos) != nullptr) mnuJobContext->popup(lvwSchedule->viewport()->mapToGlobal(pos));
    });

    BuildStatusBar();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 0);
    layout->setSpacing(4);
    layout->setMenuBar(mnuMain);
    layout->addWidget(fraToolbar);
    layout->addWidget(lvwSchedule, 1);
    layout->addWidget(sbarSchedule);

    // The window cannot be made smaller than 6450 by 4000 twips; the toolbar and the list
    // follow its width, and the list takes the height between the toolbar and the status bar.
    setMinimumSize(Px(MinWidthTwips), Px(MinHeightTwips));
    lvwSchedule->setMinimumHeight(Px(1000));
    resize(Px(10500), Px(1020 + 2655 + 1300));

    setWindowTitle(appPreferences::UseSystemTray ? tr("Stowline") : tr("Stowline - Manual backup mode"));

    SetLight(0, true);
    SetLight(1, false);
    SetLight(2, false);
    SetLight(3, true);
    StatusBarCount(0);
    BuildHeaders();
}

frmSchedule::~frmSchedule() {
    while (m_iBusyPointers > 0) {
        QApplication::restoreOverrideCursor();
        --m_iBusyPointers;
    }
}

void frmSchedule::BuildMenus() {
    mnuMain = new QMenuBar(this);
    mnuMain->setObjectName("mnuMain");
    auto action = [this](QMenu* menu, const char* sName, const QString& sCaption, void (frmSchedule::*handler)()) {
        auto* a = new QAction(sCaption, this);
        a->setObjectName(sName);
        menu->addAction(a);
        connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return a;
    };
    auto menu = [this](QMenu* parentMenu, const char* sName, const QString& sCaption) {
        QMenu* m = parentMenu ? parentMenu->addMenu(sCaption) : mnuMain->addMenu(sCaption);
        m->setObjectName(sName);
        m->menuAction()->setObjectName(QString(sName) + "Menu");
        return m;
    };

    mnuFile = menu(nullptr, "mnuFile", tr("&File"));
    mnuFilePreferences =
        action(mnuFile, "mnuFilePreferences", tr("Preferences"), &frmSchedule::mnuFilePreferences_Click);
    mnuFile->addSeparator();
    mnuFileClose = action(mnuFile, "mnuFileClose", tr("Close"), &frmSchedule::mnuFileClose_Click);

    mnuAction = menu(nullptr, "mnuAction", tr("&Action"));
    mnuActionAdd = action(mnuAction, "mnuActionAdd", tr("Add Job"), &frmSchedule::mnuActionAdd_Click);
    mnuActionEdit = action(mnuAction, "mnuActionEdit", tr("Edit Job"), &frmSchedule::mnuActionEdit_Click);
    mnuActionCopy = action(mnuAction, "mnuActionCopy", tr("Copy Job"), &frmSchedule::mnuActionCopy_Click);
    mnuActionDelete = action(mnuAction, "mnuActionDelete", tr("Delete Job"), &frmSchedule::mnuActionDelete_Click);
    mnuAction->addSeparator();
    mnuActionRun = action(mnuAction, "mnuActionRun", tr("Run Now"), &frmSchedule::mnuActionRun_Click);
    mnuAbort = action(mnuAction, "mnuAbort", tr("Abort"), &frmSchedule::mnuAbort_Click);
    mnuAbort->setEnabled(false);
    mnuSuspend = action(mnuAction, "mnuSuspend", tr("Suspend / Resume"), &frmSchedule::mnuSuspend_Click);
    mnuAction->addSeparator();
    mnuActionViewZip = action(mnuAction, "mnuActionViewZip", tr("View Backup"), &frmSchedule::mnuActionViewZip_Click);
    mnuActionRestore =
        action(mnuAction, "mnuActionRestore", tr("Restore Files..."), &frmSchedule::mnuActionRestore_Click);
    mnuActionVerify = action(mnuAction, "mnuActionVerify", tr("Verify Backup"), &frmSchedule::mnuActionVerify_Click);

    mnuOptions = menu(nullptr, "mnuOptions", tr("&Options"));
    mnuJobOptions = action(mnuOptions, "mnuJobOptions", tr("Job Options"), &frmSchedule::mnuJobOptions_Click);
    mnuCustomSchedule =
        action(mnuOptions, "mnuCustomSchedule", tr("One-shot Dates"), &frmSchedule::mnuCustomSchedule_Click);

    mnuLogs = menu(nullptr, "mnuLogs", tr("&Logs"));
    mnuTransactionLog = menu(mnuLogs, "mnuTransactionLog", tr("Transaction Log"));
    mnuActionViewTransactionLog = action(mnuTransactionLog, "mnuActionViewTransactionLog", tr("View"),
                                         &frmSchedule::mnuActionViewTransactionLog_Click);
    menuPurgeLog = action(mnuTransactionLog, "menuPurgeLog", tr("Drop"), &frmSchedule::menuPurgeLog_Click);
    mnuErrorLog = menu(mnuLogs, "mnuErrorLog", tr("Error log"));
    mnuActionViewErrorLog =
        action(mnuErrorLog, "mnuActionViewErrorLog", tr("View"), &frmSchedule::mnuActionViewErrorLog_Click);
    mnuDropErrorLog = action(mnuErrorLog, "mnuDropErrorLog", tr("Drop"), &frmSchedule::mnuDropErrorLog_Click);
    mnuLogs->addSeparator();
    mnuLogComment = action(mnuLogs, "mnuLogComment", tr("Log Comment"), &frmSchedule::mnuLogComment_Click);

    mnuView = menu(nullptr, "mnuView", tr("&View"));
    mnuRefresh = action(mnuView, "mnuRefresh", tr("Refresh"), &frmSchedule::mnuRefresh_Click);

    mnuHelp = menu(nullptr, "mnuHelp", tr("&Help"));
    mnuHelpContents = action(mnuHelp, "mnuHelpContents", tr("Contents"), &frmSchedule::mnuHelpContents_Click);
    mnuHelpIndex = action(mnuHelp, "mnuHelpIndex", tr("Index"), &frmSchedule::mnuHelpIndex_Click);
    mnuHelp->addSeparator();
    mnuHelpHomepage = action(mnuHelp, "mnuHelpHomepage", tr("Home Page"), &frmSchedule::mnuHelpHomepage_Click);
    mnuHelpLicense = action(mnuHelp, "mnuHelpLicense", tr("License"), &frmSchedule::mnuHelpLicense_Click);
    mnuHelp->addSeparator();
    mnuHelpAbout = action(mnuHelp, "mnuHelpAbout", tr("About"), &frmSchedule::mnuHelpAbout_Click);
}

void frmSchedule::BuildToolbar() {
    fraToolbar = new QFrame(this);
    fraToolbar->setObjectName("fraToolbar");
    fraToolbar->setFrameShape(QFrame::StyledPanel);
    auto* layout = new QHBoxLayout(fraToolbar);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    auto button = [this, layout](const char* sName, const QString& sCaption, const QString& sTip,
                                 void (frmSchedule::*handler)()) {
        auto* b = new QPushButton(sCaption, fraToolbar);
        b->setObjectName(sName);
        b->setToolTip(sTip);
        b->setFocusPolicy(Qt::TabFocus);
        layout->addWidget(b);
        connect(b, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
        return b;
    };
    cmdAddJob = button("cmdAddJob", tr("&Add"), tr("Add a new backup job"), &frmSchedule::cmdAddJob_Click);
    cmdEditJob = button("cmdEditJob", tr("&Edit"), tr("Edit the selected backup job"), &frmSchedule::cmdEditJob_Click);
    cmdCopyJob = button("cmdCopyJob", tr("&Copy"), tr("Copy the selected backup job"), &frmSchedule::cmdCopyJob_Click);
    cmdDelJob =
        button("cmdDelJob", tr("&Delete"), tr("Delete the selected backup jobs"), &frmSchedule::cmdDelJob_Click);
    layout->addSpacing(12);
    cmdBackup =
        button("cmdBackup", tr("&Run Now"), tr("Run the selected backup jobs now"), &frmSchedule::cmdBackup_Click);
    cmdSuspend = button("cmdSuspend", tr("&Suspend"), tr("Suspend or resume the selected backup jobs"),
                        &frmSchedule::cmdSuspend_Click);
    cmdView =
        button("cmdView", tr("&View"), tr("View the latest backup of the selected job"), &frmSchedule::cmdView_Click);
    layout->addStretch();
}

void frmSchedule::BuildStatusBar() {
    sbarSchedule = new QStatusBar(this);
    sbarSchedule->setObjectName("sbarSchedule");
    sbarSchedule->setSizeGripEnabled(true);

    panNbrBackupJobs = new QLabel(sbarSchedule);
    panNbrBackupJobs->setObjectName("NbrBackupJobs");
    panNbrBackupJobs->setMinimumWidth(Px(1500));
    panStatusBar = new QLabel(sbarSchedule);
    panStatusBar->setObjectName("StatusBar");
    panStatusBar->setTextFormat(Qt::PlainText);
    panStatusBar->setMinimumWidth(Px(1000));

    // The status light: two places, each showing one of two images (0/1 left, 2/3 right).
    picLight = new QWidget(sbarSchedule);
    picLight->setObjectName("picLight");
    picLight->setFixedSize(40, 18);
    for (int i = 0; i < 4; ++i) {
        auto* img = new QLabel(picLight);
        img->setObjectName(QString("imgLight%1").arg(i));
        img->setPixmap(QIcon(QString(":/icons/light%1.svg").arg(i)).pixmap(16, 16));
        img->setGeometry(i < 2 ? 2 : 22, 1, 16, 16);
        imgLight[static_cast<size_t>(i)] = img;
    }

    sbarSchedule->addWidget(panNbrBackupJobs);
    sbarSchedule->addWidget(panStatusBar, 1);
    BuildProgressPanel();
    sbarSchedule->addPermanentWidget(picLight);
    for (QWidget* w : std::initializer_list<QWidget*>{sbarSchedule, panNbrBackupJobs, panStatusBar, picLight})
        w->installEventFilter(this);
    for (QLabel* img : imgLight)
        img->installEventFilter(this);
}

// ---- status line, count and light ----

void frmSchedule::SetMessageText(const std::string& sText) {
    libErrorHandler::Trap("frmSchedule", "Let MessageText()", [&] {
        m_sMessageText = sText;
        panStatusBar->setText(Q(sText));
        Repaint();
    });
}

void frmSchedule::StatusBarCount(int iCount) {
    libErrorHandler::Trap("frmSchedule", "Let StatusBarCount()",
                          [&] { panNbrBackupJobs->setText(tr("%1 Backup Jobs").arg(iCount)); });
}

void frmSchedule::SetLight(int iIndex, bool bVisible) {
    if (iIndex < 0 || iIndex > 3) return;
    imgLight[static_cast<size_t>(iIndex)]->setVisible(bVisible);
}

void frmSchedule::Repaint() {
    if (isVisible()) repaint();
}

void frmSchedule::SetBusyPointer(bool bBusy) {
    if (bBusy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++m_iBusyPointers;
    } else if (m_iBusyPointers > 0) {
        QApplication::restoreOverrideCursor();
        --m_iBusyPointers;
    }
}

void frmSchedule::SetFileCloseCaption(const std::string& sCaption) { mnuFileClose->setText(Q(sCaption)); }

void frmSchedule::AddFileMenuExit(const std::string& sCaption, std::function<void()> onExit) {
    if (mnuFileExit == nullptr) {
        mnuFileExit = new QAction(this);
        mnuFileExit->setObjectName("mnuFileExit");
        mnuFile->addAction(mnuFileExit);
    }
    mnuFileExit->setText(Q(sCaption));
    disconnect(mnuFileExit, &QAction::triggered, nullptr, nullptr);
    connect(mnuFileExit, &QAction::triggered, this, [onExit = std::move(onExit)] {
        if (onExit) onExit();
    });
}

// ---- life of the window ----

void frmSchedule::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_bActivated) return;
    m_bActivated = true;
    StatusBarCount(lvwSchedule->topLevelItemCount());
    lvwSchedule->setSelectionBehavior(QAbstractItemView::SelectRows);
    if (lvwSchedule->topLevelItemCount() > 0 && lvwSchedule->selectedItems().isEmpty()) {
        lvwSchedule->setCurrentItem(lvwSchedule->topLevelItem(0));
        lvwSchedule->topLevelItem(0)->setSelected(true);
    }
}

void frmSchedule::closeEvent(QCloseEvent* event) {
    if (m_bUnloading) {
        event->ignore();
        return;
    }
    // A run started here keeps the window until it ends; only Abort acts meanwhile.
    if (m_bRunning && m_bKillForm) {
        event->ignore();
        return;
    }
    m_bUnloading = true;
    try {
        Form_Unload();
    } catch (const std::exception& e) {
        m_bUnloading = false;
        libErrorHandler::HandleError(true, ErrorFromException(e), "frmSchedule", "Form_Unload()", "");
    }
    m_bUnloading = false;
    if (m_bKillForm) {
        event->accept();
        if (!appPreferences::UseSystemTray) {
            // Window mode: the main window is the program; close every other window too.
            const QWidgetList windows = QApplication::topLevelWidgets();
            for (auto it = windows.rbegin(); it != windows.rend(); ++it)
                if (*it != this && (*it)->isVisible()) (*it)->close();
        }
    } else {
        event->ignore();
    }
}

void frmSchedule::Form_Unload() {
    if (appPreferences::SaveFormSize) {
        appPreferences::FormSize = libForms::GetFormPlacement(this);
        for (int i = 0; i < kColumns; ++i) {
            int iIndex = m_ColumnIndex[i];
            if (appPreferences::Columns[i].Position < 0 || iIndex < 0) continue;
            int iTwips = lvwSchedule->header()->sectionSize(iIndex) * TwipsPerPixel;
            appPreferences::Columns[i].Width = static_cast<int16_t>(std::clamp(iTwips, 0, 20000));
        }
        appPreferences::SavePreferences();
    }
    if (!m_bKillForm && appPreferences::UseSystemTray && !appSetup::HasNotificationArea() && isVisible()) {
        // Without a notification area a hidden window could not be reached again.
        showMinimized();
        return;
    }
    hide();
}

void frmSchedule::keyReleaseEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_F1:
        mnuHelpContents_Click();
        break;
    case Qt::Key_Delete:
        if (!m_bRunning) cmdDelJob_Click();
        break;
    case Qt::Key_Insert:
        if (!m_bRunning) cmdAddJob_Click();
        break;
    default:
        QWidget::keyReleaseEvent(event);
        return;
    }
    event->accept();
}

bool frmSchedule::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        sbarSchedule_PanelClick();
        return false;
    }
    return QWidget::eventFilter(watched, event);
}

void frmSchedule::SetRunningState(bool bRunning) {
    m_bRunning = bRunning;
    fraToolbar->setEnabled(!bRunning);
    lvwSchedule->setEnabled(!bRunning);
    const QList<QAction*> actions = findChildren<QAction*>();
    for (QAction* a : actions) {
        if (a == mnuAbort || a->menu() != nullptr) continue;
        a->setEnabled(!bRunning);
    }
    mnuAbort->setEnabled(bRunning);
    // The run left the light idle: show the warning again if it still applies.
    if (!bRunning) {
        m_bHealthWarning = false;
        UpdateHealthLight();
    }
}
