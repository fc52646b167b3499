// Restore where it was asked to and no more: the job's sources as the only original place,
// folders swapped for links in the middle of a restore (on the written and on the read side),
// modes set on the opened folder, entries that say they are damaged, trees deeper than any
// descriptor cache, a destination without room, and the leftovers of a killed restore.

#include "RunTestSupport.h"

#include <cstring>

using namespace runtest;
using libRestore::Conflict;
using libRestore::Status;

namespace {

class RestoreSafety : public RunFixture {
protected:
    std::string Outside; // a folder no restore may touch

    void SetUp() override {
        RunFixture::SetUp();
        m_uOldMask = ::umask(022);
        Outside = Root + "outside/";
        fs::create_directories(Outside);
        WriteFile(Outside + "sentinel", "keep");
        ::chmod(Outside.c_str(), 0700);
        m_outsideBefore = StateOf(Outside);
    }
    void TearDown() override {
        ::umask(m_uOldMask);
        RunFixture::TearDown();
    }

    // Names, kinds, modes and sizes of everything in a folder.
    static std::string StateOf(const std::string& sFolder) {
        std::string s;
        struct stat st {};
        ::lstat(sFolder.c_str(), &st);
        s += std::to_string(st.st_mode) + "\n";
        for (const auto& e : fs::recursive_directory_iterator(sFolder)) {
            ::lstat(e.path().c_str(), &st);
            s += e.path().string() + " " + std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + "\n";
        }
        return s;
    }
    void ExpectOutsideUntouched() { EXPECT_EQ(StateOf(Outside), m_outsideBefore); }

    // An archive made by hand in the target folder: (name, data, mode) each.
    libRestore::BackupInfo HandMade(const std::string& sZip,
                                    const std::vector<std::tuple<std::string, std::string, uint32_t>>& items) {
        int iErr = 0;
        zip_t* za = zip_open((Tgt + sZip).c_str(), ZIP_CREATE | ZIP_TRUNCATE, &iErr);
        EXPECT_NE(za, nullptr);
        for (const auto& [sName, sData, uMode] : items) {
            zip_source_t* src = zip_source_buffer(za, strdup(sData.c_str()), sData.size(), 1);
            const zip_int64_t i =
                S_ISDIR(uMode) ? zip_dir_add(za, sName.c_str(), 0) : zip_file_add(za, sName.c_str(), src, 0);
            if (S_ISDIR(uMode)) zip_source_free(src);
            EXPECT_GE(i, 0) << sName;
            zip_file_set_external_attributes(za, static_cast<zip_uint64_t>(i), 0, ZIP_OPSYS_UNIX, uMode << 16);
        }
        EXPECT_EQ(zip_close(za), 0);
        libRestore::BackupInfo b;
        b.Path = Tgt + sZip;
        return b;
    }

    static libRestore::Report Restore(const CBackupJob& job, const libRestore::BackupInfo& b, Conflict c,
                                      const std::string& sTo = "",
                                      std::function<bool(const std::string&, uint64_t, uint64_t)> progress = {}) {
        std::vector<libRestore::Entry> entries;
        std::string sError;
        libRestore::ReadContents(job, b, entries, sError);
        libRestore::Options o;
        o.ToFolder = sTo;
        o.OnConflict = c;
        o.Progress = std::move(progress);
        return libRestore::Restore(job, b, entries, o);
    }

    static bool HasProblem(const libRestore::Report& r, const std::string& sStart) {
        return std::any_of(r.Problems.begin(), r.Problems.end(),
                           [&](const std::string& s) { return s.rfind(sStart, 0) == 0; });
    }

    // A tree with a file and a folder at every level, depth levels deep.
    static void DeepTree(const std::string& sTop, int iDepth) {
        std::string s = sTop;
        for (int i = 0; i < iDepth; ++i, s += "d/") {
            fs::create_directories(s);
            WriteFile(s + "f.txt", "level " + std::to_string(i));
        }
    }

private:
    mode_t m_uOldMask = 022;
    std::string m_outsideBefore;
};

} // namespace

