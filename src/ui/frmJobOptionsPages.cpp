// The job editor's pages: EditJob, loading the controls from the job, page navigation, the
// keys that act anywhere in the dialog. The checks and OK are in frmJobOptionsChecks.cpp.

#include "ui/frmJobOptions.h"

#include "app/QtHelpers.h"
#include "jobs/CBackupJob.h"
#include "support/UserInteraction.h"
#include "support/appMisc.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libStrings.h"
#include "ui/frmOneShot.h"
#include "ui/frmSchedule.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>

using namespace QtHelpers;

namespace {
const char* const kHeaders[frmJobOptions::PageCount] = {
    QT_TRANSLATE_NOOP("frmJobOptions", "GENERAL"), QT_TRANSLATE_NOOP("frmJobOptions", "SCHEDULING"),
    QT_TRANSLATE_NOOP("frmJobOptions", "SOURCE FILES"), QT_TRANSLATE_NOOP("frmJobOptions", "EXCLUSIONS"),
    QT_TRANSLATE_NOOP("frmJobOptions", "COMPRESSION")};

void FillList(QListWidget* pList, const std::string& sText) {
    pList->clear();
    for (const auto& sLine : libStrings::FileList(sText))
        if (!sLine.empty()) pList->addItem(Q(sLine));
}

// The job names of the main window's list in row order, and the row of the current item.
void JobListOf(QWidget* pOwner, std::vector<std::string>& names, int& iSelected) {
    names.clear();
    iSelected = -1;
    auto* pSchedule = qobject_cast<frmSchedule*>(pOwner);
    if (!pSchedule || !pSchedule->lvwSchedule) return;
    QTreeWidget* pList = pSchedule->lvwSchedule;
    int iColumn = pSchedule->ColumnIndex(appPreferences::colJobName);
    if (iColumn < 0) iColumn = 0;
    for (int i = 0; i < pList->topLevelItemCount(); ++i)
        names.push_back(S(pList->topLevelItem(i)->text(iColumn)));
    if (QTreeWidgetItem* pCurrent = pSchedule->CurrentRow()) iSelected = pList->indexOfTopLevelItem(pCurrent);
}
} // namespace

bool frmJobOptions::EditJob(CBackupJob& job, QWidget* pOwner) {
    std::vector<std::string> names;
    int iSelected = -1;
    JobListOf(pOwner, names, iSelected);
    frmJobOptions dlg(pOwner);
    dlg.m_pOwner = pOwner;
    dlg.BeginEdit(job, names, iSelected);
    dlg.exec();
    const bool bSaved = dlg.m_bJobSaved;
    // The save's own outcome does not change the answer: the user confirmed.
    if (bSaved) job.SaveBackupJobIniFile();
    dlg.m_pEditedJob = nullptr;
    return bSaved;
}

void frmJobOptions::BeginEdit(CBackupJob& job, const std::vector<std::string>& jobNames, int iSelected) {
    m_bJobSaved = false;
    m_sOneShotDatesText = job.OneShotDates();
    m_iCurrentPage = 0;
    m_pEditedJob = &job;
    m_bIsNewJob = libStrings::Trim(job.FileName()).empty();
    m_jobNames = jobNames;
    m_iSelectedJob = iSelected;
    libErrorHandler::Trap(kModule, "Form_Load()", [&] { SetupForm(); });
    if (!m_bAppFilterInstalled) {
        // Ctrl+Tab and F1 act anywhere in the dialog, whichever control has the focus.
        qApp->installEventFilter(this);
        m_bAppFilterInstalled = true;
    }
}

std::string frmJobOptions::DefaultJobName(const std::vector<std::string>& jobNames) {
    const std::string sBase = DefaultJobNameBase;
    double dHighest = -1;
    for (const auto& sName : jobNames) {
        if (sName.compare(0, sBase.size(), sBase) != 0 || sName.size() < sBase.size()) continue;
        const double dValue = libStrings::Val(sName.substr(sBase.size()));
        if (dValue > dHighest) dHighest = dValue;
    }
    if (dHighest < 0) return sBase;
    if (dHighest == 0) dHighest = 1;
    // Fractions and huge values in a hand-made name must not produce a strange default.
    const long long llNext = dHighest >= 1e15 ? 1000000000000000LL : static_cast<long long>(dHighest) + 1;
    return sBase + " " + std::to_string(llNext);
}

