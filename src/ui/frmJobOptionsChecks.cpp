// The job editor's checks, one per page, with their messages, and OK: the checks of every page
// again, the write-back into the job, the rename question and the rename.

#include "ui/frmJobOptions.h"

#include "app/QtHelpers.h"
#include "engine/BackupRun.h"
#include "jobs/CBackupJob.h"
#include "support/PasswordVault.h"
#include "support/StowError.h"
#include "support/UserInteraction.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libStrings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>

using namespace QtHelpers;

namespace {
const char* const kNoFilesText = QT_TRANSLATE_NOOP(
    "frmJobOptions", "You must select at least one file or directory to backup.  Please make a selection now.");

// Restores the normal pointer on every way out of OK.
class WaitPointer {
public:
    WaitPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitPointer() { QApplication::restoreOverrideCursor(); }
    WaitPointer(const WaitPointer&) = delete;
    WaitPointer& operator=(const WaitPointer&) = delete;
};

// A whole number that fits the run count: optional blanks and sign, then digits only.
bool WholeNumber(const std::string& sText, int32_t& lValue) {
    const std::string s = libStrings::Trim(sText);
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (i == s.size()) return false;
    for (size_t k = i; k < s.size(); ++k)
        if (s[k] < '0' || s[k] > '9') return false;
    errno = 0;
    const long long ll = std::strtoll(s.c_str(), nullptr, 10);
    if (errno == ERANGE || ll < INT32_MIN || ll > INT32_MAX) return false;
    lValue = static_cast<int32_t>(ll);
    return true;
}

std::string ListText(const QListWidget* pList) {
    std::string sText;
    for (int i = 0; i < pList->count(); ++i)
        sText += S(pList->item(i)->text()) + "\r\n";
    return sText;
}

} // namespace

// ---------------------------------------------------------------- checks

bool frmJobOptions::VerifyJobNameStep() {
    const std::string sName = S(txtBackupJobName->text());
    if (sName.empty()) {
        MsgBox(S(tr("The Backup Job name must not be blank.  Please enter a name now.")), Buttons::OK,
               Icon::Information, S(tr(kVerify)));
        return false;
    }
    const std::string sStripped = libStrings::StripFileNameChars(sName);
    for (int i = 0; i < static_cast<int>(m_jobNames.size()); ++i) {
        if (!m_bIsNewJob && i == m_iSelectedJob) continue;
        if (sName == m_jobNames[i]) {
            MsgBox(S(tr("Job name %1 has already been used; please enter a different name.").arg(Q(sName))),
                   Buttons::OK, Icon::Information, S(tr(kVerify)));
            return false;
        }
        if (sStripped == libStrings::StripFileNameChars(m_jobNames[i])) {
            MsgBox(S(tr("A derivative of this name has already been used; please enter a different name.")),
                   Buttons::OK, Icon::Information, S(tr(kVerify)));
            return false;
        }
    }
    // The name becomes the job file's name; a pasted "/" or a name of dots cannot.
    if (!CBackupJob::IsSafeJobName(sName)) {
        MsgBox(S(tr("The Backup Job name cannot be used as a file name.  Please enter a different name now.")),
               Buttons::OK, Icon::Information, S(tr(kVerify)));
        return false;
    }
    return true;
}

