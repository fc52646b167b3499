// The main window's commands that read a job's backups back: the restore window and the
// verification of the newest backup.

#include "ui/frmRestore.h"
#include "ui/frmSchedule.h"

#include "app/QtHelpers.h"
#include "engine/JobLock.h"
#include "engine/libVerify.h"
#include "jobs/CBackupJob.h"
#include "jobs/JobPassword.h"
#include "support/UserInteraction.h"
#include "support/libErrorHandler.h"

using QtHelpers::Q;
using QtHelpers::S;
using UserInteraction::Buttons;
using UserInteraction::Icon;

void frmSchedule::mnuActionRestore_Click() {
    libErrorHandler::Trap("frmSchedule", "mnuActionRestore_Click()", [&] {
        if (Running() || !SelectionChecks()) return;
        CBackupJob* job = JobOfRow(CurrentRow());
        if (job == nullptr) return;
        // The password kept in the keyring is read for the window; without a keyring the window
        // still opens and asks for the password when an archive needs one.
        CBackupJob reading = *job;
        std::string sProblem;
        if (reading.Compress() && !JobPassword::Fetch(reading, sProblem))
            UserInteraction::MsgBox(sProblem, Buttons::OK, Icon::Exclamation, S(tr("Restore Files")));
        frmRestore::Execute(reading, this);
    });
}

void frmSchedule::mnuActionVerify_Click() {
    libErrorHandler::Trap("frmSchedule", "mnuActionVerify_Click()", [&] {
        if (Running() || !SelectionChecks()) return;
        CBackupJob* job = JobOfRow(CurrentRow());
        if (job == nullptr) return;
        // A backup of the job is put off while its newest backup is read, and none is read
        // while one runs.
        const JobLock::ReadScope reading(job->FileName());
        if (reading.Busy()) {
            UserInteraction::MsgBox(frmRestore::BusyText(job->JobName()), Buttons::OK, Icon::Information,
                                    S(tr("Verify Backup")));
            return;
        }
        std::string sProblem;
        if (job->Compress() && !JobPassword::Fetch(*job, sProblem)) {
            UserInteraction::MsgBox(sProblem, Buttons::OK, Icon::Exclamation, S(tr("Verify Backup")));
            return;
        }
        SetBusyPointer(true);
        SetMessageText(S(tr("Verifying %1").arg(Q(job->JobName()))));
        std::string sFailure, sChecked, sOffsite;
        const bool bOk = libVerify::VerifyNewest(*job, sFailure, &sChecked, &sOffsite);
        SetMessageText("");
        SetBusyPointer(false);
        if (bOk) {
            QString sText = tr("The newest backup of %1 reads back whole:\r\n%2").arg(Q(job->JobName()), Q(sChecked));
            if (!sOffsite.empty()) sText += "\r\n" + tr("Off-site copy: %1").arg(Q(sOffsite));
            UserInteraction::MsgBox(S(sText), Buttons::OK, Icon::Information, S(tr("Verify Backup")));
        } else {
            UserInteraction::MsgBox(S(tr("The newest backup of %1 (%2) does not read back whole:\r\n%3")
                                          .arg(Q(job->JobName()), Q(sChecked), Q(sFailure))),
                                    Buttons::OK, Icon::Exclamation, S(tr("Verify Backup")));
        }
    });
}
