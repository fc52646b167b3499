#pragma once
// The main window: the list of backup jobs with their state under a toolbar, a status bar with
// the message line, the job count and the four-image status light, and every command on the
// jobs. It is the progress window of runs started by hand (BackupRunOwner) and what start-up
// and the scheduler tick talk to (ScheduleView).
//
// The window's frame and life are in frmSchedule.cpp, the list in frmScheduleList.cpp, the
// commands on the jobs in frmScheduleCommands.cpp; adding, editing, copying jobs and their one-shot dates (the job
// editor's commands) in frmScheduleJobEditing.cpp.

#include "app/ScheduleView.h"
#include "engine/BackupRunOwner.h"

#include <QTreeWidget>
#include <QWidget>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class CBackupJob;
class QAction;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QStatusBar;
class QProgressBar;

class frmSchedule : public QWidget, public BackupRunOwner, public appSetup::ScheduleView {
    Q_OBJECT
public:
    // A twip is 1/15 of a pixel here.
    static constexpr int TwipsPerPixel = 15;
    // The window is never smaller than this (twips).
    static constexpr int MinWidthTwips = 6450;
    static constexpr int MinHeightTwips = 4000;
    // Image numbers of the rows.
    enum JobImage { imgZipJob = 1, imgCopyJob = 2, imgZipSuspended = 3, imgCopySuspended = 4 };
    // Item data roles of a row: the handle (Tag) and the image number.
    static constexpr int TagRole = Qt::UserRole;
    static constexpr int ImageRole = Qt::UserRole + 1;
    // True on a row whose job has no successful backup for StaleDays days.
    static constexpr int StaleRole = Qt::UserRole + 2;

    explicit frmSchedule(QWidget* parent = nullptr);
    ~frmSchedule() override;

    // ---- ScheduleView ----
    QWidget* Window() override { return this; }
    // Reloads the job manager and rebuilds the list; a second job of the same name (letter case
    // ignored) is reported ("Data Error ") and marked invalid.
    void RefreshScheduleForm() override;
    void RefreshDetailsByHandle(long lHandle) override;
    // Re-marks stale rows and sets the status light from them.
    void RefreshHealth() override;
    void SetKillForm(bool bKill) override { m_bKillForm = bKill; }
    void SetFileCloseCaption(const std::string& sCaption) override;
    void AddFileMenuExit(const std::string& sCaption, std::function<void()> onExit) override;

    // ---- BackupRunOwner ----
    void SetMessageText(const std::string& sText) override;
    std::string MessageText() const override { return m_sMessageText; }
    void SetLight(int iIndex, bool bVisible) override;
    void Repaint() override;
    void SetBusyPointer(bool bBusy) override;

    // ---- the list ----
    // The "NbrBackupJobs" panel: n + " Backup Jobs".
    void StatusBarCount(int iCount);
    // Removes every row and column and adds the visible columns in position order.
    void BuildHeaders();
    QTreeWidgetItem* AddToListViewObj(CBackupJob& job);
    // Drops the row's handle from the job manager and removes the row.
    void DeleteItemListView(int iRow);
    void RefreshItemDetails(QTreeWidgetItem* row, CBackupJob& job);
    void RefreshSelectedItemDetails(CBackupJob& job);
    // The light's warning state (first place amber, drive at rest) while any row is stale and no
    // run of this window is going on; back to idle when none is.
    void UpdateHealthLight();
    // Marks the row stale or not ("!" after its Status text, a tooltip saying since when).
    void MarkHealth(QTreeWidgetItem* row, const CBackupJob& job);
    bool HealthWarning() const { return m_bHealthWarning; }
    // Sets the row's Status cell to "R" when that column is shown.
    void ShowRunningState(QTreeWidgetItem* row);
    // Size in whole kilobytes (any part counts as one) with thousands separators; "?" below 0.
    static std::string FormatSizeKB(int64_t lSize);
    // The caption of a column identity, as the user's language shows it.
    static QString ColumnCaption(int iColumn);
    // The text a column shows for a job (the column identities of appPreferences).

    static std::string CellText(int iColumn, CBackupJob& job);
    // The displayed column of a column identity, or -1 when it is not shown.
    int ColumnIndex(int iColumn) const { return m_ColumnIndex[iColumn]; }
    // The narrowest a column starts (pixels): its caption or its widest text, whichever is wider.
    int MinimumColumnWidth(int iColumn) const;

    // ---- selection helpers used by the commands ----
    // The two "Verification Error" checks every job command makes; false (after the message)
    // when there is no row or the current row is not selected.
    bool SelectionChecks();
    // The focused row (nullptr when none).
    QTreeWidgetItem* CurrentRow() const;
    // Every selected row in ascending row order.
    std::vector<QTreeWidgetItem*> SelectedRows() const;
    static int32_t RowTag(const QTreeWidgetItem* row);
    // The job of a row, loaded into the manager's shared job (nullptr when the handle is unknown).
    static CBackupJob* JobOfRow(const QTreeWidgetItem* row);
    // True while a run started from this window is in progress.
    bool Running() const { return m_bRunning; }

    // ---- commands: the job editor's (defined in frmScheduleJobEditing.cpp) ----
    void cmdAddJob_Click();
    void cmdEditJob_Click();
    void cmdCopyJob_Click();
    void mnuCustomSchedule_Click();

