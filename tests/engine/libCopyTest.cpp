#include "engine/libCopy.h"
#include "RecordingOwner.h"
#include "engine/CFileFinder.h"
#include "engine/libCopyFixture.h"

#include <algorithm>
#include <climits>
#include <set>

#include <sys/xattr.h>

using copytest::CopyFixture;

namespace {

struct Counts {
    int32_t Files = -1;
    double Bytes = -1;
    bool Failed = true;
};

class CopyFilesTest : public CopyFixture {
protected:
    Counts Copy(const std::string& sEntry, const std::string& sDestination, bool bIncremental, bool bRecurse,
                int32_t lStyle, const std::string& sExclude = "") {
        Counts c;
        libCopy::CopyFiles(c.Files, c.Bytes, sEntry, sDestination, bIncremental, bRecurse, lStyle, sExclude, c.Failed);
        return c;
    }
    // A wildcard entry as a run copies it: into the target + the entry's last folder name.
    libCopy::EntryResult Entry(const std::string& sEntry, int32_t lStyle, bool bIncremental = false,
                               bool bSubdirectories = true, const std::string& sExclude = "") {
        return libCopy::CopyEntry(sEntry, P("target/"), bIncremental, bSubdirectories, lStyle, sExclude, Temp());
    }
    void MakeTarget() { std::filesystem::create_directories(P("target")); }
    // The job's temporary folder in the target.
    std::string Temp() const { return P("target/.stowline-tmp-T/"); }
};

TEST_F(CopyFilesTest, WalkOrderTreeLinesAndDestinations) {
    Write("src/Data/a.txt", "aaa");
    Write("src/Data/Sub/b.txt", "bb");
    Write("src/Data/Sub/Deep/c.txt", "c");
    Write("src/Data/Zed/d.txt", "dddd");
    Write("src/Data/.hidden", "h");
    Write("src/Data/.dotdir/e.txt", "e");
    MakeTarget();
    const auto r = Entry(P("src/Data/*.*"), libCopy::CopyRebuild);
    EXPECT_FALSE(r.Abandon);
    EXPECT_EQ(r.FileCount, 6);
    EXPECT_EQ(r.ByteCount, 12);
    // Files of a folder first; subfolders pushed in listing order, so visited in reverse.
    const std::vector<std::string> expected{"  + " + P("src/Data/"), "    +-- .hidden",
                                            "    +-- a.txt",         "  + " + P("src/Data/Zed/"),
                                            "    +-- d.txt",         "  + " + P("src/Data/Sub/"),
                                            "    +-- b.txt",         "  + " + P("src/Data/Sub/Deep/"),
                                            "    +-- c.txt",         "  + " + P("src/Data/.dotdir/"),
                                            "    +-- e.txt"};
    EXPECT_EQ(LogLines(), expected);
    EXPECT_EQ(Read("target/Data/a.txt"), "aaa");
    EXPECT_EQ(Read("target/Data/Sub/Deep/c.txt"), "c");
    EXPECT_EQ(Read("target/Data/.dotdir/e.txt"), "e");
    EXPECT_EQ(Read("target/Data/.hidden"), "h");

    // The detailed lines are left out above level zero.
    ClearLog();
    appPreferences::LoggingMode = 1;
    EXPECT_EQ(Entry(P("src/Data/*.*"), libCopy::CopyRebuild).FileCount, 6);
    EXPECT_TRUE(LogLines().empty());
}

// A Rebuild copies its files on several threads, but its log, counts and copies are those of one
// file after the other: the same as Update's, which copies them in turn, on a tree large enough
// for copies to overtake each other (small files behind large ones).
TEST_F(CopyFilesTest, ARebuildCopiedAlongsideTheWalkLogsAndCountsAsUpdateDoes) {
    double dBytes = 0;
    for (int folder = 0; folder < 4; ++folder) {
        for (int i = 0; i < 60; ++i) {
            const std::string content(i % 7 == 0 ? 300000 + i : i, static_cast<char>('a' + folder));
            Write("src/T/F" + std::to_string(folder) + "/" + std::to_string(i) + ".dat", content);
            dBytes += static_cast<double>(content.size());
        }
    }
    ASSERT_EQ(::symlink("F0/1.dat", P("src/T/link").c_str()), 0);
    dBytes += 8;
    MakeTarget();
    const auto r = Entry(P("src/T/*.*"), libCopy::CopyRebuild);
    EXPECT_FALSE(r.Abandon);
    EXPECT_EQ(r.FileCount, 241);
    EXPECT_EQ(r.ByteCount, dBytes);
    const auto rebuilt = LogLines();

    ClearLog();
    const auto u = Copy(P("src/T/*.*"), P("updated"), false, true, libCopy::CopyUpdate);
    EXPECT_EQ(u.Files, 241);
    EXPECT_EQ(LogLines(), rebuilt);
    for (int folder = 0; folder < 4; ++folder) {
        for (int i = 0; i < 60; i += 11) {
            const std::string name = "F" + std::to_string(folder) + "/" + std::to_string(i) + ".dat";
            EXPECT_EQ(Read("target/T/" + name), Read("src/T/" + name)) << name;
            EXPECT_EQ(Stat("target/T/" + name).st_mtim.tv_nsec, Stat("src/T/" + name).st_mtim.tv_nsec) << name;
        }
    }
    char target[32] = {};
    EXPECT_EQ(::readlink(P("target/T/link").c_str(), target, sizeof target - 1), 8);
    EXPECT_STREQ(target, "F0/1.dat");
    // Every copy stands for its source: nothing is due for an incremental run.
    EXPECT_EQ(Entry(P("src/T/*.*"), libCopy::CopyRebuild, true).FileCount, 0);
}

TEST_F(CopyFilesTest, PatternRecursionAndPlainEntries) {
    Write("src/Docs/a.doc", "1");
    Write("src/Docs/B.DOC", "2");
    Write("src/Docs/c.txt", "3");
    Write("src/Docs/Sub/d.doc", "4");
    MakeTarget();
    // Without subfolders only the entry's own folder is visited.
    auto r = Entry(P("src/Docs/*.doc"), libCopy::CopyRebuild, false, false);
    EXPECT_EQ(r.FileCount, 2);
    EXPECT_TRUE(Exists("target/Docs/B.DOC"));
    EXPECT_FALSE(Exists("target/Docs/c.txt"));
    EXPECT_FALSE(Exists("target/Docs/Sub"));
    r = Entry(P("src/Docs/*.doc"), libCopy::CopyRebuild, false, true);
    EXPECT_EQ(r.FileCount, 3);
    EXPECT_EQ(Read("target/Docs/Sub/d.doc"), "4");
    // A single file goes into the target directory itself, over a read-only copy.
    Write("target/c.txt", "old");
    chmod(P("target/c.txt").c_str(), 0444);
    r = libCopy::CopyEntry(P("src/Docs/c.txt"), P("target/"), false, true, libCopy::CopyRebuild, "", Temp());
    EXPECT_EQ(r.FileCount, 1);
    EXPECT_EQ(Read("target/c.txt"), "3");
    // An entry ending in "/" has an empty pattern and copies nothing.
    EXPECT_EQ(Copy(P("src/Docs/"), P("target/"), false, true, libCopy::CopyRebuild).Files, 0);
    // A missing folder copies nothing, without an error.
    const Counts none = Copy(P("src/Nothing/*.*"), P("target/x"), false, true, libCopy::CopyRebuild);
    EXPECT_EQ(none.Files, 0);
    EXPECT_FALSE(none.Failed);
}

TEST_F(CopyFilesTest, ExclusionsMatchWholeNamesIgnoringCase) {
    for (const char* name :
         {"report.tmp", "~temp.doc", "keep.doc", "log1.txt", "logA.txt", "x.bak", "y.bak", "notes.txt"})
        Write(std::string("src/E/") + name, "z");
    Write("src/E/Sub/deep.tmp", "z");
    MakeTarget();
    const auto r =
        Entry(P("src/E/*.*"), libCopy::CopyRebuild, false, true, "*.TMP\r\n~*\r\nlog#.txt\r\n[x]*\r\n\r\nNOTES.TX\r\n");
    EXPECT_EQ(r.FileCount, 4);
    for (const char* kept : {"keep.doc", "logA.txt", "y.bak", "notes.txt"})
        EXPECT_TRUE(Exists(std::string("target/E/") + kept)) << kept;
    for (const char* skipped : {"report.tmp", "~temp.doc", "log1.txt", "x.bak", "Sub/deep.tmp"})
        EXPECT_FALSE(Exists(std::string("target/E/") + skipped)) << skipped;
    // [!...] and a range.
    Write("src/F/a1", "z");
    Write("src/F/b2", "z");
    Write("src/F/c3", "z");
    EXPECT_EQ(Entry(P("src/F/*"), libCopy::CopyRebuild, false, true, "[!a-b]?\r\n").FileCount, 2);
    EXPECT_FALSE(Exists("target/F/c3"));
}

TEST_F(CopyFilesTest, RebuildRemovesTheOldDestinationFolderAndKeepsTimesAndModes) {
    Write("src/Data/a.txt", "one");
    Write("src/Data/gone.txt", "x");
    chmod(P("src/Data/a.txt").c_str(), 04750);   // a set-id bit
    chmod(P("src/Data/gone.txt").c_str(), 0666); // bits a usual umask takes
    SetMTime("src/Data/a.txt", 1500000000, 123456700);
    MakeTarget();
    EXPECT_EQ(Entry(P("src/Data/*.*"), libCopy::CopyRebuild).FileCount, 2);
    EXPECT_EQ(Stat("target/Data/a.txt").st_mtim.tv_sec, 1500000000);
    EXPECT_EQ(Stat("target/Data/a.txt").st_mtim.tv_nsec, 123456700);
    EXPECT_EQ(Stat("target/Data/a.txt").st_mode & 07777, 04750u);
    EXPECT_EQ(Stat("target/Data/gone.txt").st_mode & 07777, 0666u);

    std::filesystem::remove(P("src/Data/gone.txt"));
    Write("src/Data/new.txt", "n");
    Write("target/Data/stale/old.txt", "old");
    // A default ACL (user::rwx, group::---, other::---) would narrow a new file's mode.
    const uint32_t acl[] = {2, 0x1 | 07 << 16, ~0u, 0x4, ~0u, 0x20, ~0u};
    for (const char* folder : {"target", "target/.stowline-tmp-T"})
        setxattr(P(folder).c_str(), "system.posix_acl_default", acl, sizeof acl, 0);
    EXPECT_EQ(Entry(P("src/Data/*.*"), libCopy::CopyRebuild).FileCount, 2);
    EXPECT_EQ(Stat("target/Data/new.txt").st_mode & 07777, Stat("src/Data/new.txt").st_mode & 07777);
    EXPECT_FALSE(Exists("target/Data/gone.txt"));
    EXPECT_FALSE(Exists("target/Data/stale"));
    EXPECT_TRUE(Exists("target/Data/new.txt"));
    // The previous copy and every temporary copy are gone; the job's temporary folder is empty.
    std::set<std::string> left;
    for (const auto& e : std::filesystem::recursive_directory_iterator(P("target")))
        left.insert(e.path().string().substr(P("target/").size()));
    EXPECT_EQ(left, (std::set<std::string>{".stowline-tmp-T", "Data", "Data/a.txt", "Data/new.txt"}));
}

TEST_F(CopyFilesTest, UpdateOverTwoRunsCopiesOnlyNewAndNewerFiles) {
    Write("src/U/a.txt", "a", 1600000000);
    Write("src/U/b.txt", "b", 1600000000);
    Write("src/U/Sub/c.txt", "c", 1600000000);
    MakeTarget();
    EXPECT_EQ(Entry(P("src/U/*.*"), libCopy::CopyUpdate).FileCount, 3);
    EXPECT_EQ(Entry(P("src/U/*.*"), libCopy::CopyUpdate).FileCount, 0); // equal times are not copied

    Write("src/U/a.txt", "a2", 1600000100);
    Write("src/U/Sub/new.txt", "n");
    Write("src/U/b.txt", "older", 1500000000); // older than the copy: left alone
    std::filesystem::remove(P("src/U/Sub/c.txt"));
    ClearLog();
    const auto r = Entry(P("src/U/*.*"), libCopy::CopyUpdate);
    EXPECT_EQ(r.FileCount, 2);
    EXPECT_EQ(r.ByteCount, 3);
    EXPECT_EQ(Read("target/U/a.txt"), "a2");
    EXPECT_EQ(Read("target/U/b.txt"), "b");
    EXPECT_EQ(Read("target/U/Sub/new.txt"), "n");
    EXPECT_TRUE(Exists("target/U/Sub/c.txt")); // Update never deletes
}

TEST_F(CopyFilesTest, FreshenCopiesOnlyNewerFilesAlreadyInTheBackup) {
    Write("src/F/a.txt", "a", 1600000000);
    Write("src/F/b.txt", "b", 1600000000);
    MakeTarget();
    EXPECT_EQ(Entry(P("src/F/*.*"), libCopy::CopyFreshen).FileCount, 0);
    EXPECT_FALSE(Exists("target/F/a.txt"));

    Write("target/F/a.txt", "old", 1500000000);
    EXPECT_EQ(Entry(P("src/F/*.*"), libCopy::CopyFreshen).FileCount, 1);
    EXPECT_EQ(Read("target/F/a.txt"), "a");
    EXPECT_FALSE(Exists("target/F/b.txt"));
    EXPECT_EQ(Entry(P("src/F/*.*"), libCopy::CopyFreshen).FileCount, 0);
}

TEST_F(CopyFilesTest, IncrementalUsesTheArchiveFlagWithoutTouchingSources) {
    Write("src/I/a.txt", "a");
    Write("src/I/b.txt", "b");
    Write("src/I/Sub/c.txt", "c");
    const struct stat before = Stat("src/I/a.txt");
    MakeTarget();
    EXPECT_EQ(Entry(P("src/I/*.*"), libCopy::CopyUpdate, true).FileCount, 3);
    EXPECT_EQ(Entry(P("src/I/*.*"), libCopy::CopyUpdate, true).FileCount, 0);
    // The source is never modified by a backup (its change time stays).
    const struct stat after = Stat("src/I/a.txt");
    EXPECT_EQ(after.st_ctim.tv_sec, before.st_ctim.tv_sec);
    EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);
    EXPECT_EQ(after.st_mode, before.st_mode);

