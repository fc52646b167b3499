// The editor's "Keep the password in the desktop keyring" check box: checked by default when a
// keyring answers, off and disabled (its reason in the tooltip) when none does. A job that keeps
// its password there shows it read back from the keyring; saving writes it there first.

#include "ui/frmJobOptions.h"

#include "app/QtHelpers.h"
#include "jobs/CBackupJob.h"
#include "support/PasswordVault.h"
#include "support/UserInteraction.h"

#include <QCheckBox>
#include <QLineEdit>

using namespace QtHelpers;

void frmJobOptions::SetupKeyring(const CBackupJob& job) {
    // One read when the editor opens, bounded by the keyring's own wait: the job's password for
    // a job that keeps it there; for the others it only tells whether a keyring answers.
    const std::string sProbe = job.JobName().empty() ? std::string("Stowline") : job.JobName();
    const PasswordVault::Result probe = PasswordVault::Current().Read(sProbe);
    m_bKeyringAnswers = probe.State != PasswordVault::Status::Unreachable;
    chkKeyring->setToolTip(m_bKeyringAnswers ? tr("The password is kept in the desktop keyring, not in the job file")
                                             : tr("No desktop keyring answers: %1").arg(Q(probe.Reason)));
    if (job.PasswordInKeyring()) {
        // Shown as kept there even when no keyring answers now: a save then says so instead of
        // moving the password into the file unasked.
        chkKeyring->setChecked(true);
        chkPasswordProtect->setChecked(true);
        txtPassword->setText(Q(probe.Done() ? probe.Value : job.Password()));
    } else {
        // A password already in the file stays there until the user moves it.
        chkKeyring->setChecked(m_bKeyringAnswers && job.Password().empty());
    }
    chkPasswordProtect_Click();
}

bool frmJobOptions::StoreKeyringPassword(const std::string& sJobName, const std::string& sPassword) {
    const PasswordVault::Result written = PasswordVault::Current().Write(sJobName, sPassword);
    if (written.Done()) return true;
    UserInteraction::MsgBox(PasswordVault::UnreachableText(sJobName, written) + "\r\n" +
                                S(tr("The job is not saved. Save it again once the keyring answers, or clear "
                                     "\"Keep the password in the desktop keyring\".")),
                            UserInteraction::Buttons::OK, UserInteraction::Icon::Exclamation);
    return false;
}
