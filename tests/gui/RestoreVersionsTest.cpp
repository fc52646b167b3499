// The restore window of a job that keeps snapshots (made by hand as a snapshot run lays them
// out): the snapshots are listed newest first beside the older plain copy; "Versions..." on a
// file lists its versions with what changed; a version restores into a folder, to its original
// place and beside an existing file; one opens from a private folder that goes with the window.

#include "DriveDialog.h"
#include "common/TempAppFolder.h"
#include "engine/Snapshots.h"
#include "jobs/CBackupJob.h"
#include "ui/frmRestore.h"
#include "ui/frmVersions.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using RestoreVersionsWindow = TempAppFolder;

QTreeWidgetItem* ItemNamed(QTreeWidget* tree, const QString& sName) {
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        if ((*it)->text(0) == sName) return *it;
    return nullptr;
}

TEST_F(RestoreVersionsWindow, SnapshotsAreListedAndEachVersionOfAFileRestoresOrOpens) {
    const std::string sSrc = Root + "src", sTgt = Root + "bk/";
    WriteFile(sSrc + "/a.txt", "a one");
    fs::create_directories(sTgt);
    fs::copy(sSrc, sTgt + "src", fs::copy_options::recursive); // the plain copy from before
    const std::string sFolder = Snapshots::FolderOf(sTgt, "Docs") + "/";
    const std::string s1 = sFolder + "2026-12-01_100000/src/", s2 = sFolder + "2026-12-02_100000/src/",
                      s3 = sFolder + "2026-12-03_100000/src/";
    WriteFile(s1 + "a.txt", "a one");
    WriteFile(s2 + "a.txt", "a two");
    fs::create_directories(s3);
    fs::create_hard_link(s2 + "a.txt", s3 + "a.txt");
    CBackupJob job;
    job.SetJobNameRaw("Docs");
    job.SetTargetDirectoryRaw(sTgt);
    job.SetFileNameRaw(CBackupJob::JobFileNameFor("Docs"));
    job.SetFilesToZip(sSrc + "\r\n");
    job.SetCompress(false);
    job.SetSubdirectories(true);
    job.SetSnapshots(true);

    frmRestore d(job);
    ASSERT_EQ(d.lvwBackups->topLevelItemCount(), 4);
    EXPECT_EQ(d.lvwBackups->topLevelItem(0)->text(0), "Snapshot 2026-12-03_100000");
    EXPECT_EQ(d.lvwBackups->topLevelItem(0)->text(1), "2026-12-03 10:00:00");
    EXPECT_EQ(d.lvwBackups->topLevelItem(2)->text(0), "Snapshot 2026-12-01_100000");
    EXPECT_EQ(d.lvwBackups->topLevelItem(3)->text(0), QString::fromStdString(sTgt));
    QTreeWidgetItem* file = ItemNamed(d.tvwContents, "a.txt");
    ASSERT_NE(file, nullptr) << d.sbarRestore->currentMessage().toStdString();
    d.tvwContents->setCurrentItem(file);

    // The folder of copies a killed program opened: removed by the next opening.
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string sLeftover = QDir::tempPath().toStdString() + "/stowline-open-" + std::to_string(gone) + "-x";
    WriteFile(sLeftover + "/a.txt", "left");

    std::string sOpened, sOpenFolder;
    ModalScript script;
    DriveDialog<frmVersions>(script, [&](frmVersions& v) {
        ASSERT_EQ(v.lvwVersions->topLevelItemCount(), 4);
        QStringList changes;
        for (int i = 0; i < 4; ++i)
            changes << v.lvwVersions->topLevelItem(i)->text(2);
        EXPECT_EQ(changes, (QStringList{"same", "differs", "same", "oldest"}));
        EXPECT_EQ(v.lvwVersions->topLevelItem(1)->text(0), "2026-12-02 10:00:00");
        EXPECT_EQ(v.lvwVersions->topLevelItem(1)->text(3), "Snapshot 2026-12-02_100000");
        // The first snapshot's version into a folder.
        v.lvwVersions->setCurrentItem(v.lvwVersions->topLevelItem(2));
        v.optFolder->setChecked(true);
        v.txtToFolder->setText(QString::fromStdString(Root + "out"));
        v.cmdRestore_Click();
        EXPECT_EQ(v.LastReport().Result, libRestore::Status::Ok);
        EXPECT_EQ(ReadFile(Root + "out/src/a.txt"), "a one");
        // The second's to the original place, where the file is gone.
        fs::remove(sSrc + "/a.txt");
        v.lvwVersions->setCurrentItem(v.lvwVersions->topLevelItem(1));
        v.optOriginal->setChecked(true);
        v.cmdRestore_Click();
        EXPECT_EQ(ReadFile(sSrc + "/a.txt"), "a two");
        // The first's again: the file exists, and "keep both" is chosen.
        Seam->Answers.push_back(UserInteraction::Answer::No);
        v.lvwVersions->setCurrentItem(v.lvwVersions->topLevelItem(2));
        v.cmdRestore_Click();
        EXPECT_EQ(ReadFile(sSrc + "/a.txt"), "a two");
        EXPECT_EQ(ReadFile(sSrc + "/a (restored).txt"), "a one");
        // The newest opens from a private copy.
        v.lvwVersions->setCurrentItem(v.lvwVersions->topLevelItem(0));
        v.cmdOpen_Click();
        const auto opened = Seam->TextsOf("OpenDocument");
        ASSERT_EQ(opened.size(), 1u);
        sOpened = opened[0];
        sOpenFolder = v.OpenFolder();
        EXPECT_EQ(sOpened.rfind(sOpenFolder + "/", 0), 0u) << sOpened;
        EXPECT_EQ(ReadFile(sOpened), "a two");
        struct stat st {};
        EXPECT_EQ(::stat(sOpenFolder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_FALSE(fs::exists(sLeftover));
        v.reject();
    });
    QAction* versions = d.tvwContents->findChild<QAction*>("mnuVersions");
    ASSERT_NE(versions, nullptr);
    versions->trigger();
    EXPECT_EQ(script.Handled(), 1);
    EXPECT_EQ(script.Unexpected(), 0);
    ASSERT_FALSE(sOpenFolder.empty());
    EXPECT_FALSE(fs::exists(sOpenFolder)) << "the opened copy outlived its window";
    // A folder row has no versions: the command says so.
    d.tvwContents->setCurrentItem(ItemNamed(d.tvwContents, "src"));
    Seam->Clear();
    d.cmdVersions->click();
    ASSERT_EQ(Seam->Messages().size(), 1u);
    EXPECT_EQ(Seam->Messages()[0].Text, "Choose a file to see its versions.");
}

} // namespace
