#include "ui/frmSchedule.h"

#include "engine/RunState.h"
#include "jobs/CBackupJobManager.h"
#include "support/UserInteraction.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libStrings.h"

#include "app/libForms.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

#include <cmath>

namespace {

using appPreferences::Column;

constexpr int kColumns = appPreferences::ColumnCount;

// Rows sort by their displayed texts, letter case ignored.
class JobRow : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        int iColumn = treeWidget() ? treeWidget()->sortColumn() : 0;
        return text(iColumn).compare(other.text(iColumn), Qt::CaseInsensitive) < 0;
    }
};

QString Q(const std::string& s) { return QString::fromLocal8Bit(s); }

int Px(int iTwips) { return (iTwips + frmSchedule::TwipsPerPixel / 2) / frmSchedule::TwipsPerPixel; }

const QIcon& JobIcon(int iImage) {
    static const std::array<QIcon, 4> icons{QIcon(":/icons/zipjob.svg"), QIcon(":/icons/copyjob.svg"),
                                            QIcon(":/icons/zipjob-suspended.svg"),
                                            QIcon(":/icons/copyjob-suspended.svg")};
    return icons[static_cast<size_t>(iImage - 1)];
}

// Column identities in the fixed search order, with alignment.
bool RightAligned(int iColumn) {
    return iColumn != appPreferences::colJobName && iColumn != appPreferences::colJobType;
}

// "mmm-dd-yyyy" and "HH:mm" parts of a serial.
std::string DatePart(double d) {
    std::string s = libDates::Format(d, "mmm-dd-yyyy hh:mm");
    return s.substr(0, s.find(' '));
}
std::string TimePart(double d) { return libDates::Format(d, "hh:mm"); }

} // namespace