    Write("src/I/Sub/c.txt", "changed");
    Write("src/I/d.txt", "d");
    const auto r = Entry(P("src/I/*.*"), libCopy::CopyRebuild, true);
    EXPECT_EQ(r.FileCount, 2);
    EXPECT_EQ(Read("target/I/Sub/c.txt"), "changed");
    EXPECT_FALSE(Exists("target/I/a.txt")); // Rebuild emptied the folder; a.txt was unchanged

    // A non-incremental copy clears the flag too.
    Write("src/I/e.txt", "e");
    EXPECT_EQ(Copy(P("src/I/e.txt"), P("target/"), false, false, libCopy::CopyRebuild).Files, 1);
    EXPECT_EQ(Copy(P("src/I/e.txt"), P("target/"), true, false, libCopy::CopyRebuild).Files, 0);
}

TEST_F(CopyFilesTest, AFileThatCannotBeReadIsLoggedAsLockedAndKeepsItsFlag) {
    Write("src/L/a.txt", "a");
    Write("src/L/z.txt", "z");
    if (!MakeUnreadable(P("src/L/m.txt"))) GTEST_SKIP() << "no file here refuses reading";
    const int64_t lockedSize = Stat("src/L/m.txt").st_size;
    MakeTarget();
    auto r = Entry(P("src/L/*.txt"), libCopy::CopyRebuild, true);
    EXPECT_FALSE(r.Abandon);
    EXPECT_EQ(r.FileCount, 3); // the locked file counts: its length was added before the copy
    EXPECT_EQ(r.ByteCount, 2 + lockedSize);
    EXPECT_TRUE(Exists("target/L/z.txt")); // the walk went on
    EXPECT_FALSE(Exists("target/L/m.txt"));
    const std::string line = "****ERROR****" + P("src/L/m.txt") + "  ** WAS LOCKED IN USE AND NOT BACKED UP **";
    EXPECT_TRUE(LogHas(line));
    // No temporary file left behind.
    for (const auto& e : std::filesystem::directory_iterator(P("target/L")))
        EXPECT_NE(e.path().filename().string().rfind(".stowline-", 0), 0u) << e.path();

    // Still flagged: the next incremental run tries it again; with StopOnError the entry fails.
    appPreferences::StopOnError = true;
    ClearLog();
    r = Entry(P("src/L/*.txt"), libCopy::CopyUpdate, true);
    EXPECT_EQ(r.FileCount, 1);
    EXPECT_TRUE(r.Abandon);
    EXPECT_TRUE(LogHas(line));
    EXPECT_EQ(LogLines().back(), "Error copying backup files and folders to destination.");
}