void frmJobOptions::SelectComboIndex(QComboBox* pCombo, int iIndex) {
    // Selecting an entry runs the list's behaviour, also when the entry was already selected.
    if (pCombo->currentIndex() != iIndex) {
        pCombo->setCurrentIndex(iIndex);
        return;
    }
    if (pCombo == cmbFrequency) cmbFrequency_Click();
    if (pCombo == cmbKeepPeriod) cmbKeepPeriod_Click();
}

void frmJobOptions::SetupForm() {
    libErrorHandler::Trap(kModule, "SetupForm()", [&] {
        CBackupJob& job = *m_pEditedJob;
        m_iMaxPageReached = 0;
        FillLists();
        if (!m_bIsNewJob)
            ShowJob(job);
        else
            ShowNewJob();

        SetupKeyring(job);
        SetupOffsite(job);
        txtPingUrl->setText(Q(job.PingUrl()));
        SetupSnapshots(job);

        for (QFrame* p : fraOptions) {
            p->setVisible(false);
            p->setEnabled(false);
        }
        // Focus moves asked for by the behaviours run while loading are not the user's: dropped.
        m_pPendingFocus = nullptr;
        SetCurrentPage(0);
    });
}

void frmJobOptions::FillLists() {
    // Filling the lists is not a choice of the user: no behaviour runs.
    const QSignalBlocker blockFrequency(cmbFrequency);
    const QSignalBlocker blockKeep(cmbKeepPeriod);
    cmbFrequency->clear();
    for (const QString& s : {tr("Daily"), tr("Weekly"), tr("Monthly"), tr("One Shot")})
        cmbFrequency->addItem(s);
    cmbDayOfMonth->clear();
    for (int i = 1; i <= 28; ++i)
        cmbDayOfMonth->addItem(QString::number(i));
    cmbNumCountedZipsToKeep->clear();
    for (int i = 0; i <= appPreferences::MaxBackupCopies; ++i)
        cmbNumCountedZipsToKeep->addItem(QString::number(i));
    cmbNumDatedZipsToKeep->clear();
    for (int i = 1; i <= 30; ++i)
        cmbNumDatedZipsToKeep->addItem(QString::number(i));
    cmbKeepPeriod->clear();
    for (const QString& s : {tr("Copies"), tr("Days"), tr("Weeks"), tr("Months")})
        cmbKeepPeriod->addItem(s);
    cmbFrequency->setCurrentIndex(-1);
    cmbKeepPeriod->setCurrentIndex(-1);
    cmbDayOfMonth->setCurrentIndex(-1);
}

void frmJobOptions::ShowJob(const CBackupJob& job) {
    setWindowTitle(tr("Edit job - %1").arg(Q(job.JobName())));
    EnableFormButtons(PageCount);
    for (QWidget* p : {static_cast<QWidget*>(lblRunCount), static_cast<QWidget*>(txtRunCount),
                       static_cast<QWidget*>(cmdClearRunCount), static_cast<QWidget*>(cmdCueCard[7])})
        p->setVisible(true);
    txtRunCount->setText(QString::number(job.RunCount()));

    ShowJobArchive(job);

    txtTargDir->setText(Q(job.TargetDirectory()));
    chkRunOnConnect->setChecked(job.RunOnConnect());
    (job.Incremental() ? optIncremental : optFullBackup)->setChecked(true);

    FillList(lstExcludeFiles, job.ExcludeSpec());
    chkExcludeCaches->setChecked(job.ExcludeCaches());
    txtExcludeSpec->clear();
    FillList(lstFilesToBackup, job.FilesToZip());
    chkSubdirectories->setChecked(job.Subdirectories());

    ShowJobSchedule(job);
    txtBackupJobName->setText(Q(job.JobName()));
}

