// The job editor's five pages and the buttons around them: which control sits where.

#include "ui/frmJobOptions.h"

#include "app/QtHelpers.h"
#include "ui/frmOneShot.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
QLabel* Label(const QString& sText, QWidget* pParent) {
    auto* p = new QLabel(sText, pParent);
    p->setWordWrap(true);
    return p;
}

template <class W> W* Named(W* pWidget, const QString& sName) {
    pWidget->setObjectName(sName);
    return pWidget;
}

} // namespace

void frmJobOptions::BuildPages() {
    lblHeader = Named(new QLabel(this), "lblHeader");
    QFont headerFont = lblHeader->font();
    headerFont.setBold(true);
    headerFont.setPointSizeF(headerFont.pointSizeF() * 1.3);
    lblHeader->setFont(headerFont);

    const QString kButtons[PageCount] = {tr("&General"), tr("&Scheduling"), tr("&Files"), tr("E&xclude"),
                                         tr("&Compression")};
    auto* pSide = new QVBoxLayout;
    for (int i = 0; i < PageCount; ++i) {
        cmdFormButton[i] = Named(new QPushButton(kButtons[i], this), QString("cmdFormButton%1").arg(i));
        cmdFormButton[i]->setProperty("tag", i);
        // The button of the page on show stays pressed, so the user sees where he is.
        cmdFormButton[i]->setCheckable(true);
        cmdFormButton[i]->setAutoExclusive(true);
        cmdFormButton[i]->setFocusPolicy(Qt::TabFocus);
        cmdFormButton[i]->setMinimumHeight(34);
        pSide->addWidget(cmdFormButton[i]);
    }
    pSide->addStretch(1);

    for (int i = 0; i < CueCardCount; ++i)
        cmdCueCard[i] = QtHelpers::CueCardButton(this, QString("cmdCueCard%1").arg(i));

    fraOptions[0] = BuildGeneralPage();
    fraOptions[1] = BuildSchedulingPage();
    fraOptions[2] = BuildFilesPage();
    fraOptions[3] = BuildExcludePage();
    fraOptions[4] = BuildCompressionPage();

    auto* pPages = new QVBoxLayout;
    pPages->addWidget(lblHeader);
    for (int i = 0; i < PageCount; ++i) {
        fraOptions[i]->setObjectName(QString("fraOptions%1").arg(i));
        fraOptions[i]->setFrameShape(QFrame::StyledPanel);
        pPages->addWidget(fraOptions[i], 1);
    }

    cmdBack = Named(new QPushButton(tr("< &Back"), this), "cmdBack");
    cmdNext = Named(new QPushButton(tr("&Next >"), this), "cmdNext");
    cmdOK = Named(new QPushButton(tr("&OK"), this), "cmdOK");
    cmdCancel = Named(new QPushButton(tr("&Cancel"), this), "cmdCancel");
    for (QPushButton* p : {cmdBack, cmdNext, cmdOK, cmdCancel})
        p->setAutoDefault(false);
    auto* pBottom = new QHBoxLayout;
    pBottom->addStretch(1);
    pBottom->addWidget(cmdBack);
    pBottom->addWidget(cmdNext);
    pBottom->addSpacing(12);
    pBottom->addWidget(cmdOK);
    pBottom->addWidget(cmdCancel);

    auto* pTop = new QHBoxLayout;
    pTop->addLayout(pSide);
    pTop->addLayout(pPages, 1);
    auto* pMain = new QVBoxLayout(this);
    pMain->addLayout(pTop, 1);
    pMain->addLayout(pBottom);

    // Wide enough for the longest page in the desktop's font, so that the dialog keeps its size
    // from page to page.
    resize(600, 480);
}

