#include "engine/libVerify.h"

#include "engine/BackupRun.h"
#include "engine/CacheFolders.h"
#include "engine/OffsiteFetch.h"
#include "engine/RestoreInternal.h"
#include "engine/RunProgress.h"
#include "engine/VerifyInternal.h"
#include "engine/ZipInternal.h"
#include "engine/libRestore.h"
#include "engine/libRetention.h"
#include "engine/libZip.h"
#include "jobs/CBackupJob.h"
#include "support/libDates.h"
#include "support/libFiles.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zip.h>

namespace libVerify {

namespace {

constexpr int64_t NsPerSecond = 1000000000;

// The names the job's selection gives now, as the run's zip step stores them, less what changed
// (modified or changed) at or after lBeforeNs, which the archive cannot hold. An incremental job
// selects only files modified on or after the day dSince, as its run did.
std::vector<std::string> SelectedNames(const CBackupJob& job, int64_t lBeforeNs, double dSince) {
    std::vector<std::string> result;
    std::vector<std::string> sources;
    if (libStrings::GetFileList(job.FilesToZip(), sources)) return result;
    libZip::ZpOpt opt;
    if (job.Incremental()) opt.Date = libDates::Format(dSince, "mmddyyyy");
    opt.fSystem = true;
    opt.fIncludeDate = job.Incremental();
    opt.fRecurse = job.Subdirectories();
    opt.fLevel = '9';
    std::optional<CacheFolders> caches; // what the run left out is not expected
    if (job.ExcludeCaches()) opt.Caches = &caches.emplace(false);
    for (const std::string& sEntry : sources) {
        std::vector<std::string> names;
        if (!libZip::BuildNameList(sEntry, job.ExcludeSpec(), names)) continue;
        libZip::detail::EntryStore store;
        libZip::detail::Selection sel(store);
        libZip::detail::SelectFiles(names, opt, FileSystemProbe::Real(), sel);
        for (size_t i = 0; i < store.Size(); ++i) {
            if (store[i].Withdrawn) continue;
            struct stat st {};
            if (::lstat(store.Path(i).c_str(), &st) != 0) continue; // gone since: nothing to expect
            if (libFiles::TimeNs(st.st_mtim) >= lBeforeNs || libFiles::TimeNs(st.st_ctim) >= lBeforeNs) continue;
            result.push_back(store.Name(i));
        }
    }
    return result;
}

// When the archive was begun: its birth time where the file system keeps one, else its last
// write. Files changed from then on may or may not be in it.
int64_t ArchiveMadeNs(const std::string& sArchive) {
    struct statx stx {};
    if (::statx(AT_FDCWD, sArchive.c_str(), 0, STATX_BTIME | STATX_MTIME, &stx) != 0) return 0;
    const int64_t lMTime = stx.stx_mtime.tv_sec * NsPerSecond + stx.stx_mtime.tv_nsec;
    if ((stx.stx_mask & STATX_BTIME) == 0) return lMTime;
    return std::min(lMTime, static_cast<int64_t>(stx.stx_btime.tv_sec * NsPerSecond + stx.stx_btime.tv_nsec));
}

// The newest archive the job's record says a run made, when it is not among the archives found
// (backups[0] is the newest found). A keep-by-count run always names its archive base.zip; a
// keep-by-period run names it after the day it ran, which the last success gives. An incremental
// run without changes makes no archive, so only its counted name is held to.
bool NewestArchiveMissing(const CBackupJob& job, const libRestore::BackupInfo& newest, std::string& sWhy) {
    const std::string sBase = libRetention::ZipBase(libFiles::AddTrailingSlash(job.TargetDirectory()), job.JobName());
    const std::string sBaseName = libFiles::FilePathStripPath(sBase);
    const std::string sName = libFiles::FilePathStripPath(newest.Path);
    if (job.KeepPeriod() == CBackupJob::KeepCopies) {
        int iNumber = 0;
        if (!libRetention::ParseCountedZipName(sName, sBaseName, iNumber) || iNumber == 0) return false;
        sWhy = sBase + ".zip: the newest archive is missing (newest found: " + newest.Path + ")";
        return true;
    }
    const double dSuccess = job.DateLastSuccess();
    libRetention::DatedZipName dated;
    if (job.Incremental() || dSuccess <= CBackupJob::NotComputed ||
        !libRetention::ParseDatedZipName(sName, sBaseName, dated))
        return false;
    const double dDay = libDates::DateValue(dSuccess);
    if (dated.Date >= dDay) return false;
    // A run that went past midnight names its archive after the day it began.
    if (dated.Date >= dDay - 1 && dSuccess - dDay < 1.0 / 24) return false;
    sWhy = sBase + "_" + libDates::Format(dDay, "yyyymmdd") +
           ".zip: the newest archive is missing (newest found: " + newest.Path + ")";
    return true;
}

// Logs every problem under the job's header and gives the first (with the count of the others).
std::string Summary(const std::vector<std::string>& problems) {
    for (const std::string& s : problems)
        libLog::LogEvent("  Verify failed: " + s);
    if (problems.size() <= 1) return problems.empty() ? std::string() : problems[0];
    return problems[0] + " (and " + std::to_string(problems.size() - 1) + " more in the log)";
}

} // namespace

namespace {

// VerifyArchive, the names it must hold made by expected (nothing: none) on the calling thread
// while the workers read the entries.
bool CheckArchive(const std::string& sArchive, const std::string& sPassword, std::string& sFailure,
                  const std::function<std::vector<std::string>()>& expected) {
    struct stat st {};
    if (::stat(sArchive.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0) {
        sFailure = "the archive is empty (0 bytes)";
        return false;
    }
    zip_t* pZip = libRestore::detail::OpenArchive(sArchive, ZIP_CHECKCONS, sFailure);
    if (pZip == nullptr) return false;
    struct Closer {
        zip_t* p;
        ~Closer() { zip_discard(p); }
    } closer{pZip};
    if (!sPassword.empty()) zip_set_default_password(pZip, sPassword.c_str());
    std::vector<libRestore::Entry> entries;
    if (!libRestore::detail::ReadArchiveEntries(pZip, entries, sFailure)) return false;
    // A run with nothing to store writes no archive, so one without entries is no backup at all.
    if (entries.empty()) {
        sFailure = "the archive holds no entries";
        return false;
    }
    // Read back on worker threads; the outcomes come in entry order, so the first problem
    // named is the first entry's that has one. The archive's consistency was checked as it
    // was opened here: the workers' handles on the same file need not check it again.
    {
        int64_t lFiles = 0;
        uint64_t lBytes = 0;
        for (const libRestore::Entry& e : entries)
            if (!e.IsDir) {
                ++lFiles;
                lBytes += e.Size;
            }
        RunProgress::NoteKnownTotal(lFiles, static_cast<int64_t>(lBytes));
    }
    detail::EntryReaders readers(pZip, 0, entries, sPassword);
    const std::vector<std::string> names = expected ? expected() : std::vector<std::string>();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!readers.Next(sFailure)) {
            sFailure = "the check was stopped before its end";
            return false;
        }
        if (!sFailure.empty()) return false;
        if (!entries[i].IsDir) RunProgress::NoteDone(1, static_cast<int64_t>(entries[i].Size));
    }
    std::vector<std::string_view> present; // views of the entries' names, sorted
    present.reserve(entries.size());
    for (const libRestore::Entry& e : entries)
        present.emplace_back(e.Name);
    std::sort(present.begin(), present.end());
    for (const std::string& sName : names)
        if (!std::binary_search(present.begin(), present.end(), std::string_view(sName))) {
            sFailure = "'" + sName + "': missing from the archive";
            return false;
        }
    return true;
}

} // namespace

