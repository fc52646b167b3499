// The job editor's controls: the behaviours of the schedule,
// retention, compression, password, source, exclude, target and job-name controls.
// The pages are built in frmJobOptionsLayout.cpp; loading and navigation are in
// frmJobOptionsPages.cpp; the checks and the write-back in frmJobOptionsChecks.cpp.

#include "ui/frmJobOptions.h"

#include "app/QtHelpers.h"
#include "jobs/CBackupJob.h"
#include "support/UserInteraction.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libStrings.h"
#include "ui/frmOneShot.h"
#include "ui/frmPickFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

using namespace QtHelpers;

namespace {

// Removes the selected entries of a list from the top, looking at the same position again after
// each removal.
void RemoveSelected(QListWidget* pList) {
    int i = 0;
    while (i < pList->count()) {
        if (pList->item(i)->isSelected())
            delete pList->takeItem(i);
        else
            ++i;
    }
}
} // namespace

frmJobOptions::frmJobOptions(QWidget* pParent) : QDialog(pParent) {
    setObjectName("frmJobOptions");
    setModal(true);
    BuildPages();
    ConnectHandlers();
}

frmJobOptions::~frmJobOptions() {
    if (m_bAppFilterInstalled) qApp->removeEventFilter(this);
}

void frmJobOptions::ConnectHandlers() {
    connect(cmdNext, &QPushButton::clicked, this, &frmJobOptions::cmdNext_Click);
    connect(cmdBack, &QPushButton::clicked, this, &frmJobOptions::cmdBack_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmJobOptions::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmJobOptions::cmdCancel_Click);
    for (int i = 0; i < PageCount; ++i)
        connect(cmdFormButton[i], &QPushButton::clicked, this,
                [this, i] { cmdFormButton_Click(cmdFormButton[i]->property("tag").toInt()); });
    for (int i = 0; i < CueCardCount; ++i)
        connect(cmdCueCard[i], &QPushButton::clicked, this, [this, i] { cmdCueCard_Click(i); });
    connect(cmbFrequency, &QComboBox::currentIndexChanged, this, &frmJobOptions::cmbFrequency_Click);
    connect(cmbKeepPeriod, &QComboBox::currentIndexChanged, this, &frmJobOptions::cmbKeepPeriod_Click);
    connect(optCompression[1], &QRadioButton::toggled, this, &frmJobOptions::optCompression_Click);
    connect(chkPasswordProtect, &QCheckBox::toggled, this, &frmJobOptions::chkPasswordProtect_Click);
    connect(vscrTime, &QAbstractSlider::valueChanged, this, &frmJobOptions::vscrTime_Change);
    connect(cmdOneShot, &QPushButton::clicked, this, &frmJobOptions::cmdOneShot_Click);
    connect(cmdAddFile, &QPushButton::clicked, this, &frmJobOptions::cmdAddFile_Click);
    connect(cmdRemove, &QPushButton::clicked, this, &frmJobOptions::cmdRemove_Click);
    connect(cmdAddExclude, &QPushButton::clicked, this, &frmJobOptions::cmdAddExclude_Click);
    connect(txtExcludeSpec, &QLineEdit::returnPressed, this, &frmJobOptions::cmdAddExclude_Click);
    connect(cmdRemoveExclude, &QPushButton::clicked, this, &frmJobOptions::cmdRemoveExclude_Click);
    connect(cmdBrowseTargetDirectory, &QPushButton::clicked, this, &frmJobOptions::cmdBrowseTargetDirectory_Click);
    connect(cmdClearRunCount, &QPushButton::clicked, this, &frmJobOptions::cmdClearRunCount_Click);
    // The focus and key behaviours of the start time and the job name run in eventFilter, which
    // BeginEdit installs on the application (it also sees Ctrl+Tab and F1 for the whole dialog).
}

// ---------------------------------------------------------------- schedule

