// Links a restore meets that its backup does not hold: in the folder restored into before the
// restore begins (under a file's name, under a folder's name), planted while it runs, and in a
// copy tree read from. None is written or read through: the file a link points to keeps its
// bytes and its time, and its folder gains nothing.

#include "RunTestSupport.h"

using namespace runtest;
using libRestore::Conflict;
using libRestore::Status;

namespace {

class RestoreLinks : public RunFixture {
protected:
    std::string Outside;  // a folder no restore may touch
    std::string Sentinel; // a file in it, the target of the links planted at file names
    std::string Prefix;   // the entries' names up to "a.txt" or "sub/b.txt": where the restore puts them

    void SetUp() override {
        RunFixture::SetUp();
        Outside = Root + "outside/";
        Sentinel = WriteFile(Outside + "sentinel.txt", "outside's own");
        SetFileTime(Sentinel, kOldTime - 5000);
        SetFileTime(Outside, kOldTime - 5000);
        m_sOutsideBefore = StateOfOutside();
        Source("a.txt", "alpha");
        Source("sub/b.txt", "beta");
        Source("sub/c.txt", "gamma");
        Source("later/d.txt", "delta");
        for (const char* s : {"a.txt", "sub/b.txt", "sub/c.txt", "later/d.txt"})
            SetFileTime(Src + s, kOldTime);
    }

    // Every name below Outside with its kind, size, bytes and modification time.
    std::string StateOfOutside() const {
        std::string s;
        const auto add = [&](const std::string& sPath) {
            struct stat st {};
            ::lstat(sPath.c_str(), &st);
            s += sPath + " " + std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
                 std::to_string(libFiles::TimeNs(st.st_mtim)) + " " + (S_ISREG(st.st_mode) ? ReadFile(sPath) : "") +
                 "\n";
        };
        add(Outside);
        for (const auto& e : fs::recursive_directory_iterator(Outside))
            add(e.path().string());
        return s;
    }
    void ExpectOutsideUntouched() const { EXPECT_EQ(StateOfOutside(), m_sOutsideBefore); }

    // A backup of the source folder in the style asked for, with its entries; sets Prefix.
    libRestore::BackupInfo BackUp(bool bZip, std::vector<libRestore::Entry>& entries) {
        ResetTarget();
        CBackupJob job = MakeJob("Links", {SrcFolder()}, bZip);
        const libRestore::BackupInfo backup = BackUpAndRead(job, entries);
        m_job = job;
        Prefix = PrefixOf(entries, "sub/b.txt");
        return backup;
    }

    // The entry's name up to and without its final "sub/b.txt" (say): where the restore puts it.
    static std::string PrefixOf(const std::vector<libRestore::Entry>& entries, const std::string& sTail) {
        for (const auto& e : entries)
            if (e.Name.size() >= sTail.size() && e.Name.ends_with(sTail) &&
                (e.Name.size() == sTail.size() || e.Name[e.Name.size() - sTail.size() - 1] == '/'))
                return e.Name.substr(0, e.Name.size() - sTail.size());
        ADD_FAILURE() << "no entry ends with " << sTail;
        return {};
    }

    libRestore::Report Restore(const libRestore::BackupInfo& b, const std::vector<libRestore::Entry>& entries,
                               Conflict c, const std::string& sTo,
                               std::function<bool(const std::string&, uint64_t, uint64_t)> progress = {}) {
        libRestore::Options o;
        o.ToFolder = sTo;
        o.OnConflict = c;
        o.Progress = std::move(progress);
        return libRestore::Restore(m_job, b, entries, o);
    }

    static bool HasProblem(const libRestore::Report& r, const std::string& sStart, const std::string& sPart) {
        return std::any_of(r.Problems.begin(), r.Problems.end(), [&](const std::string& s) {
            return s.rfind(sStart, 0) == 0 && s.find(sPart) != std::string::npos;
        });
    }

    static bool IsLinkTo(const std::string& sPath, const std::string& sTarget) {
        return fs::is_symlink(sPath) && fs::read_symlink(sPath).string() == sTarget;
    }

private:
    std::string m_sOutsideBefore;
    CBackupJob m_job;
};

} // namespace

