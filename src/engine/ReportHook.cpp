#include "engine/ReportHook.h"

#include "jobs/CBackupJob.h"
#include "support/libStrings.h"

namespace ReportHook {

namespace {
Listener* g_pListener = nullptr;

// "mm/dd/yyyy hh:mm:ss  " in front of each log line.
constexpr size_t kStampLength = 21;
constexpr const char* kSummaryHead = "  Backed up ";
} // namespace

Listener* Install(Listener* pListener) {
    Listener* pBefore = g_pListener;
    g_pListener = pListener;
    return pBefore;
}

std::string SummaryOf(const std::vector<std::string>& lines) {
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (it->size() > kStampLength &&
            it->compare(kStampLength, std::char_traits<char>::length(kSummaryHead), kSummaryHead) == 0)
            return libStrings::Trim(it->substr(kStampLength));
    return "";
}

RunScope::RunScope(const CBackupJob& job) : m_job(job) {
    if (g_pListener == nullptr) return;
    try {
        g_pListener->RunStarted(m_job);
    } catch (...) {
        // A report is never a reason for a run to fail.
    }
    // The run's own lines only: what the listener logged about earlier reports is not of it.
    m_capture.emplace();
}

RunScope::~RunScope() {
    if (!m_bEnded) Tell(true);
}

void RunScope::End(BackupRun::RunResult result) {
    m_bEnded = true;
    Tell(result != BackupRun::RunResult::Completed || m_job.Failure() || m_job.OffsiteFailed());
}

void RunScope::Tell(bool bFailed) {
    if (g_pListener == nullptr || !m_capture) return;
    try {
        RunEnd end;
        end.Failed = bFailed;
        end.Lines = m_capture->Lines();
        end.Reason = m_capture->LastUnconditional();
        end.Summary = SummaryOf(end.Lines);
        g_pListener->RunEnded(m_job, end);
    } catch (...) {
        // As above: the run's outcome stands whatever the report does.
    }
}

} // namespace ReportHook
