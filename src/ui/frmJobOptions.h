#pragma once
// The job editor: five pages (General, Scheduling, Files, Exclude, Compression). A new job is
// walked through as a wizard, page by page with checks; an existing job has every page open.
// OK checks every page again, writes the controls back into the job, renames it (moving its
// backups on request) and EditJob saves the job file.
//
// Control arrays carry their index in the object name: "fraOptions2", "cmdCueCard7".

#include "engine/Snapshots.h"
#include "jobs/CBackupJob.h"

#include <QDialog>

#include <array>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class UpDownSpinner;

class frmJobOptions : public QDialog {
    Q_OBJECT
public:
    static constexpr int PageCount = 5;
    static constexpr int LastPage = PageCount - 1;
    static constexpr int CueCardCount = 13;
    static constexpr const char* DefaultJobNameBase = "New Backup Job";
    // The module name its error traps report, and the title of its refusals.
    static constexpr const char* kModule = "frmJobOptions";
    static constexpr const char* kVerify = QT_TR_NOOP("Verification Error");

    // Edits job modally over pOwner. True when the user confirmed with OK; the job file has then
    // been saved. The job names checked for uniqueness are those of pOwner's "lvwSchedule" list
    // (its current row is the job being edited), when pOwner has one.
    static bool EditJob(CBackupJob& job, QWidget* pOwner);

    explicit frmJobOptions(QWidget* pParent = nullptr);
    ~frmJobOptions() override;

    // Binds the editor to a job and loads the controls (what EditJob does before showing it).
    // jobNames is the main window's job list in list order; iSelected the row of the job being
    // edited (-1 when none).
    void BeginEdit(CBackupJob& job, const std::vector<std::string>& jobNames, int iSelected);

    int CurrentPage() const { return m_iCurrentPage; }
    void SetCurrentPage(int iPage);
    bool IsNewJob() const { return m_bIsNewJob; }
    bool JobSaved() const { return m_bJobSaved; }
    const std::string& OneShotDatesText() const { return m_sOneShotDatesText; }
    // The default name of a new job given the job list: "New Backup Job", "New Backup Job 2", ...
    static std::string DefaultJobName(const std::vector<std::string>& jobNames);

    bool VerifyJobNameStep();
    bool VerifyTargetDirectoryStep();
    bool VerifyRunCountStep();
    bool VerifyScheduleStep();
    bool VerifySourceStep();
    bool VerifyExcludeStep();
    bool VerifyPasswordStep();
    bool VerifyStep(int iPage);
    bool VerifyCurrentStep() { return VerifyStep(m_iCurrentPage); }
    bool VerifyAllSteps();
    void EnableFormButtons(int iPage);

