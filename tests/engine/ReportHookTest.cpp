// What a run hands its listener: the summary line found among the run's log lines as the log
// writes them (time stamp first), and a listener that hears the start and the recorded end of
// a real run, its lines and its reason.

#include "engine/ReportHook.h"
#include "common/TempAppFolder.h"
#include "engine/BackupRun.h"
#include "jobs/CBackupJob.h"

namespace {

struct Recorder : ReportHook::Listener {
    std::vector<std::string> Heard;
    ReportHook::RunEnd End;
    void RunStarted(const CBackupJob& job) override { Heard.push_back("start " + job.JobName()); }
    void RunEnded(const CBackupJob& job, const ReportHook::RunEnd& end) override {
        Heard.push_back("end " + job.JobName());
        End = end;
    }
};

class ReportHookTest : public TempAppFolder {};

TEST_F(ReportHookTest, TheSummaryIsTheRunsBackedUpLine) {
    EXPECT_EQ(ReportHook::SummaryOf({"12/08/2026 10:00:00  -- Docs ---", "12/08/2026 10:00:01  Zip size 3"}), "");
    EXPECT_EQ(ReportHook::SummaryOf({"12/08/2026 10:00:00    Backed up 3 files (1 KB) in 1 s, 1 KB/s; 0 left out",
                                     "12/08/2026 10:00:01  Backed up in the text, not at the start"}),
              "Backed up 3 files (1 KB) in 1 s, 1 KB/s; 0 left out");
    EXPECT_EQ(ReportHook::SummaryOf({"short"}), "");
}

TEST_F(ReportHookTest, AListenerHearsTheStartAndTheRecordedEndOfARun) {
    Recorder recorder;
    ReportHook::Install(&recorder);
    CBackupJob job;
    job.SetJobNameRaw("Docs");
    job.SetFileNameRaw(CBackupJob::JobFileNameFor("Docs"));
    std::filesystem::create_directories(Root + "target");
    job.SetTargetDirectoryRaw(Root + "target/");
    job.SetFilesToZip(Root + "missing/\r\n");
    const BackupRun::RunResult result = BackupRun::RunNow(job);
    ReportHook::Install(nullptr);
    EXPECT_EQ(result, BackupRun::RunResult::Abandoned);
    EXPECT_EQ(recorder.Heard, (std::vector<std::string>{"start Docs", "end Docs"}));
    EXPECT_TRUE(recorder.End.Failed);
    EXPECT_EQ(recorder.End.Reason,
              "Stowline Pre-Emptive Error, file to backup does not exist: '" + Root + "missing/'.");
    // The reason is among the run's lines, and the run's summary closes them.
    ASSERT_GE(recorder.End.Lines.size(), 2U);
    const auto& lines = recorder.End.Lines;
    EXPECT_EQ(lines[lines.size() - 2].substr(21), recorder.End.Reason);
    EXPECT_EQ(lines.back().substr(21), "  Backed up 0 files (0 B) in 0.0 s, 0 B/s; 0 left out");
    EXPECT_EQ(recorder.End.Summary, "Backed up 0 files (0 B) in 0.0 s, 0 B/s; 0 left out");
}

} // namespace
