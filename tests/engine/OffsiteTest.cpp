// The off-site step's parts that need no server: the remote names it makes and accepts as a
// job's own, the rclone runner (with a stand-in rclone on PATH): rclone's reason taken from its
// last error line, large output on both streams read without stalling, rclone missing, a
// transfer's JSON stats and bandwidth limit; and an
// upload that does not match the archive, which never takes its final name.

#include "engine/Offsite.h"
#include "common/TempAppFolder.h"
#include "engine/Rclone.h"
#include "jobs/CBackupJob.h"

#include <chrono>

namespace {

TEST(OffsiteNames, FolderDatedNameAndItsReading) {
    EXPECT_EQ(Offsite::JobFolder("nas:backups", "Docs"), "nas:backups/Docs");
    EXPECT_EQ(Offsite::JobFolder("nas:backups/", "Docs"), "nas:backups/Docs");
    EXPECT_EQ(Offsite::JobFolder("nas:", "Docs"), "nas:Docs");
    double d = 0;
    ASSERT_TRUE(libDates::ParseDateTime("2026-12-07 03:00:15", d));
    const std::string sName = Offsite::DatedName("Docs", d);
    EXPECT_EQ(sName, "Docs_2026-12-07_030015.zip");
    double dBack = 0;
    ASSERT_TRUE(Offsite::ParseDatedName(sName, "Docs", dBack));
    EXPECT_EQ(libDates::Format(dBack, "mm/dd/yyyy hh:mm:ss"), "12/07/2026 03:00:15");
    // Only names of exactly that form belong to the job: never another job's, a temporary
    // upload, another case, a date that is none, or anything around the name.
    for (const char* sOther :
         {"Docsx_2026-12-07_030015.zip", "Doc_2026-12-07_030015.zip", ".Docs_2026-12-07_030015.zip.partial",
          "Docs_2026-12-07_030015.ZIP", "Docs_2026-13-07_030015.zip", "Docs_2026-12-07_250015.zip",
          "Docs_2026-12-07_03001x.zip", "Docs_2026-12-07_030015.zip ", "Docs_+026-12-07_030015.zip", "Docs.zip"})
        EXPECT_FALSE(Offsite::ParseDatedName(sOther, "Docs", dBack)) << sOther;
}

class RcloneRun : public TempAppFolder {
protected:
    void SetUp() override {
        TempAppFolder::SetUp();
        const char* sPath = std::getenv("PATH");
        m_sPath = sPath ? sPath : "";
        ::setenv("PATH", (Root + "bin").c_str(), 1);
    }
    void TearDown() override {
        ::setenv("PATH", m_sPath.c_str(), 1);
        TempAppFolder::TearDown();
    }
    // A stand-in rclone: a shell script with this body.
    void FakeRclone(const std::string& sBody) {
        const std::string sFile = WriteFile(Root + "bin/rclone", "#!/bin/sh\nPATH=/usr/bin:/bin\n" + sBody);
        ::chmod(sFile.c_str(), 0755);
    }
    std::string m_sPath;
};

TEST_F(RcloneRun, ReasonIsTheLastErrorLineWithoutItsLogPrefix) {
    FakeRclone("echo listed\n"
               "echo '2026/12/08 06:00:00 ERROR : a.zip: first problem' >&2\n"
               "echo '2026/12/08 06:00:01 CRITICAL: Failed to copyto: remote full  ' >&2\n"
               "echo '' >&2\nexit 5\n");
    const Rclone::Result r = Rclone::Run({"copyto", "a", "b"});
    EXPECT_EQ(r.Status, 5);
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.Output, "listed\n");
    EXPECT_EQ(r.Reason, "Failed to copyto: remote full");
    // Silent failure still gives a reason.
    FakeRclone("exit 7\n");
    EXPECT_EQ(Rclone::Run({"lsf"}).Reason, "rclone ended with status 7");
}

