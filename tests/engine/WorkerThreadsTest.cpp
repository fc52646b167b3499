// The engine's one owner of worker threads, and each pool with fewer threads than it asks for
// (down to none: the calling thread does the work) and with a worker that fails.

#include "engine/WorkerThreads.h"
#include "RunTestSupport.h"
#include "engine/CopyWorkers.h"
#include "engine/LookAhead.h"
#include "engine/libCopy.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <stdexcept>
#include <stop_token>
#include <thread>
#include <zip.h>

using namespace runtest;

namespace {

// A worker that waits for work that never comes, until it is told to stop; m stays locked
// for as long as the lock returned lives.
std::unique_lock<std::mutex> WaitForStop(std::mutex& m, std::condition_variable_any& cv, const std::stop_token& stop) {
    std::unique_lock lock(m);
    cv.wait(lock, stop, [] { return false; });
    return lock;
}

TEST(WorkerThreadsTest, WorkersObserveTheStopAndAreJoinedWhenTheOwnerGoes) {
    std::mutex m;
    std::condition_variable_any cv;
    int iSawStop = 0; // under m
    {
        WorkerThreads workers; // after m and cv: destroyed first
        const auto work = [&](const std::stop_token& stop) {
            const auto lock = WaitForStop(m, cv, stop);
            ++iSawStop;
        };
        EXPECT_EQ(workers.StartUpTo(2, work), 2U);
        EXPECT_EQ(workers.StartUpTo(3, work), 3U); // one more
        EXPECT_EQ(workers.StartUpTo(1, work), 3U); // never fewer
        EXPECT_FALSE(workers.Limited());
        EXPECT_FALSE(workers.Token().stop_requested());
    }
    EXPECT_EQ(iSawStop, 3);

    // A stop asked for while the owner lives reaches every worker, and the calling thread's
    // token says so too.
    int iEnded = 0;
    std::condition_variable_any ended;
    WorkerThreads workers;
    workers.StartUpTo(3, [&](const std::stop_token& stop) {
        const auto lock = WaitForStop(m, cv, stop);
        if (stop.stop_requested()) ++iEnded;
        ended.notify_all();
    });
    workers.RequestStop();
    EXPECT_TRUE(workers.Token().stop_requested());
    std::unique_lock lock(m);
    ended.wait(lock, [&] { return iEnded == 3; });
    EXPECT_FALSE(workers.Failed());
    lock.unlock();
    EXPECT_THROW(workers.ThrowStopped(), std::runtime_error); // stopped without a failure
}

TEST(WorkerThreadsTest, AWorkersExceptionStopsThePoolAndIsRethrownOnTheCallingThread) {
    for (const bool bOutOfMemory : {true, false}) {
        std::mutex m;
        std::condition_variable_any cv;
        int iTaken = 0;
        WorkerThreads workers;
        workers.StartUpTo(3, [&](const std::stop_token& stop) {
            {
                std::lock_guard lock(m);
                if (++iTaken == 2) {
                    if (bOutOfMemory) throw std::bad_alloc();
                    throw std::runtime_error("the second worker fails");
                }
            }
            WaitForStop(m, cv, stop);
        });
        // The calling thread waits for a result that never comes, as a pool's hand-over does:
        // the failure ends the wait.
        std::unique_lock lock(m);
        EXPECT_FALSE(cv.wait(lock, workers.Token(), [] { return false; }));
        lock.unlock();
        EXPECT_TRUE(workers.Failed());
        for (int i = 0; i < 2; ++i) { // every later hand-over gets it again
            try {
                workers.ThrowStopped();
                ADD_FAILURE() << "nothing rethrown";
            } catch (const std::bad_alloc&) {
                EXPECT_TRUE(bOutOfMemory);
            } catch (const std::runtime_error& e) {
                EXPECT_FALSE(bOutOfMemory);
                EXPECT_STREQ(e.what(), "the second worker fails");
            }
        }
    }
}

// A pool whose constructor fails after its workers have started: they are stopped and joined
// before the state they touch goes (the sanitizer builds would see a late touch).
struct HalfBuiltPool {
    std::vector<int> State = std::vector<int>(64, 0);
    std::mutex Mutex;
    std::condition_variable_any Wake;
    std::atomic<int>& Ended;
    WorkerThreads Workers; // last