TEST_F(CopyFilesTest, AnAbortedRebuildKeepsThePreviousCopyWhole) {
    for (const char* f : {"src/A/1.txt", "src/A/2.txt", "src/A/3.txt", "src/A/Sub/4.txt"})
        Write(f, "new");
    MakeTarget();
    const std::string kept = "  Rebuild of '" + P("target/A") + "' not completed: ";
    // Without a previous copy nothing partial is left under the final name either.
    {
        AbortingOwner owner;
        owner.AbortOn = [&owner](const std::string&) { return owner.Messages.size() >= 2; };
        RunState::SetOwner(&owner);
        const auto r = Entry(P("src/A/*.*"), libCopy::CopyRebuild);
        RunState::SetOwner(nullptr);
        EXPECT_FALSE(r.Abandon);   // an abort is not a failure
        EXPECT_LE(r.FileCount, 1); // the file announced with the abort was never copied
        EXPECT_EQ(owner.Messages.front(), "Backing Up  " + P("src/A/1.txt"));
        EXPECT_FALSE(Exists("target/A"));
        EXPECT_EQ(LogLines().back(), kept + "there was no previous copy");
    }
    RunState::SetAbortRequested(false);
    Write("target/A/1.txt", "old 1");
    Write("target/A/stale.txt", "old stale");
    Write("target/A/Sub/4.txt", "old 4");
    {
        AbortingOwner owner;
        // The rows of the files copied so far are written, none committed. An incremental walk
        // has written every row of a folder before it enters the next, here "Sub".
        bool bHeldBack = false;
        owner.AbortOn = [&](const std::string&) {
            if (owner.Messages.size() != 4) return false;
            bHeldBack =
                !ArchiveFlags::Instance().IsArchiveSet(P("src/A/2.txt"), Stat("src/A/2.txt")) && CommittedRows() == 0;
            return true;
        };
        RunState::SetOwner(&owner);
        const auto r = Entry(P("src/A/*.*"), libCopy::CopyRebuild, true);
        RunState::SetOwner(nullptr);
        EXPECT_FALSE(r.Abandon);
        EXPECT_LE(r.FileCount, 3);
        EXPECT_TRUE(bHeldBack);
    }
    EXPECT_EQ(Read("target/A/1.txt"), "old 1");
    EXPECT_EQ(Read("target/A/stale.txt"), "old stale");
    EXPECT_EQ(Read("target/A/Sub/4.txt"), "old 4");
    EXPECT_FALSE(Exists("target/A/2.txt"));
    EXPECT_EQ(LogLines().back(), kept + "the previous copy was kept");
    EXPECT_FALSE(Exists("target/.stowline-tmp-T/rebuild/A"));
    // The discarded copies stand for nothing: the files are still due for an incremental run.
    EXPECT_EQ(CommittedRows(), 0);
    RunState::SetAbortRequested(false);
    EXPECT_EQ(Entry(P("src/A/*.*"), libCopy::CopyRebuild, true).FileCount, 4);
    EXPECT_EQ(CommittedRows(), 4);
    EXPECT_FALSE(Exists("target/A/stale.txt"));
    EXPECT_EQ(Read("target/A/Sub/4.txt"), "new");
    EXPECT_EQ(Entry(P("src/A/*.*"), libCopy::CopyRebuild, true).FileCount, 0); // the rows hold what was copied
}

