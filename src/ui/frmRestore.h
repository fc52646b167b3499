#pragma once
// The restore window of one job: its backups newest first, the chosen backup's contents as a
// tree with sizes and times, a wildcard filter, and the restore of the selected files and
// folders to their original place or into a chosen folder, with progress in the window's
// status line and an Abort. Questions (existing files, a password) go through the
// user-interaction seam. The window reads the job's backups for as long as it is open: a
// backup of the job is put off meanwhile, and the window does not open while one runs.
// A job with an off-site remote also lists the remote's backups, marked with the remote's name;
// choosing one downloads it into the job's temporary folder (removed when another backup is
// chosen or the window closes), and it is then read and restored as a local one.
// A copy job's dated snapshots are listed as backups too (read and restored as a copy tree), and
// "Versions..." on a file lists every version of it across the local backups (frmVersions).

#include "engine/JobLock.h"
#include "engine/OffsiteFetch.h"
#include "engine/libRestore.h"
#include "jobs/CBackupJob.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QProgressBar;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;

class frmRestore : public QDialog {
    Q_OBJECT
public:
    explicit frmRestore(const CBackupJob& job, QWidget* parent = nullptr);

    // Shows the window modally for the job; refuses, saying why, while a backup of it runs.
    static void Execute(const CBackupJob& job, QWidget* owner);
    // A backup of the job held its backups when the window was made: nothing was read.
    bool RunningBackup() const { return m_reading.Busy(); }
    // What the user is told then.
    static std::string BusyText(const std::string& sJobName);

    QTreeWidget* lvwBackups = nullptr;  // backup, date, size
    QTreeWidget* tvwContents = nullptr; // name, size, modified (multi-select)
    QLineEdit* txtFilter = nullptr;     // wildcard specifications separated by ";" or blanks
    QRadioButton* optOriginal = nullptr;
    QRadioButton* optFolder = nullptr;
    QLineEdit* txtToFolder = nullptr;
    QPushButton* cmdBrowse = nullptr;
    QPushButton* cmdRestore = nullptr;
    QPushButton* cmdVersions = nullptr; // every version of the chosen file
    QPushButton* cmdAbort = nullptr;
    QPushButton* cmdClose = nullptr;
    QStatusBar* sbarRestore = nullptr;
    // A restore's bar (percent of the bytes, and the time left), shown while it goes on.
    QProgressBar* prgRestore = nullptr;

    void lvwBackups_Click();
    void txtFilter_Change();
    void cmdBrowse_Click();
    void cmdRestore_Click();
    void cmdAbort_Click();
    void cmdVersions_Click(); // frmRestoreVersions.cpp

    // Lists the job's backups on its off-site remote below the local ones (done once the window
    // is shown; tests call it). Nothing happens without a remote or without rclone.
    void ListRemote();

    // The outcome of the last restore (for the caller and tests).
    const libRestore::Report& LastReport() const { return m_report; }

    // Asks until the password opens the backup's encrypted entries; false (said) when the user
    // gives up.
    static bool AskPassword(const libRestore::BackupInfo& backup, std::string& sPassword);
    // Asks once how to treat iExisting files that already exist (Skip when none does).
    static libRestore::Conflict ConflictChoice(int iExisting);
    // Times and sizes as the restore windows show them.
    static QString TimeText(int64_t lNs);
    static QString SizeText(uint64_t lBytes);
    // A local backup's row in lvwBackups: its name and date (frmRestoreVersions.cpp).
    static QStringList BackupRow(const libRestore::BackupInfo& backup);

protected:
    void reject() override; // no closing while a restore runs

private:
    void ConnectControls();
    void FillContents();
    std::vector<libRestore::Entry> SelectedEntries() const;
    // The file entry of the current row of the contents (nullptr for a folder or none).
    const libRestore::Entry* CurrentFile() const;
    // Asks once how to treat files that already exist (Skip when none does).
    libRestore::Conflict AskConflict(const std::vector<libRestore::Entry>& selection);
    void SetStatus(const QString& sText);
    // The backup behind the chosen row: a local one, or the download of a remote one (fetched
    // when it is not there yet). nullptr when there is none (the reason shown).
    const libRestore::BackupInfo* ChosenBackup();
    void SetBusy(bool bBusy);

    JobLock::ReadScope m_reading; // first: held before anything is read, let go last
    CBackupJob m_job;
    std::vector<libRestore::BackupInfo> m_backups;
    std::vector<OffsiteFetch::RemoteBackup> m_remote; // listed after m_backups
    OffsiteFetch::Download m_download;                // of the remote row m_iDownloaded
    int m_iDownloaded = -1;
    bool m_bRemoteListed = false;
    std::vector<libRestore::Entry> m_entries; // the chosen backup's whole contents
    libRestore::Report m_report;
    bool m_bRunning = false;
    bool m_bAbort = false;
    bool m_bDownloading = false;        // a remote backup is being downloaded
    bool m_bCloseAfterDownload = false; // the window was closed during it: it closes once stopped
};
