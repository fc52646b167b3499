// Every version of a file: across hand-made snapshots (hard links as a snapshot run makes them)
// and a plain copy tree, and across archives of real zip runs; what "same" means in each.

#include "RunTestSupport.h"

#include "engine/FileVersions.h"
#include "engine/Snapshots.h"

using namespace runtest;
using FileVersions::Change;

namespace {

using VersionsTest = RunFixture;

// The entry of the backup whose name ends with sLeaf.
libRestore::Entry EntryEndingWith(const CBackupJob& job, const libRestore::BackupInfo& backup,
                                  const std::string& sLeaf) {
    std::vector<libRestore::Entry> entries;
    std::string sError;
    EXPECT_EQ(libRestore::ReadContents(job, backup, entries, sError), libRestore::Status::Ok) << sError;
    for (const auto& e : entries)
        if (e.Name.ends_with(sLeaf)) return e;
    ADD_FAILURE() << sLeaf << " not in " << backup.Path;
    return {};
}

std::vector<Change> ChangesOf(const std::vector<FileVersions::Version>& versions) {
    std::vector<Change> changes;
    for (const auto& v : versions)
        changes.push_back(v.AgainstOlder);
    return changes;
}

} // namespace

TEST_F(VersionsTest, SnapshotsAndTheCopyTreeListEachVersionNewestFirstAndCompareThem) {
    CBackupJob job = MakeJob("Docs", {SrcFolder()}, false);
    job.SetSnapshots(true);
    Source("a.txt", "a one");
    Source("b.txt", "b one");
    // The plain copy the job made before it kept snapshots, then three snapshots.
    fs::copy(Src, Tgt + "src", fs::copy_options::recursive);
    const std::string sFolder = Snapshots::FolderOf(Tgt, "Docs") + "/";
    const std::string s1 = sFolder + "2026-12-01_100000/src/", s2 = sFolder + "2026-12-02_100000/src/",
                      s3 = sFolder + "2026-12-03_100000/src/";
    fs::create_directories(s1);
    fs::copy(Src, s1, fs::copy_options::recursive);
    fs::create_directories(s2);
    WriteFile(s2 + "a.txt", "a two");          // same size, other bytes
    fs::copy_file(s1 + "b.txt", s2 + "b.txt"); // a new inode, the same bytes
    fs::create_directories(s3);
    fs::create_hard_link(s2 + "a.txt", s3 + "a.txt"); // unchanged: the same inode
    WriteFile(s3 + "b.txt", "b three, longer");
    fs::create_directory_symlink("2026-12-03_100000", sFolder + "latest");

    const auto backups = libRestore::ListRestorable(job, false);
    ASSERT_EQ(backups.size(), 4u);
    EXPECT_EQ(backups[0].Snapshot, "2026-12-03_100000");
    EXPECT_EQ(backups[2].Path, sFolder + "2026-12-01_100000/");
    EXPECT_EQ(backups[3].Path, Tgt);
    EXPECT_GT(backups[0].MTimeNs, backups[1].MTimeNs);
    job.SetSnapshots(false); // a job that stopped keeping them: its tree first
    EXPECT_EQ(libRestore::ListRestorable(job, false)[0].Path, Tgt);

    std::vector<std::string> problems;
    const auto a = FileVersions::Find(job, backups, EntryEndingWith(job, backups[0], "a.txt"), problems);
    EXPECT_TRUE(problems.empty());
    ASSERT_EQ(a.size(), 4u);
    EXPECT_EQ(ChangesOf(a), (std::vector<Change>{Change::Same, Change::Differs, Change::Same, Change::Oldest}));
    EXPECT_EQ(a[1].Ino, a[0].Ino);
    EXPECT_EQ(a[1].Entry.OriginalPath, Src + "a.txt");
    const auto b = FileVersions::Find(job, backups, EntryEndingWith(job, backups[0], "b.txt"), problems);
    EXPECT_EQ(ChangesOf(b), (std::vector<Change>{Change::Differs, Change::Same, Change::Same, Change::Oldest}));

    // A snapshot that lacks the file is passed over; one version restores by itself.
    fs::remove(s2 + "a.txt");
    const auto fewer = FileVersions::Find(job, backups, a[0].Entry, problems);
    ASSERT_EQ(fewer.size(), 3u);
    EXPECT_EQ(fewer[0].AgainstOlder, Change::Differs);
    libRestore::Options o;
    o.ToFolder = App + "out";
    const std::vector<libRestore::Entry> only{fewer[1].Entry};
    o.Contents = &only;
    fs::create_directories(o.ToFolder);
    EXPECT_EQ(libRestore::Restore(job, fewer[1].Backup, only, o).Result, libRestore::Status::Ok);
    EXPECT_EQ(ReadFile(App + "out/src/a.txt"), "a one");
}

TEST_F(VersionsTest, ArchivesOfRealRunsAreComparedByTheirCrc) {
    CBackupJob job = MakeJob("Docs", {SrcFolder()});
    job.SetNumberCopies(3);
    for (const char* s : {"one", "two", "two"}) {
        Source("a.txt", s);
        ASSERT_FALSE(BackupRun::ExecuteBackupNow(job));
    }
    const auto backups = libRestore::ListRestorable(job);
    ASSERT_EQ(backups.size(), 3u);
    std::vector<std::string> problems;
    const auto a = FileVersions::Find(job, backups, EntryEndingWith(job, backups[0], "a.txt"), problems);
    EXPECT_TRUE(problems.empty());
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(ChangesOf(a), (std::vector<Change>{Change::Same, Change::Differs, Change::Oldest}));
    EXPECT_EQ(a[2].Backup.Path, Tgt + "Docs_2.zip");
    // An archive that cannot be read is named, and the others still listed.
    WriteFile(Tgt + "Docs_1.zip", "not an archive");
    const auto left = FileVersions::Find(job, backups, a[0].Entry, problems);
    EXPECT_EQ(left.size(), 2u);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("Docs_1.zip"), std::string::npos);
    EXPECT_EQ(left[0].AgainstOlder, Change::Differs);
}