TEST_F(RestoreSafety, WithoutAChosenFolderOnlyTheJobsSourcesAreWritten) {
    const std::string sFile = Source("one.txt", "one");
    Source("docs/a.txt", "a");
    CBackupJob job = MakeJob("Orig", {Src + "docs", sFile});
    const auto b = HandMade("Orig.zip", {{Stored(Src) + "docs/new.txt", "new", S_IFREG | 0644},
                                         {Stored(Src) + "one.txt", "one again", S_IFREG | 0644},
                                         {Stored(Src) + "two.txt", "neighbour", S_IFREG | 0644},
                                         {Stored(Outside) + "planted.txt", "x", S_IFREG | 0644},
                                         {Stored(Src) + "docs/ln", Outside, S_IFLNK | 0777},
                                         {Stored(Src) + "docs/ln/through.txt", "x", S_IFREG | 0644}});
    auto r = Restore(job, b, Conflict::Overwrite);
    EXPECT_EQ(r.Result, Status::Incomplete);
    EXPECT_EQ(r.Restored, 3); // new.txt, one.txt, the link
    EXPECT_EQ(r.NotRestored, 3);
    EXPECT_TRUE(HasProblem(r, Stored(Outside) + "planted.txt: outside the job's sources"));
    EXPECT_TRUE(HasProblem(r, Stored(Src) + "two.txt: outside the job's sources"));
    EXPECT_TRUE(HasProblem(r, Stored(Src) + "docs/ln/through.txt: "));
    EXPECT_EQ(ReadFile(Src + "docs/new.txt"), "new");
    EXPECT_EQ(ReadFile(sFile), "one again");
    EXPECT_FALSE(Exists(Src + "two.txt"));
    EXPECT_EQ(r.Bytes, 3u + 9u + Outside.size()); // what was written: two files and a link target
    ExpectOutsideUntouched();
    // The link this restore made is met again by the next one: never entered.
    const auto b2 = HandMade("Orig_1.zip", {{Stored(Src) + "docs/ln/later.txt", "x", S_IFREG | 0644}});
    r = Restore(job, b2, Conflict::Overwrite);
    EXPECT_EQ(r.NotRestored, 1);
    EXPECT_TRUE(HasProblem(r, Stored(Src) + "docs/ln/later.txt: 'ln' is no folder here"));
    ExpectOutsideUntouched();
}

TEST_F(RestoreSafety, FolderModesAreSetOnTheFolderRestoredNeverThroughALinkSwappedIn) {
    CBackupJob job = MakeJob("Modes", {SrcFolder()});
    const auto b = HandMade("Modes.zip", {{"top/", "", S_IFDIR | 02777},
                                          {"top/sub/", "", S_IFDIR | 0777},
                                          {"top/sub/a.txt", "a", S_IFREG | 04777},
                                          {"top/sub/b.txt", "b", S_IFREG | 0644}});
    const std::string sTo = Root + "out/";
    auto r = Restore(job, b, Conflict::Skip, sTo);
    EXPECT_EQ(r.Result, Status::Ok);
    // The archive's modes less the umask, without setuid or setgid.
    EXPECT_EQ(fs::status(sTo + "top").permissions(), fs::perms(0755));
    EXPECT_EQ(fs::status(sTo + "top/sub").permissions(), fs::perms(0755));
    EXPECT_EQ(fs::status(sTo + "top/sub/a.txt").permissions(), fs::perms(0755));
    fs::remove_all(sTo);
    // The folder is swapped for a link to an outside folder while the restore writes in it.
    bool bSwapped = false;
    r = Restore(job, b, Conflict::Skip, sTo, [&](const std::string& sName, uint64_t, uint64_t) {
        if (!bSwapped && sName == "top/sub/b.txt") {
            fs::rename(sTo + "top/sub", sTo + "top/moved");
            fs::create_directory_symlink(Outside, sTo + "top/sub");
            bSwapped = true;
        }
        return true;
    });
    EXPECT_TRUE(bSwapped);
    EXPECT_NE(r.Result, Status::Unreadable);
    EXPECT_TRUE(LogHas("  The mode and time of '" + sTo + "top/sub' were not set: it changed during the restore"));
    ExpectOutsideUntouched();
}

TEST_F(RestoreSafety, ACopyTreeFolderSwappedForALinkIsNeverReadThrough) {
    for (int i = 0; i < 20; ++i)
        Source("sub/f" + std::to_string(i) + ".txt", "mine");
    const std::string sSecret = Root + "secret/";
    for (int i = 0; i < 20; ++i)
        WriteFile(sSecret + "f" + std::to_string(i) + ".txt", "secret");
    CBackupJob job = MakeJob("Tree", {SrcFolder()}, false);
    std::vector<libRestore::Entry> entries;
    const auto b = BackUpAndRead(job, entries);
    const std::string sTo = Root + "out/";
    bool bSwapped = false;
    libRestore::Options o;
    o.ToFolder = sTo;
    o.Progress = [&](const std::string& sName, uint64_t, uint64_t) {
        if (!bSwapped && sName == "src/sub/f5.txt") {
            fs::rename(Tgt + "src/sub", Tgt + "src/moved");
            fs::create_directory_symlink(sSecret, Tgt + "src/sub");
            bSwapped = true;
        }
        return true;
    };
    const auto r = libRestore::Restore(job, b, entries, o);
    EXPECT_TRUE(bSwapped);
    EXPECT_EQ(r.Restored + r.NotRestored, 20);
    for (const auto& e : fs::recursive_directory_iterator(sTo))
        if (e.is_regular_file()) {
            EXPECT_EQ(ReadFile(e.path().string()), "mine") << e.path();
        }
}