TEST_F(CopyFilesTest, NamesHoldingPatternCharactersAreLookedUpAsTheyStand) {
    const std::vector<std::string> names{"report*.txt", "repor?.txt", "a[1].txt", "#x.txt"};
    for (const auto& n : names)
        Write("src/W/" + n, "new " + n, 1600000000);
    Write("src/W/report.txt", "same", 1600000000);
    MakeTarget();
    // Only report.txt is in the backup, as new as its source: a look-up by pattern would find it
    // for each of the new names and copy none of them.
    Write("target/W/report.txt", "same", 1600000000);
    const auto expectCopies = [&](const std::string& sPrefix) {
        for (const auto& n : names)
            EXPECT_EQ(Read("target/W/" + n), sPrefix + n) << n;
    };
    EXPECT_EQ(Entry(P("src/W/*.*"), libCopy::CopyFreshen).FileCount, 0);
    EXPECT_EQ(Entry(P("src/W/*.txt"), libCopy::CopyUpdate).FileCount, 4);
    expectCopies("new ");

    // Freshen: older copies of the four are replaced even though report.txt is not older.
    for (const auto& n : names)
        Write("src/W/" + n, "newer " + n, 1700000000);
    EXPECT_EQ(Entry(P("src/W/*.*"), libCopy::CopyFreshen).FileCount, 4);
    expectCopies("newer ");
    EXPECT_EQ(Entry(P("src/W/*.*"), libCopy::CopyRebuild).FileCount, 5);
    expectCopies("newer ");
    // A plain entry holding "[" or "#" names that one file.
    EXPECT_EQ(
        libCopy::CopyEntry(P("src/W/a[1].txt"), P("target/"), false, false, libCopy::CopyUpdate, "", Temp()).FileCount,
        1);
    EXPECT_EQ(Read("target/a[1].txt"), "newer a[1].txt");
}

