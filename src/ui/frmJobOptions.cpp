// The job editor's controls: building the five pages and the behaviours of the schedule,
// retention, compression, password, source, exclude, target and job-name controls.
// Loading, navigation, checks and the write-back are in frmJobOptionsPages.cpp.

#include "ui/frmJobOptions.h"

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
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

using UserInteraction::Buttons;
using UserInteraction::Icon;
using UserInteraction::MsgBox;

namespace {
const char* const kModule = "frmOptions";
const char* const kVerify = "Verification Error";

QString Q(const std::string& s) { return QString::fromLocal8Bit(s.c_str(), static_cast<int>(s.size())); }
std::string S(const QString& s) { return s.toLocal8Bit().toStdString(); }

QLabel* Label(const QString& sText, QWidget* pParent) {
    auto* p = new QLabel(sText, pParent);
    p->setWordWrap(true);
    return p;
}

template <class W> W* Named(W* pWidget, const QString& sName) {
    pWidget->setObjectName(sName);
    return pWidget;
}

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

void frmJobOptions::BuildPages() {
    lblHeader = Named(new QLabel(this), "lblHeader");
    QFont headerFont = lblHeader->font();
    headerFont.setBold(true);
    headerFont.setPointSizeF(headerFont.pointSizeF() * 1.3);
    lblHeader->setFont(headerFont);

    const char* kButtons[PageCount] = {"&General", "&Scheduling", "&Files", "E&xclude", "&Compression"};
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

    for (int i = 0; i < 12; ++i) {
        cmdCueCard[i] = Named(new QPushButton("?", this), QString("cmdCueCard%1").arg(i));
        cmdCueCard[i]->setFixedWidth(26);
        cmdCueCard[i]->setToolTip("Help");
    }

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

    cmdBack = Named(new QPushButton("< &Back", this), "cmdBack");
    cmdNext = Named(new QPushButton("&Next >", this), "cmdNext");
    cmdOK = Named(new QPushButton("&OK", this), "cmdOK");
    cmdCancel = Named(new QPushButton("&Cancel", this), "cmdCancel");
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
    pLay->addWidget(Label("Enter a job name that uniquely identifies this backup job", pPage));
    txtBackupJobName = Named(new QLineEdit(pPage), "txtBackupJobName");
    pLay->addWidget(txtBackupJobName);
    pLay->addSpacing(6);

    auto* pTargRow = new QHBoxLayout;
    pTargRow->addWidget(Label("Select a target directory into which the backup will be placed", pPage), 1);
    pTargRow->addWidget(cmdCueCard[3]);
    pLay->addLayout(pTargRow);
    auto* pTargEdit = new QHBoxLayout;
    txtTargDir = Named(new QLineEdit(pPage), "txtTargDir");
    cmdBrowseTargetDirectory = Named(new QPushButton("...", pPage), "cmdBrowseTargetDirectory");
    cmdBrowseTargetDirectory->setFixedWidth(32);
    cmdBrowseTargetDirectory->setToolTip("Browse for the target directory");
    pTargEdit->addWidget(txtTargDir, 1);
    pTargEdit->addWidget(cmdBrowseTargetDirectory);
    pLay->addLayout(pTargEdit);
    pLay->addSpacing(6);

    fraBackupType = Named(new QGroupBox("Backup type", pPage), "fraBackupType");
    auto* pType = new QGridLayout(fraBackupType);
    optFullBackup = Named(new QRadioButton("F&ull", fraBackupType), "optFullBackup");
    optIncremental = Named(new QRadioButton("&Incremental", fraBackupType), "optIncremental");
    pType->addWidget(optFullBackup, 0, 0);
    pType->addWidget(cmdCueCard[1], 0, 1);
    pType->addWidget(optIncremental, 1, 0);
    pType->addWidget(cmdCueCard[2], 1, 1);
    pType->setColumnStretch(0, 1);
    pLay->addWidget(fraBackupType);

    auto* pRun = new QHBoxLayout;
    lblRunCount = Named(new QLabel("Total runs", pPage), "lblRunCount");
    txtRunCount = Named(new QLineEdit(pPage), "txtRunCount");
    txtRunCount->setFixedWidth(80);
    cmdClearRunCount = Named(new QPushButton("Clear Count", pPage), "cmdClearRunCount");
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
    pLay->addWidget(Label("Choose the frequency and other options for the backup", pPage));

    fraRecurring = Named(new QGroupBox(pPage), "fraRecurring");
    auto* pRec = new QGridLayout(fraRecurring);
    auto* pFreqLabel = new QLabel("Fre&quency", fraRecurring);
    cmbFrequency = Named(new QComboBox(fraRecurring), "cmbFrequency");
    pFreqLabel->setBuddy(cmbFrequency);
    pRec->addWidget(pFreqLabel, 0, 0);
    pRec->addWidget(cmbFrequency, 0, 1);
    pRec->addWidget(cmdCueCard[4], 0, 3, Qt::AlignRight);
    lblSelectDayOf = Named(new QLabel("Select the day(s) of the week:", fraRecurring), "lblSelectDayOf");
    pRec->addWidget(lblSelectDayOf, 1, 0, 1, 4);
    chkMonday = Named(new QCheckBox("&Monday", fraRecurring), "chkMonday");
    chkTuesday = Named(new QCheckBox("T&uesday", fraRecurring), "chkTuesday");
    chkWednesday = Named(new QCheckBox("&Wednesday", fraRecurring), "chkWednesday");
    chkThursday = Named(new QCheckBox("T&hursday", fraRecurring), "chkThursday");
    chkFriday = Named(new QCheckBox("F&riday", fraRecurring), "chkFriday");
    chkSaturday = Named(new QCheckBox("S&aturday", fraRecurring), "chkSaturday");
    chkSunday = Named(new QCheckBox("Sunda&y", fraRecurring), "chkSunday");
    QCheckBox* days[7] = {chkMonday, chkTuesday, chkWednesday, chkThursday, chkFriday, chkSaturday, chkSunday};
    for (int i = 0; i < 7; ++i)
        pRec->addWidget(days[i], 2 + i % 4, i / 4 * 2, 1, 2);
    cmbDayOfMonth = Named(new QComboBox(fraRecurring), "cmbDayOfMonth");
    pRec->addWidget(cmbDayOfMonth, 2, 0);
    auto* pTimeRow = new QHBoxLayout;
    lblStartTime = Named(new QLabel("Start time", fraRecurring), "lblStartTime");
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

    fraOneShot = Named(new QGroupBox("One shot dates", pPage), "fraOneShot");
    auto* pOne = new QGridLayout(fraOneShot);
    txtOneShot = Named(new QPlainTextEdit(fraOneShot), "txtOneShot");
    txtOneShot->setReadOnly(true);
    txtOneShot->setMaximumHeight(64);
    cmdOneShot = Named(new QPushButton("O&ne shot", fraOneShot), "cmdOneShot");
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
    cmdAddFile = Named(new QPushButton("&Add", pPage), "cmdAddFile");
    cmdRemove = Named(new QPushButton("&Remove", pPage), "cmdRemove");
    chkSubdirectories =
        Named(new QCheckBox("Include subdirectories for all wildcard references?", pPage), "chkSubdirectories");
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
    auto* pLabel = new QLabel("Exclude Specification", pPage);
    txtExcludeSpec = Named(new QLineEdit(pPage), "txtExcludeSpec");
    pLabel->setBuddy(txtExcludeSpec);
    cmdAddExclude = Named(new QPushButton("&Add", pPage), "cmdAddExclude");
    lstExcludeFiles = Named(new QListWidget(pPage), "lstExcludeFiles");
    lstExcludeFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    cmdRemoveExclude = Named(new QPushButton("&Remove", pPage), "cmdRemoveExclude");
    pLay->addWidget(pLabel, 0, 0);
    pLay->addWidget(cmdCueCard[6], 0, 1, Qt::AlignRight);
    pLay->addWidget(txtExcludeSpec, 1, 0);
    pLay->addWidget(cmdAddExclude, 1, 1);
    pLay->addWidget(lstExcludeFiles, 2, 0);
    auto* pRight = new QVBoxLayout;
    pRight->addWidget(cmdRemoveExclude);
    pRight->addStretch(1);
    pLay->addLayout(pRight, 2, 1);
    return pPage;
}

QFrame* frmJobOptions::BuildCompressionPage() {
    auto* pPage = new QFrame(this);
    auto* pLay = new QVBoxLayout(pPage);
    optCompression[1] =
        Named(new QRadioButton("&ZIP compression - Compress files into Winzip/PKZIP compatible files", pPage),
              "optCompression1");
    optCompression[0] = Named(
        new QRadioButton("No co&mpression - Copy files to destination without compression", pPage), "optCompression0");
    auto* pZipRow = new QHBoxLayout;
    pZipRow->addWidget(optCompression[1], 1);
    pZipRow->addWidget(cmdCueCard[9]);
    pLay->addLayout(pZipRow);

    fraZip = Named(new QGroupBox(pPage), "fraZip");
    auto* pZip = new QGridLayout(fraZip);
    auto* pKeep = new QHBoxLayout;
    lblCopiesPrefix = Named(new QLabel("Keep up to", fraZip), "lblCopiesPrefix");
    cmbNumCountedZipsToKeep = Named(new QComboBox(fraZip), "cmbNumCountedZipsToKeep");
    cmbNumDatedZipsToKeep = Named(new QComboBox(fraZip), "cmbNumDatedZipsToKeep");
    cmbKeepPeriod = Named(new QComboBox(fraZip), "cmbKeepPeriod");
    lblNbrCopies = Named(new QLabel("in addition to the current backup", fraZip), "lblNbrCopies");
    pKeep->addWidget(lblCopiesPrefix);
    // The two keep-count lists share one place; only one is shown at a time.
    pKeep->addWidget(cmbNumCountedZipsToKeep);
    pKeep->addWidget(cmbNumDatedZipsToKeep);
    pKeep->addWidget(cmbKeepPeriod);
    pKeep->addWidget(lblNbrCopies);
    pKeep->addStretch(1);
    pZip->addLayout(pKeep, 0, 0, 1, 2);
    chkPasswordProtect = Named(new QCheckBox("&Protect using the following password:", fraZip), "chkPasswordProtect");
    txtPassword = Named(new QLineEdit(fraZip), "txtPassword");
    txtPassword->setEchoMode(QLineEdit::Password);
    pZip->addWidget(chkPasswordProtect, 2, 0);
    pZip->addWidget(cmdCueCard[10], 2, 1, Qt::AlignRight);
    pZip->addWidget(txtPassword, 3, 0, 1, 2);
    pLay->addWidget(fraZip);

    auto* pCopyRow = new QHBoxLayout;
    pCopyRow->addWidget(optCompression[0], 1);
    pCopyRow->addWidget(cmdCueCard[8]);
    pLay->addLayout(pCopyRow);
    fraCopyType = Named(new QGroupBox("Copy backup style", pPage), "fraCopyType");
    auto* pCopy = new QHBoxLayout(fraCopyType);
    const char* kStyles[3] = {"Rebuild", "Update", "Freshen"};
    for (int i = 0; i < 3; ++i) {
        optCopyStyle[i] = Named(new QRadioButton(kStyles[i], fraCopyType), QString("optCopyStyle%1").arg(i));
        pCopy->addWidget(optCopyStyle[i]);
    }
    pCopy->addStretch(1);
    pLay->addWidget(fraCopyType);
    pLay->addStretch(1);
    return pPage;
}

void frmJobOptions::ConnectHandlers() {
    connect(cmdNext, &QPushButton::clicked, this, &frmJobOptions::cmdNext_Click);
    connect(cmdBack, &QPushButton::clicked, this, &frmJobOptions::cmdBack_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmJobOptions::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmJobOptions::cmdCancel_Click);
    for (int i = 0; i < PageCount; ++i)
        connect(cmdFormButton[i], &QPushButton::clicked, this,
                [this, i] { cmdFormButton_Click(cmdFormButton[i]->property("tag").toInt()); });
    for (int i = 0; i < 12; ++i)
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
    txtStartTime->installEventFilter(this);
    txtBackupJobName->installEventFilter(this);
}

// ---------------------------------------------------------------- schedule

void frmJobOptions::cmbFrequency_Click() {
    libErrorHandler::Trap(kModule, "cmbFrequency_Click()", [&] {
        const std::string sFrequency = S(cmbFrequency->currentText());
        QCheckBox* days[7] = {chkMonday, chkTuesday, chkWednesday, chkThursday, chkFriday, chkSaturday, chkSunday};
        bool bDaysShown = false, bLabelShown = false, bDayOfMonthShown = false, bTimeShown = true;
        if (sFrequency == "Daily") {
            for (QCheckBox* p : days)
                p->setChecked(true);
            lblSelectDayOf->setText("Select the day(s) of the week:");
        } else if (sFrequency == "Weekly") {
            for (QCheckBox* p : days)
                p->setChecked(p == chkSunday);
            lblSelectDayOf->setText("Select the day(s) of the week:");
            bDaysShown = bLabelShown = true;
        } else if (sFrequency == "Monthly") {
            lblSelectDayOf->setText("Select the day of the month:");
            cmbDayOfMonth->setCurrentIndex(0);
            bLabelShown = bDayOfMonthShown = true;
        } else if (sFrequency == "One Shot") {
            lblSelectDayOf->setText("Select the one shot date(s):");
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
    if (sText.empty()) return "The Start Time field cannot be left blank.";
    double d = 0;
    if (!libDates::ParseDateTime(sText, d)) return "The time you entered is not valid.";
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
            MsgBox(sProblem + "  Please correct the value now using the format 'hh:mm' where between 00:00 - 23:59.",
                   Buttons::OK, Icon::None, kVerify);
            m_bInTimeCheck = false;
            RequestFocus(txtStartTime);
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
    const std::string sPeriod = S(cmbKeepPeriod->currentText());
    if (sPeriod == "Copies") {
        if (!bFromCounted) ++iPosition;
        iPosition = std::max(0, std::min(iPosition, cmbNumCountedZipsToKeep->count() - 1));
        cmbNumCountedZipsToKeep->setCurrentIndex(iPosition);
        cmbNumCountedZipsToKeep->setEnabled(true);
        cmbNumCountedZipsToKeep->setVisible(true);
        cmbNumDatedZipsToKeep->setEnabled(false);
        cmbNumDatedZipsToKeep->setVisible(false);
        lblNbrCopies->setText("in addition to the current backup");
    } else if (sPeriod == "Days" || sPeriod == "Weeks" || sPeriod == "Months") {
        if (bFromCounted && iPosition >= 1) --iPosition;
        iPosition = std::max(0, std::min(iPosition, cmbNumDatedZipsToKeep->count() - 1));
        cmbNumDatedZipsToKeep->setCurrentIndex(iPosition);
        cmbNumDatedZipsToKeep->setEnabled(true);
        cmbNumDatedZipsToKeep->setVisible(true);
        cmbNumCountedZipsToKeep->setEnabled(false);
        cmbNumCountedZipsToKeep->setVisible(false);
        lblNbrCopies->setText("worth of backup files");
    }
}

void frmJobOptions::SetFieldColour(QWidget* pField, bool bWhite) {
    QPalette pal = pField->palette();
    const QColor colour = bWhite ? QColor(Qt::white) : QApplication::palette().color(QPalette::Button);
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
            const bool bCounted = S(cmbKeepPeriod->currentText()) != "Days" &&
                                  S(cmbKeepPeriod->currentText()) != "Weeks" &&
                                  S(cmbKeepPeriod->currentText()) != "Months";
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
    });
}

void frmJobOptions::chkPasswordProtect_Click() {
    libErrorHandler::Trap(kModule, "chkPasswordProtect_Click()", [&] {
        if (chkPasswordProtect->isChecked() && chkPasswordProtect->isEnabledTo(fraOptions[4])) {
            txtPassword->setEnabled(true);
            SetFieldColour(txtPassword, true);
            if (txtPassword->isVisible()) txtPassword->setFocus();
        } else {
            txtPassword->setEnabled(false);
            SetFieldColour(txtPassword, false);
        }
    });
}

// ---------------------------------------------------------------- sources and exclusions

void frmJobOptions::cmdAddFile_Click() {
    libErrorHandler::Trap(kModule, "cmdAddFile_Click()", [&] { frmPickFile::Execute(this, lstFilesToBackup); });
}

void frmJobOptions::cmdRemove_Click() {
    libErrorHandler::Trap(kModule, "cmdRemove_Click()", [&] {
        if (lstFilesToBackup->selectedItems().isEmpty()) {
            MsgBox("You must first select a file or folder to remove.", Buttons::OK, Icon::None, kVerify);
            return;
        }
        RemoveSelected(lstFilesToBackup);
    });
}

void frmJobOptions::cmdAddExclude_Click() {
    libErrorHandler::Trap(kModule, "cmdAddExclude_Click()", [&] {
        const std::string sSpec = libStrings::Trim(S(txtExcludeSpec->text()));
        if (sSpec.empty()) {
            MsgBox("You have to type in *.ext where ext is the extension for the file type you wish to exclude.",
                   Buttons::OK, Icon::Information, kVerify);
        } else if (!libStrings::StartsWith(sSpec, "*.") || sSpec.size() < 3) {
            MsgBox("The proper format for an exclude is *.ext where ext represents the extension of the file type "
                   "you wish to exclude.",
                   Buttons::OK, Icon::Information, kVerify);
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
            MsgBox("You must first select an exclude specification to remove.", Buttons::OK, Icon::None, kVerify);
            return;
        }
        RemoveSelected(lstExcludeFiles);
    });
}

// ---------------------------------------------------------------- target, name, run count

void frmJobOptions::cmdBrowseTargetDirectory_Click() {
    libErrorHandler::Trap(kModule, "cmdBrowseTargDir_Click()", [&] {
        CBrowseDlg browse;
        browse.ParentHWnd = this;
        browse.Prompt = "Please select a directory into which the backup will be placed.";
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
            MsgBox("The specified directory does not exist; please try again.", Buttons::OK, Icon::None, "Stowline");
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
