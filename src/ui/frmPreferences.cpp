#include "ui/frmPreferences.h"

#include "app/QtHelpers.h"
#include "engine/OffsiteProbe.h"
#include "support/UserInteraction.h"
#include "support/appPreferences.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libStrings.h"
#include "ui/frmSchedule.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cstdlib>

using namespace QtHelpers;

namespace {

constexpr int kColumns = appPreferences::ColumnCount;

struct CueCard {
    const char* Title;
    const char* Text;
};

const std::array<CueCard, 8>& CueCards() {
    static const std::array<CueCard, 8> cards{{
        {QT_TRANSLATE_NOOP("frmPreferences", "Max Backup Copies"),
         QT_TRANSLATE_NOOP("frmPreferences", "Set up the drop down values for number of backup\r\n"
                                             "copies to maintain in the Job Options form.")},
        {QT_TRANSLATE_NOOP("frmPreferences", "Halt Auto Backups"),
         QT_TRANSLATE_NOOP("frmPreferences", "Stop auto backups and popup message box if error is \r\n"
                                             "encountered during backup?")},
        {QT_TRANSLATE_NOOP("frmPreferences", "Run as Tray App"),
         QT_TRANSLATE_NOOP("frmPreferences", "Run Stowline in system tray?\r\n"
                                             "\r\n"
                                             "Note that this feature must be set to Yes for Stowline\r\n"
                                             "to automatically run scheduled backup jobs.  Yes is\r\n"
                                             "the default when you first run Stowline.")},
        {QT_TRANSLATE_NOOP("frmPreferences", "Transaction Logging Mode"),
         QT_TRANSLATE_NOOP("frmPreferences", "Select transaction logging mode:\r\n"
                                             "+ Detailed  -  Everything possible is logged\r\n"
                                             "+ Standard  -  Intermediate level of detail\r\n"
                                             "+ Minimal  -  Only header information showing which jobs ran\r\n"
                                             "+ Nothing  -  Only errors are always logged\r\n"
                                             "\r\n"
                                             "NOTE that errors are always logged regardless of mode selected.")},
        {QT_TRANSLATE_NOOP("frmPreferences", "Log Viewer Executable"),
         QT_TRANSLATE_NOOP("frmPreferences", "Pick the executable name for the default viewer used\r\n"
                                             "to view error and transaction log files.  Notepad.exe\r\n"
                                             "or Wordpad.exe are good choices.")},
        {QT_TRANSLATE_NOOP("frmPreferences", "Save Screen Size"),
         QT_TRANSLATE_NOOP("frmPreferences", "Checking this option will enable Stowline to save and restore\r\n"
                                             "your form size settings every time you exit and restart.")},
        {QT_TRANSLATE_NOOP("frmPreferences", "Manual Comment Mode"),
         QT_TRANSLATE_NOOP("frmPreferences", "If Yes, will prompt for comments on manually executed backups.\r\n"
                                             "If No, will not prompt for comments.\r\n"
                                             "\r\n"
                                             "NOTE that Scheduled backups run automatically will never prompt.")},
        {QT_TRANSLATE_NOOP("frmPreferences", "View Columns"),
         QT_TRANSLATE_NOOP("frmPreferences", "Check the fields to display as columns, or uncheck to hide\r\n"
                                             "the column(s) in the Scheduling Form's listview control.")},
    }};
    return cards;
}

void VerificationError(const std::string& sText) {
    MsgBox(sText, Buttons::OK, Icon::None, S(QCoreApplication::translate("frmPreferences", "Verification Error")));
}

} // namespace