// Compression, retention, password, encryption, copy style and verification of the job edited.
void frmJobOptions::ShowJobArchive(const CBackupJob& job) {
    optCompression[job.Compress() ? 1 : 0]->setChecked(true);
    if (!job.Compress()) chkPasswordProtect->setChecked(false);
    optCompression_Click();

    const int iCopies = job.NumberCopies();
    const int iCounted = cmbNumCountedZipsToKeep->count();
    cmbNumCountedZipsToKeep->setCurrentIndex(iCopies >= iCounted ? iCounted - 1 : iCopies);
    const int iDated = cmbNumDatedZipsToKeep->count();
    cmbNumDatedZipsToKeep->setCurrentIndex(iCopies < 1 ? 0 : (iCopies >= iDated ? iDated - 1 : iCopies - 1));
    // The list of the job's own keep period is the active one, so that the retention
    // behaviour below carries the job's number over unchanged (a job keeping 30 days must
    // not come back as the last entry of a shorter counted list).
    const bool bDated = job.KeepPeriod() >= 1 && job.KeepPeriod() <= 3;
    cmbNumCountedZipsToKeep->setEnabled(!bDated);
    cmbNumDatedZipsToKeep->setEnabled(bDated);
    SelectComboIndex(cmbKeepPeriod, std::max(0, std::min(3, static_cast<int>(job.KeepPeriod()))));
    if (!job.Compress()) {
        cmbNumCountedZipsToKeep->setEnabled(false);
        cmbNumDatedZipsToKeep->setEnabled(false);
    }

    if (!job.Password().empty()) {
        chkPasswordProtect->setChecked(true);
        txtPassword->setText(Q(job.Password()));
    } else {
        chkPasswordProtect->setChecked(false);
    }
    // A job without a password that gets one is offered AES-256, as a new job is.
    const bool bTraditional = !job.Password().empty() && job.Encryption() == CBackupJob::EncryptionKind::Traditional;
    optEncryption[bTraditional ? 1 : 0]->setChecked(true);
    const int iStyle = job.CopyStyle();
    if (iStyle >= 0 && iStyle <= 2) optCopyStyle[iStyle]->setChecked(true);
    chkVerify->setChecked(job.Verify());
    chkPasswordProtect_Click();
    optCompression_Click();
}

void frmJobOptions::ShowJobSchedule(const CBackupJob& job) {
    const std::string sStart = libDates::Format(libDates::TimeValue(job.StartTime()), "hh:mm");
    txtStartTime->setText(Q(sStart));
    SelectComboIndex(cmbFrequency, std::max(0, std::min(3, static_cast<int>(job.Frequency()) - 1)));
    const int16_t iMask = job.DayOfWeek();
    chkSunday->setChecked(iMask & 2);
    chkMonday->setChecked(iMask & 4);
    chkTuesday->setChecked(iMask & 8);
    chkWednesday->setChecked(iMask & 16);
    chkThursday->setChecked(iMask & 32);
    chkFriday->setChecked(iMask & 64);
    chkSaturday->setChecked(iMask & 128);
    cmbDayOfMonth->setCurrentIndex(std::max(0, std::min(27, static_cast<int>(job.DayOfMonth()) - 1)));

    RefreshOneShotText();
    const int iMinutes =
        static_cast<int>(libStrings::Val(sStart.substr(0, 2)) * 60 + libStrings::Val(sStart.substr(sStart.size() - 2)));
    vscrTime->setValue(iMinutes);
    vscrTime_Change();
}

void frmJobOptions::ShowNewJob() {
    setWindowTitle(tr("Add New Backup Job"));
    EnableFormButtons(0);
    optCompression[1]->setChecked(true);
    optCompression_Click();
    optCopyStyle[0]->setChecked(true);
    for (QWidget* p : {static_cast<QWidget*>(lblRunCount), static_cast<QWidget*>(cmdClearRunCount),
                       static_cast<QWidget*>(txtRunCount), static_cast<QWidget*>(cmdCueCard[7])})
        p->setVisible(false);

    // Keep 3 copies, or as many as the counted list offers when it is shorter.
    cmbNumCountedZipsToKeep->setCurrentIndex(std::min(3, cmbNumCountedZipsToKeep->count() - 1));
    cmbNumCountedZipsToKeep->setEnabled(true);
    cmbNumDatedZipsToKeep->setEnabled(false);
    SelectComboIndex(cmbKeepPeriod, 0);
    chkPasswordProtect->setChecked(false);
    optEncryption[0]->setChecked(true);
    chkPasswordProtect_Click();
    chkVerify->setChecked(false);
    chkRunOnConnect->setChecked(false);
    chkExcludeCaches->setChecked(true);
    optFullBackup->setChecked(true);

    txtStartTime->setText(tr("03:00"));
    vscrTime->setValue(180);
    SelectComboIndex(cmbFrequency, 0);
    RefreshOneShotText();

    txtBackupJobName->setText(Q(DefaultJobName(m_jobNames)));
}

// ---------------------------------------------------------------- pages and navigation

void frmJobOptions::SetCurrentPage(int iPage) {
    if (iPage < 0 || iPage > LastPage) return;
    fraOptions[m_iCurrentPage]->setVisible(false);
    fraOptions[m_iCurrentPage]->setEnabled(false);
    m_iCurrentPage = iPage;
    cmdBack->setEnabled(iPage >= 1);
    cmdNext->setEnabled(iPage < LastPage);
    if (iPage > m_iMaxPageReached) m_iMaxPageReached = iPage;
    if (m_bIsNewJob) cmdOK->setEnabled(m_iMaxPageReached == LastPage);
    lblHeader->setText(tr(kHeaders[iPage]));
    cmdFormButton[iPage]->setChecked(true);
    fraOptions[iPage]->setEnabled(true);
    fraOptions[iPage]->setVisible(true);
    if (iPage == 4) {
        ListOffsiteRemotes();
        ListSnapshots();
    }
    ApplyPendingFocus();
}

