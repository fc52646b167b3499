// Copy-style runs that cannot finish: a full target, an abort, files that vanish, a target with a
// mount inside it. Earlier copies must survive whole and nothing partial may stand under a final
// name.

#include "RunTestSupport.h"

using namespace runtest;

namespace {

class CopyRunLimits : public RunFixture {
protected:
    void TearDown() override {
        for (auto it = m_mounts.rbegin(); it != m_mounts.rend(); ++it)
            ::umount2(it->c_str(), MNT_DETACH);
        RunFixture::TearDown();
    }

    // Mounts a small tmpfs on the folder; false when this machine refuses.
    bool MountSmall(const std::string& sFolder, const std::string& sSize) {
        fs::create_directories(sFolder);
        if (::mount("tmpfs", sFolder.c_str(), "tmpfs", 0, ("size=" + sSize).c_str()) != 0) return false;
        m_mounts.push_back(sFolder);
        return true;
    }

    // Every path below the folder whose name shows it is a temporary.
    static std::vector<std::string> Temporaries(const std::string& sFolder) {
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(sFolder))
            if (e.path().filename().string().rfind(".stowline", 0) == 0) found.push_back(e.path());
        return found;
    }

private:
    std::vector<std::string> m_mounts;
};

TEST_F(CopyRunLimits, AFullTargetFailsTheRunAndKeepsEveryEarlierCopy) {
    if (!MountSmall(Tgt, "1m")) GTEST_SKIP() << "no tmpfs can be mounted here";
    for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
        SetFileTime(WriteFile(Tgt + "Data/" + name, std::string(100000, 'o')),
                    libDates::ToTimeT(libDates::DateSerial(2020, 1, 1)));
        Source(std::string("Data/") + name, std::string(400000, name[0]));
    }
    CBackupJob job = MakeJob("Docs", {Src + "Data/*.*"}, false);
    job.SetRunCount(2);
    for (const int32_t style : {0, 1}) { // Rebuild, then Update
        SCOPED_TRACE(style);
        ClearLog();
        job.SetCopyStyle(style);
        EXPECT_TRUE(BackupRun::ExecuteBackupNow(job)); // abandoned, not a fatal report
        EXPECT_TRUE(LogHasPrefixSuffix("  Error copying '" + Src + "Data/", "': No space left on device"));
        EXPECT_EQ(LogLines().end()[-2], "Error copying backup files and folders to destination.");
        EXPECT_EQ(LogLines().back().rfind("  Backed up 0 files (0 B) in ", 0), 0u); // the summary last
        EXPECT_TRUE(job.Failure());
        EXPECT_EQ(job.RunCount(), 2);
        EXPECT_TRUE(Temporaries(Tgt).empty());
        // The Rebuild kept the previous copy whole; Update leaves each file under its final name
        // as one whole version of its source.
        if (style == 0) {
            EXPECT_TRUE(LogHas("  Rebuild of '" + Tgt + "Data' not completed: the previous copy was kept"));
        } else {
            EXPECT_EQ(ReadFile(Tgt + "Data/a.bin"), std::string(400000, 'a')); // copied before the disk filled
        }
        for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
            const std::string copy = ReadFile(Tgt + "Data/" + name);
            EXPECT_TRUE(copy == std::string(100000, 'o') || (style == 1 && copy == std::string(400000, name[0])))
                << name;
        }
    }
}

// A Rebuild copies on several threads: copies under way when the disk fills are dropped, so the
// log names one file, as a copy of one file after the other would, and nothing follows it.
TEST_F(CopyRunLimits, AFullTargetStopsARebuildAtOneNamedFileWhateverWasUnderWay) {
    if (!MountSmall(Tgt, "2m")) GTEST_SKIP() << "no tmpfs can be mounted here";
    WriteFile(Tgt + "Data/old.txt", "previous");
    for (int i = 0; i < 120; ++i)
        Source("Data/" + std::to_string(1000 + i), std::string(40000, 'x'));
    CBackupJob job = MakeJob("Docs", {Src + "Data/*.*"}, false);
    EXPECT_TRUE(BackupRun::ExecuteBackupNow(job));
    EXPECT_TRUE(job.Failure());
    const auto lines = LogLines();
    const auto isError = [](const std::string& s) { return s.rfind("  Error copying '", 0) == 0; };
    const auto isAnnounce = [](const std::string& s) { return s.rfind("    +-- ", 0) == 0; };
    const auto error = std::find_if(lines.begin(), lines.end(), isError);
    ASSERT_NE(error, lines.end());
    EXPECT_TRUE(error->ends_with("': No space left on device")) << *error;
    // The file it names is the last one announced.
    const std::string sLast = "Data/" + std::to_string(1000 + std::count_if(lines.begin(), error, isAnnounce) - 1);
    EXPECT_EQ(*error, "  Error copying '" + Src + sLast + "' to '" + Tgt + sLast + "': No space left on device");
    EXPECT_EQ(std::count_if(error, lines.end(), isAnnounce), 0);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), isError), 1);
    EXPECT_TRUE(LogHas("  Rebuild of '" + Tgt + "Data' not completed: the previous copy was kept"));
    EXPECT_EQ(ReadFile(Tgt + "Data/old.txt"), "previous");
    EXPECT_TRUE(Temporaries(Tgt).empty());
}

