// The main window's commands on the selected jobs and its window-level commands. Adding,
// editing, copying jobs and their one-shot dates are in frmScheduleJobEditing.cpp.

#include "ui/frmSchedule.h"

#include "app/QtHelpers.h"
#include "app/RunGuard.h"
#include "engine/BackupRun.h"
#include "engine/JobLock.h"
#include "engine/RunState.h"
#include "engine/libRetention.h"
#include "jobs/CBackupJobManager.h"
#include "support/PasswordVault.h"
#include "support/UserInteraction.h"
#include "support/appMisc.h"
#include "support/appPreferences.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libLog.h"
#include "support/libStrings.h"
#include "ui/frmAbout.h"
#include "ui/frmLogComment.h"
#include "ui/frmPreferences.h"

#include <QAction>
#include <QTreeWidget>

using namespace QtHelpers;

namespace {

const char* const kModule = "frmSchedule";

// A pending comment made only of blanks and line breaks is no comment.
std::string TrimComment(const std::string& sText) {
    size_t first = sText.find_first_not_of(" \r\n");
    if (first == std::string::npos) return "";
    size_t last = sText.find_last_not_of(" \r\n");
    return sText.substr(first, last - first + 1);
}

} // namespace

// ---- menu entries that call the button handlers ----

void frmSchedule::mnuActionAdd_Click() { cmdAddJob_Click(); }
void frmSchedule::mnuActionEdit_Click() { cmdEditJob_Click(); }
void frmSchedule::mnuJobOptions_Click() { cmdEditJob_Click(); }
void frmSchedule::lvwSchedule_DblClick() { cmdEditJob_Click(); }
void frmSchedule::mnuActionCopy_Click() { cmdCopyJob_Click(); }
void frmSchedule::mnuActionDelete_Click() { cmdDelJob_Click(); }
void frmSchedule::mnuActionRun_Click() { cmdBackup_Click(); }
void frmSchedule::mnuSuspend_Click() { cmdSuspend_Click(); }
void frmSchedule::mnuActionViewZip_Click() { cmdView_Click(); }

// ---- delete ----

void frmSchedule::cmdDelJob_Click() {
    libErrorHandler::Trap(kModule, "cmdDelJob_Click()", [&] {
        if (!SelectionChecks()) return;
        std::vector<QTreeWidgetItem*> rows = SelectedRows();
        if (rows.empty()) return;
        std::string sQuestion =
            rows.size() == 1 ? S(tr("Are you sure you want to delete the job called %1?").arg(rows.front()->text(0)))
                             : S(tr("Are you sure you want to delete %1 Backup Jobs?").arg(rows.size()));
        if (MsgBox(sQuestion, Buttons::YesNoCancel, Icon::None, S(tr("Remove Confirmation"))) != Answer::Yes) return;

        CBackupJobManager* manager = JobManager();
        for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
            QTreeWidgetItem* row = *it;
            lvwSchedule->setCurrentItem(row);
            row->setSelected(true);
            std::string sFile = manager ? manager->FileNameFromHandle(RowTag(row)) : "";
            // Its keyring entry goes with it (the name may be taken again by a new job).
            if (const CBackupJob* pJob = JobOfRow(row); pJob && pJob->PasswordInKeyring()) {
                const PasswordVault::Result removed = PasswordVault::Current().Remove(pJob->JobName());
                if (removed.State == PasswordVault::Status::Unreachable)
                    MsgBox(PasswordVault::UnreachableText(pJob->JobName(), removed) + "\r\n" +
                               S(tr("Its password stays in the keyring.")),
                           Buttons::OK, Icon::Exclamation);
            }
            if (!sFile.empty()) {
                // The job file itself: a job name may hold "*" or "?", which must never make
                // the delete reach other jobs' files.
                if (libStrings::HasWildcards(libFiles::FilePathStripPath(sFile)))
                    libFiles::DeleteFile(sFile);
                else
                    libFiles::uKill(sFile);
            }
            DeleteItemListView(lvwSchedule->indexOfTopLevelItem(row));
        }
        StatusBarCount(lvwSchedule->topLevelItemCount());
        update();
    });
}

// ---- run now ----