bool frmJobOptions::VerifyTargetDirectoryStep() {
    const std::string sTarget = S(txtTargDir->text());
    if (libStrings::Trim(sTarget).empty()) {
        MsgBox(S(tr("The target directory is blank.  Please enter a valid directory now.")), Buttons::OK,
               Icon::Information, S(tr(kVerify)));
        return false;
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(fs::path(sTarget), ec);
    const bool bMissing = ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory;
    if (ec && !bMissing) {
        // The look-up itself failed (no medium, I/O error, no permission, a link loop).
        if (libFiles::DriveIsRemovable(sTarget)) return true;
        MsgBox(S(tr("Disk Error - cannot locate target dir.")), Buttons::OK, Icon::None, S(tr("Disk Error")));
        StowError err = ErrorFromErrno(ec.value(), sTarget);
        libErrorHandler::HandleError(false, err, kModule, "VerifyTargetDirectoryStep()", sTarget);
        RequestFocus(txtTargDir);
        return false;
    }
    if (!ec && fs::is_directory(status)) return true;

    if (MsgBox(S(tr("The target directory doesnt exist.  Do you want to create it?")), Buttons::OKCancel,
               Icon::Question, S(tr(kVerify))) == Answer::OK) {
        // One level, as the user asked; a missing parent or a refusal is reported, not fatal.
        std::error_code ecCreate;
        const std::string sFolder = libFiles::RemoveTrailingSlash(sTarget);
        const bool bCreated = fs::create_directory(fs::path(sFolder), ecCreate);
        if (!bCreated || ecCreate)
            MsgBox(S(tr("Failed to creat target directory")), Buttons::OK, Icon::Exclamation, S(tr("Create failure")));
        else
            libFiles::WaitForFile(sFolder);
    }
    return false;
}

bool frmJobOptions::VerifyRunCountStep() {
    if (m_bIsNewJob) return true;
    int32_t lCount = 0;
    if (WholeNumber(S(txtRunCount->text()), lCount)) return true;
    MsgBox(S(tr("The Total runs value must be a whole number, such as 0 or 12.  Please correct it now.")), Buttons::OK,
           Icon::Information, S(tr(kVerify)));
    RequestFocus(txtRunCount);
    return false;
}

bool frmJobOptions::VerifyScheduleStep() {
    const int iFrequency = cmbFrequency->currentIndex(); // Daily, Weekly, Monthly, One Shot
    int iDays = 0;
    for (QCheckBox* p : {chkMonday, chkTuesday, chkWednesday, chkThursday, chkFriday, chkSaturday, chkSunday})
        if (p->isChecked()) ++iDays;
    if ((iFrequency == 0 || iFrequency == 1) && iDays == 0) {
        MsgBox(S(tr("For a Frequency set to Daily or Weekly, you must select at least one day of the week from the "
                    "checkboxes provided.  Please make a selection now.")),
               Buttons::OK, Icon::Information, S(tr(kVerify)));
        return false;
    }
    if (iFrequency == 2 && cmbDayOfMonth->currentIndex() < 0) {
        MsgBox(
            S(tr("For a Frequency set to Monthly, you must select a day of the month from the drop down box provided.  "
                 "Please make a selection now.")),
            Buttons::OK, Icon::Information, S(tr(kVerify)));
        return false;
    }
    const std::string sProblem = StartTimeProblem(S(txtStartTime->text()));
    if (!sProblem.empty()) {
        MsgBox(S(tr("%1  Please correct the value now using the format 'hh:mm' where between 00:00 - 23:59.")
                     .arg(Q(sProblem))),
               Buttons::OK, Icon::None, S(tr(kVerify)));
        RequestFocus(txtStartTime);
        return false;
    }
    return true;
}

bool frmJobOptions::VerifySourceStep() {
    bool bPass = true;
    if (lstFilesToBackup->count() == 0) {
        MsgBox(S(tr(kNoFilesText)), Buttons::OK, Icon::Information, S(tr(kVerify)));
        bPass = false;
    }
    const std::string sTarget = S(txtTargDir->text());
    for (int i = 0; i < lstFilesToBackup->count(); ++i) {
        const std::string sEntry = S(lstFilesToBackup->item(i)->text());
        if (sTarget == libFiles::FilePathStripFileName(sEntry)) {
            MsgBox(S(tr("The source path cannot have the same name as the target path in which the backup will be "
                        "made.\r\n\r\nThe following file/path must be removed:\r\n%1")
                         .arg(Q(sEntry))),
                   Buttons::OK, Icon::Information, S(tr(kVerify)));
            bPass = false;
        }
    }
    return bPass;
}

bool frmJobOptions::VerifyExcludeStep() {
    if (lstFilesToBackup->count() == 0) {
        MsgBox(S(tr(kNoFilesText)), Buttons::OK, Icon::Information, S(tr(kVerify)));
        return false;
    }
    return true;
}

bool frmJobOptions::VerifyPasswordStep() {
    if (optCompression[1]->isChecked() && chkPasswordProtect->isChecked() && txtPassword->text().isEmpty()) {
        MsgBox(
            S(tr("The Password Protect flag is set; however, no password is assigned in the Password text box.  Please "
                 "enter a password now.")),
            Buttons::OK, Icon::Information, S(tr(kVerify)));
        return false;
    }
    return true;
}

bool frmJobOptions::VerifyStep(int iPage) {
    switch (iPage) {
    case 0: {
        // Both checks run, so both may speak.
        const bool bName = VerifyJobNameStep();
        const bool bTarget = VerifyTargetDirectoryStep();
        return bName && bTarget && VerifyRunCountStep();
    }
    case 1:
        return VerifyScheduleStep();
    case 2:
        return VerifySourceStep();
    case 3:
        return VerifyExcludeStep();
    case 4:
        return VerifyPasswordStep() && VerifyOffsiteStep() && VerifyPingStep();
    default:
        return true;
    }
}

bool frmJobOptions::VerifyAllSteps() {
    for (int i = 0; i < PageCount; ++i) {
        if (!VerifyStep(i)) {
            SetCurrentPage(i);
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------- OK and Cancel

void frmJobOptions::cmdOK_Click() {
    libErrorHandler::Trap(kModule, "cmdFinish_Click()", [&] {
        WaitPointer wait;
        if (!VerifyAllSteps()) return;
        CBackupJob& job = *m_pEditedJob;

        double dStart = 0;
        libDates::ParseDateTime(S(txtStartTime->text()), dStart);
        job.SetStartTime(libDates::TimeValue(dStart));
        job.SetFrequency(cmbFrequency->currentIndex() + 1);
        job.SetDayOfMonth(cmbDayOfMonth->currentIndex() < 0
                              ? 0
                              : static_cast<int16_t>(libStrings::Val(S(cmbDayOfMonth->currentText()))));
        job.SetCompress(optCompression[1]->isChecked());
        job.SetKeepPeriod(cmbKeepPeriod->currentIndex());
        // The run-count field exists only for an existing job; a new job stays "never run".
        int32_t lRunCount = 0;
        if (!m_bIsNewJob && WholeNumber(S(txtRunCount->text()), lRunCount)) job.SetRunCount(lRunCount);
        job.SetCopyStyle(0);
        for (int i = 0; i < 3; ++i) {
            if (optCopyStyle[i]->isChecked()) {
                job.SetCopyStyle(i);
                break;
            }
        }
        const QComboBox* pKeep = job.KeepPeriod() != 0 ? cmbNumDatedZipsToKeep : cmbNumCountedZipsToKeep;
        job.SetNumberCopies(static_cast<int16_t>(libStrings::Val(S(pKeep->currentText()))));
        const std::string sPassword = chkPasswordProtect->isChecked() ? S(txtPassword->text()) : std::string();
        const bool bKeyring = !sPassword.empty() && chkKeyring->isChecked();
        job.SetPassword(sPassword);
        // The choice counts only with a password: a job without one keeps its key as it was.
        if (!sPassword.empty())
            job.SetEncryption(optEncryption[0]->isChecked() ? CBackupJob::EncryptionKind::Aes256
                                                            : CBackupJob::EncryptionKind::Traditional);
        job.SetSubdirectories(chkSubdirectories->isChecked());
        job.SetVerify(chkVerify->isChecked());
        job.SetRunOnConnect(chkRunOnConnect->isChecked());
        StoreOffsite(job);
        job.SetPingUrl(libStrings::Trim(S(txtPingUrl->text())));
        StoreSnapshots(job);
        job.SetExcludeCaches(chkExcludeCaches->isChecked());
        job.SetIncremental(optIncremental->isChecked());

        const std::string sTarget = S(txtTargDir->text());
        const std::string sName = S(txtBackupJobName->text());
        bool bMoveBackups = !m_bIsNewJob && job.RunCount() >= 0;
        if (bMoveBackups) {
            bool bAsk = false;
            // The target as the job will hold it (with its final "/"), so that retyping the same
            // folder without the slash is no move.
            if (libFiles::AddTrailingSlash(sTarget) != job.TargetDirectory() && !job.TargetDirectory().empty())
                bAsk = true;
            else if (sName != job.JobName() && !job.JobName().empty())
                bAsk = true;
            if (bAsk) {
                const Answer answer = MsgBox(S(tr("Shift any existing backups?")), Buttons::YesNoCancel, Icon::None);
                if (answer == Answer::Cancel) return;
                bMoveBackups = answer == Answer::Yes;
            }
        }
        // In the keyring before anything is renamed or saved; the rename then drops the entry of
        // the old name, and a password moved back to the file leaves no entry behind.
        if (bKeyring && !StoreKeyringPassword(sName, sPassword)) return;
        const bool bWasInKeyring = job.PasswordInKeyring();
        const std::string sOldName = job.JobName();
        job.SetPasswordInKeyring(bKeyring);
        BackupRun::RenameJob(job, sTarget, sName, bMoveBackups);
        if (bWasInKeyring && !bKeyring) PasswordVault::Current().Remove(sOldName);
        job.SetDayOfWeek(chkMonday->isChecked(), chkTuesday->isChecked(), chkWednesday->isChecked(),
                         chkThursday->isChecked(), chkFriday->isChecked(), chkSaturday->isChecked(),
                         chkSunday->isChecked());
        job.SetFilesToZip(ListText(lstFilesToBackup));
        job.SetExcludeSpec(ListText(lstExcludeFiles));
        job.SetOneShotDates(m_sOneShotDatesText);
        m_bJobSaved = true;
        accept();
    });
}

void frmJobOptions::cmdCancel_Click() { reject(); }
