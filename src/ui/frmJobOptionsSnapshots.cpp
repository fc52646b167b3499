// The editor's dated snapshots on the Compression page: the "Keep a dated snapshot of every run"
// check box (job key Snapshots), how many of them the calendar keeps (KeepLast, KeepDaily,
// KeepWeekly, KeepMonthly, KeepYearly) and a preview of what those settings, saved or not,
// would keep of the snapshots the job has now, in the words of "/RETENTION".

#include "ui/frmJobOptions.h"

#include "app/QtHelpers.h"
#include "app/RetentionCommand.h"
#include "jobs/CBackupJob.h"
#include "support/libErrorHandler.h"
#include "support/libStrings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

using namespace QtHelpers;

namespace {
// The keep counts in the order of the spin boxes.
constexpr int32_t CBackupJob::SnapshotKeep::*kKeepFields[] = {
    &CBackupJob::SnapshotKeep::Last, &CBackupJob::SnapshotKeep::Daily, &CBackupJob::SnapshotKeep::Weekly,
    &CBackupJob::SnapshotKeep::Monthly, &CBackupJob::SnapshotKeep::Yearly};
} // namespace

QGroupBox* frmJobOptions::BuildSnapshotGroup(QWidget* pParent) {
    fraSnapshots = new QGroupBox(pParent);
    fraSnapshots->setObjectName("fraSnapshots");
    // The settings on the left, the preview beside them, so that the page stays low enough.
    auto* pLeft = new QVBoxLayout;
    chkSnapshots = new QCheckBox(tr("Keep a dated snapshot of every run"), fraSnapshots);
    chkSnapshots->setObjectName("chkSnapshots");
    chkSnapshots->setToolTip(tr("Each run makes a dated folder beside the copy holding the whole backup; files "
                                "unchanged since the snapshot before take no space again (hard links)"));
    pLeft->addWidget(chkSnapshots);

    const char* kNames[] = {"spnKeepLast", "spnKeepDaily", "spnKeepWeekly", "spnKeepMonthly", "spnKeepYearly"};
    const QString kUnits[] = {tr("snapshots,"), tr("days"), tr("weeks"), tr("months"), tr("years")};
    auto* pLastRow = new QHBoxLayout;
    lblKeepLast = new QLabel(tr("Keep the last"), fraSnapshots);
    pLastRow->addWidget(lblKeepLast);
    lblKeepNewest = new QLabel(tr("and the newest one of each of the last"), fraSnapshots);
    // The four calendar rules two by two.
    auto* pCalendar = new QGridLayout;
    for (size_t i = 0; i < spnKeep.size(); ++i) {
        spnKeep[i] = new QSpinBox(fraSnapshots);
        spnKeep[i]->setObjectName(kNames[i]);
        spnKeep[i]->setRange(0, CBackupJob::MaxSnapshotKeep);
        spnKeep[i]->setToolTip(tr("0: this rule keeps none"));
        lblKeepUnit[i] = new QLabel(kUnits[i], fraSnapshots);
        lblKeepUnit[i]->setBuddy(spnKeep[i]);
        if (i == 0) {
            pLastRow->addWidget(spnKeep[i]);
            pLastRow->addWidget(lblKeepUnit[i]);
            continue;
        }
        const int iRow = static_cast<int>(i - 1) / 2, iColumn = static_cast<int>(i - 1) % 2 * 2;
        pCalendar->addWidget(spnKeep[i], iRow, iColumn);
        pCalendar->addWidget(lblKeepUnit[i], iRow, iColumn + 1);
    }
    lblKeepLast->setBuddy(spnKeep[0]);
    pLastRow->addStretch(1);
    pCalendar->setColumnStretch(4, 1);
    pLeft->addLayout(pLastRow);
    pLeft->addWidget(lblKeepNewest);
    pLeft->addLayout(pCalendar);
    pLeft->addStretch(1);

    auto* pRight = new QVBoxLayout;
    lblSnapshotPreview = new QLabel(tr("What these settings keep of the job's snapshots:"), fraSnapshots);
    lblSnapshotPreview->setWordWrap(true);
    lstSnapshotPreview = new QListWidget(fraSnapshots);
    lstSnapshotPreview->setObjectName("lstSnapshotPreview");
    lstSnapshotPreview->setSelectionMode(QAbstractItemView::NoSelection);
    lstSnapshotPreview->setMinimumWidth(240);
    lblSnapshotPreview->setBuddy(lstSnapshotPreview);
    pRight->addWidget(lblSnapshotPreview);
    pRight->addWidget(lstSnapshotPreview, 1);

    auto* pLay = new QHBoxLayout(fraSnapshots);
    pLay->addLayout(pLeft);
    pLay->addSpacing(8);
    pLay->addLayout(pRight, 1);

    connect(chkSnapshots, &QCheckBox::toggled, this, [this] {
        EnableSnapshotControls();
        RefreshSnapshotPreview();
    });
    for (QSpinBox* p : spnKeep)
        connect(p, &QSpinBox::valueChanged, this, &frmJobOptions::RefreshSnapshotPreview);
    return fraSnapshots;
}