void frmSchedule::cmdBackup_Click() {
    // One run at a time, whoever started it (tray, tick, this window): a second request while
    // a run is in progress starts nothing.
    appSetup::RunGuard guard;
    if (!guard.Acquired() || m_bRunning) {
        SetMessageText(S(tr("A backup is already running.")));
        return;
    }
    // Puts the window and the tray menu back however the runs end.
    struct RunningScope {
        frmSchedule* Form;
        explicit RunningScope(frmSchedule* f) : Form(f) {
            appSetup::SetTrayMenuEnabled(false);
            Form->SetRunningState(true);
        }
        ~RunningScope() {
            // The comment belonged to these runs; a later scheduled run must not log it again
            // or put it into its archive.
            libLog::SetPendingComment("");
            Form->SetRunningState(false);
            appSetup::SetTrayMenuEnabled(true);
        }
    };
    libErrorHandler::Trap(kModule, "cmdBackup_Click()", [&] {
        RunningScope running(this);
        RunState::SetAbortRequested(false);
        if (!SelectionChecks()) return;
        std::vector<QTreeWidgetItem*> rows = SelectedRows();

        libLog::SetPendingComment("");
        for (QTreeWidgetItem* row : rows) {
            CBackupJob* job = JobOfRow(row);
            if (job == nullptr) continue;
            bool bPrompt =
                ((job->PromptForComment() && appPreferences::Commenting == 2) || appPreferences::Commenting == 1) &&
                !appPreferences::UseSystemTray;
            if (bPrompt) {
                std::string sComment = libLog::PendingComment();
                frmLogComment dialog(this);
                bool bOk = dialog.GetPromptedText(
                    sComment, S(tr("Please enter a comment for backup - %1").arg(Q(job->JobName()))));
                if (!bOk) {
                    libLog::SetPendingComment(sComment);
                    continue;
                }
                libLog::SetPendingComment(TrimComment(sComment));
                // The dialog ran the event loop; load the row's job again.
                job = JobOfRow(row);
                if (job == nullptr) continue;
            } else {
                libLog::SetPendingComment("");
            }
            // Its backups are being read here: the run would have to wait under that read.
            if (JobLock::ReadHere(job->FileName())) {
                MsgBox(S(tr("The backups of %1 are being read. Back it up when the restore or verify has ended.")
                             .arg(Q(job->JobName()))),
                       Buttons::OK, Icon::Information, S(tr("Backup Job")));
                continue;
            }
            ShowRunningState(row);
            BackupRun::ExecuteBackupNow(*job, this);
            RefreshItemDetails(row, *job);
            if (job->Failure() && appPreferences::StopOnError) {
                Answer answer = MsgBox(S(tr("Backup Job '%1' has failed.\r\n\r\n"
                                            "See transaction log for details: '%2'")
                                             .arg(Q(job->JobName()), Q(libLog::LogFileName()))),
                                       Buttons::YesNoCancel, Icon::Exclamation, S(tr("Backup Error")));
                if (answer == Answer::Yes) libLog::ViewTransactionLog();
            }
            if (RunState::AbortRequested()) {
                SetMessageText(S(tr("Backup aborted!")));
                break;
            }
        }
    });
}

// ---- abort ----

void frmSchedule::mnuAbort_Click() {
    libErrorHandler::Trap(kModule, "mnuAbort_Click()", [this] {
        RunState::SetAbortRequested(true);
        SetMessageText(S(tr("Aborting backup...")));
        UserInteraction::DoEvents();
        UserInteraction::DoEvents();
    });
}

void frmSchedule::sbarSchedule_PanelClick() {
    // Only a run in progress is aborted: a flag left set by a stray click would stop the next
    // copy-style run (the tick's too) before it copied anything.
    if (!appSetup::RunGuard::RunInProgress()) return;
    RunState::SetAbortRequested(true);
    UserInteraction::DoEvents();
}

// ---- suspend or resume ----

void frmSchedule::cmdSuspend_Click() {
    libErrorHandler::Trap(kModule, "cmdSuspend_Click()", [&] {
        if (!SelectionChecks()) return;
        for (QTreeWidgetItem* row : SelectedRows()) {
            CBackupJob* job = JobOfRow(row);
            if (job == nullptr) continue;
            job->SetSuspended(!job->Suspended());
            job->SaveBackupJobIniFile();
            RefreshItemDetails(row, *job);
        }
    });
}

// ---- view backup ----