    // ---- controls (public so that tests find and drive them) ----
    QLabel* lblHeader;
    std::array<QFrame*, PageCount> fraOptions{};
    std::array<QPushButton*, PageCount> cmdFormButton{};
    std::array<QPushButton*, CueCardCount> cmdCueCard{};
    QPushButton* cmdBack;
    QPushButton* cmdNext;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
    // General
    QLineEdit* txtBackupJobName;
    QLineEdit* txtTargDir;
    QPushButton* cmdBrowseTargetDirectory;
    QCheckBox* chkRunOnConnect = nullptr; // the job's RunOnConnect
    QGroupBox* fraBackupType;
    QRadioButton* optFullBackup;
    QRadioButton* optIncremental;
    QLabel* lblRunCount;
    QLineEdit* txtRunCount;
    QPushButton* cmdClearRunCount;
    // Scheduling
    QGroupBox* fraRecurring;
    QComboBox* cmbFrequency;
    QLabel* lblSelectDayOf;
    QCheckBox* chkMonday;
    QCheckBox* chkTuesday;
    QCheckBox* chkWednesday;
    QCheckBox* chkThursday;
    QCheckBox* chkFriday;
    QCheckBox* chkSaturday;
    QCheckBox* chkSunday;
    QComboBox* cmbDayOfMonth;
    QLabel* lblStartTime;
    QLineEdit* txtStartTime;
    UpDownSpinner* vscrTime;
    QGroupBox* fraOneShot;
    QPlainTextEdit* txtOneShot;
    QPushButton* cmdOneShot;
    // Files
    QListWidget* lstFilesToBackup;
    QPushButton* cmdAddFile;
    QPushButton* cmdRemove;
    QCheckBox* chkSubdirectories;
    // Exclude
    QLineEdit* txtExcludeSpec;
    QPushButton* cmdAddExclude;
    QListWidget* lstExcludeFiles;
    QPushButton* cmdRemoveExclude;
    // Compression
    std::array<QRadioButton*, 2> optCompression{};
    QGroupBox* fraZip;
    QLabel* lblCopiesPrefix;
    QComboBox* cmbNumCountedZipsToKeep;
    QComboBox* cmbNumDatedZipsToKeep;
    QComboBox* cmbKeepPeriod;
    QLabel* lblNbrCopies;
    QCheckBox* chkPasswordProtect;
    QLineEdit* txtPassword;
    std::array<QRadioButton*, 2> optEncryption{}; // 0: AES-256, 1: traditional
    QCheckBox* chkKeyring = nullptr;              // the job's PasswordStore: Keyring when checked
    QGroupBox* fraCopyType;
    std::array<QRadioButton*, 3> optCopyStyle{};
    QCheckBox* chkVerify = nullptr; // the job's Verify
    // Off-site copy (frmJobOptionsOffsite.cpp)
    QGroupBox* fraOffsite = nullptr;
    QComboBox* cmbOffsiteRemote = nullptr;  // the job's OffsiteRemote: editable, empty = off
    QSpinBox* spnOffsiteKeepDays = nullptr; // the job's OffsiteKeepDays
    QPushButton* cmdOffsiteTest = nullptr;
    QLabel* lblOffsiteStatus = nullptr; // rclone missing, or the last test's outcome
    // Monitoring (frmJobOptionsPing.cpp): the job's PingUrl, empty = none.
    QLineEdit* txtPingUrl = nullptr;
    // Dated snapshots (frmJobOptionsSnapshots.cpp), copy style only
    QGroupBox* fraSnapshots = nullptr;
    QCheckBox* chkSnapshots = nullptr; // the job's Snapshots
    QLabel* lblKeepLast = nullptr;
    QLabel* lblKeepNewest = nullptr;
    // KeepLast, KeepDaily, KeepWeekly, KeepMonthly, KeepYearly, and the word after each
    std::array<QSpinBox*, 5> spnKeep{};
    std::array<QLabel*, 5> lblKeepUnit{};
    QLabel* lblSnapshotPreview = nullptr;
    QListWidget* lstSnapshotPreview = nullptr; // the job's snapshots with the verdicts of the settings shown
    // Exclude page: the job's ExcludeCaches
    QCheckBox* chkExcludeCaches = nullptr;

public slots:
    void cmdNext_Click();
    void cmdBack_Click();
    void cmdFormButton_Click(int iIndex);
    void cmdOK_Click();
    void cmdCancel_Click();
    void cmbFrequency_Click();
    void cmbKeepPeriod_Click();
    void optCompression_Click();
    void chkPasswordProtect_Click();
    void vscrTime_Change();
    // Checks the start-time text and rewrites it as hh:mm. True when accepted.
    bool txtStartTime_LostFocus();
    void txtStartTime_GotFocus();
    void txtBackupJobName_GotFocus();
    void cmdOneShot_Click();
    void cmdAddFile_Click();
    void cmdRemove_Click();
    void cmdAddExclude_Click();
    void cmdRemoveExclude_Click();
    void cmdBrowseTargetDirectory_Click();
    void cmdClearRunCount_Click();
    void cmdCueCard_Click(int iIndex);
    void RefreshOneShotText();
    // Tests the remote path typed in the off-site group; its outcome goes into the group.
    void cmdOffsiteTest_Click();

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;

private:
    // Construction of the pages (frmJobOptions.cpp).
    void BuildPages();
    QFrame* BuildGeneralPage();
    QFrame* BuildSchedulingPage();
    QFrame* BuildFilesPage();
    QFrame* BuildExcludePage();
    QFrame* BuildCompressionPage();
    void ConnectHandlers();
    // The keyring check box (frmJobOptionsKeyring.cpp): probes the keyring once and shows the
    // job's store; stores a password there before a save (false, after a message box, when it
    // cannot: the job is then not saved).
    void SetupKeyring(const CBackupJob& job);
    bool StoreKeyringPassword(const std::string& sJobName, const std::string& sPassword);
    // The off-site group (frmJobOptionsOffsite.cpp): built on the Compression page, loaded with
    // rclone's remotes and the job's keys, checked, and written back. Without rclone the group
    // stays disabled and the job's keys are left as they are.
    QGroupBox* BuildOffsiteGroup(QWidget* pParent);
    // The monitoring ping's address (frmJobOptionsPing.cpp), on the Compression page too.
    QGroupBox* BuildPingGroup(QWidget* pParent);
    bool VerifyPingStep();
    void SetupOffsite(const CBackupJob& job);
    // Lists rclone's remotes into the combo box once, when the Compression page is first shown.
    void ListOffsiteRemotes();
    // The group's controls enabled as rclone, the backup style and a running test allow.
    void EnableOffsiteControls();
    bool VerifyOffsiteStep();
    void StoreOffsite(CBackupJob& job) const;
    // The snapshot group (frmJobOptionsSnapshots.cpp): built on the Compression page, loaded
    // from the job, live only for a copy-style job with the box ticked; the preview lists the
    // job's snapshots each time the page is shown and applies the settings shown as they change.
    QGroupBox* BuildSnapshotGroup(QWidget* pParent);
    void SetupSnapshots(const CBackupJob& job);
    void ListSnapshots();
    void EnableSnapshotControls();
    void RefreshSnapshotPreview();
    CBackupJob::SnapshotKeep SnapshotKeepShown() const;
    void StoreSnapshots(CBackupJob& job) const;
    // Loading (frmJobOptionsPages.cpp).
    void SetupForm();
    void FillLists();
    void ShowJob(const CBackupJob& job);
    void ShowJobArchive(const CBackupJob& job);
    void ShowJobSchedule(const CBackupJob& job);
    void ShowNewJob();
    void SelectComboIndex(QComboBox* pCombo, int iIndex);
    // A focus request that waits until the widget's page is shown.
    void RequestFocus(QWidget* pWidget);
    void ApplyPendingFocus();
    // The reason a start-time text is refused ("" when it is a valid time).
    std::string StartTimeProblem(const std::string& sText) const;
    bool JobNameKeyAccepted(const QString& sText) const;
    void SetFieldColour(QWidget* pField, bool bInUse);
    void HelpContents();

    CBackupJob* m_pEditedJob = nullptr;
    QWidget* m_pOwner = nullptr;
    bool m_bIsNewJob = false;
    int m_iCurrentPage = 0;
    int m_iMaxPageReached = 0;
    bool m_bJobSaved = false;
    std::string m_sOneShotDatesText;
    std::vector<std::string> m_jobNames;
    int m_iSelectedJob = -1;
    QWidget* m_pPendingFocus = nullptr;
    bool m_bInTimeChange = false;
    bool m_bInTimeCheck = false;
    bool m_bAppFilterInstalled = false;
    bool m_bKeyringAnswers = false;               // the keyring answered the probe made when the editor opened
    bool m_bRcloneInstalled = false;              // rclone was found when the editor opened
    bool m_bOffsiteTesting = false;               // a test of the remote is running (it lets events through)
    bool m_bRemotesListed = false;                // rclone's remotes are in the combo box
    std::vector<Snapshots::Snapshot> m_snapshots; // the job's snapshots, listed when the page was shown
    std::string m_sSnapshotProblem;               // why they could not be listed ("" when they were)
};