void frmJobOptions::cmbFrequency_Click() {
    libErrorHandler::Trap(kModule, "cmbFrequency_Click()", [&] {
        const int iFrequency = cmbFrequency->currentIndex(); // Daily, Weekly, Monthly, One Shot
        QCheckBox* days[7] = {chkMonday, chkTuesday, chkWednesday, chkThursday, chkFriday, chkSaturday, chkSunday};
        bool bDaysShown = false, bLabelShown = false, bDayOfMonthShown = false, bTimeShown = true;
        if (iFrequency == 0) {
            for (QCheckBox* p : days)
                p->setChecked(true);
            lblSelectDayOf->setText(tr("Select the day(s) of the week:"));
        } else if (iFrequency == 1) {
            for (QCheckBox* p : days)
                p->setChecked(p == chkSunday);
            lblSelectDayOf->setText(tr("Select the day(s) of the week:"));
            bDaysShown = bLabelShown = true;
        } else if (iFrequency == 2) {
            lblSelectDayOf->setText(tr("Select the day of the month:"));
            cmbDayOfMonth->setCurrentIndex(0);
            bLabelShown = bDayOfMonthShown = true;
        } else if (iFrequency == 3) {
            lblSelectDayOf->setText(tr("Select the one shot date(s):"));
            bTimeShown = false;
        } else {
            return;
        }
        for (QCheckBox* p : days)
            p->setVisible(bDaysShown);
        lblSelectDayOf->setVisible(bLabelShown);
        cmbDayOfMonth->setVisible(bDayOfMonthShown);
        txtStartTime->setVisible(bTimeShown);
        vscrTime->setVisible(bTimeShown);
        lblStartTime->setVisible(bTimeShown);
    });
}

void frmJobOptions::cmdOneShot_Click() {
    const std::string sJobName = m_pEditedJob ? m_pEditedJob->JobName() : std::string();
    if (frmOneShot::Execute(m_sOneShotDatesText, sJobName, this)) RefreshOneShotText();
}

void frmJobOptions::RefreshOneShotText() {
    txtOneShot->setPlainText(Q(libStrings::ReplaceAll(m_sOneShotDatesText, "\r\n", "\n")));
}

std::string frmJobOptions::StartTimeProblem(const std::string& sText) const {
    if (sText.empty()) return S(tr("The Start Time field cannot be left blank."));
    double d = 0;
    if (!libDates::ParseDateTime(sText, d)) return S(tr("The time you entered is not valid."));
    return "";
}

void frmJobOptions::txtStartTime_GotFocus() {
    libErrorHandler::Trap(kModule, "txtStartTime_GotFocus()", [&] {
        // Deferred: a mouse click that gave the focus would otherwise place the cursor afterwards.
        QTimer::singleShot(0, txtStartTime, [p = txtStartTime] { p->selectAll(); });
        txtStartTime->selectAll();
    });
}

bool frmJobOptions::txtStartTime_LostFocus() {
    return libErrorHandler::Trap(kModule, "txtStartTime_LostFocus()", [&] {
        const std::string sText = S(txtStartTime->text());
        const std::string sProblem = StartTimeProblem(sText);
        if (!sProblem.empty()) {
            m_bInTimeCheck = true;
            MsgBox(S(tr("%1  Please correct the value now using the format 'hh:mm' where between 00:00 - 23:59.")
                         .arg(Q(sProblem))),
                   Buttons::OK, Icon::None, S(tr(kVerify)));
            // Back to the field once the focus change that led here has finished; until then,
            // losing the focus again is not another attempt to leave the field.
            QTimer::singleShot(0, this, [this] {
                RequestFocus(txtStartTime);
                m_bInTimeCheck = false;
            });
            return false;
        }
        double d = 0;
        libDates::ParseDateTime(sText, d);
        const std::string sRewritten = libDates::Format(libDates::TimeValue(d), "hh:mm");
        txtStartTime->setText(Q(sRewritten));
        const int iPos = static_cast<int>(libStrings::Val(sRewritten.substr(0, 2)) * 60 +
                                          libStrings::Val(sRewritten.substr(sRewritten.size() - 2)));
        if (vscrTime->value() == iPos)
            vscrTime_Change();
        else
            vscrTime->setValue(iPos);
        return true;
    });
}

void frmJobOptions::vscrTime_Change() {
    if (m_bInTimeChange) return;
    m_bInTimeChange = true;
    const int iStep = std::max(1, vscrTime->singleStep());
    int iPos = (vscrTime->value() / iStep) * iStep;
    if (iPos == 0) iPos = 1;
    vscrTime->setValue(iPos);
    txtStartTime->setText(Q(libDates::Format(iPos / 1440.0, "hh:mm")));
    m_bInTimeChange = false;
}

// ---------------------------------------------------------------- retention and compression