// Stored widths were chosen for a small system font; a column never starts narrower than its
// caption or than the widest text it can hold, so nothing is cut off at first sight.
int frmSchedule::MinimumColumnWidth(int iColumn) const {
    static const std::array<const char*, kColumns> samples{"",          "May-30-2027", "00:00", "May-30-2027", "00:00",
                                                           "999,999KB", "W",           "9999",  "Freshen"};
    int iCaption = lvwSchedule->header()->fontMetrics().horizontalAdvance(appPreferences::ColumnCaptions[iColumn]);
    int iSample = lvwSchedule->fontMetrics().horizontalAdvance(samples[static_cast<size_t>(iColumn)]);
    return std::max(iCaption, iSample) + 18;
}

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

    QString sCaption = "Stowline";
    if (!appPreferences::UseSystemTray) sCaption += " - Manual backup mode";
    setWindowTitle(sCaption);

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
    auto action = [this](QMenu* menu, const char* sName, const char* sCaption, void (frmSchedule::*handler)()) {
        auto* a = new QAction(sCaption, this);
        a->setObjectName(sName);
        menu->addAction(a);
        connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return a;
    };
    auto menu = [this](QMenu* parentMenu, const char* sName, const char* sCaption) {
        QMenu* m = parentMenu ? parentMenu->addMenu(sCaption) : mnuMain->addMenu(sCaption);
        m->setObjectName(sName);
        m->menuAction()->setObjectName(QString(sName) + "Menu");
        return m;
    };

    mnuFile = menu(nullptr, "mnuFile", "&File");
    mnuFilePreferences = action(mnuFile, "mnuFilePreferences", "Preferences", &frmSchedule::mnuFilePreferences_Click);
    mnuFile->addSeparator();
    mnuFileClose = action(mnuFile, "mnuFileClose", "Close", &frmSchedule::mnuFileClose_Click);

    mnuAction = menu(nullptr, "mnuAction", "&Action");
    mnuActionAdd = action(mnuAction, "mnuActionAdd", "Add Job", &frmSchedule::mnuActionAdd_Click);
    mnuActionEdit = action(mnuAction, "mnuActionEdit", "Edit Job", &frmSchedule::mnuActionEdit_Click);
    mnuActionCopy = action(mnuAction, "mnuActionCopy", "Copy Job", &frmSchedule::mnuActionCopy_Click);
    mnuActionDelete = action(mnuAction, "mnuActionDelete", "Delete Job", &frmSchedule::mnuActionDelete_Click);
    mnuAction->addSeparator();
    mnuActionRun = action(mnuAction, "mnuActionRun", "Run Now", &frmSchedule::mnuActionRun_Click);
    mnuAbort = action(mnuAction, "mnuAbort", "Abort", &frmSchedule::mnuAbort_Click);
    mnuAbort->setEnabled(false);
    mnuSuspend = action(mnuAction, "mnuSuspend", "Suspend / Resume", &frmSchedule::mnuSuspend_Click);
    mnuAction->addSeparator();
    mnuActionViewZip = action(mnuAction, "mnuActionViewZip", "View Backup", &frmSchedule::mnuActionViewZip_Click);

    mnuOptions = menu(nullptr, "mnuOptions", "&Options");
    mnuJobOptions = action(mnuOptions, "mnuJobOptions", "Job Options", &frmSchedule::mnuJobOptions_Click);
    mnuCustomSchedule =
        action(mnuOptions, "mnuCustomSchedule", "One-shot Dates", &frmSchedule::mnuCustomSchedule_Click);

    mnuLogs = menu(nullptr, "mnuLogs", "&Logs");
    mnuTransactionLog = menu(mnuLogs, "mnuTransactionLog", "Transaction Log");
    mnuActionViewTransactionLog = action(mnuTransactionLog, "mnuActionViewTransactionLog", "View",
                                         &frmSchedule::mnuActionViewTransactionLog_Click);
    menuPurgeLog = action(mnuTransactionLog, "menuPurgeLog", "Drop", &frmSchedule::menuPurgeLog_Click);
    mnuErrorLog = menu(mnuLogs, "mnuErrorLog", "Error log");
    mnuActionViewErrorLog =
        action(mnuErrorLog, "mnuActionViewErrorLog", "View", &frmSchedule::mnuActionViewErrorLog_Click);
    mnuDropErrorLog = action(mnuErrorLog, "mnuDropErrorLog", "Drop", &frmSchedule::mnuDropErrorLog_Click);
    mnuLogs->addSeparator();
    mnuLogComment = action(mnuLogs, "mnuLogComment", "Log Comment", &frmSchedule::mnuLogComment_Click);

    mnuView = menu(nullptr, "mnuView", "&View");
    mnuRefresh = action(mnuView, "mnuRefresh", "Refresh", &frmSchedule::mnuRefresh_Click);

    mnuHelp = menu(nullptr, "mnuHelp", "&Help");
    mnuHelpContents = action(mnuHelp, "mnuHelpContents", "Contents", &frmSchedule::mnuHelpContents_Click);
    mnuHelpIndex = action(mnuHelp, "mnuHelpIndex", "Index", &frmSchedule::mnuHelpIndex_Click);
    mnuHelp->addSeparator();
    mnuHelpHomepage = action(mnuHelp, "mnuHelpHomepage", "Home Page", &frmSchedule::mnuHelpHomepage_Click);
    mnuHelpLicense = action(mnuHelp, "mnuHelpLicense", "License", &frmSchedule::mnuHelpLicense_Click);
    mnuHelp->addSeparator();
    mnuHelpAbout = action(mnuHelp, "mnuHelpAbout", "About", &frmSchedule::mnuHelpAbout_Click);
}