bool VerifyArchive(const std::string& sArchive, const std::string& sPassword, std::string& sFailure,
                   const std::vector<std::string>* pExpected) {
    return CheckArchive(sArchive, sPassword, sFailure,
                        [pExpected] { return pExpected ? *pExpected : std::vector<std::string>(); });
}

bool VerifyCopyTree(const CBackupJob& job, int64_t lSourcesBeforeNs, std::vector<std::string>& problems,
                    const std::string& sCopyRoot) {
    problems = detail::CopyCheck(job, lSourcesBeforeNs, sCopyRoot).Run();
    return problems.empty();
}

bool VerifyNewest(const CBackupJob& job, std::string& sFailure, std::string* pChecked, std::string* pOffsite) {
    libLog::LogEventLevel(2, BackupRun::HeaderLine(job.JobName()));
    // A job that keeps snapshots is held to its newest one.
    const std::vector<libRestore::BackupInfo> backups =
        job.Snapshots() ? libRestore::ListRestorable(job, false) : libRestore::ListBackups(job, false);
    std::vector<std::string> problems;
    std::string sWhat = job.TargetDirectory();
    if (backups.empty()) {
        problems.push_back(job.Compress() ? "no backup found"
                                          : libFiles::AddTrailingSlash(job.TargetDirectory()) + ": no backup found");
    } else if (backups[0].IsArchive) {
        sWhat = backups[0].Path;
        std::string sWhy;
        if (NewestArchiveMissing(job, backups[0], sWhy)) problems.push_back(sWhy);
        const int64_t lMadeNs = ArchiveMadeNs(sWhat);
        const auto expected = [&] {
            return SelectedNames(job, lMadeNs,
                                 libDates::DateValue(libDates::FromTimeT(static_cast<time_t>(lMadeNs / NsPerSecond))));
        };
        if (!CheckArchive(sWhat, job.Password(), sWhy, expected)) problems.push_back(sWhy);
    } else {
        sWhat = backups[0].Path;
        // Sources that appeared after the last run began cannot be in it: its recorded start,
        // or in files without one the minute its end was recorded in. Each copy's own change
        // time tells the files changed after it was made, whatever the record says.
        const int64_t lLastRunNs = job.LastRunStartNs() > 0
                                       ? job.LastRunStartNs()
                                       : static_cast<int64_t>(libDates::ToTimeT(job.DateLastRun())) * NsPerSecond;
        VerifyCopyTree(job, lLastRunNs, problems, backups[0].Snapshot.empty() ? std::string() : sWhat);
    }
    if (!job.OffsiteRemote().empty() && !backups.empty()) {
        std::string sHeld, sProblem;
        if (OffsiteFetch::CheckNewest(job, sWhat, sHeld, sProblem)) {
            libLog::LogEvent("  Off-site copy checked: " + sHeld);
            if (pOffsite != nullptr) *pOffsite = sHeld;
        } else {
            problems.push_back("off-site copy: " + sProblem);
        }
    }
    if (pChecked != nullptr) *pChecked = sWhat;
    sFailure = Summary(problems);
    if (problems.empty()) libLog::LogEvent("  Verified '" + sWhat + "'");
    return problems.empty();
}

bool VerifyAfterRun(const CBackupJob& job, const std::string& sArchive, int64_t lRunStartNs,
                    const std::string& sCopyRoot) {
    // The kernel stamps files with a clock that runs a little behind the one read at the start.
    lRunStartNs -= NsPerSecond;
    std::vector<std::string> problems;
    if (!sArchive.empty()) {
        // The job's record still holds the previous run, whose day an incremental run selected from.
        const auto expected = [&] { return SelectedNames(job, lRunStartNs, job.DateLastRun()); };
        std::string sFailure;
        if (!CheckArchive(sArchive, job.Password(), sFailure, expected)) problems.push_back(sFailure);
    } else {
        VerifyCopyTree(job, lRunStartNs, problems, sCopyRoot);
    }
    Summary(problems);
    if (problems.empty()) libLog::LogEvent("  Verified the new backup");
    return problems.empty();
}

} // namespace libVerify