void frmJobOptions::cmbKeepPeriod_Click() {
    int iPosition = 0;
    bool bFromCounted = false;
    // The list's own state: the page itself is disabled while another page is shown.
    if (cmbNumCountedZipsToKeep->isEnabledTo(fraOptions[4])) {
        iPosition = cmbNumCountedZipsToKeep->currentIndex();
        bFromCounted = true;
    } else {
        iPosition = cmbNumDatedZipsToKeep->currentIndex();
    }
    const int iPeriod = cmbKeepPeriod->currentIndex(); // Copies, Days, Weeks, Months
    if (iPeriod == 0) {
        if (!bFromCounted) ++iPosition;
        iPosition = std::max(0, std::min(iPosition, cmbNumCountedZipsToKeep->count() - 1));
        cmbNumCountedZipsToKeep->setCurrentIndex(iPosition);
        cmbNumCountedZipsToKeep->setEnabled(true);
        cmbNumCountedZipsToKeep->setVisible(true);
        cmbNumDatedZipsToKeep->setEnabled(false);
        cmbNumDatedZipsToKeep->setVisible(false);
        lblNbrCopies->setText(tr("in addition to the current backup"));
    } else if (iPeriod >= 1 && iPeriod <= 3) {
        if (bFromCounted && iPosition >= 1) --iPosition;
        iPosition = std::max(0, std::min(iPosition, cmbNumDatedZipsToKeep->count() - 1));
        cmbNumDatedZipsToKeep->setCurrentIndex(iPosition);
        cmbNumDatedZipsToKeep->setEnabled(true);
        cmbNumDatedZipsToKeep->setVisible(true);
        cmbNumCountedZipsToKeep->setEnabled(false);
        cmbNumCountedZipsToKeep->setVisible(false);
        lblNbrCopies->setText(tr("worth of backup files"));
    }
}

void frmJobOptions::SetFieldColour(QWidget* pField, bool bInUse) {
    // The theme's own roles, so that a field in use reads as one in a dark palette too.
    QPalette pal = pField->palette();
    const QColor colour = QApplication::palette().color(bInUse ? QPalette::Base : QPalette::Button);
    pal.setColor(QPalette::Active, QPalette::Base, colour);
    pal.setColor(QPalette::Inactive, QPalette::Base, colour);
    pal.setColor(QPalette::Disabled, QPalette::Base, colour);
    pField->setPalette(pal);
}

void frmJobOptions::optCompression_Click() {
    libErrorHandler::Trap(kModule, "optCompression_Click()", [&] {
        const bool bZip = optCompression[1]->isChecked();
        // The keep-count list that is not in use stays disabled, so that the retention
        // behaviour can tell which of the two lists is active.
        if (bZip) {
            const int iPeriod = cmbKeepPeriod->currentIndex();
            const bool bCounted = iPeriod < 1 || iPeriod > 3;
            cmbNumCountedZipsToKeep->setEnabled(bCounted);
            cmbNumDatedZipsToKeep->setEnabled(!bCounted);
        } else {
            cmbNumCountedZipsToKeep->setEnabled(false);
            cmbNumDatedZipsToKeep->setEnabled(false);
        }
        cmbKeepPeriod->setEnabled(bZip);
        for (QWidget* p : {static_cast<QWidget*>(cmbNumCountedZipsToKeep), static_cast<QWidget*>(cmbNumDatedZipsToKeep),
                           static_cast<QWidget*>(cmbKeepPeriod)})
            SetFieldColour(p, bZip);
        lblNbrCopies->setEnabled(bZip);
        lblCopiesPrefix->setEnabled(bZip);
        fraCopyType->setEnabled(!bZip);
        for (QRadioButton* p : optCopyStyle)
            p->setEnabled(!bZip);
        chkPasswordProtect->setEnabled(bZip);
        if (bZip) {
            if (!cmbNumCountedZipsToKeep->isHidden())
                RequestFocus(cmbNumCountedZipsToKeep);
            else
                RequestFocus(cmbNumDatedZipsToKeep);
            SetFieldColour(txtPassword, chkPasswordProtect->isChecked());
        } else {
            SetFieldColour(txtPassword, false);
        }
        chkPasswordProtect_Click();
        EnableOffsiteControls();
        EnableSnapshotControls();
    });
}

void frmJobOptions::chkPasswordProtect_Click() {
    libErrorHandler::Trap(kModule, "chkPasswordProtect_Click()", [&] {
        if (chkPasswordProtect->isChecked() && chkPasswordProtect->isEnabledTo(fraOptions[4])) {
            txtPassword->setEnabled(true);
            for (QRadioButton* p : optEncryption)
                p->setEnabled(true);
            SetFieldColour(txtPassword, true);
            if (txtPassword->isVisible()) txtPassword->setFocus();
        } else {
            txtPassword->setEnabled(false);
            for (QRadioButton* p : optEncryption)
                p->setEnabled(false);
            SetFieldColour(txtPassword, false);
        }
        chkKeyring->setEnabled(m_bKeyringAnswers && txtPassword->isEnabledTo(fraOptions[4]));
    });
}