    explicit HalfBuiltPool(std::atomic<int>& ended) : Ended(ended) {
        Workers.StartUpTo(3, [this](const std::stop_token& stop) {
            const auto lock = WaitForStop(Mutex, Wake, stop);
            ++State[0];
            ++Ended;
        });
        throw std::runtime_error("a later step of the constructor failed");
    }
};

TEST(WorkerThreadsTest, AConstructorThatThrowsHalfWayJoinsTheWorkersItStarted) {
    std::atomic<int> iEnded = 0;
    EXPECT_THROW(HalfBuiltPool pool(iEnded), std::runtime_error);
    EXPECT_EQ(iEnded, 3);
}

using ThreadLimitTest = TempAppFolder;

TEST_F(ThreadLimitTest, AThreadThatCannotStartLeavesTheOnesStartedAndOneLogLine) {
    std::mutex m;
    std::condition_variable_any cv;
    const auto idle = [&](const std::stop_token& stop) { WaitForStop(m, cv, stop); };
    {
        WorkerThreads::StartLimit limit(2);
        WorkerThreads workers;
        EXPECT_EQ(workers.StartUpTo(5, idle), 2U);
        EXPECT_TRUE(workers.Limited());
        EXPECT_EQ(workers.StartUpTo(5, idle), 2U); // not tried again
        EXPECT_EQ(workers.Count(), 2U);
    }
    {
        WorkerThreads::StartLimit limit(0);
        WorkerThreads workers;
        EXPECT_EQ(workers.StartUpTo(4, idle), 0U);
    }
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{
                  "  Could not start all worker threads (Resource temporarily unavailable); going on with 2.",
                  "  Could not start all worker threads (Resource temporarily unavailable); going on with none.",
              }));
    WorkerThreads workers; // the limit ended with its scope
    EXPECT_EQ(workers.StartUpTo(2, idle), 2U);
}

// ---- the pools with fewer threads than they ask for -----------------------------------

const std::string kFewerThreads =
    "  Could not start all worker threads (Resource temporarily unavailable); going on with ";

class FewerThreadsRun : public RunFixture {
protected:
    // A tree of more files than a zip step writes while it selects, and a long file deflated in
    // pieces; returns the sources by their stored names.
    std::map<std::string, std::string> MakeTree() {
        std::map<std::string, std::string> files;
        for (int i = 0; i < 300; ++i) {
            const std::string sPath =
                Source("t/d" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".txt",
                       std::string(static_cast<size_t>(i) * 13, static_cast<char>('a' + i % 26)) + std::to_string(i));
            files[Stored(sPath)] = ReadFile(sPath);
        }
        const std::string sLong = Source("t/long.bin", Noise(2u << 20, 3) + std::string(7u << 20, 'z'));
        files[Stored(sLong)] = ReadFile(sLong);
        return files;
    }
    static std::map<std::string, std::string> FilesOf(std::map<std::string, std::string> archive) {
        std::erase_if(archive, [](const auto& entry) { return entry.second == "/"; });
        return archive;
    }
};

TEST_F(FewerThreadsRun, AZipRunWithFewerOrNoDeflateWorkersWritesTheSameArchive) {
    const std::map<std::string, std::string> files = MakeTree();
    for (const int iStarts : {0, 1}) {
        for (const bool bAes : {false, true}) {
            SCOPED_TRACE(testing::Message() << iStarts << " threads" << (bAes ? ", AES" : ""));
            ClearLog();
            fs::remove_all(Tgt);
            fs::create_directories(Tgt);
            WorkerThreads::StartLimit limit(iStarts);
            CBackupJob job = MakeJob("Docs", {Src + "t/"});
            if (bAes) {
                job.SetPassword("pw of the run");
                job.SetEncryption(CBackupJob::EncryptionKind::Aes256);
            }
            RunOk(job);
            EXPECT_TRUE(LogHas(kFewerThreads + (iStarts == 0 ? "none." : "1.")));
            EXPECT_EQ(FilesOf(ziptest::ReadArchive(Tgt + "Docs.zip", bAes ? "pw of the run" : nullptr)), files);
            if (!bAes) {
                EXPECT_EQ(ziptest::Shell("unzip -tq '" + Tgt + "Docs.zip'"), 0);
            }
        }
    }
}

// The walk that runs ahead of the writer on a thread of its own does without one: done whole on
// the calling thread, it selects the same entries in the same order.
TEST_F(FewerThreadsRun, AZipWalkWithoutAThreadOfItsOwnSelectsTheSameEntriesInTheSameOrder) {
    const std::map<std::string, std::string> files = MakeTree();
    const auto namesInOrder = [](const std::string& sZip) {
        std::vector<std::string> names;
        int iErr = 0;
        zip_t* za = zip_open(sZip.c_str(), ZIP_RDONLY, &iErr);
        EXPECT_NE(za, nullptr) << sZip;
        for (zip_int64_t i = 0; za != nullptr && i < zip_get_num_entries(za, 0); ++i)
            names.emplace_back(zip_get_name(za, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW));
        if (za != nullptr) zip_discard(za);
        return names;
    };
    CBackupJob job = MakeJob("Docs", {Src + "t/"});
    RunOk(job);
    const std::vector<std::string> threaded = namesInOrder(Tgt + "Docs.zip");
    ASSERT_GT(threaded.size(), 300u);
    fs::remove_all(Tgt);
    fs::create_directories(Tgt);
    ClearLog();
    {
        WorkerThreads::StartLimit none(0, true);
        RunOk(job);
    }
    EXPECT_TRUE(LogHas(kFewerThreads + "none.")); // the deflate workers; the walk goes on quietly
    EXPECT_EQ(namesInOrder(Tgt + "Docs.zip"), threaded);
    EXPECT_EQ(FilesOf(ziptest::ReadArchive(Tgt + "Docs.zip")), files);
    EXPECT_EQ(ziptest::Shell("unzip -tq '" + Tgt + "Docs.zip'"), 0);
}