void frmSchedule::cmdView_Click() {
    libErrorHandler::Trap(kModule, "cmdView_Click()", [&] {
        if (!SelectionChecks()) return;
        QTreeWidgetItem* row = CurrentRow();
        CBackupJob* job = JobOfRow(row);
        if (job == nullptr) {
            MsgBox(S(tr("Failed to open backup job () -%1").arg(RowTag(row))), Buttons::OK, Icon::None,
                   S(tr("Verification Error")));
            return;
        }
        if (!job->Compress()) {
            if (!libFiles::DirExists(job->TargetDirectory())) {
                MsgBox(S(tr("The backup directory does not yet exist.")), Buttons::OK, Icon::None,
                       S(tr("Verification Error")));
                return;
            }
            UserInteraction::Ui().OpenDocument(job->TargetDirectory());
            return;
        }
        std::string sZip = libRetention::LatestZip(*job);
        if (sZip.empty()) {
            MsgBox(S(tr("No backups appear to exist for job '%1'").arg(Q(job->JobName()))), Buttons::OK,
                   Icon::Exclamation,

                   S(tr("Nothing to view")));
            return;
        }
        // The desktop's default application for the archive.
        libFiles::FindAssociation(sZip);
        if (!UserInteraction::Ui().OpenDocument(sZip))
            MsgBox(S(tr("The zip program on your system was unable to open the backup zip.")), Buttons::OK,
                   Icon::Exclamation, S(tr("Zip Program Failure")));
    });
}

// ---- logs ----

void frmSchedule::mnuActionViewTransactionLog_Click() {
    libErrorHandler::Trap(kModule, "mnuActionViewTransactionLog_Click()", [] { libLog::ViewTransactionLog(); });
}
void frmSchedule::mnuActionViewErrorLog_Click() {
    libErrorHandler::Trap(kModule, "mnuActionViewErrorLog_Click()", [] { libLog::ViewErrorLog(); });
}
void frmSchedule::menuPurgeLog_Click() {
    libErrorHandler::Trap(kModule, "menuPurgeLog_Click()", [] { libLog::DropTransactionLog(); });
}
void frmSchedule::mnuDropErrorLog_Click() {
    libErrorHandler::Trap(kModule, "mnuDropErrorLog_Click()", [] { libLog::DropErrorLog(); });
}

void frmSchedule::mnuLogComment_Click() {
    libErrorHandler::Trap(kModule, "mnuLogComment_Click()", [this] {
        frmLogComment dialog(this);
        dialog.GetComment();
    });
}

// ---- window-level commands ----

void frmSchedule::mnuRefresh_Click() {
    libErrorHandler::Trap(kModule, "mnuRefresh_Click()", [this] { RefreshScheduleForm(); });
}

void frmSchedule::mnuFilePreferences_Click() {
    libErrorHandler::Trap(kModule, "mnuFilePreferences_Click()", [this] {
        {
            frmPreferences dialog(this);
            dialog.Execute();
        }
        RefreshScheduleForm();
    });
}

void frmSchedule::mnuFileClose_Click() {
    libErrorHandler::Trap(kModule, "mnuFileClose_Click()", [this] {
        if (appPreferences::UseSystemTray) {
            if (appSetup::HasNotificationArea())
                hide();
            else
                showMinimized(); // nowhere to bring a hidden window back from
        } else {
            close();
        }
    });
}

void frmSchedule::mnuHelpContents_Click() {
    libErrorHandler::Trap(kModule, "mnuHelpContents_Click()", [] { appMisc::ShowHelpContents(); });
}
void frmSchedule::mnuHelpIndex_Click() {
    libErrorHandler::Trap(kModule, "mnuHelpIndex_Click()", [] { appMisc::ShowHelpIndex(); });
}
void frmSchedule::mnuHelpHomepage_Click() {
    libErrorHandler::Trap(kModule, "mnuHelpHomepage_Click()", [] { appMisc::OpenWebPage(frmAbout::HomePageUrl); });
}
void frmSchedule::mnuHelpLicense_Click() {
    libErrorHandler::Trap(kModule, "mnuHelpLicense_Click()", [] { appMisc::OpenWebPage(frmAbout::LicenseUrl); });
}

void frmSchedule::mnuHelpAbout_Click() {
    libErrorHandler::Trap(kModule, "mnuHelpAbout_Click()", [this] {
        frmAbout dialog(this);
        dialog.exec();
    });
}