void frmSchedule::BuildToolbar() {
    fraToolbar = new QFrame(this);
    fraToolbar->setObjectName("fraToolbar");
    fraToolbar->setFrameShape(QFrame::StyledPanel);
    auto* layout = new QHBoxLayout(fraToolbar);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    auto button = [this, layout](const char* sName, const char* sCaption, const char* sTip,
                                 void (frmSchedule::*handler)()) {
        auto* b = new QPushButton(sCaption, fraToolbar);
        b->setObjectName(sName);
        b->setToolTip(sTip);
        b->setFocusPolicy(Qt::TabFocus);
        layout->addWidget(b);
        connect(b, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
        return b;
    };
    cmdAddJob = button("cmdAddJob", "&Add", "Add a new backup job", &frmSchedule::cmdAddJob_Click);
    cmdEditJob = button("cmdEditJob", "&Edit", "Edit the selected backup job", &frmSchedule::cmdEditJob_Click);
    cmdCopyJob = button("cmdCopyJob", "&Copy", "Copy the selected backup job", &frmSchedule::cmdCopyJob_Click);
    cmdDelJob = button("cmdDelJob", "&Delete", "Delete the selected backup jobs", &frmSchedule::cmdDelJob_Click);
    layout->addSpacing(12);
    cmdBackup = button("cmdBackup", "&Run Now", "Run the selected backup jobs now", &frmSchedule::cmdBackup_Click);
    cmdSuspend =
        button("cmdSuspend", "&Suspend", "Suspend or resume the selected backup jobs", &frmSchedule::cmdSuspend_Click);
    cmdView = button("cmdView", "&View", "View the latest backup of the selected job", &frmSchedule::cmdView_Click);
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
    sbarSchedule->addPermanentWidget(picLight);
    for (QWidget* w : std::initializer_list<QWidget*>{sbarSchedule, panNbrBackupJobs, panStatusBar, picLight})
        w->installEventFilter(this);
    for (QLabel* img : imgLight)
        img->installEventFilter(this);
}

// ---- status line, count and light ----

void frmSchedule::SetMessageText(const std::string& sText) {
    try {
        m_sMessageText = sText;
        panStatusBar->setText(Q(sText));
        Repaint();
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "frmSchedule", "Let MessageText()", "");
    }
}

void frmSchedule::StatusBarCount(int iCount) {
    try {
        panNbrBackupJobs->setText(QString::number(iCount) + " Backup Jobs");
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "frmSchedule", "Let StatusBarCount()", "");
    }
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

// ---- the list ----

std::string frmSchedule::FormatSizeKB(int64_t lSize) {
    if (lSize < 0) return "?";
    if (lSize == 0) return "0KB";
    std::string sDigits = std::to_string((lSize + 1023) / 1024);
    std::string sOut;
    int iCount = 0;
    for (auto it = sDigits.rbegin(); it != sDigits.rend(); ++it) {
        if (iCount > 0 && iCount % 3 == 0) sOut.insert(sOut.begin(), ',');
        sOut.insert(sOut.begin(), *it);
        ++iCount;
    }
    return sOut + "KB";
}

std::string frmSchedule::CellText(int iColumn, CBackupJob& job) {
    switch (iColumn) {
    case appPreferences::colJobName:
        return job.JobName();
    case appPreferences::colDateLastRun:
        return job.DateLastRun() <= CBackupJob::NotComputed ? "-" : DatePart(job.DateLastRun());
    case appPreferences::colTimeLastRun:
        return job.DateLastRun() <= CBackupJob::NotComputed ? "-" : TimePart(job.DateLastRun());
    // A suspended job will not run: no next date or start time, as for a job that never runs.
    case appPreferences::colDateNextRun: {
        double dNext = job.DateTimeNextRun();
        return dNext < CBackupJob::FarFuture && !job.Suspended() ? DatePart(libDates::DateValue(dNext)) : "-";
    }
    case appPreferences::colStartTime:
        return job.DateTimeNextRun() < CBackupJob::FarFuture && !job.Suspended() ? TimePart(job.CurrentStartTime())
                                                                                 : "-";
    case appPreferences::colSize:
        return FormatSizeKB(static_cast<int64_t>(std::llround(job.CurrentBackupSize())));
    case appPreferences::colState:
        return job.StatusAsStr();
    case appPreferences::colRunCount:
        return job.RunCount() < 1 ? "" : std::to_string(job.RunCount());
    case appPreferences::colJobType:
        if (job.Compress()) return "Zip";
        switch (job.CopyStyle()) {
        case CBackupJob::CopyRebuild:
            return "Rebuild";
        case CBackupJob::CopyUpdate:
            return "Update";
        case CBackupJob::CopyFreshen:
            return "Freshen";
        default:
            return "Copy?";
        }
    default:
        return "";
    }
}