TEST_F(RcloneRun, ArgumentsPassIntactAndLargeOutputNeverStalls) {
    // Both streams far beyond a pipe's buffer, the arguments echoed back one per line.
    FakeRclone("for a in \"$@\"; do echo \"[$a]\"; done\n"
               "head -c 1000000 /dev/zero | tr '\\0' e >&2\nhead -c 1000000 /dev/zero | tr '\\0' o\n");
    const Rclone::Result r = Rclone::Run({"lsf", "nas:with space/x", "--", "-dash"});
    ASSERT_TRUE(r.Ok()) << r.Reason;
    EXPECT_EQ(r.Reason, "");
    EXPECT_EQ(r.Output.size(),
              std::string("[--ask-password=false]\n[lsf]\n[nas:with space/x]\n[--]\n[-dash]\n").size() + 1000000);
    EXPECT_EQ(r.Output.rfind("[--ask-password=false]\n[lsf]\n[nas:with space/x]\n[--]\n[-dash]\n", 0), 0u);
}

TEST_F(RcloneRun, MissingFromPathSaysSo) {
    const Rclone::Result r = Rclone::Run({"version"});
    EXPECT_EQ(r.Status, -1);
    EXPECT_EQ(r.Reason, "rclone is not installed (not found in PATH)");
}

TEST_F(RcloneRun, TransferHandsOnStatsKeepsTheCommandFirstAndLimitsBandwidth) {
    // Stats lines as rclone writes them with --use-json-log, a JSON error, then its plain final word.
    const std::string sArgs = Root + "args";
    FakeRclone("for a in \"$@\"; do echo \"$a\"; done >'" + sArgs +
               "'\n"
               "echo '{\"level\":\"warning\",\"msg\":\"x\",\"stats\":{\"bytes\":100,\"totalBytes\":400,"
               "\"speed\":50.5,\"elapsedTime\":2}}' >&2\n"
               "printf '{\"level\":\"error\",\"msg\":\"Attempt 1/3 failed\"}\\n{\"stats\":{\"bytes\":' >&2\n"
               "sleep 0.1; echo '400,\"totalBytes\":400,\"speed\":80,\"elapsedTime\":5}}' >&2\n"
               "echo '2026/12/08 06:00:01 Failed to copyto: remote full' >&2\nexit 1\n");
    appPreferences::OffsiteBandwidth = "08:00,512k 19:00,off";
    std::vector<Rclone::Stats> seen;
    const Rclone::Result r =
        Rclone::Transfer({"copyto", "a b", "nas:c"}, [&](const Rclone::Stats& st) { seen.push_back(st); });
    appPreferences::OffsiteBandwidth.clear();
    EXPECT_EQ(r.Reason, "Failed to copyto: remote full");
    ASSERT_EQ(seen.size(), 2u); // a line split across two reads is still one line
    EXPECT_EQ(seen[0].Bytes, 100);
    EXPECT_EQ(seen[0].TotalBytes, 400);
    EXPECT_DOUBLE_EQ(seen[0].Speed, 50.5);
    EXPECT_EQ(r.Moved.Bytes, 400);
    EXPECT_EQ(Rclone::Summary(r.Moved), "400 B in 5.0 s (80 B/s)");
    EXPECT_EQ(Rclone::Progress(seen[0]), "100 B of 400 B (25%)");
    EXPECT_EQ(Rclone::Progress(Rclone::Stats{1536, 0, 0, 0}), "1.5 KiB");
    EXPECT_EQ(ReadFile(sArgs), "--ask-password=false\ncopyto\n--use-json-log\n--stats\n1s\n--stats-log-level\nNOTICE\n"
                               "--bwlimit=08:00,512k 19:00,off\na b\nnas:c\n");
    // Only JSON errors: the last one is the reason.
    FakeRclone("echo '{\"level\":\"error\",\"msg\":\"first\"}' >&2\n"
               "echo '{\"level\":\"error\",\"msg\":\" second \"}' >&2\nexit 1\n");
    EXPECT_EQ(Rclone::Transfer({"copy", "a", "b"}).Reason, "second");
}

TEST_F(RcloneRun, ATransferStopsWhenAskedTo) {
    FakeRclone("exec sleep 30\n");
    int iAsked = 0;
    const auto start = std::chrono::steady_clock::now();
    const Rclone::Result r = Rclone::Transfer({"copyto", "a", "b"}, {}, [&] { return ++iAsked > 3; });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(r.Status, -1);
    EXPECT_EQ(r.Reason, "stopped");
}

