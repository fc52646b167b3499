// The restore window's snapshot rows and its "Versions..." command.

#include "ui/frmRestore.h"

#include "app/QtHelpers.h"
#include "support/UserInteraction.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "ui/frmVersions.h"

#include <QLineEdit>
#include <QRadioButton>

using QtHelpers::Q;
using QtHelpers::S;

QStringList frmRestore::BackupRow(const libRestore::BackupInfo& b) {
    // A snapshot's size would take a walk of its whole tree: it is left out.
    if (!b.Snapshot.empty()) return {tr("Snapshot %1").arg(Q(b.Snapshot)), TimeText(b.MTimeNs), QString()};
    const std::string sShown = b.IsArchive ? libFiles::FilePathStripPath(b.Path) : b.Path;
    return {Q(sShown), TimeText(b.MTimeNs), SizeText(b.Size)};
}

void frmRestore::cmdVersions_Click() {
    libErrorHandler::Trap("frmRestore", "cmdVersions_Click()", [&] {
        if (m_bRunning) return;
        const libRestore::Entry* file = CurrentFile();
        if (file == nullptr) {
            UserInteraction::MsgBox(S(tr("Choose a file to see its versions.")), UserInteraction::Buttons::OK,
                                    UserInteraction::Icon::Information, S(tr("Versions")));
            return;
        }
        // The local backups only: a remote one would be downloaded whole for each look.
        const std::string sTo = optFolder->isChecked() ? S(txtToFolder->text().trimmed()) : std::string();
        frmVersions dialog(m_job, m_backups, *file, sTo, this);
        dialog.exec();
    });
}
