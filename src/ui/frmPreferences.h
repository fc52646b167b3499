#pragma once
// The preferences dialog: copy-count bound, stop-on-error, tray mode, logging mode, log viewer,
// window-size saving, comment mode, catching up missed runs, the stale-backup warning and the
// job-list columns (which are shown, in which order), the off-site copies' bandwidth limit, the
// reports sent off the machine (mail server, addresses, when; "Send test report"), and how
// scheduled runs spare a laptop (battery, background, metered networks).
// OK validates, stores the values in the process-wide preferences and writes the file.

#include <QDialog>

#include <array>
#include <string>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
struct MailSettings;

class frmPreferences : public QDialog {
    Q_OBJECT
public:
    explicit frmPreferences(QWidget* parent = nullptr);

    // Shows the dialog modally; true when OK stored the preferences.
    bool Execute();

    // A viewer text is valid when it names an existing file, or is a bare file name found in a
    // folder of the program search path.
    static bool LogViewerIsValid(const std::string& sViewer);

    QComboBox* cmbMaxBackupCopies = nullptr;
    QComboBox* cmbStopOnError = nullptr;
    QComboBox* cmbUseSystemTray = nullptr;
    QComboBox* cmbLogMode = nullptr;
    QLineEdit* txtLogViewer = nullptr;
    QPushButton* cmdBrowseViewer = nullptr;
    QCheckBox* chkSaveFormSize = nullptr;
    QComboBox* cmbCommentMode = nullptr;
    QCheckBox* chkRunMissedBackups = nullptr;       // RunMissedBackups
    QCheckBox* chkMountBackupDrive = nullptr;       // MountBackupDrive
    QSpinBox* spnStaleDays = nullptr;               // StaleDays (0 shows "off")
    QLineEdit* txtOffsiteBandwidth = nullptr;       // OffsiteBandwidth (rclone's --bwlimit; empty: unlimited)
    QCheckBox* chkPostponeOnBattery = nullptr;      // PostponeOnBattery
    QCheckBox* chkBackgroundRuns = nullptr;         // BackgroundRuns
    QCheckBox* chkPostponeOffsiteMetered = nullptr; // PostponeOffsiteMetered
    QListWidget* lstColumns = nullptr;
    QPushButton* cmdMoveColumnUp = nullptr;
    QPushButton* cmdMoveColumnDown = nullptr;
    QPushButton* cmdDefault = nullptr;
    std::array<QPushButton*, 8> cmdCueCard{};
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;
    // The "Reports" group (frmPreferencesReports.cpp): the Report* preferences, and the SMTP
    // password, stored in the desktop keyring on OK when one is typed (empty: left as it is).
    QLineEdit* txtReportSmtpUrl = nullptr;
    QLineEdit* txtReportSmtpUser = nullptr;
    QLineEdit* txtReportSmtpPassword = nullptr;
    QLineEdit* txtReportMailFrom = nullptr;
    QLineEdit* txtReportMailTo = nullptr;
    QComboBox* cmbReportWhen = nullptr; // Off, Failures, Always, Daily
    QLineEdit* txtReportCaFile = nullptr;
    QPushButton* cmdSendTestReport = nullptr;

    void cmdMoveColumnUp_Click();
    void cmdMoveColumnDown_Click();
    void cmdDefault_Click();
    void cmdBrowseViewer_Click();
    void cmdCueCard_Click(int iIndex);
    void cmdOK_Click();
    void cmdCancel_Click();
    // Sends the test mail with the settings as they stand in the dialog and says how it went.
    void cmdSendTestReport_Click();

private:
    // Construction: the settings' grid, the columns' box, then the handlers.
    QGridLayout* BuildSettings();
    QGroupBox* BuildColumns();
    QGroupBox* BuildReports();
    void LoadReports();
    // The mail settings as the dialog holds them ("" when they can be used, else why not);
    // bPassword: with the typed password, or else the keyring's.
    std::string ReportSettings(MailSettings& settings, bool bPassword) const;
    // Checks the report settings and keeps them (the password in the keyring); false, after
    // saying why, when they cannot be.
    bool StoreReports();
    QGroupBox* BuildPower();
    void ConnectHandlers();
    void Form_Load();
    void SwapRows(int iFirst, int iSecond);
    void FillColumns(const std::array<int, 9>& positions);

    bool m_bConfirmed = false;
};