TEST_F(CopyRunLimits, AnAbortStopsTheRunKeepsEveryPreviousCopyAndLeavesNoTemporaries) {
    Source("one/a", "new a");
    Source("one/b", "new b");
    Source("two/c", "c");
    WriteFile(Tgt + "one/a", "old a");
    WriteFile(Tgt + "one/only-old", "old");
    WriteFile(Tgt + "two/old", "previous backup");
    CBackupJob job = MakeJob("Docs", {Src + "one/*.*", Src + "two/*.*"}, false);
    AbortingOwner owner; // the abort arrives while the first entry is being copied
    owner.AbortOn = [](const std::string& s) { return s.rfind("Backing Up  ", 0) == 0 && s.ends_with("/b"); };
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job, &owner));
    EXPECT_TRUE(job.Failure());
    EXPECT_EQ(job.RunCount(), 1);
    EXPECT_TRUE(LogHas("  Rebuild of '" + Tgt + "one' not completed: the previous copy was kept"));
    EXPECT_TRUE(LogHas("Backup terminated by user"));
    EXPECT_EQ(ReadFile(Tgt + "one/a"), "old a");
    EXPECT_EQ(ReadFile(Tgt + "one/only-old"), "old");
    EXPECT_FALSE(Exists(Tgt + "one/b"));
    // The second entry's Rebuild never started, so its previous backup was not removed.
    EXPECT_EQ(ReadFile(Tgt + "two/old"), "previous backup");
    EXPECT_FALSE(LogHas("Backing Up   " + Src + "two/*.*"));
    EXPECT_TRUE(Temporaries(Tgt).empty());

    // Completed, the Rebuild leaves exactly what it copied.
    RunOk(job);
    EXPECT_EQ(ReadFile(Tgt + "one/a"), "new a");
    EXPECT_EQ(ReadFile(Tgt + "one/b"), "new b");
    EXPECT_FALSE(Exists(Tgt + "one/only-old"));
    EXPECT_FALSE(Exists(Tgt + "two/old"));
    EXPECT_TRUE(Temporaries(Tgt).empty());
}

// Each file named "gone..." vanishes as its copy is announced (between listing and copying); each
// named "odd..." becomes a folder (it can no longer be read as a file).
TEST_F(CopyRunLimits, AFileThatCannotBeCopiedIsNamedWithTheReasonAndTheRunRecordsAFailure) {
    Source("V/a.txt", "a");
    struct DeletingOwner : RecordingOwner {
        void SetMessageText(const std::string& s) override {
            if (s.rfind("Backing Up  ", 0) != 0) return;
            const std::string sPath = s.substr(12);
            if (sPath.ends_with("gone.txt") || sPath.ends_with("odd.txt")) fs::remove(sPath);
            if (sPath.ends_with("odd.txt")) fs::create_directories(sPath);
        }
    } owner;
    for (const int32_t style : {0, 1}) {
        SCOPED_TRACE(style);
        ClearLog();
        CBackupJob job = MakeJob("Docs", {Src + "V/*.*"}, false);
        job.SetCopyStyle(style);
        fs::remove_all(Src + "V/odd.txt");
        Source("V/gone.txt", "g");
        Source("V/odd.txt", "o");
        job.SetPostBackupCommand("exit 0");
        EXPECT_FALSE(BackupRun::ExecuteBackupNow(job, &owner)); // the other files were backed up
        EXPECT_TRUE(job.Failure());
        EXPECT_TRUE(LogHas("  Not backed up: '" + Src + "V/gone.txt': No such file or directory"));
        EXPECT_TRUE(LogHas("  Not backed up: '" + Src + "V/odd.txt': no longer a regular file"));
        EXPECT_EQ(ReadFile(Tgt + "V/a.txt"), "a");
        EXPECT_FALSE(Exists(Tgt + "V/gone.txt"));
        EXPECT_FALSE(fs::is_regular_file(Tgt + "V/odd.txt"));
    }
}

TEST_F(CopyRunLimits, AMountInsideTheTargetTakesCopiesButNoRebuildSwap) {
    if (!MountSmall(Tgt + "Data", "1m")) GTEST_SKIP() << "no tmpfs can be mounted here";
    Source("Data/a.txt", "a");
    WriteFile(Tgt + "Data/old.txt", "old");
    CBackupJob job = MakeJob("Docs", {Src + "Data/*.*"}, false);
    job.SetCopyStyle(1);
    // The temporary copy cannot be renamed across file systems: it is made beside the file.
    RunOk(job);
    EXPECT_EQ(ReadFile(Tgt + "Data/a.txt"), "a");
    EXPECT_TRUE(Temporaries(Tgt).empty());

    job.SetCopyStyle(0);
    EXPECT_TRUE(BackupRun::ExecuteBackupNow(job));
    EXPECT_TRUE(LogHas("  Rebuild of '" + Tgt + "Data' not possible on a mount point: the previous copy was kept"));
    EXPECT_EQ(ReadFile(Tgt + "Data/old.txt"), "old");
    EXPECT_TRUE(Temporaries(Tgt).empty());
}

} // namespace