QFrame* frmJobOptions::BuildGeneralPage() {
    auto* pPage = new QFrame(this);
    auto* pLay = new QVBoxLayout(pPage);
    pLay->addWidget(Label(tr("Enter a job name that uniquely identifies this backup job"), pPage));
    txtBackupJobName = Named(new QLineEdit(pPage), "txtBackupJobName");
    pLay->addWidget(txtBackupJobName);
    pLay->addSpacing(6);

    auto* pTargRow = new QHBoxLayout;
    pTargRow->addWidget(Label(tr("Select a target directory into which the backup will be placed"), pPage), 1);
    pTargRow->addWidget(cmdCueCard[3]);
    pLay->addLayout(pTargRow);
    auto* pTargEdit = new QHBoxLayout;
    txtTargDir = Named(new QLineEdit(pPage), "txtTargDir");
    cmdBrowseTargetDirectory = Named(new QPushButton("...", pPage), "cmdBrowseTargetDirectory");
    cmdBrowseTargetDirectory->setFixedWidth(32);
    cmdBrowseTargetDirectory->setToolTip(tr("Browse for the target directory"));
    pTargEdit->addWidget(txtTargDir, 1);
    pTargEdit->addWidget(cmdBrowseTargetDirectory);
    pLay->addLayout(pTargEdit);
    // A target on a drive that comes and goes: a run each time it is connected as well.
    chkRunOnConnect =
        Named(new QCheckBox(tr("Also back up every time this drive is connected"), pPage), "chkRunOnConnect");
    pLay->addWidget(chkRunOnConnect);
    pLay->addSpacing(6);

    fraBackupType = Named(new QGroupBox(tr("Backup type"), pPage), "fraBackupType");
    auto* pType = new QGridLayout(fraBackupType);
    optFullBackup = Named(new QRadioButton(tr("F&ull"), fraBackupType), "optFullBackup");
    optIncremental = Named(new QRadioButton(tr("&Incremental"), fraBackupType), "optIncremental");
    pType->addWidget(optFullBackup, 0, 0);
    pType->addWidget(cmdCueCard[1], 0, 1);
    pType->addWidget(optIncremental, 1, 0);
    pType->addWidget(cmdCueCard[2], 1, 1);
    pType->setColumnStretch(0, 1);
    pLay->addWidget(fraBackupType);

    auto* pRun = new QHBoxLayout;
    lblRunCount = Named(new QLabel(tr("Total runs"), pPage), "lblRunCount");
    txtRunCount = Named(new QLineEdit(pPage), "txtRunCount");
    txtRunCount->setFixedWidth(80);
    cmdClearRunCount = Named(new QPushButton(tr("Clear Count"), pPage), "cmdClearRunCount");
    pRun->addWidget(lblRunCount);
    pRun->addWidget(txtRunCount);
    pRun->addWidget(cmdClearRunCount);
    pRun->addStretch(1);
    pRun->addWidget(cmdCueCard[7]);
    pLay->addLayout(pRun);
    pLay->addStretch(1);
    return pPage;
}

QFrame* frmJobOptions::BuildSchedulingPage() {
    auto* pPage = new QFrame(this);
    auto* pLay = new QVBoxLayout(pPage);
    pLay->addWidget(Label(tr("Choose the frequency and other options for the backup"), pPage));

    fraRecurring = Named(new QGroupBox(pPage), "fraRecurring");
    auto* pRec = new QGridLayout(fraRecurring);
    auto* pFreqLabel = new QLabel(tr("Fre&quency"), fraRecurring);
    cmbFrequency = Named(new QComboBox(fraRecurring), "cmbFrequency");
    pFreqLabel->setBuddy(cmbFrequency);
    pRec->addWidget(pFreqLabel, 0, 0);
    pRec->addWidget(cmbFrequency, 0, 1);
    pRec->addWidget(cmdCueCard[4], 0, 3, Qt::AlignRight);
    lblSelectDayOf = Named(new QLabel(tr("Select the day(s) of the week:"), fraRecurring), "lblSelectDayOf");
    pRec->addWidget(lblSelectDayOf, 1, 0, 1, 4);
    chkMonday = Named(new QCheckBox(tr("&Monday"), fraRecurring), "chkMonday");
    chkTuesday = Named(new QCheckBox(tr("T&uesday"), fraRecurring), "chkTuesday");
    chkWednesday = Named(new QCheckBox(tr("&Wednesday"), fraRecurring), "chkWednesday");
    chkThursday = Named(new QCheckBox(tr("T&hursday"), fraRecurring), "chkThursday");
    chkFriday = Named(new QCheckBox(tr("F&riday"), fraRecurring), "chkFriday");
    chkSaturday = Named(new QCheckBox(tr("S&aturday"), fraRecurring), "chkSaturday");
    chkSunday = Named(new QCheckBox(tr("Sunda&y"), fraRecurring), "chkSunday");
    QCheckBox* days[7] = {chkMonday, chkTuesday, chkWednesday, chkThursday, chkFriday, chkSaturday, chkSunday};
    for (int i = 0; i < 7; ++i)
        pRec->addWidget(days[i], 2 + i % 4, i / 4 * 2, 1, 2);
    cmbDayOfMonth = Named(new QComboBox(fraRecurring), "cmbDayOfMonth");
    pRec->addWidget(cmbDayOfMonth, 2, 0);
    auto* pTimeRow = new QHBoxLayout;
    lblStartTime = Named(new QLabel(tr("Start time"), fraRecurring), "lblStartTime");
    txtStartTime = Named(new QLineEdit(fraRecurring), "txtStartTime");
    txtStartTime->setFixedWidth(64);
    lblStartTime->setBuddy(txtStartTime);
    vscrTime = Named(new UpDownSpinner(fraRecurring), "vscrTime");
    vscrTime->setRange(0, 1439);
    vscrTime->setSingleStep(1);
    vscrTime->setPageStep(15);
    pTimeRow->addWidget(lblStartTime);
    pTimeRow->addWidget(txtStartTime);
    pTimeRow->addWidget(vscrTime);
    pTimeRow->addStretch(1);
    pRec->addLayout(pTimeRow, 6, 0, 1, 4);
    pRec->setColumnStretch(2, 1);
    pLay->addWidget(fraRecurring);

    fraOneShot = Named(new QGroupBox(tr("One shot dates"), pPage), "fraOneShot");
    auto* pOne = new QGridLayout(fraOneShot);
    txtOneShot = Named(new QPlainTextEdit(fraOneShot), "txtOneShot");
    txtOneShot->setReadOnly(true);
    txtOneShot->setMaximumHeight(64);
    cmdOneShot = Named(new QPushButton(tr("O&ne shot"), fraOneShot), "cmdOneShot");
    pOne->addWidget(txtOneShot, 0, 0, 2, 1);
    pOne->addWidget(cmdOneShot, 0, 1);
    pOne->addWidget(cmdCueCard[11], 1, 1, Qt::AlignRight);
    pOne->setColumnStretch(0, 1);
    pLay->addWidget(fraOneShot);
    pLay->addStretch(1);
    return pPage;
}