TEST_F(FewerThreadsRun, ACopyRunWithFewerOrNoThreadsCopiesTheWholeTree) {
    const std::map<std::string, std::string> files = MakeTree();
    const std::string sPrefix = Stored(Src + "t/");
    // The copy of each source file, by the source's stored name.
    const auto copied = [&] {
        std::map<std::string, std::string> out;
        for (const auto& entry : files)
            out[entry.first] = ReadFile(Tgt + "t/" + entry.first.substr(sPrefix.size()));
        return out;
    };
    for (const int iStarts : {0, 1}) {
        // Rebuild copies on the copy workers, Update compares through the look-ahead.
        for (const int iStyle : {libCopy::CopyRebuild, libCopy::CopyUpdate}) {
            SCOPED_TRACE(testing::Message() << iStarts << " threads, style " << iStyle);
            ClearLog();
            fs::remove_all(Tgt);
            std::map<std::string, std::string> expected = files;
            if (iStyle == libCopy::CopyUpdate) {
                // An earlier copy of two files: the older one is replaced, the newer one kept.
                Touch(Tgt + "t/d1/f1.txt", "earlier copy");
                SetFileTime(Tgt + "t/d1/f1.txt", kOldTime);
                Touch(Tgt + "t/d2/f2.txt", "newer copy");
                SetFileTime(Tgt + "t/d2/f2.txt", 4000000000);
                expected[sPrefix + "d2/f2.txt"] = "newer copy";
            }
            fs::create_directories(Tgt);
            WorkerThreads::StartLimit limit(iStarts);
            CBackupJob job = MakeJob("Docs", {Src + "t/"}, false);
            job.SetCopyStyle(iStyle);
            RunOk(job);
            // As many threads as the pool wants on this machine: no line.
            const unsigned iWanted = iStyle == libCopy::CopyRebuild ? libCopy::detail::CopyWorkers::DefaultThreads()
                                                                    : libCopy::detail::LookAhead::DefaultThreads();
            const std::string sLine = kFewerThreads + (iStarts == 0 ? "none." : "1.");
            EXPECT_EQ(LogHas(sLine), static_cast<unsigned>(iStarts) < iWanted);
            EXPECT_EQ(copied(), expected);
        }
    }
}

// ---- a deflate worker that fails ----------------------------------------------------------

TEST_F(FewerThreadsRun, ADeflateWorkerOutOfMemoryFailsTheRunAndKeepsTheEarlierArchive) {
    MakeTree();
    Touch(Tgt + "Docs.zip", "earlier archive");
    ScriptedProbe probe;
    // Only the deflate worker's reading fails: the walk tried the file's opening before (one of
    // the first files of a long selection).
    auto opens = std::make_shared<std::atomic<int>>(0);
    probe.OpenError = [opens](const std::string& sPath) {
        if (sPath.ends_with("/f150.txt") && ++*opens == 2) throw std::bad_alloc();
        return 0;
    };
    CBackupJob job = MakeJob("Docs", {Src + "t/"});
    job.SetNumberCopies(3);
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job, nullptr, probe));
    EXPECT_TRUE(job.Failure());
    EXPECT_TRUE(LogHas("  Archive discarded, not written: '" + Tgt +
                       "Docs.zip': zip was unable to allocate memory for one or more buffers during program "
                       "initialization"));
    EXPECT_EQ(EntryNames(Tgt), std::set<std::string>{"Docs.zip"});
    EXPECT_EQ(ReadFile(Tgt + "Docs.zip"), "earlier archive");

    // The walk, on its own thread, out of memory: the same, never an exception out of the run.
    *opens = 0;
    probe.OpenError = [opens](const std::string& sPath) {
        if (sPath.ends_with("/f150.txt") && ++*opens == 1) throw std::bad_alloc();
        return 0;
    };
    job.SetFailure(false);
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(job, nullptr, probe));
    EXPECT_TRUE(job.Failure());
    EXPECT_EQ(EntryNames(Tgt), std::set<std::string>{"Docs.zip"});
    EXPECT_EQ(ReadFile(Tgt + "Docs.zip"), "earlier archive");
}

} // namespace
