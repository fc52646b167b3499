// Renaming a job: its job file and its own archives move, nothing else does.

#include "RunTestSupport.h"

using namespace runtest;

using Rename = RunFixture;

TEST_F(Rename, SameTargetRenamesOnlyTheJobsOwnArchives) {
    CBackupJob job = MakeJob("Daily Docs", {Src + "a.txt"});
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    const std::string oldFile = job.FileName();
    for (const char* s : {"DailyDocs.zip", "DailyDocs_1.zip", "DailyDocs_20270301(1).zip", "DailyDocs_P270101.zip"})
        Touch(Tgt + s, s);
    for (const char* s : {"DailyDocs2.zip", "DailyDocs2_1.zip", "DailyDocsOld.zip", "DailyDocs_notes.zip"})
        Touch(Tgt + s, s);

    EXPECT_TRUE(BackupRun::RenameJob(job, Tgt, "Docs", true));
    EXPECT_EQ(job.JobName(), "Docs");
    EXPECT_EQ(job.FileName(), appMisc::JobFolder() + "Docs.slj");
    CBackupJob moved;
    ASSERT_FALSE(moved.OpenBackupJob(job.FileName()));
    EXPECT_EQ(moved.FilesToZip(), Src + "a.txt\r\n"); // the file itself, moved
    EXPECT_FALSE(Exists(oldFile));
    for (const char* s : {"Docs.zip", "Docs_1.zip", "Docs_20270301(1).zip", "Docs_P270101.zip"})
        EXPECT_EQ(ReadFile(Tgt + s), std::string("Daily") + s);
    for (const char* s : {"DailyDocs2.zip", "DailyDocs2_1.zip", "DailyDocsOld.zip", "DailyDocs_notes.zip"})
        EXPECT_EQ(ReadFile(Tgt + s), s);
    EXPECT_FALSE(Exists(Tgt + "Docs2.zip"));

    // A change of letter case alone is a new file name.
    EXPECT_TRUE(BackupRun::RenameJob(job, Tgt, "docs", true));
    EXPECT_EQ(job.FileName(), appMisc::JobFolder() + "docs.slj");
    EXPECT_EQ(EntryNames(appMisc::JobFolder()), std::set<std::string>{"docs.slj"});
}

TEST_F(Rename, NewTargetMovesArchivesAndGetsItsSlash) {
    CBackupJob job = MakeJob("Mail", {});
    Touch(Tgt + "Mail.zip", "m");
    Touch(Tgt + "Mail2.zip", "neighbour");
    fs::create_directories(App + "new");
    EXPECT_TRUE(BackupRun::RenameJob(job, App + "new", "Mail", true));
    EXPECT_EQ(job.TargetDirectory(), App + "new/");
    EXPECT_EQ(ReadFile(App + "new/Mail.zip"), "m");
    EXPECT_FALSE(Exists(Tgt + "Mail.zip"));
    EXPECT_TRUE(Exists(Tgt + "Mail2.zip"));
    EXPECT_FALSE(Exists(App + "new/Mail2.zip"));
}

TEST_F(Rename, ArchivesStayWithoutMovingBackupsAndAnExistingArchiveUnderTheNewNameIsKept) {
    CBackupJob job = MakeJob("Mail", {});
    Touch(Tgt + "Mail.zip", "m");
    EXPECT_TRUE(BackupRun::RenameJob(job, Tgt, "Post", false));
    EXPECT_TRUE(Exists(Tgt + "Mail.zip"));
    EXPECT_FALSE(Exists(Tgt + "Post.zip"));

    Touch(Tgt + "Post.zip", "mine");
    Touch(Tgt + "Post2.zip", "theirs");
    EXPECT_TRUE(BackupRun::RenameJob(job, Tgt, "Post2", true));
    EXPECT_EQ(ReadFile(Tgt + "Post2.zip"), "theirs");
    EXPECT_EQ(ReadFile(Tgt + "Post.zip"), "mine");
}

TEST_F(Rename, UnsafeNamesAndAnotherJobsFileAreRefused) {
    CBackupJob job = MakeJob("Mail", {});
    ASSERT_FALSE(job.SaveBackupJobIniFile());
    Touch(Tgt + "Mail.zip", "m");
    for (const char* s : {"../x", "a/b", ".", "..", ""}) {
        EXPECT_FALSE(BackupRun::RenameJob(job, App + "elsewhere", s, true)) << s;
        EXPECT_EQ(job.JobName(), "Mail");
        EXPECT_EQ(job.TargetDirectory(), Tgt);
        EXPECT_EQ(job.FileName(), appMisc::JobFolder() + "Mail.slj");
    }
    EXPECT_TRUE(Exists(Tgt + "Mail.zip"));
    EXPECT_FALSE(Exists(App + "x.slj"));

    CBackupJob other = MakeJob("Post", {});
    ASSERT_FALSE(other.SaveBackupJobIniFile());
    const std::string before = ReadFile(other.FileName());
    EXPECT_FALSE(BackupRun::RenameJob(job, Tgt, "Post", true));
    EXPECT_EQ(ReadFile(other.FileName()), before);
    EXPECT_TRUE(Exists(appMisc::JobFolder() + "Mail.slj"));
    EXPECT_EQ(job.JobName(), "Mail");
}
