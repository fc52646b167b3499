#include "engine/libVerify.h"

#include "engine/CBackupJobRun.h"
#include "engine/RestoreInternal.h"
#include "engine/ZipInternal.h"
#include "engine/libRestore.h"
#include "engine/libZip.h"
#include "jobs/CBackupJob.h"
#include "support/libDates.h"
#include "support/libFiles.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zip.h>
#include <zlib.h>

namespace libVerify {

namespace {

constexpr size_t BufferSize = 1 << 20;

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// Reads up to n bytes (less only at the end); -1 on an error.
ssize_t ReadFull(int fd, char* p, size_t n) {
    size_t lGot = 0;
    while (lGot < n) {
        const ssize_t r = ::read(fd, p + lGot, n - lGot);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        lGot += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(lGot);
}

bool SameBytes(const std::string& sA, const std::string& sB, std::string& sWhy) {
    Fd a, b;
    a.fd = ::open(sA.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    b.fd = ::open(sB.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (a.fd < 0 || b.fd < 0) {
        sWhy = std::string("cannot be read: ") + std::strerror(errno);
        return false;
    }
    std::vector<char> bufA(BufferSize), bufB(BufferSize);
    for (;;) {
        const ssize_t ra = ReadFull(a.fd, bufA.data(), bufA.size());
        const ssize_t rb = ReadFull(b.fd, bufB.data(), bufB.size());
        if (ra < 0 || rb < 0) {
            sWhy = std::string("cannot be read: ") + std::strerror(errno);
            return false;
        }
        if (ra != rb || std::memcmp(bufA.data(), bufB.data(), static_cast<size_t>(ra)) != 0) {
            sWhy = "content differs from its source";
            return false;
        }
        if (ra == 0) return true;
    }
}

// The names the job's selection gives now, as the run's zip step stores them; files changed
// since the run started are left out (the run may have seen them otherwise).
std::vector<std::string> SelectedNames(const CBackupJob& job, int64_t lRunStartNs) {
    std::vector<std::string> result;
    std::vector<std::string> sources;
    if (libStrings::GetFileList(job.FilesToZip(), sources)) return result;
    libZip::ZpOpt opt;
    if (job.Incremental()) opt.Date = libDates::Format(job.DateLastRun(), "mmddyyyy");
    opt.fSystem = true;
    opt.fIncludeDate = job.Incremental();
    opt.fRecurse = job.Subdirectories();
    opt.fLevel = '9';
    const time_t tStart = static_cast<time_t>(lRunStartNs / 1000000000);
    for (const std::string& sEntry : sources) {
        std::vector<std::string> names;
        if (!libZip::BuildNameList(sEntry, job.ExcludeSpec(), names)) continue;
        libZip::detail::EntryStore store;
        libZip::detail::Selection sel(store);
        libZip::detail::SelectFiles(names, opt, FileSystemProbe::Real(), sel);
        for (size_t i = 0; i < store.Size(); ++i)
            if (!store[i].Withdrawn && store[i].MTime < tStart) result.push_back(store.Name(i));
    }
    return result;
}

} // namespace

bool VerifyArchive(const std::string& sArchive, const std::string& sPassword, std::string& sFailure,
                   const std::vector<std::string>* pExpected) {
    zip_t* pZip = libRestore::detail::OpenArchive(sArchive, ZIP_CHECKCONS, sFailure);
    if (pZip == nullptr) return false;
    struct Closer {
        zip_t* p;
        ~Closer() { zip_discard(p); }
    } closer{pZip};
    if (!sPassword.empty()) zip_set_default_password(pZip, sPassword.c_str());
    std::vector<libRestore::Entry> entries;
    if (!libRestore::detail::ReadArchiveEntries(pZip, entries, sFailure)) return false;
    std::vector<char> buffer(BufferSize);
    std::set<std::string> present;
    for (const libRestore::Entry& e : entries) {
        present.insert(e.Name);
        if (e.IsDir) continue;
        zip_file_t* pFile = zip_fopen_index(pZip, e.Index, 0);
        if (pFile == nullptr) {
            sFailure = "'" + e.Name + "': " + zip_strerror(pZip);
            return false;
        }
        uLong uCrc = crc32(0L, Z_NULL, 0);
        uint64_t lSize = 0;
        zip_int64_t r;
        while ((r = zip_fread(pFile, buffer.data(), buffer.size())) > 0) {
            uCrc = crc32(uCrc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(r));
            lSize += static_cast<uint64_t>(r);
        }
        if (r < 0) {
            sFailure = "'" + e.Name + "': " + zip_error_strerror(zip_file_get_error(pFile));
            zip_fclose(pFile);
            return false;
        }
        zip_fclose(pFile);
        if (lSize != e.Size || static_cast<uint32_t>(uCrc) != e.Crc) {
            sFailure = "'" + e.Name + "': CRC error";
            return false;
        }
    }
    if (pExpected != nullptr)
        for (const std::string& sName : *pExpected)
            if (present.count(sName) == 0) {
                sFailure = "'" + sName + "': missing from the archive";
                return false;
            }
    return true;
}

bool VerifyCopyTree(const CBackupJob& job, int64_t lContentSinceNs, int64_t lSourcesBeforeNs, std::string& sFailure) {
    const std::vector<libRestore::BackupInfo> backups = libRestore::ListBackups(job, false);
    if (backups.empty()) {
        sFailure = "no backup found in '" + job.TargetDirectory() + "'";
        return false;
    }
    std::vector<libRestore::Entry> entries;
    if (libRestore::ReadContents(job, backups[0], entries, sFailure) != libRestore::Status::Ok) return false;
    // Files the job leaves out now may stand in the tree from earlier runs, as old as they are.
    std::vector<std::string> excluded;
    libStrings::GetFileList(job.ExcludeSpec(), excluded);
    for (const libRestore::Entry& e : entries) {
        if (e.IsDir || e.OriginalPath.empty()) continue;
        const std::string sLeaf = libFiles::FilePathStripPath(e.OriginalPath);
        bool bExcluded = false;
        for (const std::string& sSpec : excluded)
            bExcluded = bExcluded || libStrings::WildcardMatch(sLeaf, sSpec);
        if (bExcluded) continue;
        struct stat src {};
        if (::lstat(e.OriginalPath.c_str(), &src) != 0) continue;
        if (libFiles::TimeNs(src.st_ctim) >= lSourcesBeforeNs) continue;
        const std::string sCopy = backups[0].Path + e.Name;
        const int64_t lSourceNs = libFiles::TimeNs(src.st_mtim);
        if (e.IsLink || S_ISLNK(src.st_mode)) {
            if (e.IsLink != S_ISLNK(src.st_mode)) {
                sFailure = "'" + sCopy + "': a link on one side only";
                return false;
            }
            continue;
        }
        if (static_cast<uint64_t>(src.st_size) != e.Size) {
            sFailure = "'" + sCopy + "': size " + std::to_string(e.Size) + " instead of " + std::to_string(src.st_size);
            return false;
        }
        if (lSourceNs != e.MTimeNs) {
            sFailure = "'" + sCopy + "': modification time differs from its source";
            return false;
        }
        struct stat copy {};
        if (::lstat(sCopy.c_str(), &copy) != 0) continue;
        const int64_t lChangeNs = libFiles::TimeNs(copy.st_ctim);
        std::string sWhy;
        if (lChangeNs >= lContentSinceNs && !SameBytes(sCopy, e.OriginalPath, sWhy)) {
            sFailure = "'" + sCopy + "': " + sWhy;
            return false;
        }
    }
    return true;
}

bool VerifyNewest(const CBackupJob& job, std::string& sFailure) {
    libLog::LogEventLevel(2, BackupRun::HeaderLine(job.JobName()));
    const std::vector<libRestore::BackupInfo> backups = libRestore::ListBackups(job, false);
    bool bOk;
    if (backups.empty()) {
        sFailure = "no backup found";
        bOk = false;
    } else if (backups[0].IsArchive) {
        bOk = VerifyArchive(backups[0].Path, job.Password(), sFailure);
    } else {
        // Sources changed after the last run began are newer than any backup of them. The
        // recorded time has minutes only, so it never lies after the run's start.
        const int64_t lLastRunNs = static_cast<int64_t>(libDates::ToTimeT(job.DateLastRun())) * 1000000000;
        bOk = VerifyCopyTree(job, INT64_MAX, lLastRunNs, sFailure);
    }
    const std::string sWhat = backups.empty() ? job.TargetDirectory() : backups[0].Path;
    libLog::LogEvent(bOk ? "  Verified '" + sWhat + "'" : "  Verify failed: " + sFailure);
    return bOk;
}

bool VerifyAfterRun(const CBackupJob& job, const std::string& sArchive, int64_t lRunStartNs) {
    // The kernel stamps files with a clock that runs a little behind the one read at the start.
    lRunStartNs -= 1000000000;
    std::string sFailure;
    bool bOk;
    if (!sArchive.empty()) {
        const std::vector<std::string> expected = SelectedNames(job, lRunStartNs);
        bOk = VerifyArchive(sArchive, job.Password(), sFailure, &expected);
    } else {
        bOk = VerifyCopyTree(job, lRunStartNs, lRunStartNs, sFailure);
    }
    libLog::LogEvent(bOk ? std::string("  Verified the new backup") : "  Verify failed: " + sFailure);
    return bOk;
}

} // namespace libVerify