// A copy tree's files are opened as they are handed to the workers, ahead of their turn: one
// that has become a link, a pipe or a folder since the listing is refused by name, never read
// through or waited on, and its neighbours still come back.
TEST_F(RestoreSafety, ACopyTreeFileThatIsNoLongerAFileIsRefusedAndNeverReadThrough) {
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"})
        Source(name, "mine");
    const std::string sSecret = WriteFile(Root + "secret.txt", "secret");
    CBackupJob job = MakeJob("Tree", {SrcFolder()}, false);
    std::vector<libRestore::Entry> entries;
    const auto b = BackUpAndRead(job, entries);
    fs::remove(Tgt + "src/b.txt");
    fs::create_symlink(sSecret, Tgt + "src/b.txt");
    fs::remove(Tgt + "src/c.txt");
    ASSERT_EQ(::mkfifo((Tgt + "src/c.txt").c_str(), 0600), 0); // no writer ever comes
    fs::remove(Tgt + "src/d.txt");
    fs::create_directory(Tgt + "src/d.txt");
    // Restored as listed before the change.
    const std::string sTo = Root + "out/";
    libRestore::Options o;
    o.ToFolder = sTo;
    o.Contents = &entries;
    const auto r = libRestore::Restore(job, b, entries, o);
    EXPECT_EQ(r.Result, Status::Incomplete);
    EXPECT_EQ(r.Restored, 2);
    EXPECT_EQ(r.NotRestored, 3);
    EXPECT_EQ(ReadFile(sTo + "src/a.txt"), "mine");
    EXPECT_EQ(ReadFile(sTo + "src/e.txt"), "mine");
    for (const char* name : {"b.txt", "c.txt", "d.txt"})
        EXPECT_FALSE(Exists(sTo + "src/" + name)) << name;
    EXPECT_TRUE(LogHas("  Not restored 'src/b.txt': " + std::string(std::strerror(ELOOP))));
    EXPECT_TRUE(LogHas("  Not restored 'src/c.txt': no longer a file in the backup"));
    EXPECT_TRUE(LogHas("  Not restored 'src/d.txt': no longer a file in the backup"));
    EXPECT_EQ(ReadFile(sSecret), "secret");
}

TEST_F(RestoreSafety, AnEntryThatSaysItIsDamagedIsRefusedByName) {
    Source("a.txt", "alpha");
    Source("b.txt", "beta");
    CBackupJob job = MakeJob("Tree", {SrcFolder()}, false);
    std::vector<libRestore::Entry> entries;
    const auto b = BackUpAndRead(job, entries);
    for (auto& e : entries)
        if (e.Name == "src/a.txt") e.Damage = "its header does not match its checksum";
    libRestore::Options o;
    o.ToFolder = Root + "out";
    o.Contents = &entries;
    const auto r = libRestore::Restore(job, b, entries, o);
    EXPECT_EQ(r.Restored, 1);
    EXPECT_EQ(r.Problems, std::vector<std::string>{"src/a.txt: damaged: its header does not match its checksum"});
    EXPECT_FALSE(Exists(Root + "out/src/a.txt"));
    EXPECT_EQ(r.Bytes, 4u);
}

TEST_F(RestoreSafety, DeepTreesComeBackWholeInBothStyles) {
    DeepTree(Src + "deep/", 300);
    for (bool bZip : {true, false}) {
        SCOPED_TRACE(bZip ? "zip" : "copy");
        CBackupJob job = MakeJob("Deep", {Src + "deep"}, bZip);
        std::vector<libRestore::Entry> entries;
        const auto b = BackUpAndRead(job, entries);
        const std::string sTo = Root + (bZip ? "z/" : "c/");
        const auto r = Restore(job, b, Conflict::Skip, sTo);
        EXPECT_EQ(r.Result, Status::Ok) << (r.Problems.empty() ? r.Error : r.Problems[0]);
        EXPECT_EQ(r.Restored, 300);
        std::string sOut = sTo + (bZip ? Stored(Src) + "deep/" : "deep/");
        std::string sIn = Src + "deep/";
        for (int i = 0; i < 300; ++i, sOut += "d/", sIn += "d/")
            ASSERT_EQ(ReadFile(sOut + "f.txt"), "level " + std::to_string(i)) << i;
        ResetTarget();
    }
}

