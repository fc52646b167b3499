// Runs asked to stop while a Rebuild copies: by the window's Abort, by a stop signal, or before
// the run even began. The previous copy must stay whole and untouched, no part of the new tree
// may take its place, nothing may be copied once the stop is seen, and the log must say so.

#include "RunTestSupport.h"

#include "engine/libCopy.h"

#include <atomic>

using namespace runtest;

namespace {

constexpr int kFiles = 2000;

class RunStop : public RunFixture {
protected:
    void TearDown() override {
        RunState::SetStopRequested(false);
        RunState::SetAbortRequested(false);
        RunFixture::TearDown();
    }

    // A source folder of kFiles small files and a previous copy of it with other contents and
    // one file of its own; returns the previous copy as it stands (relative name -> content).
    std::map<std::string, std::string> PreviousCopy() {
        for (int i = 0; i < kFiles; ++i)
            Source("Data/f" + std::to_string(i), "new " + std::to_string(i) + std::string(2000, 'n'));
        std::map<std::string, std::string> previous;
        for (int i = 0; i < kFiles; i += 7)
            previous["f" + std::to_string(i)] = "old " + std::to_string(i);
        previous["only-old"] = "kept until a Rebuild completes";
        for (const auto& [name, content] : previous)
            SetFileTime(WriteFile(Tgt + "Data/" + name, content), libDates::ToTimeT(libDates::DateSerial(2020, 1, 1)));
        return previous;
    }

    // The copy as it stands now, and whether every file kept its 2020 time.
    std::map<std::string, std::string> CopyNow(bool& bTimesKept) const {
        std::map<std::string, std::string> now;
        bTimesKept = true;
        for (const auto& e : fs::directory_iterator(Tgt + "Data")) {
            now[e.path().filename().string()] = ReadFile(e.path().string());
            struct stat st {};
            ::stat(e.path().c_str(), &st);
            bTimesKept = bTimesKept && st.st_mtime < 1600000000; // 2020-09-13
        }
        return now;
    }

    static bool TemporaryLeft(const std::string& sFolder) {
        for (const auto& e : fs::recursive_directory_iterator(sFolder))
            if (e.path().filename().string().rfind(".stowline", 0) == 0) return true;
        return false;
    }

    // The file count of the run's "  Copied N files ..." line (-1 without one).
    static long CopiedCount() {
        for (const auto& s : LogLines())
            if (s.rfind("  Copied ", 0) == 0) return std::stol(s.substr(9));
        return -1;
    }
};

TEST_F(RunStop, AnAbortMidwayThroughALargeRebuildKeepsThePreviousCopyAndCopiesNothingMore) {
    const auto previous = PreviousCopy();
    CBackupJob job = MakeJob("Docs", {Src + "Data/*.*"}, false);
    job.SetRunCount(4);
    // The Abort command, handled while the walk hands the 1000th file over.
    AbortingOwner owner;
    int iShown = 0;
    owner.AbortOn = [&](const std::string& s) { return s.rfind("Backing Up  ", 0) == 0 && ++iShown == 700; };
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job, &owner));
    EXPECT_TRUE(job.Failure());
    bool bTimesKept = false;
    EXPECT_EQ(CopyNow(bTimesKept), previous);
    EXPECT_TRUE(bTimesKept);
    EXPECT_FALSE(TemporaryLeft(Tgt));
    EXPECT_TRUE(LogHas("  Rebuild of '" + Tgt + "Data' not completed: the previous copy was kept"));
    EXPECT_TRUE(LogHas("Backup terminated by user"));
    EXPECT_FALSE(LogHas("  Stopped: the program was asked to end"));
    // The walk handed over no file after the abort, and no copy started after it counts.
    EXPECT_EQ(iShown, 700);
    EXPECT_GE(CopiedCount(), 0);
    EXPECT_LE(CopiedCount(), 700);

    // The next run completes, and only then does the new tree take the old one's place.
    ClearLog();
    RunState::SetAbortRequested(false);
    RunOk(job);
    const auto now = CopyNow(bTimesKept);
    EXPECT_EQ(now.size(), static_cast<size_t>(kFiles));
    EXPECT_EQ(now.count("only-old"), 0u);
    EXPECT_EQ(now.at("f7"), "new 7" + std::string(2000, 'n'));
    EXPECT_EQ(CopiedCount(), kFiles);
}

