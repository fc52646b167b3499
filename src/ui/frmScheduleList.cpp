// The job list of the main window: its columns, its rows and what each cell shows, the
// selection the commands work on, and sorting.

#include "ui/frmSchedule.h"

#include "app/QtHelpers.h"
#include "engine/libRetention.h"
#include "jobs/CBackupJobManager.h"
#include "jobs/JobHealth.h"
#include "support/UserInteraction.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QIcon>

#include <cmath>

using namespace QtHelpers;

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

int Px(int iTwips) { return (iTwips + frmSchedule::TwipsPerPixel / 2) / frmSchedule::TwipsPerPixel; }

const QIcon& JobIcon(int iImage) {
    static const std::array<QIcon, 4> icons{QIcon(":/icons/zipjob.svg"), QIcon(":/icons/copyjob.svg"),
                                            QIcon(":/icons/zipjob-suspended.svg"),
                                            QIcon(":/icons/copyjob-suspended.svg")};
    return icons[static_cast<size_t>(iImage - 1)];
}

// The preferences' column captions, listed here so that they reach the translation template.
[[maybe_unused]] const char* const kCaptionTexts[] = {
    QT_TRANSLATE_NOOP("appPreferences", "Job name"),      QT_TRANSLATE_NOOP("appPreferences", "Date last run"),
    QT_TRANSLATE_NOOP("appPreferences", "Time last run"), QT_TRANSLATE_NOOP("appPreferences", "Date next run"),
    QT_TRANSLATE_NOOP("appPreferences", "Start time"),    QT_TRANSLATE_NOOP("appPreferences", "Size"),
    QT_TRANSLATE_NOOP("appPreferences", "Status"),        QT_TRANSLATE_NOOP("appPreferences", "Runs"),
    QT_TRANSLATE_NOOP("appPreferences", "Type")};

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
QString frmSchedule::ColumnCaption(int iColumn) {
    return QCoreApplication::translate("appPreferences", appPreferences::ColumnCaptions[iColumn]);
}