void frmJobOptions::EnableFormButtons(int iPage) {
    if (iPage > m_iMaxPageReached) m_iMaxPageReached = iPage;
    for (int i = 0; i < PageCount; ++i)
        cmdFormButton[i]->setEnabled(i <= m_iMaxPageReached);
}

void frmJobOptions::cmdNext_Click() {
    if (m_iCurrentPage >= LastPage) return;
    if (m_bIsNewJob) {
        if (!VerifyCurrentStep()) return;
        SetCurrentPage(m_iCurrentPage + 1);
        EnableFormButtons(m_iCurrentPage);
    } else {
        SetCurrentPage(m_iCurrentPage + 1);
    }
}

void frmJobOptions::cmdBack_Click() {
    if (m_iCurrentPage > 0) SetCurrentPage(m_iCurrentPage - 1);
}

void frmJobOptions::cmdFormButton_Click(int iIndex) { SetCurrentPage(iIndex); }

void frmJobOptions::RequestFocus(QWidget* pWidget) {
    m_pPendingFocus = pWidget;
    ApplyPendingFocus();
}

void frmJobOptions::ApplyPendingFocus() {
    if (!m_pPendingFocus || !isVisible() || !m_pPendingFocus->isVisible() || !m_pPendingFocus->isEnabled()) return;
    QWidget* p = m_pPendingFocus;
    m_pPendingFocus = nullptr;
    p->setFocus();
}

void frmJobOptions::showEvent(QShowEvent* pEvent) {
    QDialog::showEvent(pEvent);
    if (QScreen* pScreen = screen()) {
        const QRect area = pScreen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    // The job name is where the user starts, unless a check asked for another field.
    if (!m_pPendingFocus && m_iCurrentPage == 0) m_pPendingFocus = txtBackupJobName;
    // Once the window and its controls are on screen.
    QTimer::singleShot(0, this, [this] { ApplyPendingFocus(); });
}

void frmJobOptions::HelpContents() {
    if (auto* pSchedule = qobject_cast<frmSchedule*>(m_pOwner))
        pSchedule->mnuHelpContents_Click();
    else
        appMisc::ShowHelpContents();
}

bool frmJobOptions::eventFilter(QObject* pWatched, QEvent* pEvent) {
    const QEvent::Type type = pEvent->type();
    if (pWatched == txtStartTime) {
        if (type == QEvent::FocusIn) txtStartTime_GotFocus();
        if (type == QEvent::FocusOut && !m_bInTimeCheck) {
            const auto reason = static_cast<QFocusEvent*>(pEvent)->reason();
            // A message box or another window taking the focus, or Cancel, is not leaving the field.
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
                QApplication::focusWidget() != cmdCancel)
                txtStartTime_LostFocus();
        }
    } else if (pWatched == txtBackupJobName) {
        if (type == QEvent::FocusIn) txtBackupJobName_GotFocus();
        if (type == QEvent::KeyPress) {
            auto* pKey = static_cast<QKeyEvent*>(pEvent);
            const QString sText = pKey->text();
            const bool bShortcut = pKey->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
            // Control characters (Enter, Delete, ...) are not typed characters of a name.
            const bool bTyped = sText.size() == 1 && sText.at(0).unicode() >= 32 && sText.at(0).unicode() != 127;
            if (!bShortcut && bTyped && !JobNameKeyAccepted(sText)) {
                QApplication::beep();
                MsgBox(S(tr("The character '%1' is not allowed in a backup job name.").arg(sText)), Buttons::OK,
                       Icon::None, S(tr("Keypress Error")));
                return true;
            }
        }
    }
    if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && pWatched->isWidgetType() &&
        static_cast<QWidget*>(pWatched)->window() == this) {
        auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if (type == QEvent::KeyPress && pKey->key() == Qt::Key_Tab && (pKey->modifiers() & Qt::ControlModifier)) {
            SetCurrentPage(m_iCurrentPage >= LastPage ? 0 : m_iCurrentPage + 1);
            return true;
        }
        if (type == QEvent::KeyRelease && pKey->key() == Qt::Key_F1 && !pKey->isAutoRepeat()) {
            HelpContents();
            return true;
        }
    }
    return QDialog::eventFilter(pWatched, pEvent);
}