void frmJobOptions::SetupSnapshots(const CBackupJob& job) {
    const QSignalBlocker block(chkSnapshots);
    chkSnapshots->setChecked(job.Snapshots());
    for (size_t i = 0; i < spnKeep.size(); ++i) {
        const QSignalBlocker blockSpin(spnKeep[i]);
        spnKeep[i]->setValue(job.SnapshotKeeping().*kKeepFields[i]);
    }
    m_snapshots.clear();
    m_sSnapshotProblem.clear();
    EnableSnapshotControls();
    RefreshSnapshotPreview();
}

void frmJobOptions::ListSnapshots() {
    libErrorHandler::Trap(kModule, "ListSnapshots()", [&] {
        // The job's snapshots lie where its saved target and name put them; a new job has none
        // but those a job of the name typed may have left in the target typed.
        const CBackupJob& job = *m_pEditedJob;
        const std::string sTarget = m_bIsNewJob ? libStrings::Trim(S(txtTargDir->text())) : job.TargetDirectory();
        const std::string sName = m_bIsNewJob ? S(txtBackupJobName->text()) : job.JobName();
        m_snapshots.clear();
        m_sSnapshotProblem.clear();
        if (!sTarget.empty() && CBackupJob::IsSafeJobName(sName))
            RetentionCommand::ListSnapshots(Snapshots::FolderOf(sTarget, sName), m_snapshots, m_sSnapshotProblem);
        RefreshSnapshotPreview();
    });
}

CBackupJob::SnapshotKeep frmJobOptions::SnapshotKeepShown() const {
    CBackupJob::SnapshotKeep keep;
    for (size_t i = 0; i < spnKeep.size(); ++i)
        keep.*kKeepFields[i] = spnKeep[i]->value();
    return keep;
}

void frmJobOptions::RefreshSnapshotPreview() {
    if (!lstSnapshotPreview) return; // still being built
    lstSnapshotPreview->clear();
    if (!m_sSnapshotProblem.empty()) {
        lstSnapshotPreview->addItem(tr("The snapshots cannot be listed: %1").arg(Q(m_sSnapshotProblem)));
        return;
    }
    if (m_snapshots.empty()) {
        lstSnapshotPreview->addItem(tr("No snapshots yet."));
        return;
    }
    for (const std::string& sLine : RetentionCommand::PlanLines(m_snapshots, SnapshotKeepShown()))
        lstSnapshotPreview->addItem(Q(sLine));
}

void frmJobOptions::EnableSnapshotControls() {
    if (!chkSnapshots) return; // still being built
    const bool bCopy = optCompression[0]->isChecked();
    const bool bOn = bCopy && chkSnapshots->isChecked();
    chkSnapshots->setEnabled(bCopy);
    lblKeepLast->setEnabled(bOn);
    lblKeepNewest->setEnabled(bOn);
    for (size_t i = 0; i < spnKeep.size(); ++i) {
        spnKeep[i]->setEnabled(bOn);
        lblKeepUnit[i]->setEnabled(bOn);
    }
    lblSnapshotPreview->setEnabled(bOn);
    lstSnapshotPreview->setEnabled(bOn);
}

void frmJobOptions::StoreSnapshots(CBackupJob& job) const {
    // The setters store only a change: a job that never had the keys is saved without them.
    job.SetSnapshots(chkSnapshots->isChecked());
    if (chkSnapshots->isChecked()) job.SetSnapshotKeeping(SnapshotKeepShown());
}