int frmSchedule::MinimumColumnWidth(int iColumn) const {
    static const std::array<const char*, kColumns> samples{"",          "May-30-2027", "00:00", "May-30-2027", "00:00",
                                                           "999,999KB", "W",           "9999",  "Freshen"};
    int iCaption = lvwSchedule->header()->fontMetrics().horizontalAdvance(ColumnCaption(iColumn));
    int iSample = lvwSchedule->fontMetrics().horizontalAdvance(samples[static_cast<size_t>(iColumn)]);
    return std::max(iCaption, iSample) + 18;
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
        return FormatSizeKB(static_cast<int64_t>(std::llround(libRetention::CurrentBackupSize(job))));
    case appPreferences::colState:
        // Not failed, only away: it runs when its drive is back.
        if (!job.Failure() && JobHealth::WaitingForDrive(job)) return S(tr("Waiting for its drive"));
        return job.StatusAsStr();
    case appPreferences::colRunCount:
        return job.RunCount() < 1 ? "" : std::to_string(job.RunCount());
    case appPreferences::colJobType:
        if (job.Compress()) return S(tr("Zip"));
        switch (job.CopyStyle()) {
        case CBackupJob::CopyRebuild:
            return S(tr("Rebuild"));
        case CBackupJob::CopyUpdate:
            return S(tr("Update"));
        case CBackupJob::CopyFreshen:
            return S(tr("Freshen"));
        default:
            return S(tr("Copy?"));
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
        captions << ColumnCaption(iColumn);

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
    return libErrorHandler::Trap("frmSchedule", "AddToListViewObj()", [&]() -> QTreeWidgetItem* {
        auto* row = new JobRow();
        row->setText(0, Q(job.JobName()));
        row->setData(0, TagRole, -1);
        lvwSchedule->addTopLevelItem(row);
        RefreshItemDetails(row, job);
        if (m_bSorted) SortList();
        return row;
    });
}

void frmSchedule::DeleteItemListView(int iRow) {
    libErrorHandler::Trap("frmSchedule", "DeleteItemListView()", [&] {
        QTreeWidgetItem* row = lvwSchedule->topLevelItem(iRow);
        if (row == nullptr) return;
        if (CBackupJobManager* manager = JobManager()) manager->DeleteByHandle(RowTag(row));
        delete lvwSchedule->takeTopLevelItem(iRow);
        UpdateHealthLight();
    });
}

void frmSchedule::RefreshItemDetails(QTreeWidgetItem* row, CBackupJob& job) {
    libErrorHandler::Trap("frmSchedule", "RefreshItemDetails()", [&] {
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
        MarkHealth(row, job);
    });
}

void frmSchedule::MarkHealth(QTreeWidgetItem* row, const CBackupJob& job) {
    const bool bStale = JobHealth::IsStale(job, libDates::Now(), appPreferences::StaleDays);
    row->setData(0, StaleRole, bStale);
    const int iIndex = m_ColumnIndex[appPreferences::colState];
    // What the last run backed up, on the row's first column.
    const QString sLastRun = job.LastRun().Known() ? tr("Last run: %1").arg(Q(job.LastRunText())) : QString();
    row->setToolTip(0, sLastRun);
    if (appPreferences::Columns[appPreferences::colState].Position > 0 && iIndex >= 0) {
        QString sTip;
        QString sText = row->text(iIndex);
        if (sText.endsWith('!')) sText.chop(1);
        row->setText(iIndex, bStale ? sText + "!" : sText);
        if (bStale && JobHealth::LocallyStale(job, libDates::Now(), appPreferences::StaleDays)) {
            sTip = tr("No successful backup since %1")
                       .arg(Q(libDates::Format(JobHealth::NoSuccessSince(job), "mmm-dd-yyyy hh:mm")));
        } else if (bStale) {
            sTip = tr("Off-site copy behind since %1")
                       .arg(Q(libDates::Format(JobHealth::OffsiteBehindSince(job), "mmm-dd-yyyy hh:mm")));
        }
        if (iIndex == 0 && !sLastRun.isEmpty()) sTip = sTip.isEmpty() ? sLastRun : sTip + "\n" + sLastRun;
        row->setToolTip(iIndex, sTip);
    }
    UpdateHealthLight();
}

void frmSchedule::UpdateHealthLight() {
    bool bStale = false;
    for (int i = 0; i < lvwSchedule->topLevelItemCount() && !bStale; ++i)
        bStale = lvwSchedule->topLevelItem(i)->data(0, StaleRole).toBool();
    if (m_bRunning || bStale == m_bHealthWarning) return;
    m_bHealthWarning = bStale;
    SetLight(0, !bStale);
    SetLight(1, bStale);
    SetLight(2, false);
    SetLight(3, true);
    picLight->setToolTip(bStale ? tr("A job has no recent successful backup") : QString());
}

void frmSchedule::RefreshHealth() {
    libErrorHandler::Trap("frmSchedule", "RefreshHealth()", [&] {
        CBackupJobManager* manager = JobManager();
        if (manager == nullptr) return;
        // Each job into an object of its own: loading the shared job would store its next run
        // afresh, and a job due this moment would no longer look due to the tick.
        for (int i = 0; i < lvwSchedule->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = lvwSchedule->topLevelItem(i);
            CBackupJob job;
            if (job.Open(manager->FileNameFromHandle(RowTag(row))) == CBackupJob::FileResult::Done)
                MarkHealth(row, job);
        }
    });
}

void frmSchedule::RefreshSelectedItemDetails(CBackupJob& job) {
    libErrorHandler::Trap("frmSchedule", "RefreshSelectedItemDetails()", [&] {
        using UserInteraction::Buttons;
        using UserInteraction::Icon;
        if (lvwSchedule->topLevelItemCount() == 0) {
            UserInteraction::MsgBox(
                S(tr("You must first add and then select a backup job before clicking this button.")), Buttons::OK,
                Icon::Information, S(tr("Verification Error")));
            return;
        }
        QTreeWidgetItem* row = CurrentRow();
        if (row == nullptr || !row->isSelected())
            UserInteraction::MsgBox(S(tr("You must first select a backup job before clicking this button.")),
                                    Buttons::OK, Icon::Information, S(tr("Verification Error")));
        RefreshItemDetails(row, job);
        lvwSchedule->viewport()->update();
    });
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
    libErrorHandler::Trap("frmSchedule", "RefreshScheduleForm()", [&] {
        CBackupJobManager& manager = JobManager() ? *JobManager() : CreateJobManager();
        manager.Reload();
        BuildHeaders();
        for (int32_t i = 0; i < manager.Count(); ++i) {
            CBackupJob* job = manager.JobFromIndex(i);
            if (job == nullptr) continue;
            QString sName = Q(job->JobName());
            for (int r = 0; r < lvwSchedule->topLevelItemCount(); ++r) {
                if (lvwSchedule->topLevelItem(r)->text(0).compare(sName, Qt::CaseInsensitive) == 0) {
                    UserInteraction::MsgBox(S(tr("Duplicate job name \"%1\"").arg(Q(job->JobName()))),

                                            UserInteraction::Buttons::OK, UserInteraction::Icon::None,
                                            S(tr("Data Error ")));
                    job->SetStatus(3);
                    break;
                }
            }
            AddToListViewObj(*job);
        }
        StatusBarCount(lvwSchedule->topLevelItemCount());
        update();
    });
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
        UserInteraction::MsgBox(S(tr("You must first add and then select a backup job before clicking this button.")),
                                Buttons::OK, Icon::Information, S(tr("Verification Error")));
        return false;
    }
    QTreeWidgetItem* row = CurrentRow();
    if (row == nullptr || !row->isSelected()) {
        UserInteraction::MsgBox(S(tr("You must first select a backup job before clicking this button.")), Buttons::OK,
                                Icon::Information, S(tr("Verification Error")));
        return false;
    }
    return true;
}

// ---- sorting ----

void frmSchedule::lvwSchedule_ColumnClick(int iColumn) {
    libErrorHandler::Trap("frmSchedule", "lvwSchedule_ColumnClick()", [&] {
        // Every click flips the order, whichever column it is on; the list starts out ascending,
        // so the first click sorts descending.
        m_SortOrder = m_SortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
        m_iSortColumn = iColumn;
        m_bSorted = true;
        SortList();
    });
}

void frmSchedule::SortList() {
    lvwSchedule->sortItems(m_iSortColumn, m_SortOrder);
    lvwSchedule->header()->setSortIndicatorShown(true);
    lvwSchedule->header()->setSortIndicator(m_iSortColumn, m_SortOrder);
}
