#pragma once
// Every version of one file across a job's local backups (its snapshots and copy tree, or its
// archives), newest first: the backup's date, the file's size, and whether it differs from the
// version before it. The chosen version is restored through the ordinary restore (to the
// original place or into a folder, with its question about existing files), or opened: a copy
// is restored into a private temporary folder (0700) and handed to the desktop's handler for it;
// the folder goes when the window does.

#include "engine/FileVersions.h"
#include "engine/libRestore.h"
#include "jobs/CBackupJob.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QLineEdit;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTemporaryDir;
class QTreeWidget;

class frmVersions : public QDialog {
    Q_OBJECT
public:
    // sToFolder: where the restore window would restore ("" the original place).
    frmVersions(const CBackupJob& job, const std::vector<libRestore::BackupInfo>& backups,
                const libRestore::Entry& file, const std::string& sToFolder, QWidget* parent = nullptr);
    ~frmVersions() override;

    QTreeWidget* lvwVersions = nullptr; // date, size, change, backup
    QRadioButton* optOriginal = nullptr;
    QRadioButton* optFolder = nullptr;
    QLineEdit* txtToFolder = nullptr;
    QPushButton* cmdRestore = nullptr;
    QPushButton* cmdOpen = nullptr;
    QPushButton* cmdClose = nullptr;
    QStatusBar* sbarVersions = nullptr;

    void cmdRestore_Click();
    void cmdOpen_Click();

    const std::vector<FileVersions::Version>& Versions() const { return m_versions; }
    const libRestore::Report& LastReport() const { return m_report; }
    // The private folder opened copies are restored into ("" before the first).
    std::string OpenFolder() const;
    // What the Change column says of a version.
    static QString ChangeText(FileVersions::Change change);

private:
    const FileVersions::Version* Chosen();
    // Restores the version through the ordinary restore; false (said) when it did not go whole.
    bool RestoreVersion(const FileVersions::Version& version, const std::string& sToFolder,
                        libRestore::Conflict onConflict);

    CBackupJob m_job;
    std::vector<FileVersions::Version> m_versions;
    libRestore::Report m_report;
    std::unique_ptr<QTemporaryDir> m_openFolder;
};