QFrame* frmJobOptions::BuildFilesPage() {
    auto* pPage = new QFrame(this);
    auto* pLay = new QGridLayout(pPage);
    lstFilesToBackup = Named(new QListWidget(pPage), "lstFilesToBackup");
    lstFilesToBackup->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstFilesToBackup->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    cmdAddFile = Named(new QPushButton(tr("&Add"), pPage), "cmdAddFile");
    cmdRemove = Named(new QPushButton(tr("&Remove"), pPage), "cmdRemove");
    chkSubdirectories =
        Named(new QCheckBox(tr("Include subdirectories for all wildcard references?"), pPage), "chkSubdirectories");
    auto* pButtons = new QVBoxLayout;
    pButtons->addWidget(cmdAddFile);
    pButtons->addWidget(cmdRemove);
    pButtons->addStretch(1);
    pButtons->addWidget(cmdCueCard[0], 0, Qt::AlignRight);
    pLay->addWidget(lstFilesToBackup, 0, 0);
    pLay->addLayout(pButtons, 0, 1);
    auto* pSub = new QHBoxLayout;
    pSub->addWidget(chkSubdirectories, 1);
    pSub->addWidget(cmdCueCard[5]);
    pLay->addLayout(pSub, 1, 0, 1, 2);
    return pPage;
}

QFrame* frmJobOptions::BuildExcludePage() {
    auto* pPage = new QFrame(this);
    auto* pLay = new QGridLayout(pPage);
    auto* pLabel = new QLabel(tr("Exclude Specification"), pPage);
    txtExcludeSpec = Named(new QLineEdit(pPage), "txtExcludeSpec");
    pLabel->setBuddy(txtExcludeSpec);
    cmdAddExclude = Named(new QPushButton(tr("&Add"), pPage), "cmdAddExclude");
    lstExcludeFiles = Named(new QListWidget(pPage), "lstExcludeFiles");
    lstExcludeFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    cmdRemoveExclude = Named(new QPushButton(tr("&Remove"), pPage), "cmdRemoveExclude");
    pLay->addWidget(pLabel, 0, 0);
    pLay->addWidget(cmdCueCard[6], 0, 1, Qt::AlignRight);
    pLay->addWidget(txtExcludeSpec, 1, 0);
    pLay->addWidget(cmdAddExclude, 1, 1);
    pLay->addWidget(lstExcludeFiles, 2, 0);
    auto* pRight = new QVBoxLayout;
    pRight->addWidget(cmdRemoveExclude);
    pRight->addStretch(1);
    pLay->addLayout(pRight, 2, 1);
    chkExcludeCaches =
        Named(new QCheckBox(tr("Leave out caches, trash and folders marked as not worth backing up"), pPage),
              "chkExcludeCaches");
    chkExcludeCaches->setToolTip(tr("Folders holding a CACHEDIR.TAG or a .nobackup file, ~/.cache, the desktop "
                                    "Trash and thumbnail caches"));
    pLay->addWidget(chkExcludeCaches, 3, 0, 1, 2);
    return pPage;
}

