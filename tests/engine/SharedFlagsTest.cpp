// Jobs that share the archive-flag store: a walk forgets only the rows of what it would have
// met. Another job's folder that a walk does not enter (a link in its tree, a subfolder of a job
// without subfolders) keeps its rows, so the other job's next run copies nothing again.

#include "RunTestSupport.h"

#include "engine/libCopy.h"

using namespace runtest;

namespace {

class SharedFlags : public RunFixture {
protected:
    // The committed rows of one folder (with its final "/"), as another process reads them.
    static std::set<std::string> RowsOf(const std::string& sFolder) {
        std::set<std::string> names;
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open_v2(ArchiveFlags::DatabaseFileName().c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
                  SQLITE_OK);
        sqlite3_stmt* stmt = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT name FROM flags WHERE folder = ?1", -1, &stmt, nullptr), SQLITE_OK);
        sqlite3_bind_text(stmt, 1, sFolder.data(), static_cast<int>(sFolder.size()), SQLITE_TRANSIENT);
        while (sqlite3_step(stmt) == SQLITE_ROW)
            names.insert(std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)),
                                     static_cast<size_t>(sqlite3_column_bytes(stmt, 0))));
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return names;
    }

    CBackupJob CopyJob(const std::string& sName, const std::string& sSource, const std::string& sTarget, bool bRecurse,
                       int32_t lStyle = libCopy::CopyUpdate) {
        CBackupJob job = MakeJob(sName, {sSource}, false);
        job.SetTargetDirectoryRaw(sTarget);
        job.SetIncremental(true);
        job.SetCopyStyle(lStyle);
        job.SetSubdirectories(bRecurse);
        fs::create_directories(sTarget);
        return job;
    }

    static void RunOk(CBackupJob& job) {
        ASSERT_FALSE(BackupRun::ExecuteBackupNow(job));
        ASSERT_FALSE(job.Failure()) << job.JobName();
    }
};

} // namespace

TEST_F(SharedFlags, AnotherJobsFolderTheWalkDoesNotEnterKeepsItsRows) {
    // "photos" is its own job's source; the job over the whole tree meets it as a link (which
    // it never enters), or not at all when it leaves subfolders out.
    const std::string sDisk = App + "disk/photos/";
    for (int i = 0; i < 3; ++i)
        WriteFile(sDisk + "p" + std::to_string(i) + ".jpg", Noise(5000, i));
    WriteFile(sDisk + "2026/q.jpg", "q");
    Source("a.txt", "a");
    Source("docs/b.txt", "b");
    const struct {
        const char* Kind;
        bool Link;
        bool Recurse;
    } cases[] = {{"a link in the tree", true, true}, {"a job without subfolders", false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Kind);
        fs::remove_all(Src + "photos");
        fs::remove_all(App + "bk");
        fs::remove(ArchiveFlags::DatabaseFileName());
        ArchiveFlags::Close();
        if (c.Link)
            fs::create_directory_symlink(sDisk, Src + "photos");
        else
            fs::copy(sDisk, Src + "photos", fs::copy_options::recursive);
        const std::string sPhotos = Src + "photos/";

        CBackupJob photos = CopyJob("Photos", Src + "photos", Tgt + "photos/", true, libCopy::CopyRebuild);
        RunOk(photos);
        const std::set<std::string> expected = {"p0.jpg", "p1.jpg", "p2.jpg"};
        ASSERT_EQ(RowsOf(sPhotos), expected);
        ASSERT_EQ(RowsOf(sPhotos + "2026/"), std::set<std::string>{"q.jpg"});
        ASSERT_GT(photos.SizeLastRun(), 15000);

        CBackupJob tree = CopyJob("Tree", Src.substr(0, Src.size() - 1), Tgt + "tree/", c.Recurse);
        RunOk(tree);
        // The link is backed up as a link: a row of its own.
        const std::set<std::string> own =
            c.Link ? std::set<std::string>{"a.txt", "photos"} : std::set<std::string>{"a.txt"};
        EXPECT_EQ(RowsOf(Src), own);
        if (c.Recurse) {
            EXPECT_EQ(RowsOf(Src + "docs/"), std::set<std::string>{"b.txt"});
        }
        // The photos' rows outlive a complete walk that did not enter their folder.
        EXPECT_EQ(RowsOf(sPhotos), expected);
        EXPECT_EQ(RowsOf(sPhotos + "2026/"), std::set<std::string>{"q.jpg"});

        // So the photos job (which copies only what changed) finds nothing to copy again.
        RunOk(photos);
        EXPECT_EQ(photos.SizeLastRun(), 0);

        // Its folder gone for good, a walk that would have entered it forgets its rows.
        if (c.Link) {
            fs::remove(Src + "photos");
            RunOk(tree);
            EXPECT_TRUE(RowsOf(sPhotos).empty());
            EXPECT_TRUE(RowsOf(sPhotos + "2026/").empty());
        }
    }
}