TEST_F(RunStop, AStopSignalMidwayIsLoggedAndAStopBeforeTheRunIsNotForgotten) {
    const auto previous = PreviousCopy();
    CBackupJob job = MakeJob("Docs", {Src + "Data/*.*"}, false);
    // The stop, as the signal handler sets it, while the walk hands the 500th file over.
    AbortingOwner owner;
    int iShown = 0;
    owner.AbortOn = [&](const std::string& s) {
        if (s.rfind("Backing Up  ", 0) == 0 && ++iShown == 500) RunState::SetStopRequested(true);
        return false;
    };
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job, &owner));
    EXPECT_TRUE(job.Failure());
    EXPECT_EQ(iShown, 500);
    EXPECT_TRUE(LogHas("  Stopped: the program was asked to end"));
    EXPECT_TRUE(LogHas("  Rebuild of '" + Tgt + "Data' not completed: the previous copy was kept"));
    bool bTimesKept = false;
    EXPECT_EQ(CopyNow(bTimesKept), previous);
    EXPECT_TRUE(bTimesKept);
    EXPECT_FALSE(TemporaryLeft(Tgt));

    // Still asked to stop: the start of the next run, which clears a stale Abort, keeps it, and
    // the run copies nothing.
    ClearLog();
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    EXPECT_TRUE(job.Failure());
    EXPECT_EQ(CopiedCount(), 0);
    EXPECT_TRUE(LogHas("  Stopped: the program was asked to end"));
    EXPECT_EQ(CopyNow(bTimesKept), previous);
    EXPECT_FALSE(TemporaryLeft(Tgt));
}

// Asks for an abort once the copy of a file is under way, as a click or a signal handled while
// a worker copies a large file would; counts what it is asked to copy after that.
class AbortingCopier : public libFiles::FileCopier {
public:
    std::atomic<int> Calls = 0;

protected:
    ssize_t KernelCopy(int in, off_t* pInOffset, int out, off_t* pOutOffset, size_t n) override {
        ++Calls;
        RunState::SetAbortRequested(true);
        return FileCopier::KernelCopy(in, pInOffset, out, pOutOffset, n);
    }
};

TEST_F(RunStop, AFileBeingCopiedWhenTheAbortComesIsDroppedNotFinished) {
    // A file of eight pieces of data between holes: each piece is a request of its own.
    const std::string sBig = Source("Big/big.bin", "");
    {
        const int fd = ::open(sBig.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const std::string piece(4096, 'd');
        for (int i = 0; i < 8; ++i)
            ASSERT_EQ(::pwrite(fd, piece.data(), piece.size(), static_cast<off_t>(i) << 22), 4096);
        ::close(fd);
    }
    struct stat st {};
    ASSERT_EQ(::stat(sBig.c_str(), &st), 0);
    if (st.st_blocks * 512 >= st.st_size) GTEST_SKIP() << "this file system keeps no holes";
    WriteFile(Tgt + "Big/previous.bin", "previous");
    AbortingCopier copier;
    const libCopy::EntryResult r = libCopy::CopyEntry(Src + "Big/*.*", Tgt, false, true, libCopy::CopyRebuild, "",
                                                      Tgt + ".stowline-tmp-Docs/", &copier);
    EXPECT_FALSE(r.Abandon); // an abort is no failure
    EXPECT_EQ(copier.Calls, 1);
    EXPECT_EQ(r.FileCount, 0);
    EXPECT_EQ(ReadFile(Tgt + "Big/previous.bin"), "previous");
    // Nothing of it stands anywhere: neither under its name nor in the tree that was being built.
    for (const auto& e : fs::recursive_directory_iterator(Tgt))
        EXPECT_NE(e.path().filename(), "big.bin") << e.path();
}

} // namespace
