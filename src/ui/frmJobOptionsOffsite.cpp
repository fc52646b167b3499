// The editor's "Off-site copy" group on the Compression page: the job's rclone remote path
// (OffsiteRemote) in an editable list of rclone's remotes, the days a copy-style remote keeps
// old versions (OffsiteKeepDays) and the "Test" button. rclone is asked through OffsiteProbe;
// without rclone the group says so, stays disabled and the job's keys are saved as they were.

#include "ui/frmJobOptions.h"

#include "app/QtHelpers.h"
#include "app/RunGuard.h"
#include "engine/OffsiteProbe.h"
#include "engine/RunState.h"
#include "jobs/CBackupJob.h"
#include "support/UserInteraction.h"
#include "support/libErrorHandler.h"
#include "support/libStrings.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <functional>

using namespace QtHelpers;

namespace {

// Clears the "test running" state on every way out of a test, also when a trapped error ends it.
class TestingScope {
public:
    TestingScope(bool& bTesting, const std::function<void()>& refresh) : m_bTesting(bTesting), m_refresh(refresh) {
        m_bTesting = true;
        m_refresh();
    }
    ~TestingScope() {
        m_bTesting = false;
        m_refresh();
    }
    TestingScope(const TestingScope&) = delete;
    TestingScope& operator=(const TestingScope&) = delete;

private:
    bool& m_bTesting;
    std::function<void()> m_refresh;
};

} // namespace

QGroupBox* frmJobOptions::BuildOffsiteGroup(QWidget* pParent) {
    fraOffsite = new QGroupBox(tr("Off-site copy"), pParent);
    fraOffsite->setObjectName("fraOffsite");
    auto* pGrid = new QGridLayout(fraOffsite);
    auto* pRemoteLabel = new QLabel(tr("Remote path"), fraOffsite);
    cmbOffsiteRemote = new QComboBox(fraOffsite);
    cmbOffsiteRemote->setObjectName("cmbOffsiteRemote");
    cmbOffsiteRemote->setEditable(true);
    // Picking a remote only starts the path: the user completes it ("nas:" -> "nas:backups").
    cmbOffsiteRemote->setInsertPolicy(QComboBox::NoInsert);
    cmbOffsiteRemote->lineEdit()->setPlaceholderText(tr("empty: no off-site copy"));
    cmbOffsiteRemote->setToolTip(
        tr("An rclone remote and a folder on it, such as nas:backups; empty: no off-site copy"));
    pRemoteLabel->setBuddy(cmbOffsiteRemote);
    cmdOffsiteTest = new QPushButton(tr("Test"), fraOffsite);
    cmdOffsiteTest->setObjectName("cmdOffsiteTest");
    cmdOffsiteTest->setAutoDefault(false);
    cmdOffsiteTest->setToolTip(tr("List the remote path, write a small file there, read it back and remove it"));
    pGrid->addWidget(pRemoteLabel, 0, 0);
    pGrid->addWidget(cmbOffsiteRemote, 0, 1);
    pGrid->addWidget(cmdOffsiteTest, 0, 2);
    pGrid->addWidget(cmdCueCard[12], 0, 3, Qt::AlignRight);

    auto* pDaysLabel = new QLabel(tr("Copy style: keep changed and deleted files on the remote for"), fraOffsite);
    pDaysLabel->setWordWrap(true);
    spnOffsiteKeepDays = new QSpinBox(fraOffsite);
    spnOffsiteKeepDays->setObjectName("spnOffsiteKeepDays");
    spnOffsiteKeepDays->setRange(1, 36500);
    spnOffsiteKeepDays->setSuffix(tr(" days"));
    pDaysLabel->setBuddy(spnOffsiteKeepDays);
    pGrid->addWidget(pDaysLabel, 1, 0, 1, 2);
    pGrid->addWidget(spnOffsiteKeepDays, 1, 2, 1, 2);

    lblOffsiteStatus = new QLabel(fraOffsite);
    lblOffsiteStatus->setObjectName("lblOffsiteStatus");
    lblOffsiteStatus->setWordWrap(true);
    lblOffsiteStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pGrid->addWidget(lblOffsiteStatus, 2, 0, 1, 4);
    pGrid->setColumnStretch(1, 1);

    connect(cmdOffsiteTest, &QPushButton::clicked, this, &frmJobOptions::cmdOffsiteTest_Click);
    return fraOffsite;
}