TEST_F(CopyFilesTest, LinksAreCopiedAsLinksNeverFollowedAndSpecialFilesAreNamed) {
    Write("src/S/real.txt", "real");
    Write("outside/secret.txt", "s");
    const std::vector<std::pair<std::string, std::string>> links{
        {"link.txt", "real.txt"}, {"dirlink", P("outside")}, {"loop", P("src/S")}, {"dangling", "no/such/file"}};
    for (const auto& [name, to] : links)
        ASSERT_EQ(symlink(to.c_str(), P("src/S/" + name).c_str()), 0);
    ASSERT_EQ(mkfifo(P("src/S/pipe").c_str(), 0644), 0); // never opened
    MakeTarget();
    const auto linkTarget = [&](const std::string& s) { return std::filesystem::read_symlink(P(s)).string(); };
    for (const int style : {libCopy::CopyRebuild, libCopy::CopyUpdate}) {
        std::filesystem::remove_all(P("target/S"));
        ClearLog();
        const auto r = Entry(P("src/S/*.*"), style);
        EXPECT_EQ(r.FileCount, 5);
        EXPECT_EQ(r.LeftOut, 0);
        EXPECT_EQ(Read("target/S/real.txt"), "real");
        for (const auto& [name, to] : links)
            EXPECT_EQ(linkTarget("target/S/" + name), to);
        EXPECT_FALSE(Exists("target/outside")); // the linked folder was not entered
        EXPECT_FALSE(Exists("target/S/pipe"));
        EXPECT_TRUE(LogHas("  Not backed up: '" + P("src/S/pipe") + "': a named pipe"));
        // The link keeps its own time, so an Update and an incremental run find it unchanged.
        EXPECT_EQ(Entry(P("src/S/*.*"), libCopy::CopyUpdate).FileCount, 0);
        EXPECT_EQ(Entry(P("src/S/*.*"), libCopy::CopyUpdate, true).FileCount, 0);
    }
    // A changed link is copied again, replacing the old one.
    std::filesystem::remove(P("src/S/dangling"));
    ASSERT_EQ(symlink("real.txt", P("src/S/dangling").c_str()), 0);
    SetMTime("src/S/dangling", 2000000000);
    EXPECT_EQ(Entry(P("src/S/*.*"), libCopy::CopyUpdate).FileCount, 1);
    EXPECT_EQ(linkTarget("target/S/dangling"), "real.txt");
}

