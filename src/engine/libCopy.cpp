#include "engine/libCopy.h"
#include "engine/CopyInternal.h"

#include "engine/ArchiveFlags.h"
#include "engine/CopyWalk.h"
#include "engine/TargetFlush.h"
#include "support/StowError.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libLog.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/stat.h>

namespace {

// Ends the store's transaction however the walk ends.
class WalkScope {
public:
    WalkScope() : m_flags(ArchiveFlags::Instance()) { m_flags.BeginWalk(); }
    ~WalkScope() {
        try {
            m_flags.EndWalk();
        } catch (const std::exception&) {
            // A failed commit leaves the flags set: those files are simply copied again next time.
        }
    }
    WalkScope(const WalkScope&) = delete;
    WalkScope& operator=(const WalkScope&) = delete;

private:
    ArchiveFlags& m_flags;
};

} // namespace

namespace libCopy {

void SplitEntry(const std::string& sEntry, std::string& sFolder, std::string& sPattern) {
    sFolder.clear();
    // A "/" in first place is the root folder.
    const size_t cut = sEntry.size() > 1 ? sEntry.rfind('/', sEntry.size() - 1) : std::string::npos;
    if (cut != std::string::npos && cut > 0) {
        sFolder = sEntry.substr(0, cut);
        sPattern = sEntry.substr(cut + 1);
    } else if (!sEntry.empty() && sEntry[0] == '/') {
        sFolder = "/";
        sPattern = sEntry.substr(1);
    } else {
        sPattern = sEntry.size() > 1 ? sEntry.substr(1) : std::string();
    }
}

bool SameForLink(const struct stat& src, const struct stat& prev) {
    return S_ISREG(src.st_mode) && S_ISREG(prev.st_mode) && src.st_size == prev.st_size &&
           libFiles::TimeNs(src.st_mtim) == libFiles::TimeNs(prev.st_mtim) && src.st_mode == prev.st_mode &&
           src.st_uid == prev.st_uid && src.st_gid == prev.st_gid;
}

bool LinkRefused(int iErr) {
    return iErr == EPERM || iErr == EOPNOTSUPP || iErr == EXDEV || iErr == EMLINK || iErr == ENOSYS;
}

bool IsWildcardEntry(const std::string& sEntry) {
    return sEntry.find('*') != std::string::npos || sEntry.find('?') != std::string::npos;
}

std::string LastFolderName(const std::string& sEntry) {
    if (sEntry.size() < 2) return "";
    // The folder part: up to and including the last "/" before the final character.
    const auto slash = sEntry.rfind('/', sEntry.size() - 2);
    if (slash == std::string::npos || slash == 0) return ""; // no folder, or the root folder
    const auto previous = sEntry.rfind('/', slash - 1);
    const std::string name =
        previous == std::string::npos ? sEntry.substr(0, slash) : sEntry.substr(previous + 1, slash - previous - 1);
    if (name == "." || name == "..") return "";
    return name;
}

void CopyFiles(int32_t& lFileCount, double& dByteCount, const std::string& sEntry, const std::string& sDestination,
               bool bIncremental, bool bRecurse, int32_t lCopyStyle, const std::string& sExcludeSpec, bool& bFailed,
               WalkReport* pReport, WalkPlace* pPlace) {
    lFileCount = 0;
    dByteCount = 0;
    bFailed = false;
    detail::WalkRequest request{sEntry, sDestination, bIncremental, bRecurse, lCopyStyle, sExcludeSpec};
    detail::WalkResult result;
    WalkPlace place;
    const auto giveBack = [&] {
        lFileCount = result.FileCount;
        dByteCount = result.ByteCount;
        bFailed = result.Failed;
    };
    try {
        WalkScope walk;
        detail::CopyWalk(request, pPlace != nullptr ? *pPlace : place, result).Run();
        giveBack();
        if (pReport != nullptr) *pReport = result.Report;
    } catch (const std::exception& e) {
        giveBack();
        libErrorHandler::HandleError(true, ErrorFromException(e), "libCopy", "CopyFiles()", "");
        throw; // not reached: a fatal report unwinds with its own exception
    }
}

namespace detail {

void TakeWalkReport(EntryResult& result, const WalkReport& report, bool bFailed) {
    result.LockedFiles = report.LockedFiles;
    result.LeftOut = report.LeftOut;
    if (bFailed) {
        libLog::LogEvent("Error copying backup files and folders to destination.");
        result.Abandon = true;
    }
}

bool IsDiskError(int iErr) { return iErr == ENOSPC || iErr == EDQUOT || iErr == EROFS || iErr == EIO; }

bool MakeFolder(const std::string& sFolder) {
    const std::string path = libFiles::RemoveTrailingSlash(sFolder);
    if (::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && libFiles::DirExists(path))) return true;
    const int iErr = errno;
    if (!IsDiskError(iErr) && iErr != EEXIST && iErr != ENAMETOOLONG) throw ErrorFromErrno(iErr, path);
    libLog::LogEvent("  Error creating folder '" + path + "': " + std::strerror(iErr));
    return false;
}

} // namespace detail

EntryResult CopyEntry(const std::string& sEntry, const std::string& sTargetDirectory, bool bIncremental,
                      bool bSubdirectories, int32_t lCopyStyle, const std::string& sExcludeSpec,
                      const std::string& sTempFolder, libFiles::FileCopier* pCopier, TargetFlush* pFlush) {
    EntryResult result;
    std::optional<TargetFlush> ownFlush;
    if (pFlush == nullptr) pFlush = &ownFlush.emplace(sTargetDirectory);
    std::string destination = sTargetDirectory;
    bool bRecurse = false;
    if (IsWildcardEntry(sEntry)) {
        const std::string name = LastFolderName(sEntry);
        // An entry directly in the root has no folder of its own: its files go into the target
        // directory itself, which a Rebuild must never remove.
        if (lCopyStyle == CopyRebuild && !name.empty())
            return detail::Rebuild(sEntry, sTargetDirectory + name, bIncremental, bSubdirectories, sExcludeSpec,
                                   sTempFolder, pCopier, *pFlush);
        destination = sTargetDirectory + name;
        if (!detail::MakeFolder(destination)) {
            libLog::LogEvent("Error creating new backup folder.");
            result.Abandon = true;
            return result;
        }
        bRecurse = bSubdirectories;
    }
    bool bFailed = false;
    WalkReport report;
    WalkPlace place;
    place.TempFolder = sTempFolder;
    place.Copier = pCopier;
    place.Flush = pFlush;
    CopyFiles(result.FileCount, result.ByteCount, sEntry, destination, bIncremental, bRecurse, lCopyStyle, sExcludeSpec,
              bFailed, &report, &place);
    detail::TakeWalkReport(result, report, bFailed);
    return result;
}

} // namespace libCopy
