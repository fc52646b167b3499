// What a backup run says at its end: the summary line, with the figures the job file keeps.

#include "engine/BackupRunInternal.h"

#include "jobs/CBackupJob.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <algorithm>

namespace BackupRun::detail {

CBackupJob::LastRunFigures Run::Figures() const {
    CBackupJob::LastRunFigures figures;
    figures.Files = std::max<int64_t>(0, m_lBackedUpFiles);
    figures.Bytes = std::max<int64_t>(0, m_lBackedUpBytes);
    figures.Seconds = m_pProgress != nullptr ? m_pProgress->Look().Elapsed : 0;
    return figures;
}

// Left out: the files the run met and did not back up (unreadable, locked, no regular file or
// link, a name too long), and each folder left out as a cache.
void Run::LogSummary() {
    if (m_pProgress == nullptr) return;
    // The figures the job file keeps, when the run was recorded.
    const CBackupJob::LastRunFigures figures = m_bRecorded ? m_job.LastRun() : Figures();
    int64_t lLeftOut = m_pProgress->Look().LeftOut;
    if (const CacheFolders* pCaches = CacheFolders::OfRun()) lLeftOut += pCaches->Count();
    const double dRate = figures.Seconds > 0 ? static_cast<double>(figures.Bytes) / figures.Seconds : 0;
    libLog::LogEventLevel(2, "  Backed up " + std::to_string(figures.Files) + " files (" +
                                 libStrings::SizeText(static_cast<double>(figures.Bytes)) + ") in " +
                                 libStrings::DurationText(figures.Seconds) + ", " + RunProgress::RateText(dRate) +
                                 "; " + std::to_string(lLeftOut) + " left out");
}

} // namespace BackupRun::detail
