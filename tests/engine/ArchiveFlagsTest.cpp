#include "engine/libCopy.h"
#include "engine/libCopyFixture.h"

#include <cstdio>

using copytest::CopyFixture;

namespace {

class ArchiveFlagsTest : public CopyFixture {
protected:
    bool IsSet(const std::string& sRelative) {
        return ArchiveFlags::Instance().IsArchiveSet(P(sRelative), Stat(sRelative));
    }
    void Clear(const std::string& sRelative) { ArchiveFlags::Instance().Clear(P(sRelative), Stat(sRelative)); }
};

TEST_F(ArchiveFlagsTest, MissingRowSetsClearUnsetsAndItLivesInEachAppFolder) {
    Write("src/a.txt", "abc");
    EXPECT_TRUE(IsSet("src/a.txt"));
    Clear("src/a.txt");
    EXPECT_FALSE(IsSet("src/a.txt"));
    EXPECT_EQ(ArchiveFlags::DatabaseFileName(), P("app/ArchiveFlags.db"));
    EXPECT_TRUE(Exists("app/ArchiveFlags.db"));
    // Kept across a reopen.
    ArchiveFlags::Close();
    EXPECT_FALSE(IsSet("src/a.txt"));
    // Each application folder has its own store.
    std::filesystem::create_directories(P("app2"));
    appMisc::SetAppFolder(P("app2/"));
    EXPECT_TRUE(IsSet("src/a.txt"));
    appMisc::SetAppFolder(P("app/"));
    EXPECT_FALSE(IsSet("src/a.txt"));
    ArchiveFlags::Instance().Set(P("src/a.txt"));
    EXPECT_TRUE(IsSet("src/a.txt"));
}

TEST_F(ArchiveFlagsTest, AnyChangeOfSizeTimesOrInodeSetsTheFlagAgain) {
    for (const char* name : {"src/size.txt", "src/mtime.txt", "src/ctime.txt", "src/inode.txt", "src/other.txt"}) {
        Write(name, "abc");
        Clear(name);
    }

    // Same modification time restored after writing: the size still tells.
    const struct stat before = Stat("src/size.txt");
    Write("src/size.txt", "abcd");
    SetMTime("src/size.txt", before.st_mtim.tv_sec, before.st_mtim.tv_nsec);
    EXPECT_TRUE(IsSet("src/size.txt"));

    SetMTime("src/mtime.txt", 1000);
    EXPECT_TRUE(IsSet("src/mtime.txt"));

    // A permission change moves only the change time.
    usleep(20000);
    chmod(P("src/ctime.txt").c_str(), 0600);
    EXPECT_TRUE(IsSet("src/ctime.txt"));

    // Replaced by another file of equal size and time (an editor's save-by-rename).
    const struct stat old = Stat("src/inode.txt");
    Write("src/inode.new", "abc");
    SetMTime("src/inode.new", old.st_mtim.tv_sec, old.st_mtim.tv_nsec);
    ASSERT_EQ(std::rename(P("src/inode.new").c_str(), P("src/inode.txt").c_str()), 0);
    EXPECT_TRUE(IsSet("src/inode.txt"));

    EXPECT_FALSE(IsSet("src/other.txt"));
}

TEST_F(ArchiveFlagsTest, WritesOfAWalkAreOneTransaction) {
    for (const char* name : {"src/a.txt", "src/b.txt", "src/sub/c.txt"})
        Write(name, "x");
    ArchiveFlags& flags = ArchiveFlags::Instance();
    flags.BeginWalk();
    for (const char* name : {"src/a.txt", "src/b.txt", "src/sub/c.txt"})
        Clear(name);
    // Visible inside the walk, not yet to anyone else.
    EXPECT_FALSE(IsSet("src/b.txt"));
    EXPECT_FALSE(IsSet("src/sub/c.txt"));
    EXPECT_EQ(CommittedRows(), 0);
    flags.BeginWalk(); // nested: still the same transaction
    flags.EndWalk();
    EXPECT_EQ(CommittedRows(), 0);
    flags.EndWalk();
    EXPECT_EQ(CommittedRows(), 3);
}

// The store only saves copying: a damaged one is put aside (replacing an older one) and a fresh
// one started, with one warning line; a run never stops for it.
TEST_F(ArchiveFlagsTest, ACompleteIncrementalWalkForgetsTheFilesThatAreGone) {
    Write("src/T/a.txt", "a");
    Write("src/T/b.txt", "b");
    Write("src/T/keep.doc", "another job's file");
    Write("src/T/Sub/c.txt", "c");
    Write("src/T/Sub/Deep/d.txt", "d");
    std::filesystem::create_directories(P("target"));
    const auto walk = [&](const std::string& sPattern, bool bRecurse = true) {
        return libCopy::CopyEntry(P("src/T/" + sPattern), P("target/"), true, bRecurse, libCopy::CopyUpdate, "",
                                  P("target/.stowline-tmp-T/"));
    };
    EXPECT_EQ(walk("*.txt").FileCount, 4);
    EXPECT_EQ(walk("*.doc").FileCount, 1);
    EXPECT_EQ(CommittedRows(), 5);

    // Renames of a file and of a folder, and a deletion: one row per file that exists.
    std::filesystem::rename(P("src/T/a.txt"), P("src/T/a2.txt"));
    std::filesystem::rename(P("src/T/Sub"), P("src/T/Sub2"));
    std::filesystem::remove(P("src/T/b.txt"));
    EXPECT_EQ(walk("*.txt").FileCount, 3); // the renamed ones count as new
    EXPECT_EQ(CommittedRows(), 4);         // a2, Sub2/c, Sub2/Deep/d and keep.doc
    EXPECT_FALSE(IsSet("src/T/keep.doc"));

    // An aborted walk, or one that does not enter the subfolders, forgets nothing it did not see.
    std::filesystem::remove(P("src/T/a2.txt"));
    std::filesystem::remove(P("src/T/Sub2/Deep/d.txt"));
    RunState::SetAbortRequested(true);
    walk("*.txt");
    RunState::SetAbortRequested(false);
    EXPECT_EQ(CommittedRows(), 4);
    walk("*.txt", false);
    EXPECT_EQ(CommittedRows(), 3);
    walk("*.txt");
    EXPECT_EQ(CommittedRows(), 2);
    EXPECT_FALSE(IsSet("src/T/Sub2/c.txt"));
}

TEST_F(ArchiveFlagsTest, ADamagedStoreIsMovedAsideAndAFreshOneStarted) {
    Write("src/a.txt", "a");
    ArchiveFlags::Close();
    Write("app/ArchiveFlags.db", std::string(4096, 'x'));
    Write("app/ArchiveFlags.db.damaged", "older");
    EXPECT_TRUE(IsSet("src/a.txt"));
    Clear("src/a.txt");
    EXPECT_FALSE(IsSet("src/a.txt"));
    EXPECT_EQ(ReadFile(P("app/ArchiveFlags.db.damaged")), std::string(4096, 'x'));
    EXPECT_EQ(CommittedRows(), 1);
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Archive flag store '" + P("app/ArchiveFlags.db") + "' could not be read (", 0), 0u);
    EXPECT_NE(lines[0].find("moved aside as 'ArchiveFlags.db.damaged'"), std::string::npos);

    // A folder in the store's place is put aside the same way.
    ArchiveFlags::Close();
    std::filesystem::remove(P("app/ArchiveFlags.db"));
    Write("app/ArchiveFlags.db/inner", "");
    EXPECT_TRUE(IsSet("src/a.txt"));
    EXPECT_TRUE(Exists("app/ArchiveFlags.db.damaged/inner"));
    ArchiveFlags::Close();
}

} // namespace
