#include "engine/SnapshotRun.h"

#include "engine/JobTemp.h"
#include "engine/RunState.h"
#include "engine/Snapshots.h"
#include "engine/TargetFlush.h"
#include "jobs/CBackupJob.h"
#include "support/StowError.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using libCopy::detail::IsDiskError;
using libCopy::detail::MakeFolder;

namespace {

// Gives sFrom the name sTo unless something has that name already (EEXIST then).
int RenameNoReplace(const std::string& sFrom, const std::string& sTo) {
    if (::renameat2(AT_FDCWD, sFrom.c_str(), AT_FDCWD, sTo.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    // A file system without the flag: a folder renamed over an empty one would replace it.
    struct stat st {};
    if (::lstat(sTo.c_str(), &st) == 0) return EEXIST;
    return ::rename(sFrom.c_str(), sTo.c_str()) == 0 ? 0 : errno;
}

// One entry of the previous snapshot in the linked image: a folder made anew, anything else
// linked (copied where the file system refuses the link). 0, or the errno of a disk error.
int LinkOne(const std::string& sFrom, const std::string& sTo, const std::string& sTempFolder, bool bFolder,
            int& iRefused, libFiles::FileCopier* pCopier) {
    if (bFolder) return ::mkdir(sTo.c_str(), 0777) == 0 ? 0 : errno;
    if (::link(sFrom.c_str(), sTo.c_str()) == 0) return 0;
    const int iErr = errno;
    if (!libCopy::LinkRefused(iErr)) return iErr;
    if (iRefused == 0) iRefused = iErr;
    try {
        libFiles::CopyFileAtomic(sFrom, sTo, sTempFolder, pCopier);
    } catch (const StowError& e) {
        return e.Errno != 0 ? e.Errno : EIO;
    }
    return 0;
}

} // namespace

SnapshotRun::SnapshotRun(const CBackupJob& job, const std::string& sTarget, const std::string& sTempFolder,
                         libFiles::FileCopier* pCopier, TargetFlush& flush)
    : m_job(job), m_sTempFolder(sTempFolder), m_sFolder(Snapshots::FolderOf(sTarget, job.JobName())),
      m_sBuild(sTempFolder + "snapshot"), m_pCopier(pCopier), m_flush(flush) {}

bool SnapshotRun::Begin() {
    const std::vector<Snapshots::Snapshot> existing = Snapshots::List(m_sFolder);
    if (!existing.empty()) m_sPrevious = m_sFolder + "/" + existing.front().Name;
    try {
        JobTemp::Create(m_sTempFolder);
    } catch (const StowError& e) {
        if (!IsDiskError(e.Errno)) throw;
        libLog::LogEvent("  Error creating folder '" + m_sTempFolder + "': " + std::strerror(e.Errno));
        libLog::LogEvent("Error creating new backup folder.");
        return false;
    }
    uint64_t lBytes = 0;
    if (!libFiles::RemoveTree(m_sBuild, lBytes)) throw ErrorFromErrno(errno, m_sBuild);
    if (!MakeFolder(m_sBuild)) {
        libLog::LogEvent("Error creating new backup folder.");
        return false;
    }
    m_bModeAtCreate = !libFiles::HasDefaultAcl(m_sBuild);
    try {
        m_flags.emplace();
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "libCopy", "CopyFiles()", "");
        throw; // not reached: a fatal report unwinds with its own exception
    }
    if (m_job.CopyStyle() == libCopy::CopyRebuild || m_sPrevious.empty()) return true;
    if (LinkImage()) return true;
    libLog::LogEvent("Error copying backup files and folders to destination.");
    return false;
}

// The previous snapshot as links, folder by folder (the stack holds the folders still to visit,
// relative to the snapshot, each beginning with "/").
bool SnapshotRun::LinkImage() {
    std::vector<std::string> stack{""};
    int iRefused = 0;
    while (!stack.empty()) {
        // Stopped here, the walk that follows stops at once and the run drops the snapshot.
        if (RunState::AbortRequested()) return true;
        const std::string rel = std::move(stack.back());
        stack.pop_back();
        DIR* dir = ::opendir((m_sPrevious + rel).c_str());
        if (dir == nullptr) throw ErrorFromErrno(errno, m_sPrevious + rel);
        int iErr = 0;
        while (const dirent* ent = ::readdir(dir)) {
            const std::string name = ent->d_name;
            if (name == "." || name == "..") continue;
            struct stat st {};
            if (::fstatat(::dirfd(dir), ent->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue; // gone
            const std::string sub = rel + "/" + name;
            iErr = LinkOne(m_sPrevious + sub, m_sBuild + sub, m_sTempFolder, S_ISDIR(st.st_mode), iRefused, m_pCopier);
            if (iErr != 0) break;
            if (S_ISDIR(st.st_mode)) stack.push_back(sub);
        }
        ::closedir(dir);
        if (iErr == 0) continue;
        if (!IsDiskError(iErr) && iErr != ENAMETOOLONG) throw ErrorFromErrno(iErr, m_sBuild + rel);
        libLog::LogEvent("  Error copying '" + m_sPrevious + rel + "': " + std::strerror(iErr));
        return false;
    }
    if (iRefused != 0 && !m_bLinkRefusalNamed) {
        m_bLinkRefusalNamed = true;
        libLog::LogEvent("  Hard links not possible in '" + m_sFolder + "': files copied instead (" +
                         std::strerror(iRefused) + ")");
    }
    m_flush.Written();
    return true;
}

libCopy::EntryResult SnapshotRun::CopyEntry(const std::string& sEntry) {
    libCopy::EntryResult result;
    std::string destination = m_sBuild;
    std::string linkFrom = m_sPrevious;
    bool bRecurse = false;
    if (libCopy::IsWildcardEntry(sEntry)) {
        if (const std::string name = libCopy::LastFolderName(sEntry); !name.empty()) {
            destination += "/" + name;
            linkFrom += "/" + name;
        }
        if (!MakeFolder(destination)) {
            libLog::LogEvent("Error creating new backup folder.");
            result.Abandon = true;
            return result;
        }
        bRecurse = m_job.Subdirectories();
    }
    const bool bRebuild = m_job.CopyStyle() == libCopy::CopyRebuild;
    libCopy::WalkPlace place;
    place.TempFolder = m_sTempFolder;
    place.AlsoSkip = m_sFolder; // a target inside a source never backs up its own snapshots
    place.FreshTree = bRebuild;
    place.ModeAtCreate = bRebuild && m_bModeAtCreate;
    place.Copier = m_pCopier;
    place.Flush = &m_flush;
    if (bRebuild && !m_sPrevious.empty()) place.LinkFrom = linkFrom;
    place.LinkRefusalNamed = &m_bLinkRefusalNamed;
    bool bFailed = false;
    libCopy::WalkReport report;
    libCopy::CopyFiles(result.FileCount, result.ByteCount, sEntry, destination, m_job.Incremental(), bRecurse,
                       m_job.CopyStyle(), m_job.ExcludeSpec(), bFailed, &report, &place);
    libCopy::detail::TakeWalkReport(result, report, bFailed);
    return result;
}

bool SnapshotRun::Complete() {
    const auto fail = [&](const std::string& sWhere, int iErr) {
        // EXDEV: the snapshot folder is another file system's mount point.
        if (!IsDiskError(iErr) && iErr != EEXIST && iErr != EXDEV) throw ErrorFromErrno(iErr, sWhere);
        libLog::LogEvent("  Error writing to '" + sWhere + "': " + std::strerror(iErr));
        libLog::LogEvent("  Snapshot not completed: the previous snapshots were kept");
        return false;
    };
    // Complete on disk before any dated name claims it.
    if (const int iErr = m_flush.Flush(); iErr != 0) return fail(m_sBuild, iErr);
    if (!MakeFolder(m_sFolder)) { // named by MakeFolder
        libLog::LogEvent("  Snapshot not completed: the previous snapshots were kept");
        return false;
    }
    double dNow = libDates::Now();
    // In the hour repeated when summer time ends, the clock names moments before the newest
    // snapshot: the new one then takes the second after it, so that names keep the order of the
    // runs (the calendar and the next run's links go by the names).
    const std::vector<Snapshots::Snapshot> existing = Snapshots::List(m_sFolder);
    if (!existing.empty() && existing[0].When >= dNow && existing[0].When - dNow <= 2.0 / 24)
        dNow = libDates::AddSeconds(existing[0].When, 1);
    std::string sName;
    int iErr = EEXIST;
    // A name taken already (a run in the same second) takes the next second.
    for (int i = 0; i < 3600 && iErr == EEXIST; ++i) {
        sName = libDates::Stamp(libDates::AddSeconds(dNow, i));
        iErr = RenameNoReplace(m_sBuild, m_sFolder + "/" + sName);
    }
    if (iErr != 0) return fail(m_sFolder, iErr);
    m_sDone = m_sFolder + "/" + sName;
    m_flush.Written();
    MakeLatest(sName); // a link refused leaves the snapshot standing all the same
    // The flag rows claim the new snapshot: it stands under its name on disk before they are kept.
    if (const int iFlush = m_flush.Flush(); iFlush != 0) {
        libLog::LogEvent("  Error writing to '" + m_sDone + "': " + std::strerror(iFlush));
        return false;
    }
    m_flags->Keep();
    libLog::LogEventLevel(1, "  Snapshot " + sName + " written");
    return true;
}

// "latest" replaced in one step: a new link under a temporary name, renamed over it.
bool SnapshotRun::MakeLatest(const std::string& sName) {
    const std::string sTemp = m_sFolder + "/" + JobTemp::Prefix + Snapshots::kLatest;
    const std::string sLatest = m_sFolder + "/" + Snapshots::kLatest;
    ::unlink(sTemp.c_str());
    if (::symlink(sName.c_str(), sTemp.c_str()) != 0 || ::rename(sTemp.c_str(), sLatest.c_str()) != 0) {
        const int iErr = errno;
        ::unlink(sTemp.c_str());
        libLog::LogEvent("  Could not point '" + sLatest + "' at " + sName + ": " + std::strerror(iErr));
        return false;
    }
    m_flush.Written();
    return true;
}

void SnapshotRun::Expire() {
    if (m_sDone.empty()) return;
    const std::string sDoneName = libFiles::FilePathStripPath(m_sDone);
    for (const Snapshots::Verdict& v : Snapshots::Plan(Snapshots::List(m_sFolder), m_job.SnapshotKeeping())) {
        if (v.Why != Snapshots::Reason::Remove || v.Of.Name == sDoneName) continue;
        // Out of the dated names first, so that a kill part-way leaves no partial snapshot there.
        const std::string sAside = m_sTempFolder + "expired-" + v.Of.Name;
        uint64_t lBytes = 0;
        if (::rename((m_sFolder + "/" + v.Of.Name).c_str(), sAside.c_str()) != 0) {
            libLog::LogEvent("  Snapshot " + v.Of.Name + " could not be removed: " + std::strerror(errno));
            continue;
        }
        if (libFiles::RemoveTree(sAside, lBytes))
            libLog::LogEvent("  Snapshot " + v.Of.Name + " removed");
        else // out of the snapshot folder all the same; the next run reclaims the rest
            libLog::LogEvent("  Snapshot " + v.Of.Name + " removed, some of its files left for the next run");
    }
}