TEST_F(RcloneRun, RealTransferReportsWhatItMoved) {
    ::setenv("PATH", m_sPath.c_str(), 1); // the real rclone
    std::string sData(3 << 20, 'x');
    for (size_t i = 0; i < sData.size(); i += 4096)
        sData[i] = static_cast<char>(i / 4096);
    const std::string sFrom = WriteFile(Root + "from.bin", sData);
    const Rclone::Result r = Rclone::Transfer({"copyto", sFrom, Root + "to/copy.bin"});
    ASSERT_TRUE(r.Ok()) << r.Reason;
    EXPECT_EQ(r.Moved.Bytes, 3 << 20);
    EXPECT_EQ(ReadFile(Root + "to/copy.bin"), sData);
    EXPECT_EQ(Rclone::Summary(r.Moved).rfind("3.0 MiB in ", 0), 0u) << Rclone::Summary(r.Moved);
}

TEST_F(RcloneRun, AnUploadThatDoesNotMatchIsNeverMovedToItsName) {
    double d = 0;
    ASSERT_TRUE(libDates::ParseDateTime("2026-12-07 03:00:15", d));
    const std::string sArchive = WriteFile(Root + "Docs.zip", "twelve bytes");
    CBackupJob job;
    job.SetJobNameRaw("Docs");
    job.SetOffsiteRemote("nas:b");
    job.SetNumberCopies(0);
    // The upload says in its debug log what rclone compared (CHECKED: a hash line of that
    // file, "other": one of another file, "fail": rclone's refusal of a corrupted upload);
    // the remote lists the upload's size REMOTE_SIZE. Every command is written down.
    const std::string sCalls = Root + "calls";
    FakeRclone("echo \"$*\" >>'" + sCalls +
               "'\n"
               "case \"$2\" in\n"
               "copyto) case \"$CHECKED\" in\n"
               "  fail) echo '2026/12/08 06:00:01 Failed to copyto: corrupted on transfer: md5 hashes differ' >&2; "
               "exit 1 ;;\n"
               "  other) echo '{\"level\":\"debug\",\"msg\":\"md5 = 0a OK\",\"object\":\"x.zip\"}' >&2 ;;\n"
               "  md5) echo '{\"level\":\"debug\",\"msg\":\"md5 = 0a "
               "OK\",\"object\":\"Docs.zip\"}' "
               ">&2 ;;\n"
               "  esac ;;\n"
               "lsf) case \"$*\" in *--format*) echo \"$REMOTE_SIZE\" ;; esac ;;\n"
               "esac\n");
    const auto attempt = [&](const char* sChecked, const char* sSize) {
        ::setenv("CHECKED", sChecked, 1);
        ::setenv("REMOTE_SIZE", sSize, 1);
        ::unlink(sCalls.c_str());
        return Offsite::SendArchive(job, sArchive, d);
    };
    const auto logged = [&](const std::string& s) {
        return ReadFile(libLog::LogFileName()).find(s) != std::string::npos;
    };
    EXPECT_FALSE(attempt("fail", "12"));
    EXPECT_TRUE(
        logged("  Off-site copy to 'nas:b' failed: Failed to copyto: corrupted on transfer: md5 hashes differ"));
    EXPECT_EQ(ReadFile(sCalls).find("moveto"), std::string::npos);
    // No hash compared (or only another object's) and the wrong size: never moved.
    EXPECT_FALSE(attempt("other", "11"));
    EXPECT_TRUE(logged("  Off-site copy to 'nas:b' failed: uploaded file has the wrong size"));
    EXPECT_EQ(ReadFile(sCalls).find("moveto"), std::string::npos);
    // Compared by MD5: checked by it, moved to the final name, and the size not asked for.
    EXPECT_TRUE(attempt("md5", "11"));
    EXPECT_TRUE(logged("  Off-site copy checked by MD5"));
    EXPECT_NE(ReadFile(sCalls).find("moveto -- nas:b/Docs/.Docs_2026-12-07_030015.zip.partial "
                                    "nas:b/Docs/Docs_2026-12-07_030015.zip"),
              std::string::npos);
    // No hash on the remote, the right size: checked by size.
    EXPECT_TRUE(attempt("", "12"));
    EXPECT_TRUE(logged("  Off-site copy checked by size"));
    for (const char* s : {"CHECKED", "REMOTE_SIZE"})
        ::unsetenv(s);
}

} // namespace