frmPreferences::frmPreferences(QWidget* parent) : QDialog(parent) {
    setObjectName("frmPreferences");
    setWindowTitle(tr("Stowline Preferences"));
    setWindowIcon(QIcon(":/icons/stowline.svg"));
    setModal(true);

    for (int i = 0; i < 8; ++i)
        cmdCueCard[i] = CueCardButton(this, QString("cmdCueCard%1").arg(i), tr("Help on this setting"), 28);

    QGridLayout* grid = BuildSettings();
    QGroupBox* columnsBox = BuildColumns();
    QHBoxLayout* buttons = OkCancelRow(this, tr("OK"), cmdOk, cmdCancel);

    auto* top = new QHBoxLayout;
    top->addLayout(grid, 3);
    top->addWidget(columnsBox, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(BuildReports());
    layout->addWidget(BuildPower());
    layout->addLayout(buttons);

    ConnectHandlers();
    Form_Load();
}

// The settings, one labelled row each, with their help buttons.
QGridLayout* frmPreferences::BuildSettings() {
    auto makeCombo = [this](const char* sName) {
        auto* c = new QComboBox(this);
        c->setObjectName(sName);
        return c;
    };
    cmbMaxBackupCopies = makeCombo("cmbMaxBackupCopies");
    cmbStopOnError = makeCombo("cmbStopOnError");
    cmbUseSystemTray = makeCombo("cmbUseSystemTray");
    cmbLogMode = makeCombo("cmbLogMode");
    cmbCommentMode = makeCombo("cmbCommentMode");
    txtLogViewer = new QLineEdit(this);
    txtLogViewer->setObjectName("txtLogViewer");
    cmdBrowseViewer = new QPushButton("...", this);
    cmdBrowseViewer->setObjectName("cmdBrowseViewer");
    cmdBrowseViewer->setToolTip(tr("Choose the log viewer program"));
    cmdBrowseViewer->setFixedWidth(32);
    chkSaveFormSize = new QCheckBox(tr("Save Screen Size"), this);
    chkSaveFormSize->setObjectName("chkSaveFormSize");
    chkRunMissedBackups = new QCheckBox(tr("Run missed backups at start-up"), this);
    chkRunMissedBackups->setObjectName("chkRunMissedBackups");
    chkRunMissedBackups->setToolTip(
        tr("A scheduled run missed while the computer was off or asleep runs once when Stowline starts or wakes "
           "(up to seven days back)"));
    chkMountBackupDrive = new QCheckBox(tr("Mount the backup drive when it is connected"), this);
    chkMountBackupDrive->setObjectName("chkMountBackupDrive");
    chkMountBackupDrive->setToolTip(tr("A job's target drive that is connected but not mounted is mounted "
                                       "(through udisks2); no other drive is mounted"));
    spnStaleDays = new QSpinBox(this);
    spnStaleDays->setObjectName("spnStaleDays");
    spnStaleDays->setRange(0, 3650);
    spnStaleDays->setSuffix(tr(" days"));
    spnStaleDays->setSpecialValueText(tr("off"));
    txtOffsiteBandwidth = new QLineEdit(this);
    txtOffsiteBandwidth->setObjectName("txtOffsiteBandwidth");
    // Handed to rclone as written: its own syntax, timetables included.
    txtOffsiteBandwidth->setToolTip(tr("rclone's --bwlimit syntax, such as 10M, or a timetable such as "
                                       "\"08:00,512k 19:00,off\"; empty: unlimited"));
    txtOffsiteBandwidth->setPlaceholderText(tr("unlimited"));

    auto* grid = new QGridLayout;
    int row = 0;
    auto addRow = [&](const QString& sLabel, QWidget* field, int iCue) {
        auto* label = new QLabel(sLabel, this);
        label->setWordWrap(true);
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        grid->addWidget(cmdCueCard[iCue], row, 2);
        ++row;
    };
    addRow(tr("Maximum number of Backup Copies?"), cmbMaxBackupCopies, 0);
    addRow(tr("Stop Auto Backups?"), cmbStopOnError, 1);
    addRow(tr("Run Stowline in System Tray (Yes for Auto-Scheduled Backups)"), cmbUseSystemTray, 2);
    addRow(tr("Transaction Logging Mode"), cmbLogMode, 3);
    auto* viewer = new QWidget(this);
    auto* viewerLayout = new QHBoxLayout(viewer);
    viewerLayout->setContentsMargins(0, 0, 0, 0);
    viewerLayout->addWidget(txtLogViewer);
    viewerLayout->addWidget(cmdBrowseViewer);
    addRow(tr("Log Viewer Executable"), viewer, 4);
    grid->addWidget(chkSaveFormSize, row, 1);
    grid->addWidget(cmdCueCard[5], row, 2);
    ++row;
    addRow(tr("Manual Comment Mode"), cmbCommentMode, 6);
    grid->addWidget(chkRunMissedBackups, row++, 1);
    grid->addWidget(chkMountBackupDrive, row++, 1);
    {
        auto* label = new QLabel(tr("Warn when a job has no successful backup for N days"), this);
        label->setWordWrap(true);
        label->setBuddy(spnStaleDays);
        grid->addWidget(label, row, 0);
        grid->addWidget(spnStaleDays, row++, 1);
    }
    {
        auto* label = new QLabel(tr("Off-site bandwidth"), this);
        label->setBuddy(txtOffsiteBandwidth);
        label->setToolTip(txtOffsiteBandwidth->toolTip());
        grid->addWidget(label, row, 0);
        grid->addWidget(txtOffsiteBandwidth, row++, 1);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(0, 230);
    return grid;
}

// The view's columns in their order, with the buttons that move them.
QGroupBox* frmPreferences::BuildColumns() {
    lstColumns = new QListWidget(this);
    lstColumns->setObjectName("lstColumns");
    lstColumns->setSelectionMode(QAbstractItemView::SingleSelection);
    cmdMoveColumnUp = new QPushButton(tr("Move up"), this);
    cmdMoveColumnUp->setObjectName("cmdMoveColumnUp");
    cmdMoveColumnDown = new QPushButton(tr("Move down"), this);
    cmdMoveColumnDown->setObjectName("cmdMoveColumnDown");
    cmdDefault = new QPushButton(tr("Default"), this);
    cmdDefault->setObjectName("cmdDefault");
    auto* columnsBox = new QGroupBox(tr("View columns"), this);
    columnsBox->setObjectName("fraColumns");
    auto* columnButtons = new QVBoxLayout;
    columnButtons->addWidget(cmdMoveColumnUp);
    columnButtons->addWidget(cmdMoveColumnDown);
    columnButtons->addWidget(cmdDefault);
    columnButtons->addStretch();
    columnButtons->addWidget(cmdCueCard[7]);
    auto* columnsLayout = new QHBoxLayout(columnsBox);
    columnsLayout->addWidget(lstColumns);
    columnsLayout->addLayout(columnButtons);
    return columnsBox;
}

// How scheduled runs spare a laptop; runs started by hand are never held back.
QGroupBox* frmPreferences::BuildPower() {
    chkPostponeOnBattery = new QCheckBox(tr("Postpone scheduled backups while on battery"), this);
    chkPostponeOnBattery->setObjectName("chkPostponeOnBattery");
    chkPostponeOnBattery->setToolTip(tr("A scheduled backup waits for mains power and starts when it returns."));
    chkBackgroundRuns = new QCheckBox(tr("Back up in the background"), this);
    chkBackgroundRuns->setObjectName("chkBackgroundRuns");
    chkBackgroundRuns->setToolTip(tr("Scheduled backups give way to your work: low priority, half the processor "
                                     "cores. Backups started by hand run at full speed."));
    chkPostponeOffsiteMetered = new QCheckBox(tr("Postpone off-site copies on metered networks"), this);
    chkPostponeOffsiteMetered->setObjectName("chkPostponeOffsiteMetered");
    chkPostponeOffsiteMetered->setToolTip(
        tr("The off-site copy of a scheduled backup waits until the network is no longer metered."));
    auto* powerBox = new QGroupBox(tr("Power and network"), this);
    powerBox->setObjectName("fraPower");
    auto* powerLayout = new QVBoxLayout(powerBox);
    powerLayout->addWidget(chkPostponeOnBattery);
    powerLayout->addWidget(chkBackgroundRuns);
    powerLayout->addWidget(chkPostponeOffsiteMetered);
    return powerBox;
}

void frmPreferences::ConnectHandlers() {
    connect(cmdMoveColumnUp, &QPushButton::clicked, this, &frmPreferences::cmdMoveColumnUp_Click);
    connect(cmdMoveColumnDown, &QPushButton::clicked, this, &frmPreferences::cmdMoveColumnDown_Click);
    connect(cmdDefault, &QPushButton::clicked, this, &frmPreferences::cmdDefault_Click);
    connect(cmdBrowseViewer, &QPushButton::clicked, this, &frmPreferences::cmdBrowseViewer_Click);
    for (int i = 0; i < 8; ++i)
        connect(cmdCueCard[i], &QPushButton::clicked, this, [this, i] { cmdCueCard_Click(i); });
    connect(cmdOk, &QPushButton::clicked, this, &frmPreferences::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmPreferences::cmdCancel_Click);
    connect(cmdSendTestReport, &QPushButton::clicked, this, &frmPreferences::cmdSendTestReport_Click);
}

void frmPreferences::Form_Load() {
    libErrorHandler::Trap("frmPreferences", "Form_Load()", [&] {
        for (int i = 1; i <= 99; ++i)
            cmbMaxBackupCopies->addItem(QString::number(i));
        cmbStopOnError->addItems({QT_TRANSLATE_NOOP("frmPreferences", "Yes"), "No"});
        cmbUseSystemTray->addItems({QT_TRANSLATE_NOOP("frmPreferences", "Yes"), "No"});
        cmbLogMode->addItems({QT_TRANSLATE_NOOP("frmPreferences", "Detailed"), "Standard", "Minimal", "Errors only"});
        cmbCommentMode->addItems({QT_TRANSLATE_NOOP("frmPreferences", "Never"), "Always", "Job defined"});

        std::array<int, kColumns> positions{};
        for (int i = 0; i < kColumns; ++i)
            positions[i] = appPreferences::Columns[i].Position;
        FillColumns(positions);

        cmbStopOnError->setCurrentIndex(appPreferences::StopOnError ? 0 : 1);
        cmbUseSystemTray->setCurrentIndex(appPreferences::UseSystemTray ? 0 : 1);
        int iCopies = appPreferences::MaxBackupCopies;
        cmbMaxBackupCopies->setCurrentIndex(iCopies >= 1 && iCopies <= 99 ? iCopies - 1 : -1);
        cmbLogMode->setCurrentIndex(
            appPreferences::LoggingMode >= 0 && appPreferences::LoggingMode <= 3 ? appPreferences::LoggingMode : -1);
        cmbCommentMode->setCurrentIndex(
            appPreferences::Commenting >= 0 && appPreferences::Commenting <= 2 ? appPreferences::Commenting : -1);
        txtLogViewer->setText(Q(appPreferences::LogViewCommand));
        chkSaveFormSize->setChecked(appPreferences::SaveFormSize);
        chkRunMissedBackups->setChecked(appPreferences::RunMissedBackups);
        chkMountBackupDrive->setChecked(appPreferences::MountBackupDrive);
        spnStaleDays->setValue(appPreferences::StaleDays);
        txtOffsiteBandwidth->setText(Q(appPreferences::OffsiteBandwidth));
        LoadReports();
        chkPostponeOnBattery->setChecked(appPreferences::PostponeOnBattery);
        chkBackgroundRuns->setChecked(appPreferences::BackgroundRuns);
        chkPostponeOffsiteMetered->setChecked(appPreferences::PostponeOffsiteMetered);
    });
}

// Puts each caption into the row of its display position, checked when shown. A layout in
// which two columns claim one row (a damaged file) still lists every column once.
void frmPreferences::FillColumns(const std::array<int, kColumns>& positions) {
    std::array<int, kColumns> rowOf{};
    std::array<bool, kColumns> taken{};
    rowOf.fill(-1);
    for (int i = 0; i < kColumns; ++i) {
        int iRow = std::abs(positions[i]);
        if (i == appPreferences::colJobName) iRow = 0;
        if (iRow < kColumns && !taken[iRow]) {
            rowOf[i] = iRow;
            taken[iRow] = true;
        }
    }
    for (int i = 0; i < kColumns; ++i) {
        if (rowOf[i] >= 0) continue;
        for (int r = 1; r < kColumns; ++r)
            if (!taken[r]) {
                rowOf[i] = r;
                taken[r] = true;
                break;
            }
    }
    lstColumns->clear();
    std::array<QListWidgetItem*, kColumns> rows{};
    for (int i = 0; i < kColumns; ++i) {
        auto* item = new QListWidgetItem(frmSchedule::ColumnCaption(i));
        item->setData(Qt::UserRole, i);
        if (i == appPreferences::colJobName) {
            // The job name is always the first column and always shown.
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            item->setCheckState(Qt::Checked);
        } else {
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            item->setCheckState(positions[i] >= 0 ? Qt::Checked : Qt::Unchecked);
        }
        rows[rowOf[i]] = item;
    }
    for (auto* item : rows)
        lstColumns->addItem(item);
    // Wide enough for the longest caption with its check box, whatever the font or style.
    lstColumns->setMinimumWidth(lstColumns->sizeHintForColumn(0) + 2 * lstColumns->frameWidth() +
                                lstColumns->verticalScrollBar()->sizeHint().width());
}

void frmPreferences::SwapRows(int iFirst, int iSecond) {
    QListWidgetItem* a = lstColumns->item(iFirst);
    QListWidgetItem* b = lstColumns->item(iSecond);
    QString sText = a->text();
    Qt::CheckState state = a->checkState();
    Qt::ItemFlags flags = a->flags();
    const QVariant column = a->data(Qt::UserRole);
    a->setData(Qt::UserRole, b->data(Qt::UserRole));
    b->setData(Qt::UserRole, column);
    a->setText(b->text());
    a->setCheckState(b->checkState());
    a->setFlags(b->flags());
    b->setText(sText);
    b->setCheckState(state);
    b->setFlags(flags);
}

void frmPreferences::cmdMoveColumnUp_Click() {
    int i = lstColumns->currentRow();
    if (i > 1 && lstColumns->item(i)->isSelected()) {
        SwapRows(i, i - 1);
        lstColumns->setCurrentRow(i - 1);
    }
}

void frmPreferences::cmdMoveColumnDown_Click() {
    int i = lstColumns->currentRow();
    if (i > 0 && i < lstColumns->count() - 1 && lstColumns->item(i)->isSelected()) {
        SwapRows(i, i + 1);
        lstColumns->setCurrentRow(i + 1);
    }
}

void frmPreferences::cmdDefault_Click() {
    // The default layout: identity order; "Time last run", "Runs" and "Type" hidden.
    std::array<int, kColumns> positions{0, 1, -2, 3, 4, 5, 6, -7, -8};
    int iCurrent = lstColumns->currentRow();
    FillColumns(positions);
    if (iCurrent >= 0) lstColumns->setCurrentRow(iCurrent);
}

void frmPreferences::cmdBrowseViewer_Click() {
    QString sFile = QFileDialog::getOpenFileName(this, tr("Log Viewer Executable"), QString(), tr("Programs (*)"),
                                                 nullptr, QFileDialog::ReadOnly);
    if (!sFile.isEmpty()) txtLogViewer->setText(sFile);
}

void frmPreferences::cmdCueCard_Click(int iIndex) {
    if (iIndex < 0 || iIndex >= 8) return;
    const CueCard& card = CueCards()[iIndex];
    MsgBox(S(tr(card.Text)), Buttons::OK, Icon::Information, S(tr(card.Title)));
}

bool frmPreferences::LogViewerIsValid(const std::string& sViewer) {
    std::string sPath = libStrings::Trim(sViewer);
    if (sPath.empty()) return false;
    if (libFiles::FileExists(sPath)) return true;
    if (sPath.find(libFiles::PathSep) != std::string::npos) return false;
    const char* pPath = std::getenv("PATH");
    if (pPath == nullptr) return false;
    // Linux separates the folders of the search path with ":".
    for (const std::string& sFolder : libStrings::Split(pPath, ":")) {
        if (sFolder.empty()) continue;
        if (libFiles::FileExists(libFiles::AddTrailingSlash(sFolder) + sPath)) return true;
    }
    return false;
}

void frmPreferences::cmdOK_Click() {
    libErrorHandler::Trap("frmPreferences", "cmdOK_Click()", [&] {
        if (cmbMaxBackupCopies->currentIndex() < 0) {
            VerificationError("You must select a value between 1 and 99 \r\nfor the 'Maximum Number of Backup Copies' "
                              "\r\ndrop-down box.");
            return;
        }
        if (cmbStopOnError->currentIndex() < 0) {
            VerificationError("You must select either Yes or No from \r\nthe 'Stop on Error' drop-down box. ");
            return;
        }
        if (cmbUseSystemTray->currentIndex() < 0) {
            VerificationError("You must select either Yes or No from \r\nthe 'Use system tray' drop-down box. ");
            return;
        }
        std::string sViewer = S(txtLogViewer->text());
        if (!LogViewerIsValid(sViewer)) {
            VerificationError("Log viewer is invalid ");
            return;
        }
        const std::string sBandwidth = libStrings::Trim(S(txtOffsiteBandwidth->text()));
        if (!sBandwidth.empty()) {
            // Refused now rather than failing every off-site copy later.
            const std::string sProblem = OffsiteProbe::BandwidthProblem(sBandwidth);
            if (!sProblem.empty()) {
                VerificationError(
                    S(tr("rclone does not accept the off-site bandwidth '%1': %2").arg(Q(sBandwidth), Q(sProblem))));
                txtOffsiteBandwidth->setFocus();
                return;
            }
        }
        if (!StoreReports()) return;

        appPreferences::MaxBackupCopies = static_cast<int16_t>(cmbMaxBackupCopies->currentIndex() + 1);
        appPreferences::StopOnError = cmbStopOnError->currentIndex() != 1;
        appPreferences::UseSystemTray = cmbUseSystemTray->currentIndex() != 1;
        if (cmbLogMode->currentIndex() >= 0) appPreferences::LoggingMode = cmbLogMode->currentIndex();
        appPreferences::LogViewCommand = sViewer;
        if (cmbCommentMode->currentIndex() >= 0) appPreferences::Commenting = cmbCommentMode->currentIndex();
        for (int i = 0; i < kColumns; ++i) {
            for (int r = 0; r < lstColumns->count(); ++r) {
                QListWidgetItem* item = lstColumns->item(r);
                if (item->data(Qt::UserRole).toInt() != i) continue;

                int iPosition = r;
                if (item->checkState() != Qt::Checked) iPosition = -r;
                appPreferences::Columns[i].Position = static_cast<int16_t>(iPosition);
                break;
            }
        }
        appPreferences::SaveFormSize = chkSaveFormSize->isChecked();
        appPreferences::RunMissedBackups = chkRunMissedBackups->isChecked();
        appPreferences::MountBackupDrive = chkMountBackupDrive->isChecked();
        appPreferences::StaleDays = spnStaleDays->value();
        appPreferences::OffsiteBandwidth = sBandwidth;
        appPreferences::PostponeOnBattery = chkPostponeOnBattery->isChecked();
        appPreferences::BackgroundRuns = chkBackgroundRuns->isChecked();
        appPreferences::PostponeOffsiteMetered = chkPostponeOffsiteMetered->isChecked();
        appPreferences::SavePreferences();
        m_bConfirmed = true;
        accept();
    });
}

void frmPreferences::cmdCancel_Click() { reject(); }

bool frmPreferences::Execute() {
    m_bConfirmed = false;
    exec();
    return m_bConfirmed;
}