TEST_F(RestoreLinks, LinksAlreadyInTheFolderRestoredIntoAreNeverWrittenThrough) {
    for (bool bZip : {true, false}) {
        std::vector<libRestore::Entry> entries;
        const auto b = BackUp(bZip, entries);
        for (Conflict c : {Conflict::Skip, Conflict::OverwriteOlder, Conflict::KeepBoth, Conflict::Overwrite}) {
            SCOPED_TRACE(std::string(bZip ? "zip" : "copy") + ", conflict choice " +
                         std::to_string(static_cast<int>(c)));
            const std::string sTo = Root + "out/", sAt = sTo + Prefix;
            fs::remove_all(sTo);
            fs::create_directories(sAt);
            // A folder of the backup and a file of it already stand as links to elsewhere, the
            // file's link older than the file backed up.
            fs::create_directory_symlink(Outside, sAt + "sub");
            fs::create_symlink(Sentinel, sAt + "a.txt");
            SetFileTime(sAt + "a.txt", kOldTime - 100);

            const auto r = Restore(b, entries, c, sTo);
            EXPECT_EQ(r.Result, Status::Incomplete);
            // Nothing below the linked folder, whatever the choice: the link stays as it was.
            EXPECT_TRUE(HasProblem(r, Prefix + "sub/b.txt: ", "is no folder here"));
            EXPECT_TRUE(HasProblem(r, Prefix + "sub/c.txt: ", "is no folder here"));
            EXPECT_TRUE(IsLinkTo(sAt + "sub", Outside));
            // The file's own name: the link is replaced (never its target written), kept, or
            // kept beside the file restored.
            const bool bReplaced = c == Conflict::Overwrite || c == Conflict::OverwriteOlder;
            if (bReplaced) {
                EXPECT_FALSE(fs::is_symlink(sAt + "a.txt"));
                EXPECT_EQ(ReadFile(sAt + "a.txt"), "alpha");
            } else {
                EXPECT_TRUE(IsLinkTo(sAt + "a.txt", Sentinel));
            }
            if (c == Conflict::KeepBoth) {
                size_t uAlpha = 0;
                for (const auto& e : fs::directory_iterator(sAt))
                    if (e.is_regular_file() && !e.is_symlink() && ReadFile(e.path().string()) == "alpha") ++uAlpha;
                EXPECT_EQ(uAlpha, 1u);
            }
            EXPECT_EQ(ReadFile(sAt + "later/d.txt"), "delta"); // the rest comes back
            ExpectOutsideUntouched();
        }
    }
}

TEST_F(RestoreLinks, LinksPlantedWhileTheRestoreRunsAreNeverWrittenThrough) {
    for (bool bZip : {true, false}) {
        SCOPED_TRACE(bZip ? "zip" : "copy");
        std::vector<libRestore::Entry> entries;
        const auto b = BackUp(bZip, entries);
        const std::string sTo = Root + "out/", sAt = sTo + Prefix;
        fs::remove_all(sTo);
        // As the first file is about to be written, links take the names of two folders the
        // restore has yet to make; once its data is on the way, another takes the file's own name.
        bool bPlanted = false, bFileLink = false;
        const auto r = Restore(b, entries, Conflict::Overwrite, sTo, [&](const std::string& sName, uint64_t, uint64_t) {
            if (sName != Prefix + "a.txt") return true;
            if (!bPlanted) {
                fs::create_directories(sAt);
                fs::create_directory_symlink(Outside, sAt + "later");
                fs::create_directory_symlink(Outside, sAt + "sub");
                bPlanted = true;
            } else if (!bFileLink) {
                fs::create_symlink(Sentinel, sAt + "a.txt");
                bFileLink = true;
            }
            return true;
        });
        ASSERT_TRUE(bPlanted);
        EXPECT_EQ(r.Result, Status::Incomplete);
        EXPECT_TRUE(HasProblem(r, Prefix + "later/d.txt: ", "is no folder here"));
        EXPECT_TRUE(HasProblem(r, Prefix + "sub/b.txt: ", "is no folder here"));
        // The name taken meanwhile is never replaced unasked: the link stays, its target unwritten.
        EXPECT_TRUE(bFileLink);
        EXPECT_TRUE(IsLinkTo(sAt + "a.txt", Sentinel));
        EXPECT_EQ(r.Skipped, 1);
        ExpectOutsideUntouched();
    }
}

TEST_F(RestoreLinks, AFileOfTheCopyTreeSwappedForALinkIsNeverReadThrough) {
    const std::string sSecret = WriteFile(Root + "secret.txt", "not the backup's");
    std::vector<libRestore::Entry> entries;
    const auto b = BackUp(false, entries);
    const std::string sCopy = b.Path + Prefix + "sub/b.txt";
    ASSERT_EQ(ReadFile(sCopy), "beta");
    // Listed as a file, it is a link to another file by the time the restore reads it.
    bool bSwapped = false;
    const std::string sTo = Root + "out/";
    const auto r = Restore(b, entries, Conflict::Skip, sTo, [&](const std::string& sName, uint64_t, uint64_t) {
        if (!bSwapped && sName == Prefix + "sub/b.txt") {
            fs::remove(sCopy);
            fs::create_symlink(sSecret, sCopy);
            bSwapped = true;
        }
        return true;
    });
    ASSERT_TRUE(bSwapped);
    EXPECT_EQ(r.Result, Status::Incomplete);
    EXPECT_EQ(r.NotRestored, 1);
    EXPECT_TRUE(HasProblem(r, Prefix + "sub/b.txt: ", ""));
    EXPECT_FALSE(fs::exists(fs::symlink_status(sTo + Prefix + "sub/b.txt")));
    EXPECT_EQ(ReadFile(sTo + Prefix + "sub/c.txt"), "gamma");
    for (const auto& e : fs::recursive_directory_iterator(sTo))
        if (e.is_regular_file()) {
            EXPECT_NE(ReadFile(e.path().string()), "not the backup's") << e.path();
        }
    EXPECT_EQ(ReadFile(sSecret), "not the backup's");
}