// ---------------------------------------------------------------- sources and exclusions

void frmJobOptions::cmdAddFile_Click() {
    libErrorHandler::Trap(kModule, "cmdAddFile_Click()", [&] { frmPickFile::Execute(this, lstFilesToBackup); });
}

void frmJobOptions::cmdRemove_Click() {
    libErrorHandler::Trap(kModule, "cmdRemove_Click()", [&] {
        if (lstFilesToBackup->selectedItems().isEmpty()) {
            MsgBox(S(tr("You must first select a file or folder to remove.")), Buttons::OK, Icon::None, S(tr(kVerify)));
            return;
        }
        RemoveSelected(lstFilesToBackup);
    });
}

void frmJobOptions::cmdAddExclude_Click() {
    libErrorHandler::Trap(kModule, "cmdAddExclude_Click()", [&] {
        const std::string sSpec = libStrings::Trim(S(txtExcludeSpec->text()));
        if (sSpec.empty()) {
            MsgBox(S(tr("You have to type in *.ext where ext is the extension for the file type you wish to exclude.")),
                   Buttons::OK, Icon::Information, S(tr(kVerify)));
        } else if (!libStrings::StartsWith(sSpec, "*.") || sSpec.size() < 3) {
            MsgBox(S(tr("The proper format for an exclude is *.ext where ext represents the extension of the file type "
                        "you wish to exclude.")),
                   Buttons::OK, Icon::Information, S(tr(kVerify)));
        } else if (!lstExcludeFiles->findItems(Q(sSpec), Qt::MatchExactly | Qt::MatchCaseSensitive).isEmpty()) {
            QApplication::beep();
        } else {
            lstExcludeFiles->addItem(Q(sSpec));
            txtExcludeSpec->clear();
        }
        txtExcludeSpec->setFocus();
    });
}

void frmJobOptions::cmdRemoveExclude_Click() {
    libErrorHandler::Trap(kModule, "cmdRemoveExclude_Click()", [&] {
        if (lstExcludeFiles->selectedItems().isEmpty()) {
            MsgBox(S(tr("You must first select an exclude specification to remove.")), Buttons::OK, Icon::None,
                   S(tr(kVerify)));
            return;
        }
        RemoveSelected(lstExcludeFiles);
    });
}

// ---------------------------------------------------------------- target, name, run count

void frmJobOptions::cmdBrowseTargetDirectory_Click() {
    libErrorHandler::Trap(kModule, "cmdBrowseTargDir_Click()", [&] {
        CBrowseDlg browse;
        browse.Owner = this;
        browse.Prompt = S(tr("Please select a directory into which the backup will be placed."));
        std::string sStart = S(txtTargDir->text());
        if (sStart.empty() || !libFiles::DirExists(sStart)) {
            txtTargDir->clear();
            sStart = S(QDir::currentPath());
        }
        for (;;) {
            std::string sPath = browse.ShowBrowseDlg(sStart, true);
            // A cancelled browse returns "". "/" itself is a folder that can be chosen here.
            if (sPath.empty()) return;
            sPath = libFiles::AddTrailingSlash(sPath);
            libFiles::NormalizeFolderPath(sPath);
            if (libFiles::DirExists(sPath)) {
                txtTargDir->setText(Q(sPath));
                return;
            }
            MsgBox(S(tr("The specified directory does not exist; please try again.")), Buttons::OK, Icon::None,
                   S(tr("Stowline")));
            sStart = sPath;
        }
    });
}

void frmJobOptions::txtBackupJobName_GotFocus() {
    QTimer::singleShot(0, txtBackupJobName, [p = txtBackupJobName] { p->selectAll(); });
    txtBackupJobName->selectAll();
}

bool frmJobOptions::JobNameKeyAccepted(const QString& sText) const {
    if (sText.size() != 1) return true; // not one typed character (navigation, input methods)
    const char16_t c = sText.at(0).unicode();
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    if ((c >= 192 && c <= 246) || (c >= 248 && c <= 255)) return true;
    if (c == '_' || c == ' ' || c == '-' || c == '.') return true;
    if (c == 8 || c == 9 || c == 16 || c == 27) return true;
    return false;
}

void frmJobOptions::cmdClearRunCount_Click() { txtRunCount->setText("0"); }