QFrame* frmJobOptions::BuildCompressionPage() {
    auto* pPage = new QFrame(this);
    auto* pLay = new QVBoxLayout(pPage);
    optCompression[1] =
        Named(new QRadioButton(tr("&ZIP compression - Compress files into Winzip/PKZIP compatible files"), pPage),
              "optCompression1");
    optCompression[0] =
        Named(new QRadioButton(tr("No co&mpression - Copy files to destination without compression"), pPage),
              "optCompression0");
    auto* pZipRow = new QHBoxLayout;
    pZipRow->addWidget(optCompression[1], 1);
    pZipRow->addWidget(cmdCueCard[9]);
    pLay->addLayout(pZipRow);

    fraZip = Named(new QGroupBox(pPage), "fraZip");
    auto* pZip = new QGridLayout(fraZip);
    auto* pKeep = new QHBoxLayout;
    lblCopiesPrefix = Named(new QLabel(tr("Keep up to"), fraZip), "lblCopiesPrefix");
    cmbNumCountedZipsToKeep = Named(new QComboBox(fraZip), "cmbNumCountedZipsToKeep");
    cmbNumDatedZipsToKeep = Named(new QComboBox(fraZip), "cmbNumDatedZipsToKeep");
    cmbKeepPeriod = Named(new QComboBox(fraZip), "cmbKeepPeriod");
    lblNbrCopies = Named(new QLabel(tr("in addition to the current backup"), fraZip), "lblNbrCopies");
    pKeep->addWidget(lblCopiesPrefix);
    // The two keep-count lists share one place; only one is shown at a time.
    pKeep->addWidget(cmbNumCountedZipsToKeep);
    pKeep->addWidget(cmbNumDatedZipsToKeep);
    pKeep->addWidget(cmbKeepPeriod);
    pKeep->addWidget(lblNbrCopies);
    pKeep->addStretch(1);
    pZip->addLayout(pKeep, 0, 0, 1, 2);
    chkPasswordProtect =
        Named(new QCheckBox(tr("&Protect using the following password:"), fraZip), "chkPasswordProtect");
    txtPassword = Named(new QLineEdit(fraZip), "txtPassword");
    txtPassword->setEchoMode(QLineEdit::Password);
    pZip->addWidget(chkPasswordProtect, 2, 0);
    pZip->addWidget(cmdCueCard[10], 2, 1, Qt::AlignRight);
    pZip->addWidget(txtPassword, 3, 0, 1, 2);
    // The two encryptions in a box of their own, so that they exclude only each other.
    auto* pEncryption = new QWidget(fraZip);
    auto* pEncryptionLay = new QVBoxLayout(pEncryption);
    pEncryptionLay->setContentsMargins(0, 0, 0, 0);
    optEncryption[0] = Named(
        new QRadioButton(tr("Encryption: AES-256 (recommended; opens in 7-Zip, WinZip and other AES-capable tools)"),
                         pEncryption),
        "optEncryptionAes");
    optEncryption[1] =
        Named(new QRadioButton(tr("Traditional (opens in any unzip; weak)"), pEncryption), "optEncryptionTraditional");
    pEncryptionLay->addWidget(optEncryption[0]);
    pEncryptionLay->addWidget(optEncryption[1]);
    optEncryption[0]->setChecked(true);
    pZip->addWidget(pEncryption, 4, 0, 1, 2);
    chkKeyring = Named(new QCheckBox(tr("Keep the password in the desktop keyring"), fraZip), "chkKeyring");
    pZip->addWidget(chkKeyring, 5, 0, 1, 2);
    pLay->addWidget(fraZip);

    auto* pCopyRow = new QHBoxLayout;
    pCopyRow->addWidget(optCompression[0], 1);
    pCopyRow->addWidget(cmdCueCard[8]);
    pLay->addLayout(pCopyRow);
    fraCopyType = Named(new QGroupBox(tr("Copy backup style"), pPage), "fraCopyType");
    auto* pCopy = new QHBoxLayout(fraCopyType);
    const QString kStyles[3] = {tr("Rebuild"), tr("Update"), tr("Freshen")};
    for (int i = 0; i < 3; ++i) {
        optCopyStyle[i] = Named(new QRadioButton(kStyles[i], fraCopyType), QString("optCopyStyle%1").arg(i));
        pCopy->addWidget(optCopyStyle[i]);
    }
    pCopy->addStretch(1);
    pLay->addWidget(fraCopyType);
    pLay->addWidget(BuildSnapshotGroup(pPage));
    // Both styles: read the new backup back once the run has written it.
    chkVerify = Named(new QCheckBox(tr("&Verify the backup after each run"), pPage), "chkVerify");
    pLay->addWidget(chkVerify);
    pLay->addWidget(BuildOffsiteGroup(pPage));
    pLay->addWidget(BuildPingGroup(pPage));
    pLay->addStretch(1);
    return pPage;
}