void frmSchedule::BuildHeaders() {
    lvwSchedule->clear();
    lvwSchedule->setColumnCount(0);
    m_ColumnIndex.fill(-1);

    // Visible columns in position order; on equal positions the first in the fixed order wins
    // and the other is not shown.
    std::vector<int> order;
    int iMinimum = 0;
    for (;;) {
        int iFound = -1;
        for (int i = 0; i < kColumns; ++i) {
            int p = appPreferences::Columns[i].Position;
            if (p >= iMinimum && p < 999 && (iFound < 0 || p < appPreferences::Columns[iFound].Position)) iFound = i;
        }
        if (iFound < 0) break;
        order.push_back(iFound);
        iMinimum = appPreferences::Columns[iFound].Position + 1;
    }

    QStringList captions;
    for (int iColumn : order)
        captions << appPreferences::ColumnCaptions[iColumn];
    lvwSchedule->setColumnCount(static_cast<int>(order.size()));
    lvwSchedule->setHeaderLabels(captions);
    for (int i = 0; i < static_cast<int>(order.size()); ++i) {
        int iColumn = order[static_cast<size_t>(i)];
        m_ColumnIndex[iColumn] = i;
        bool bRight = i > 0 && RightAligned(iColumn);
        lvwSchedule->headerItem()->setTextAlignment(i, (bRight ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
        lvwSchedule->header()->resizeSection(
            i, std::max(Px(appPreferences::Columns[iColumn].Width), MinimumColumnWidth(iColumn)));
    }
    // The sort order stays while its column still exists.
    if (m_bSorted && m_iSortColumn < static_cast<int>(order.size())) {
        lvwSchedule->header()->setSortIndicatorShown(true);
        lvwSchedule->header()->setSortIndicator(m_iSortColumn, m_SortOrder);
    } else {
        m_bSorted = false;
        lvwSchedule->header()->setSortIndicatorShown(false);
    }
}

QTreeWidgetItem* frmSchedule::AddToListViewObj(CBackupJob& job) {
    try {
        auto* row = new JobRow();
        row->setText(0, Q(job.JobName()));
        row->setData(0, TagRole, -1);
        lvwSchedule->addTopLevelItem(row);
        RefreshItemDetails(row, job);
        if (m_bSorted) SortList();
        return row;
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "frmSchedule", "AddToListViewObj()", "");
        return nullptr;
    }
}

void frmSchedule::DeleteItemListView(int iRow) {
    try {
        QTreeWidgetItem* row = lvwSchedule->topLevelItem(iRow);
        if (row == nullptr) return;
        if (CBackupJobManager* manager = JobManager()) manager->DeleteByHandle(RowTag(row));
        delete lvwSchedule->takeTopLevelItem(iRow);
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "frmSchedule", "DeleteItemListView()", "");
    }
}

void frmSchedule::RefreshItemDetails(QTreeWidgetItem* row, CBackupJob& job) {
    try {
        if (row == nullptr) return;
        int iImage = (job.Compress() ? imgZipJob : imgCopyJob) + (job.Suspended() ? 2 : 0);
        row->setIcon(0, JobIcon(iImage));
        row->setData(0, ImageRole, iImage);
        row->setText(0, Q(job.JobName()));
        if (job.Tag() >= 0) row->setData(0, TagRole, job.Tag());
        for (int iColumn = 1; iColumn < kColumns; ++iColumn) {
            int iIndex = m_ColumnIndex[iColumn];
            if (appPreferences::Columns[iColumn].Position <= 0 || iIndex < 0) continue;
            row->setText(iIndex, Q(CellText(iColumn, job)));
            if (RightAligned(iColumn)) row->setTextAlignment(iIndex, Qt::AlignRight | Qt::AlignVCenter);
        }
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "frmSchedule", "RefreshItemDetails()", "");
    }
}

void frmSchedule::RefreshSelectedItemDetails(CBackupJob& job) {
    try {
        using UserInteraction::Buttons;
        using UserInteraction::Icon;
        if (lvwSchedule->topLevelItemCount() == 0) {
            UserInteraction::MsgBox("You must first add and then select a backup job before clicking this button.",
                                    Buttons::OK, Icon::Information, "Verification Error");
            return;
        }
        QTreeWidgetItem* row = CurrentRow();
        if (row == nullptr || !row->isSelected())
            UserInteraction::MsgBox("You must first select a backup job before clicking this button.", Buttons::OK,
                                    Icon::Information, "Verification Error");
        RefreshItemDetails(row, job);
        lvwSchedule->viewport()->update();
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "frmSchedule", "RefreshSelectedItemDetails()", "");
    }
}

