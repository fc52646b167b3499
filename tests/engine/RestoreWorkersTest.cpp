// A restore whose files are written on worker threads: stopped by its progress callback midway,
// run without any thread, and fed an archive entry whose stored bytes were changed.

#include "RunTestSupport.h"

#include "engine/WorkerThreads.h"

#include <algorithm>
#include <sys/resource.h>

using namespace runtest;
using libRestore::Status;

namespace {

class RestoreWorkersRun : public RunFixture {
protected:
    // 300 files of 1..40 kB of noise in 6 folders, and their contents by name below Src.
    std::map<std::string, std::string> MakeTree() {
        std::map<std::string, std::string> files;
        for (int i = 0; i < 300; ++i) {
            const std::string sName = "d" + std::to_string(i % 6) + "/f" + std::to_string(i) + ".bin";
            files[sName] = Noise(1000 + static_cast<size_t>(i) * 130, static_cast<unsigned>(i));
            Source(sName, files[sName]);
        }
        return files;
    }
    // Every file below sAt is one of the tree's, whole; returns how many there are.
    static size_t WholeFiles(const std::string& sAt, const std::map<std::string, std::string>& files) {
        size_t n = 0;
        if (!fs::exists(sAt)) return 0;
        for (const auto& e : fs::recursive_directory_iterator(sAt)) {
            if (!e.is_regular_file()) continue;
            const std::string sRel = fs::relative(e.path(), sAt).string();
            EXPECT_EQ(e.path().filename().string().rfind(".stowline-restore-", 0), std::string::npos) << sRel;
            const auto it = files.find(sRel);
            EXPECT_TRUE(it != files.end() && ReadFile(e.path().string()) == it->second) << "partial: " << sRel;
            ++n;
        }
        return n;
    }
    std::string RestoredAt(bool bZip, const std::string& sTo) const {
        return bZip ? sTo + "/" + Stored(Src) : sTo + "/src";
    }
};

} // namespace

TEST_F(RestoreWorkersRun, AProgressThatSaysStopMidwayLeavesOnlyWholeFiles) {
    const auto files = MakeTree();
    for (bool bZip : {true, false}) {
        SCOPED_TRACE(bZip ? "zip" : "copy");
        CBackupJob job = MakeJob("Many", {SrcFolder()}, bZip);
        std::vector<libRestore::Entry> entries;
        const auto backup = BackUpAndRead(job, entries);
        const std::string sTo = Root + (bZip ? "stopz" : "stopc");
        libRestore::Options o;
        o.ToFolder = sTo;
        o.Contents = &entries;
        int iCalls = 0;
        o.Progress = [&](const std::string&, uint64_t, uint64_t) { return ++iCalls < 150; };
        const auto r = libRestore::Restore(job, backup, entries, o);
        EXPECT_EQ(r.Result, Status::Aborted);
        const size_t n = WholeFiles(RestoredAt(bZip, sTo), files);
        EXPECT_EQ(n, static_cast<size_t>(r.Restored));
        EXPECT_LT(n, files.size());
        EXPECT_TRUE(LogHas("  Restore terminated by user"));
        ResetTarget();
    }
}

TEST_F(RestoreWorkersRun, WithoutAnyThreadEverythingIsRestoredOnTheCallingThread) {
    const auto files = MakeTree();
    for (bool bZip : {true, false}) {
        SCOPED_TRACE(bZip ? "zip" : "copy");
        CBackupJob job = MakeJob("Many", {SrcFolder()}, bZip);
        std::vector<libRestore::Entry> entries;
        const auto backup = BackUpAndRead(job, entries);
        const std::string sTo = Root + (bZip ? "nothreadz" : "nothreadc");
        libRestore::Options o;
        o.ToFolder = sTo;
        const std::thread::id caller = std::this_thread::get_id();
        bool bElsewhere = false;
        o.Progress = [&](const std::string&, uint64_t, uint64_t) {
            bElsewhere = bElsewhere || std::this_thread::get_id() != caller;
            return true;
        };
        libRestore::Report r;
        {
            WorkerThreads::StartLimit none(0);
            r = libRestore::Restore(job, backup, entries, o);
        }
        EXPECT_EQ(r.Result, Status::Ok);
        EXPECT_EQ(r.Restored, 300);
        EXPECT_EQ(WholeFiles(RestoredAt(bZip, sTo), files), files.size());
        EXPECT_FALSE(bElsewhere);
        EXPECT_TRUE(
            LogHas("  Could not start all worker threads (Resource temporarily unavailable); going on with none."));
        ResetTarget();
    }
}

// The files in flight hold descriptors (their folders, a copy tree's file opened ahead): a
// process that may hold few gets a shorter window, never a file refused for want of one.
TEST_F(RestoreWorkersRun, AProcessWithFewDescriptorsRestoresEveryFile) {
    const auto files = MakeTree();
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    struct Restore {
        rlimit Limit;
        ~Restore() { ::setrlimit(RLIMIT_NOFILE, &Limit); }
    } restore{old};
    for (bool bZip : {true, false}) {
        SCOPED_TRACE(bZip ? "zip" : "copy");
        CBackupJob job = MakeJob("Many", {SrcFolder()}, bZip);
        std::vector<libRestore::Entry> entries;
        const auto backup = BackUpAndRead(job, entries);
        // A quarter of 200 goes to the window: 16 jobs, while 300 files, with three descriptors
        // each, would need 900.
        struct rlimit few = old;
        few.rlim_cur = std::min<rlim_t>(old.rlim_cur, 200);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
        const std::string sTo = Root + (bZip ? "fewz" : "fewc");
        libRestore::Options o;
        o.ToFolder = sTo;
        const auto r = libRestore::Restore(job, backup, entries, o);
        ::setrlimit(RLIMIT_NOFILE, &old);
        EXPECT_EQ(r.Result, Status::Ok) << (r.Problems.empty() ? r.Error : r.Problems[0]);
        EXPECT_EQ(r.Restored, 300);
        EXPECT_EQ(WholeFiles(RestoredAt(bZip, sTo), files), files.size());
        ResetTarget();
    }
}

TEST_F(RestoreWorkersRun, AnEntryWhoseStoredBytesChangedIsRefusedAndLeavesNoFile) {
    const auto files = MakeTree();
    CBackupJob job = MakeJob("Many", {SrcFolder()});
    std::vector<libRestore::Entry> entries;
    const auto backup = BackUpAndRead(job, entries);
    // A bit of one deflated entry's data flipped, as a bad disk would.
    const auto it = std::find_if(entries.begin(), entries.end(),
                                 [](const libRestore::Entry& e) { return e.Name.ends_with("/f200.bin"); });
    ASSERT_NE(it, entries.end());
    ASSERT_GT(it->DataStart, 0u);
    FlipBit(backup.Path, static_cast<off_t>(it->DataStart + it->StoredSize / 2));
    libRestore::Options o;
    o.ToFolder = Root + "flipped";
    const auto r = libRestore::Restore(job, backup, entries, o);
    EXPECT_EQ(r.Result, Status::Incomplete);
    EXPECT_EQ(r.Restored, 299);
    ASSERT_EQ(r.Problems.size(), 1u);
    EXPECT_EQ(r.Problems[0].rfind(it->Name + ": damaged: ", 0), 0u) << r.Problems[0];
    const std::string sAt = RestoredAt(true, o.ToFolder);
    EXPECT_FALSE(fs::exists(sAt + "/d2/f200.bin"));
    EXPECT_EQ(WholeFiles(sAt, files), 299u);
}
