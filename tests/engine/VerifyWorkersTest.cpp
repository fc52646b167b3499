// The archive read back on worker threads: a real run's archive of many entries, damaged in two
// of them, names the first in entry order whatever the number of workers (none: the calling
// thread checks each entry, one entry after the other as before); a run with no thread to start
// still writes and verifies its archive; an abort asked for during the check stops it, one left
// from before does not.

#include "RunTestSupport.h"

#include "engine/RestoreInternal.h"
#include "engine/VerifyInternal.h"
#include "engine/WorkerThreads.h"
#include "engine/libVerify.h"

using namespace runtest;

namespace {

class VerifyWorkers : public RunFixture {
protected:
    // 400 files of text in 8 folders, and one of 3 MiB deflated in pieces; the stored names of
    // the files in walk order.
    std::vector<std::string> MakeTree() {
        std::vector<std::string> names;
        for (int i = 0; i < 400; ++i) {
            std::string sText;
            for (int j = 0; j < 200; ++j)
                sText += "line " + std::to_string(i * 7 + j % 13) + " of file " + std::to_string(i) + "\n";
            char sName[32];
            std::snprintf(sName, sizeof sName, "t/d%d/f%03d.txt", i / 50, i);
            names.push_back(Stored(Source(sName, sText)));
        }
        Source("t/long.log", std::string(3u << 20, 'q') + Noise(4096, 9));
        return names;
    }
    std::string Verify(const std::string& sZip) {
        std::string sWhy;
        EXPECT_FALSE(libVerify::VerifyArchive(sZip, "", sWhy));
        return sWhy;
    }
};

TEST_F(VerifyWorkers, DamageIsNamedInEntryOrderWithAnyNumberOfWorkers) {
    const std::vector<std::string> names = MakeTree();
    CBackupJob job = MakeJob("Docs", {Src + "t/"});
    job.SetVerify(true);
    {
        // No thread at all: the deflate and the verify after the run on the calling thread.
        WorkerThreads::StartLimit limit(0);
        EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
    }
    EXPECT_FALSE(job.Failure());
    EXPECT_TRUE(LogHas("  Verified the new backup"));
    const std::string sZip = Tgt + "Docs.zip";
    ASSERT_EQ(ziptest::Shell("unzip -tq '" + sZip + "' >/dev/null"), 0);
    ASSERT_EQ(ziptest::Shell("bsdtar -tf '" + sZip + "' >/dev/null"), 0);
    std::string sWhy;
    for (const int iStarts : {0, 1, -1}) {
        WorkerThreads::StartLimit limit(iStarts < 0 ? 1000 : iStarts);
        EXPECT_TRUE(libVerify::VerifyArchive(sZip, "", sWhy)) << iStarts << ": " << sWhy;
    }

    // The later entry damaged first in the file's order of bytes does not matter: entry order does.
    ASSERT_EQ(ziptest::Tool("flip_data", {sZip, names[371], names[123]}), 0);
    std::string sSequential;
    {
        WorkerThreads::StartLimit limit(0);
        sSequential = Verify(sZip);
    }
    EXPECT_EQ(sSequential.rfind("'" + names[123] + "': ", 0), 0u) << sSequential;
    for (const int iStarts : {1, 1000}) {
        WorkerThreads::StartLimit limit(iStarts);
        EXPECT_EQ(Verify(sZip), sSequential) << iStarts;
    }
}

TEST_F(VerifyWorkers, AnAbortDuringTheCheckStopsItAndOneFromBeforeDoesNot) {
    MakeTree();
    CBackupJob job = MakeJob("Docs", {Src + "t/"});
    ASSERT_FALSE(BackupRun::ExecuteBackupNow(job));
    const std::string sZip = Tgt + "Docs.zip";
    std::string sError;
    zip_t* pZip = libRestore::detail::OpenArchive(sZip, 0, sError);
    ASSERT_NE(pZip, nullptr) << sError;
    std::vector<libRestore::Entry> entries;
    ASSERT_TRUE(libRestore::detail::ReadArchiveEntries(pZip, entries, sError)) << sError;
    const std::string sPassword;
    for (const unsigned iWorkers : {0U, 2U}) {
        {
            libVerify::detail::EntryReaders readers(pZip, 0, entries, sPassword, iWorkers);
            std::string sFailure;
            for (int i = 0; i < 10; ++i) {
                ASSERT_TRUE(readers.Next(sFailure)) << iWorkers;
                EXPECT_EQ(sFailure, "");
            }
            RunState::SetAbortRequested(true);
            EXPECT_FALSE(readers.Next(sFailure)) << iWorkers;
            // Leaving the scope joins the workers: the test would hang if they went on.
        }
        // An abort left from before the check (an earlier run's) is not this check's.
        std::string sWhy;
        EXPECT_TRUE(libVerify::VerifyArchive(sZip, "", sWhy)) << sWhy;
        RunState::SetAbortRequested(false);
    }
    zip_discard(pZip);
}

} // namespace
