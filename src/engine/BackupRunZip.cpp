// The zip style of a backup run: the archive written in the job's temporary folder, given its
// final name by retention once it is complete on disk, or dropped whole when a step fails.

#include "engine/BackupRunInternal.h"

#include "engine/BackupRunOwner.h"
#include "engine/JobTemp.h"
#include "engine/RunState.h"
#include "engine/libRetention.h"
#include "engine/libVerify.h"
#include "jobs/CBackupJob.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libStrings.h"

#include <cstring>

namespace BackupRun::detail {

Outcome Run::ZipStyle(const std::vector<std::string>& sources) {
    RunState::SetAbortRequested(false);
    if (TargetMissing()) throw AbandonRun{};
    // The archive is written in the job's temporary folder and gets its final name (and the
    // older archives their new ones) only once it is complete on disk.
    m_sNewZip = m_sTempFolder + libStrings::StripFileNameChars(m_job.JobName()) + ".zip";
    m_zipValues = libZip::ZipJobValuesOf(m_job);
    m_zipValues.CountsTotal = m_bWalkCounts;
    m_zip = std::make_unique<libZip::ZipEngine>(m_probe);
    for (size_t i = 0; i < sources.size(); ++i) {
        const std::string& sEntry = sources[i];
        RunStatus::SetLightIdle(m_pOwner);
        RunStatus::SetLightBusy(m_pOwner);
        EntryStart(ActionZip, sEntry);
        const Check check = SourceCheck(sEntry);
        if (check == Check::DiskStop) {
            DropArchive();
            return Outcome::DiskStop;
        }
        if (check == Check::Abandon) throw AbandonRun{};
        if (!m_bTempMade) {
            try {
                JobTemp::Create(m_sTempFolder);
            } catch (const StowError& e) {
                if (e.Number == StowErrors::NoMedium) throw;
                return Discard(e, libZip::ZE_CREAT);
            }
            m_bTempMade = true;
        }
        m_bArchiveOpen = true;
        const libZip::ZipStepResult result = Retrying([&] {
            const libZip::ZipStepResult r = m_zip->ArchiveEntry(m_zipValues, m_sNewZip, sEntry, static_cast<int>(i));
            m_zipValues.CountsTotal = false; // the first entry alone, and once however often it is tried
            return r;
        });
        if (result.Abandon) throw AbandonRun{};
        if (result.Code == libZip::ZE_OPEN) m_bNotAllBackedUp = true;
        if (result.IsError) return Discard(result.Errno, result.Code);
    }
    if (m_bArchiveOpen) {
        const libZip::ZipStepResult result = Retrying([&] { return m_zip->FinishArchive(m_zipValues, true); });
        m_bArchiveOpen = false;
        if (result.Abandon) throw AbandonRun{};
        if (result.Code == libZip::ZE_OPEN) m_bNotAllBackedUp = true;
        if (result.IsError) return Discard(result.Errno, result.Code);
    }
    if (!libFiles::FileExists(m_sNewZip)) {
        // Nothing to do (an incremental run without changes): every archive stays as it was.
        DropArchive();
        CacheFolders::LogRunCount();
        return Outcome::Completed;
    }
    // On disk before any older archive moves: the archive and the name libzip gave it.
    try {
        libFiles::SyncPath(m_sNewZip);
        libFiles::SyncPath(m_sTempFolder);
    } catch (const StowError& e) {
        return Discard(e, libZip::ZE_WRITE);
    }
    std::string sFinal = m_sZipBase + ".zip";
    if (m_job.KeepPeriod() == CBackupJob::KeepCopies) {
        if (Retrying([&] {
                return libRetention::RotateCountedZips(m_sBase, m_sNewZip, m_job.NumberCopies(),
                                                       appPreferences::MaxBackupCopies);
            }) != libRetention::Rotation::Done)
            throw AbandonRun{};
    } else {
        try {
            sFinal = Retrying([&] { return libRetention::GiveDatedName(m_sBase, m_sNewZip, libDates::Now()); });
        } catch (const StowError& e) {
            return Discard(e, libZip::ZE_WRITE);
        }
        m_sZipBase = sFinal.substr(0, sFinal.size() - 4);
        Retrying(
            [&] { libRetention::PurgeDatedZips(m_sBase, m_job.KeepPeriod(), m_job.NumberCopies(), libDates::Now()); });
    }
    m_flush->Written(); // the names given, flushed before the record
    try {
        libFiles::SyncPath(m_sTarget);
    } catch (const StowError&) {
        // The names are given; a target folder that cannot be flushed is no reason to undo them.
    }
    DropArchive(); // the temporary folder, now empty
    m_sFinalZip = sFinal;
    m_dFinalAt = libDates::Now();
    m_job.SetSizeLastRun(static_cast<double>(libFiles::FileLen(sFinal)));
    const RunProgress::View written = m_pProgress->Look(); // the files the archive took in
    m_lBackedUpFiles = written.DoneFiles;
    m_lBackedUpBytes = written.DoneBytes;
    libLog::LogEventLevel(1, "  Zip size " + NumberText(m_job.SizeLastRun()));
    CacheFolders::LogRunCount();
    if (m_job.Verify() && !libVerify::VerifyAfterRun(m_job, sFinal, m_lStartNs)) return Outcome::CompletedWithError;
    return Outcome::Completed;
}

void Run::DropArchive() {
    if (m_bArchiveOpen) {
        m_bArchiveOpen = false;
        try {
            m_zip->FinishArchive(m_zipValues, false);
        } catch (const std::exception&) {
            // Dropping writes nothing; a failure here leaves nothing behind either.
        }
    }
    if (m_bTempMade) {
        m_bTempMade = false;
        JobTemp::Remove(m_sTempFolder); // what stays is the next run's to reclaim
    }
}

Outcome Run::Discard(int iErrno, int iCode) {
    const std::string sFinal = m_sZipBase + ".zip";
    if (iErrno != 0)
        libLog::LogEvent("  Error writing '" + sFinal + "': " + std::strerror(iErrno));
    else
        libLog::LogEvent("  Archive discarded, not written: '" + sFinal + "': " + libZip::ZipResultMessage(iCode));
    DropArchive();
    return Outcome::CompletedWithError;
}

Outcome Run::Discard(const StowError& e, int iCode) {
    libLog::LogEvent(libZip::ZipResultMessage(iCode));
    return Discard(e.Errno, iCode);
}

} // namespace BackupRun::detail
