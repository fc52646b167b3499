// The restore window's off-site rows, against the SFTP server tests/cli/offsite-restore-tests.sh
// starts (it names the job and where to restore in the environment): the remote's archives are
// listed below the local ones with the remote's name, choosing one downloads it and shows its
// contents, the restore reads the download, and the download is gone once the window is.
// Closing the window during a download stops it. An unreachable remote says so and leaves the local backups usable;
// without rclone the window is as it was.

#include "ScopedEnv.h"
#include "common/TempAppFolder.h"
#include "jobs/CBackupJob.h"
#include "ui/frmRestore.h"

#include <QPushButton>
#include <chrono>

#include <QLineEdit>
#include <QRadioButton>
#include <QStatusBar>
#include <QTreeWidget>

namespace {

using OffsiteRestoreWindow = TempAppFolder;

std::string Env(const char* sName) {
    const char* s = std::getenv(sName);
    return s == nullptr ? std::string() : std::string(s);
}

int DownloadsIn(const std::string& sTarget) {
    int n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(sTarget, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        n += it->path().filename().string().rfind(".stowline-download-", 0) == 0 ? 1 : 0;
    return n;
}

TEST_F(OffsiteRestoreWindow, ARemoteArchiveIsListedDownloadedAndRestored) {
    const std::string sJobFile = Env("STOWLINE_OFFSITE_JOB"), sTo = Env("STOWLINE_OFFSITE_TO");
    if (sJobFile.empty()) GTEST_SKIP() << "run by tests/cli/offsite-restore-tests.sh with its server";
    CBackupJob job;
    ASSERT_EQ(job.Open(sJobFile), CBackupJob::FileResult::Done);
    {
        frmRestore d(job);
        const int iLocal = d.lvwBackups->topLevelItemCount();
        d.ListRemote();
        ASSERT_GT(d.lvwBackups->topLevelItemCount(), iLocal) << d.sbarRestore->currentMessage().toStdString();
        QTreeWidgetItem* row = d.lvwBackups->topLevelItem(iLocal);
        EXPECT_TRUE(row->text(0).startsWith(QString::fromStdString(job.JobName() + "_")));
        EXPECT_TRUE(row->text(0).endsWith(" (nas:backups)")) << row->text(0).toStdString();
        d.lvwBackups->setCurrentItem(row);
        EXPECT_EQ(DownloadsIn(job.TargetDirectory()), 1);
        ASSERT_GT(d.tvwContents->topLevelItemCount(), 0) << d.sbarRestore->currentMessage().toStdString();
        d.optFolder->setChecked(true);
        d.txtToFolder->setText(QString::fromStdString(sTo));
        d.cmdRestore_Click();
        EXPECT_EQ(d.LastReport().Result, libRestore::Status::Ok);
        EXPECT_GT(d.LastReport().Restored, 0);
        if (iLocal > 0) { // another row chosen: the download goes at once
            d.lvwBackups->setCurrentItem(d.lvwBackups->topLevelItem(0));
            EXPECT_EQ(DownloadsIn(job.TargetDirectory()), 0);
            d.lvwBackups->setCurrentItem(row);
            EXPECT_EQ(DownloadsIn(job.TargetDirectory()), 1);
        }
    }
    EXPECT_EQ(DownloadsIn(job.TargetDirectory()), 0) << "the window's download outlived it";
    // Closed while a slow download runs: the download stops, nothing is left, the window closes.
    appPreferences::OffsiteBandwidth = "1k";
    {
        frmRestore d(job);
        const int iLocal = d.lvwBackups->topLevelItemCount();
        d.ListRemote();
        ASSERT_GT(d.lvwBackups->topLevelItemCount(), iLocal);
        d.show();
        // Closed as the first progress shows, as a user's click between two reads would be.
        QObject::connect(d.sbarRestore, &QStatusBar::messageChanged, &d, [&d](const QString& s) {
            if (!s.contains(" bytes (") || !d.cmdClose->isEnabled()) return;
            EXPECT_FALSE(d.cmdRestore->isEnabled());
            d.cmdClose->click();
        });
        const auto start = std::chrono::steady_clock::now();
        d.lvwBackups->setCurrentItem(d.lvwBackups->topLevelItem(iLocal));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(d.result(), QDialog::Rejected);
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(d.tvwContents->topLevelItemCount(), 0);
        EXPECT_EQ(DownloadsIn(job.TargetDirectory()), 0);
    }
    appPreferences::OffsiteBandwidth.clear();
}

TEST_F(OffsiteRestoreWindow, AnUnreachableRemoteLeavesTheLocalBackupsUsable) {
    const std::string sJobFile = Env("STOWLINE_OFFSITE_UNREACHABLE_JOB");
    if (sJobFile.empty()) GTEST_SKIP() << "run by tests/cli/offsite-restore-tests.sh with its server";
    CBackupJob job;
    ASSERT_EQ(job.Open(sJobFile), CBackupJob::FileResult::Done);
    frmRestore d(job);
    const int iLocal = d.lvwBackups->topLevelItemCount();
    ASSERT_GT(iLocal, 0);
    const QString sBefore = d.sbarRestore->currentMessage();
    {
        ScopedEnv noRclone;
        noRclone.Set("PATH", "/nonexistent");
        d.ListRemote();
        EXPECT_EQ(d.lvwBackups->topLevelItemCount(), iLocal);
        EXPECT_EQ(d.sbarRestore->currentMessage(), sBefore) << "nothing said without rclone";
    }
    d.ListRemote();
    EXPECT_EQ(d.lvwBackups->topLevelItemCount(), iLocal);
    EXPECT_TRUE(d.sbarRestore->currentMessage().contains("could not be listed"))
        << d.sbarRestore->currentMessage().toStdString();
    d.lvwBackups->setCurrentItem(nullptr);
    d.lvwBackups->setCurrentItem(d.lvwBackups->topLevelItem(0));
    EXPECT_GT(d.tvwContents->topLevelItemCount(), 0);
}

} // namespace