void frmJobOptions::SetupOffsite(const CBackupJob& job) {
    m_bRcloneInstalled = OffsiteProbe::RcloneInstalled();
    m_bRemotesListed = false;
    cmbOffsiteRemote->clear();
    // Shown also when rclone is missing, so that the user sees the remote that is kept.
    cmbOffsiteRemote->setEditText(Q(job.OffsiteRemote()));
    spnOffsiteKeepDays->setValue(job.OffsiteKeepDays());
    lblOffsiteStatus->setText(m_bRcloneInstalled
                                  ? QString()
                                  : tr("rclone is not installed, so this job cannot be copied off-site. Install rclone "
                                       "(Debian package rclone) and set up a remote with \"rclone config\"."));
    EnableOffsiteControls();
}

void frmJobOptions::ListOffsiteRemotes() {
    if (m_bRemotesListed || !m_bRcloneInstalled) return;
    m_bRemotesListed = true;
    libErrorHandler::Trap(kModule, "ListOffsiteRemotes()", [&] {
        const OffsiteProbe::RemoteList remotes = OffsiteProbe::Remotes();
        // Adding the first entry would replace the path being shown.
        const QString sPath = cmbOffsiteRemote->currentText();
        for (const std::string& sName : remotes.Names)
            cmbOffsiteRemote->addItem(Q(sName));
        cmbOffsiteRemote->setCurrentIndex(-1);
        cmbOffsiteRemote->setEditText(sPath);
        if (!remotes.Reason.empty())
            lblOffsiteStatus->setText(tr("rclone could not list its remotes: %1").arg(Q(remotes.Reason)));
        else if (remotes.Names.empty())
            lblOffsiteStatus->setText(tr("rclone has no remotes yet: set one up with \"rclone config\"."));
    });
}

void frmJobOptions::EnableOffsiteControls() {
    if (!cmbOffsiteRemote) return; // still being built
    const bool bOn = m_bRcloneInstalled && !m_bOffsiteTesting;
    cmbOffsiteRemote->setEnabled(m_bRcloneInstalled);
    cmdOffsiteTest->setEnabled(bOn);
    // The days apply to the copy style's versions only.
    spnOffsiteKeepDays->setEnabled(m_bRcloneInstalled && optCompression[0]->isChecked());
}

void frmJobOptions::cmdOffsiteTest_Click() {
    libErrorHandler::Trap(kModule, "cmdOffsiteTest_Click()", [&] {
        if (m_bOffsiteTesting || !m_bRcloneInstalled) return;
        const std::string sRemote = libStrings::Trim(S(cmbOffsiteRemote->currentText()));
        if (sRemote.empty()) {
            lblOffsiteStatus->setText(tr("Type the remote path to test, such as nas:backups."));
            return;
        }
        // rclone's commands let events through: the window stays usable, the button does not.
        const TestingScope testing(m_bOffsiteTesting, [this] { EnableOffsiteControls(); });
        lblOffsiteStatus->setText(tr("Testing '%1'...").arg(Q(sRemote)));
        // An abort left over from an earlier run would stop rclone at once; one meant for a run
        // in progress stays.
        if (!appSetup::RunGuard::RunInProgress()) RunState::SetAbortRequested(false);
        const OffsiteProbe::TestResult result = OffsiteProbe::Test(sRemote);
        QString sText;
        if (!result.Ok())
            sText = tr("Test of '%1' failed: %2").arg(Q(sRemote), Q(result.Failure));
        else if (result.FolderMissing)
            sText = tr("Test of '%1' succeeded: the folder did not exist yet (the first upload makes it); it was "
                       "made, written to, read back and removed again.")
                        .arg(Q(sRemote));
        else
            sText = tr("Test of '%1' succeeded: listed, written to, read back and cleaned up.").arg(Q(sRemote));
        lblOffsiteStatus->setText(sText);
    });
}

bool frmJobOptions::VerifyOffsiteStep() {
    // Without rclone the job's remote is not edited here and is saved as it was.
    if (!m_bRcloneInstalled) return true;
    const std::string sRemote = libStrings::Trim(S(cmbOffsiteRemote->currentText()));
    if (!sRemote.empty() && sRemote[0] == '-') {
        MsgBox(S(tr("The off-site remote path cannot begin with '-': rclone would read it as one of its options.  "
                    "Please correct it now.")),
               Buttons::OK, Icon::Information, S(tr(kVerify)));
        RequestFocus(cmbOffsiteRemote);
        return false;
    }
    return true;
}

void frmJobOptions::StoreOffsite(CBackupJob& job) const {
    if (!m_bRcloneInstalled) return;
    // The setters store only a change: a job that had no off-site keys and still has none is
    // saved without them.
    job.SetOffsiteRemote(libStrings::Trim(S(cmbOffsiteRemote->currentText())));
    job.SetOffsiteKeepDays(spnOffsiteKeepDays->value());
}