    // ---- commands (frmScheduleCommands.cpp) ----
    void cmdDelJob_Click();
    void cmdBackup_Click();
    void cmdSuspend_Click();
    void cmdView_Click();
    void mnuActionAdd_Click();
    void mnuActionEdit_Click();
    void mnuJobOptions_Click();
    void lvwSchedule_DblClick();
    void mnuActionCopy_Click();
    void mnuActionDelete_Click();
    void mnuActionRun_Click();
    void mnuSuspend_Click();
    void mnuActionViewZip_Click();
    // Reading backups back (frmScheduleRestore.cpp): the restore window and the verification of
    // the selected job's newest backup.
    void mnuActionRestore_Click();
    void mnuActionVerify_Click();
    void mnuAbort_Click();
    void sbarSchedule_PanelClick();
    void mnuActionViewTransactionLog_Click();
    void mnuActionViewErrorLog_Click();
    void menuPurgeLog_Click();
    void mnuDropErrorLog_Click();
    void mnuLogComment_Click();
    void mnuRefresh_Click();
    void mnuFilePreferences_Click();
    void mnuFileClose_Click();
    void mnuHelpContents_Click();
    void mnuHelpIndex_Click();
    void mnuHelpHomepage_Click();
    void mnuHelpLicense_Click();
    void mnuHelpAbout_Click();
    void lvwSchedule_ColumnClick(int iColumn);

    // ---- controls ----
    QMenuBar* mnuMain = nullptr;
    QMenu* mnuFile = nullptr;
    QMenu* mnuAction = nullptr;
    QMenu* mnuOptions = nullptr;
    QMenu* mnuLogs = nullptr;
    QMenu* mnuTransactionLog = nullptr;
    QMenu* mnuErrorLog = nullptr;
    QMenu* mnuView = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuFilePreferences = nullptr;
    QAction* mnuFileClose = nullptr;
    QAction* mnuFileExit = nullptr;
    QAction* mnuActionAdd = nullptr;
    QAction* mnuActionEdit = nullptr;
    QAction* mnuActionCopy = nullptr;
    QAction* mnuActionDelete = nullptr;
    QAction* mnuActionRun = nullptr;
    QAction* mnuAbort = nullptr;
    QAction* mnuSuspend = nullptr;
    QAction* mnuActionViewZip = nullptr;
    QAction* mnuActionRestore = nullptr;
    QAction* mnuActionVerify = nullptr;
    QMenu* mnuJobContext = nullptr; // the job list's context menu
    QAction* mnuJobOptions = nullptr;
    QAction* mnuCustomSchedule = nullptr;
    QAction* mnuActionViewTransactionLog = nullptr;
    QAction* menuPurgeLog = nullptr;
    QAction* mnuActionViewErrorLog = nullptr;
    QAction* mnuDropErrorLog = nullptr;
    QAction* mnuLogComment = nullptr;
    QAction* mnuRefresh = nullptr;
    QAction* mnuHelpContents = nullptr;
    QAction* mnuHelpIndex = nullptr;
    QAction* mnuHelpHomepage = nullptr;
    QAction* mnuHelpLicense = nullptr;
    QAction* mnuHelpAbout = nullptr;

    QFrame* fraToolbar = nullptr;
    QPushButton* cmdAddJob = nullptr;
    QPushButton* cmdEditJob = nullptr;
    QPushButton* cmdCopyJob = nullptr;
    QPushButton* cmdDelJob = nullptr;
    QPushButton* cmdBackup = nullptr;
    QPushButton* cmdSuspend = nullptr;
    QPushButton* cmdView = nullptr;

    QTreeWidget* lvwSchedule = nullptr;

    QStatusBar* sbarSchedule = nullptr;
    QLabel* panNbrBackupJobs = nullptr; // panel 1, key "NbrBackupJobs"
    QLabel* panStatusBar = nullptr;     // panel 2, key "StatusBar"
    QWidget* picLight = nullptr;        // over panel 3
    // While a run goes on: its bar (percent of the bytes; no percent while the run still counts)
    // and its figures ("120 of 800 files, 3.4 MiB/s, about 3 min left") beside the status line.
    QProgressBar* prgRun = nullptr;
    QLabel* panProgress = nullptr;

    void ShowProgress(const RunProgress::View* pView) override;
    std::array<QLabel*, 4> imgLight{}; // object names imgLight0 .. imgLight3

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    void BuildToolbar();
    void BuildStatusBar();
    void BuildProgressPanel();
    // While a run from this window is in progress, only Abort (menu or status bar) acts.
    void SetRunningState(bool bRunning);
    void Form_Unload();
    void SortList();

    std::string m_sMessageText;
    bool m_bKillForm = false;
    bool m_bActivated = false;
    bool m_bUnloading = false;
    bool m_bRunning = false;
    bool m_bHealthWarning = false;
    int m_iBusyPointers = 0;
    // Displayed column of each column identity (-1 = not shown).
    std::array<int, 9> m_ColumnIndex{};
    bool m_bSorted = false;
    int m_iSortColumn = 0;
    Qt::SortOrder m_SortOrder = Qt::AscendingOrder;
};