TEST_F(RestoreSafety, ACopyListingThatStopsSaysWhere) {
    Source("tree/a.txt", "a");
    CBackupJob job = MakeJob("Tree", {Src + "tree"}, false);
    std::vector<libRestore::Entry> entries;
    const auto b = BackUpAndRead(job, entries);
    // Deeper than any path can name: made folder by folder.
    int fd = ::open((Tgt + "tree").c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < 4200 && fd >= 0; ++i) {
        ::mkdirat(fd, "d", 0755);
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::string sError;
    EXPECT_EQ(libRestore::ReadContents(job, b, entries, sError), Status::Incomplete);
    EXPECT_NE(sError.find("folders nested more than 4096 deep are not listed"), std::string::npos) << sError;
    EXPECT_GE(entries.size(), 4097u); // what was listed is still there
}

TEST_F(RestoreSafety, ASelectionWithoutRoomIsRefusedBeforeAnythingIsWritten) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    const std::string sSmall = Root + "small";
    fs::create_directories(sSmall);
    if (::mount("tmpfs", sSmall.c_str(), "tmpfs", 0, "size=8m") != 0) GTEST_SKIP() << "no tmpfs here";
    struct Unmount {
        std::string Path;
        ~Unmount() { ::umount(Path.c_str()); }
    } unmount{sSmall};
    Source("big.bin", Noise(5u << 20, 4));
    CBackupJob job = MakeJob("Big", {SrcFolder()});
    std::vector<libRestore::Entry> entries;
    const auto b = BackUpAndRead(job, entries);
    EXPECT_EQ(Restore(job, b, Conflict::Skip, sSmall + "/a").Result, Status::Ok);
    // Two copies do not fit: refused whole, nothing of it written.
    auto r = Restore(job, b, Conflict::Skip, sSmall + "/b");
    EXPECT_EQ(r.Result, Status::NoRoom);
    EXPECT_NE(r.Error.find("Not enough free space in '" + sSmall + "'"), std::string::npos) << r.Error;
    EXPECT_FALSE(Exists(sSmall + "/b"));
    EXPECT_TRUE(LogHas("  Restore failed: " + r.Error));
    // Files that stay as they are need no room; replacing them does.
    r = Restore(job, b, Conflict::Skip, sSmall + "/a");
    EXPECT_EQ(r.Result, Status::Ok);
    EXPECT_EQ(r.Skipped, 1);
    EXPECT_EQ(Restore(job, b, Conflict::Overwrite, sSmall + "/a").Result, Status::NoRoom);
    EXPECT_EQ(fs::file_size(sSmall + "/a/" + Stored(Src) + "big.bin"), 5u << 20);
}

TEST_F(RestoreSafety, AKilledRestoresPartialFilesGoWithTheNextRestoreIntoTheirFolder) {
    const std::string sA = Source("a.txt", "alpha");
    CBackupJob job = MakeJob("Docs", {SrcFolder()});
    std::vector<libRestore::Entry> entries;
    const auto b = BackUpAndRead(job, entries);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0); // its process id now belongs to no process
    const std::string sDead = Src + ".stowline-restore-" + std::to_string(child) + "-3";
    const std::string sAlive = Src + ".stowline-restore-1-1"; // init runs as long as the machine
    WriteFile(sDead, "partial");
    WriteFile(sAlive, "partial");
    fs::remove(sA);
    const auto r = Restore(job, b, Conflict::Skip);
    EXPECT_EQ(r.Result, Status::Ok);
    EXPECT_EQ(ReadFile(sA), "alpha");
    EXPECT_FALSE(Exists(sDead));
    EXPECT_TRUE(Exists(sAlive));
    EXPECT_TRUE(LogHas("  Removed '" + sDead + "', left by an interrupted restore"));
}

TEST_F(RestoreSafety, ASourceFolderThatIsGoneComesBackInBothStyles) {
    Source("a.txt", "alpha");
    Source("sub/b.txt", "beta");
    for (bool bZip : {true, false}) {
        SCOPED_TRACE(bZip ? "zip" : "copy");
        // Named without a final "/": only the backup says it was a folder.
        CBackupJob job = MakeJob("Gone", {SrcFolder()}, bZip);
        std::vector<libRestore::Entry> entries;
        const auto b = BackUpAndRead(job, entries);
        const std::string sKeep = Root + "keep";
        fs::rename(Src, sKeep);
        const auto r = Restore(job, b, Conflict::Skip);
        EXPECT_EQ(r.Result, Status::Ok) << (r.Problems.empty() ? r.Error : r.Problems[0]);
        EXPECT_EQ(r.Restored, 2);
        EXPECT_EQ(ReadFile(Src + "a.txt"), "alpha");
        EXPECT_EQ(ReadFile(Src + "sub/b.txt"), "beta");
        fs::remove_all(Src);
        fs::rename(sKeep, Src);
        ResetTarget();
    }
}