void frmSchedule::RefreshDetailsByHandle(long lHandle) {
    CBackupJobManager* manager = JobManager();
    if (manager == nullptr) return;
    CBackupJob* job = manager->JobFromHandle(static_cast<int32_t>(lHandle));
    if (job == nullptr) return;
    for (int i = 0; i < lvwSchedule->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = lvwSchedule->topLevelItem(i);
        if (RowTag(row) == lHandle) {
            RefreshItemDetails(row, *job);
            return;
        }
    }
}

void frmSchedule::ShowRunningState(QTreeWidgetItem* row) {
    int iIndex = m_ColumnIndex[appPreferences::colState];
    if (row != nullptr && appPreferences::Columns[appPreferences::colState].Position >= 1 && iIndex >= 0)
        row->setText(iIndex, "R");
}

void frmSchedule::RefreshScheduleForm() {
    try {
        CBackupJobManager& manager = JobManager() ? *JobManager() : CreateJobManager();
        manager.Reload();
        BuildHeaders();
        for (int32_t i = 0; i < manager.Count(); ++i) {
            CBackupJob* job = manager.JobFromIndex(i);
            if (job == nullptr) continue;
            QString sName = Q(job->JobName());
            for (int r = 0; r < lvwSchedule->topLevelItemCount(); ++r) {
                if (lvwSchedule->topLevelItem(r)->text(0).compare(sName, Qt::CaseInsensitive) == 0) {
                    UserInteraction::MsgBox("Duplicate job name \"" + job->JobName() + "\"",
                                            UserInteraction::Buttons::OK, UserInteraction::Icon::None, "Data Error ");
                    job->SetStatus(3);
                    break;
                }
            }
            AddToListViewObj(*job);
        }
        StatusBarCount(lvwSchedule->topLevelItemCount());
        update();
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "frmSchedule", "RefreshScheduleForm()", "");
    }
}

// ---- selection ----

QTreeWidgetItem* frmSchedule::CurrentRow() const { return lvwSchedule->currentItem(); }

std::vector<QTreeWidgetItem*> frmSchedule::SelectedRows() const {
    std::vector<QTreeWidgetItem*> rows;
    for (int i = 0; i < lvwSchedule->topLevelItemCount(); ++i)
        if (lvwSchedule->topLevelItem(i)->isSelected()) rows.push_back(lvwSchedule->topLevelItem(i));
    return rows;
}

int32_t frmSchedule::RowTag(const QTreeWidgetItem* row) {
    if (row == nullptr) return -1;
    bool bOk = false;
    int iTag = row->data(0, TagRole).toInt(&bOk);
    return bOk ? iTag : -1;
}

CBackupJob* frmSchedule::JobOfRow(const QTreeWidgetItem* row) {
    CBackupJobManager* manager = JobManager();
    if (manager == nullptr || row == nullptr) return nullptr;
    return manager->JobFromHandle(RowTag(row));
}

bool frmSchedule::SelectionChecks() {
    using UserInteraction::Buttons;
    using UserInteraction::Icon;
    if (lvwSchedule->topLevelItemCount() == 0) {
        UserInteraction::MsgBox("You must first add and then select a backup job before clicking this button.",
                                Buttons::OK, Icon::Information, "Verification Error");
        return false;
    }
    QTreeWidgetItem* row = CurrentRow();
    if (row == nullptr || !row->isSelected()) {
        UserInteraction::MsgBox("You must first select a backup job before clicking this button.", Buttons::OK,
                                Icon::Information, "Verification Error");
        return false;
    }
    return true;
}

// ---- sorting ----

void frmSchedule::lvwSchedule_ColumnClick(int iColumn) {
    try {
        // Every click flips the order, whichever column it is on; the list starts out ascending,
        // so the first click sorts descending.
        m_SortOrder = m_SortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
        m_iSortColumn = iColumn;
        m_bSorted = true;
        SortList();
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "frmSchedule", "lvwSchedule_ColumnClick()", "");
    }
}

void frmSchedule::SortList() {
    lvwSchedule->sortItems(m_iSortColumn, m_SortOrder);
    lvwSchedule->header()->setSortIndicatorShown(true);
    lvwSchedule->header()->setSortIndicator(m_iSortColumn, m_SortOrder);
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
}
