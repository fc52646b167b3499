// The main window's job-editor commands: Add, Edit, Copy and One-shot dates.

#include "app/QtHelpers.h"
#include "jobs/CBackupJob.h"
#include "jobs/CBackupJobManager.h"
#include "support/PasswordVault.h"
#include "support/UserInteraction.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libStrings.h"
#include "ui/frmJobOptions.h"
#include "ui/frmOneShot.h"
#include "ui/frmSchedule.h"

#include <QTreeWidget>

using namespace QtHelpers;

namespace {
const char* const kModule = "frmSchedule";

// A job object made by a command is registered once: a save already registers a job that has
// no handle yet, and a second entry would make the scheduler run the job twice.
void RegisterIfNew(CBackupJob& job) {
    if (job.Tag() < 0 && JobManager()) JobManager()->Add(job);
}
} // namespace

void frmSchedule::cmdAddJob_Click() {
    libErrorHandler::Trap(kModule, "cmdAddJob_Click()", [&] {
        CBackupJob job;
        if (frmJobOptions::EditJob(job, this)) {
            RegisterIfNew(job);
            AddToListViewObj(job);
        }
        StatusBarCount(lvwSchedule->topLevelItemCount());
        Repaint();
    });
}

void frmSchedule::cmdEditJob_Click() {
    libErrorHandler::Trap(kModule, "cmdEditJob_Click()", [&] {
        if (!SelectionChecks()) return;
        CBackupJob* pJob = JobOfRow(CurrentRow());
        if (!pJob) return;
        if (frmJobOptions::EditJob(*pJob, this)) RefreshSelectedItemDetails(*pJob);
    });
}

void frmSchedule::cmdCopyJob_Click() {
    libErrorHandler::Trap(kModule, "cmdCopyJob_Click()", [&] {
        if (!SelectionChecks()) return;
        CBackupJob* pSource = JobOfRow(CurrentRow());
        if (!pSource) return;
        const std::string sNewName = S(tr("Copy of %1").arg(Q(pSource->JobName())));

        // An earlier copy, on disk or in the list, is never overwritten or doubled.
        const std::string sCopyFile = CBackupJob::JobFileNameFor(sNewName);
        const int iNameColumn = 0; // a row's text is its job name
        bool bListed = false;
        for (int i = 0; i < lvwSchedule->topLevelItemCount(); ++i)
            if (libStrings::IEquals(S(lvwSchedule->topLevelItem(i)->text(iNameColumn)), sNewName)) bListed = true;
        if (sCopyFile.empty() || libFiles::PathExists(sCopyFile) || bListed) {
            UserInteraction::MsgBox(
                S(tr("You cannot make another copy of this Backup Job until\r\nyou rename the existing "
                     "copy.")),
                UserInteraction::Buttons::OK, UserInteraction::Icon::None, S(tr("Verification Error")));
            return;
        }

        CBackupJob copy;
        copy.CopyJob(*pSource, sNewName);
        if (copy.Save() != CBackupJob::FileResult::Done) return;
        // A copy keeps its password where the original keeps it: the keyring entry is copied.
        if (copy.PasswordInKeyring()) {
            const PasswordVault::Result copied = PasswordVault::Copy(pSource->JobName(), sNewName);
            if (!copied.Done())
                UserInteraction::MsgBox(PasswordVault::UnreachableText(pSource->JobName(), copied) + "\r\n" +
                                            S(tr("Give the copy %1 its password in its options.").arg(Q(sNewName))),
                                        UserInteraction::Buttons::OK, UserInteraction::Icon::Exclamation);
        }
        RegisterIfNew(copy);
        AddToListViewObj(copy);
        StatusBarCount(lvwSchedule->topLevelItemCount());
        Repaint();

        QTreeWidgetItem* pCopyRow = nullptr;
        for (int i = 0; i < lvwSchedule->topLevelItemCount(); ++i) {
            QTreeWidgetItem* pRow = lvwSchedule->topLevelItem(i);
            const bool bIsCopy = S(pRow->text(iNameColumn)) == sNewName;
            pRow->setSelected(bIsCopy);
            if (bIsCopy && !pCopyRow) pCopyRow = pRow;
        }
        if (pCopyRow) {
            lvwSchedule->setCurrentItem(pCopyRow, 0, QItemSelectionModel::NoUpdate);
            lvwSchedule->scrollToItem(pCopyRow);
        }

        if (frmJobOptions::EditJob(copy, this)) RefreshSelectedItemDetails(copy);
    });
}

void frmSchedule::mnuCustomSchedule_Click() {
    libErrorHandler::Trap(kModule, "mnuCustomSchedule_Click()", [&] {
        if (!SelectionChecks()) return;
        const std::vector<QTreeWidgetItem*> rows = SelectedRows();
        std::string sDates = "-";
        std::string sTitle = "-";
        for (QTreeWidgetItem* pRow : rows) {
            CBackupJob* pJob = JobOfRow(pRow);
            if (!pJob) continue;
            sTitle = sTitle == "-" ? pJob->JobName() : S(tr("Multiple jobs"));

            if (sDates == "-")
                sDates = pJob->OneShotDates();
            else if (sDates != pJob->OneShotDates())
                sDates = ""; // the jobs disagree: the editor starts empty
        }
        if (sDates == "-") sDates.clear();
        if (!frmOneShot::Execute(sDates, sTitle, this)) return;
        for (QTreeWidgetItem* pRow : rows) {
            CBackupJob* pJob = JobOfRow(pRow);
            if (!pJob) continue;
            pJob->SetOneShotDates(sDates);
            if (pJob->Changed()) pJob->SaveBackupJobIniFile();
            RefreshItemDetails(pRow, *pJob);
        }
    });
}