TEST_F(CopyFilesTest, RebuildNeverRemovesTheTargetDirectoryNorTheFolderItBacksUp) {
    EXPECT_EQ(libCopy::LastFolderName("/data/./*.txt"), "");

    Write("target/keep.txt", "precious");
    // An entry directly in the root: nothing there matches, and the target stays as it was.
    auto r = Entry("/*.stowline-test-no-such-name", libCopy::CopyRebuild, false, false);
    EXPECT_FALSE(r.Abandon);
    EXPECT_EQ(r.FileCount, 0);
    EXPECT_EQ(Read("target/keep.txt"), "precious");
    // A "..": its files are copied into the target, which again is not removed.
    Write("src/x.txt", "x");
    Write("src/Sub/y.txt", "y");
    r = Entry(P("src/Sub/../*.txt"), libCopy::CopyRebuild, false, false);
    EXPECT_FALSE(r.Abandon);
    EXPECT_EQ(r.FileCount, 1);
    EXPECT_EQ(Read("target/keep.txt"), "precious");
    EXPECT_EQ(Read("target/x.txt"), "x");
    EXPECT_TRUE(Exists("src/x.txt"));
    // Nor the entry's own folder, when that is where its copy would go: the sources would be lost.
    Write("bk/old/a.txt", "a");
    r = libCopy::CopyEntry(P("bk/old/*.*"), P("bk/"), false, true, libCopy::CopyRebuild, "", P("bk/.stowline-tmp-T/"));
    EXPECT_TRUE(r.Abandon);
    EXPECT_EQ(Read("bk/old/a.txt"), "a");
    EXPECT_EQ(LogLines().back(), "Error removing previous backup folder.");
}

TEST_F(CopyFilesTest, OtherErrorsAreFatalWithTheWalksProcedureName) {
    Write("src/E/a.txt", "a");
    // A folder where the copy of a.txt should go: the rename over it fails.
    std::filesystem::create_directories(P("target/E/a.txt"));
    EXPECT_THROW(Copy(P("src/E/*.*"), P("target/E"), false, false, libCopy::CopyRebuild),
                 libErrorHandler::FatalApplicationError);
    const std::string sReport = ReadFile(libLog::ErrorFileName());
    EXPECT_NE(sReport.find("libCopy/CopyFiles()"), std::string::npos);
}

TEST_F(CopyFilesTest, ATargetInsideTheWalkedTreeIsNotCopiedIntoItself) {
    Write("home/a.txt", "a");
    Write("home/Docs/b.txt", "b");
    std::filesystem::create_directories(P("home/backup"));
    const auto r = libCopy::CopyEntry(P("home/*.*"), P("home/backup/"), false, true, libCopy::CopyRebuild, "",
                                      P("home/backup/.stowline-tmp-T/"));
    EXPECT_FALSE(r.Abandon);
    EXPECT_EQ(r.FileCount, 2);
    EXPECT_EQ(Read("home/backup/home/Docs/b.txt"), "b");
    // The copies' own folder is never entered, so no copy of a copy appears.
    EXPECT_FALSE(Exists("home/backup/home/backup/home"));
}

TEST_F(CopyFilesTest, FoldersTooDeepForAPathAreNamedNotPassedOver) {
    Write("src/D/top.txt", "top");
    ASSERT_GT(MakeDeepTree(P("src/D"), PATH_MAX + 300), 0u);
    MakeTarget();
    const auto r = Entry(P("src/D/*.*"), libCopy::CopyUpdate);
    EXPECT_FALSE(r.Abandon);
    EXPECT_EQ(r.FileCount, 1);
    EXPECT_EQ(r.LeftOut, 1); // the first folder that cannot be taken; nothing below it is walked
    const auto lines = LogLines();
    const auto named = std::find_if(lines.begin(), lines.end(), [](const std::string& s) {
        return s.rfind("  Not backed up: '", 0) == 0 && s.ends_with("/': File name too long");
    });
    EXPECT_NE(named, lines.end());
    EXPECT_EQ(Read("target/D/top.txt"), "top");
    uint64_t lBytes = 0;
    EXPECT_TRUE(libFiles::RemoveTree(P("src/D"), lBytes)); // no path-based removal reaches the bottom
}

} // namespace
