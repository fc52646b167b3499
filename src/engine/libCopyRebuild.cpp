// A Rebuild: the new copy is built inside the job's temporary folder, put in place by one exchange
// once complete, and the archive flags of its files kept only then.

#include "engine/ArchiveFlags.h"
#include "engine/CopyInternal.h"
#include "engine/JobTemp.h"
#include "engine/RunState.h"
#include "engine/TargetFlush.h"
#include "support/StowError.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libLog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using libCopy::detail::IsDiskError;
using libCopy::detail::MakeFolder;
using libCopy::detail::TentativeFlags;

namespace {

// True when the entry's folder is the folder sFolder or lies inside it: removing sFolder for a
// Rebuild would then delete the very files to be backed up.
bool SourceLiesWithin(const std::string& sEntry, const std::string& sFolder) {
    const auto slash = sEntry.rfind('/');
    const std::string entryFolder = slash == std::string::npos ? "." : (slash == 0 ? "/" : sEntry.substr(0, slash));
    char* source = ::realpath(entryFolder.c_str(), nullptr);
    char* folder = ::realpath(sFolder.c_str(), nullptr);
    bool bWithin = false;
    if (source != nullptr && folder != nullptr) {
        const std::string s = source;
        const std::string f = folder;
        bWithin = s == f || f == "/" || (s.size() > f.size() && s.compare(0, f.size(), f) == 0 && s[f.size()] == '/');
    }
    std::free(source);
    std::free(folder);
    return bWithin;
}

// Puts the complete new copy sBuilt under the name sFinal, in one step where the file system can
// exchange two names (the previous copy then lies at sBuilt); otherwise the previous copy is moved
// aside into sTempFolder first. Returns where the previous copy now lies ("" when there was none).
std::string SwapIntoPlace(const std::string& sBuilt, const std::string& sFinal, const std::string& sTempFolder) {
    struct stat st {};
    if (::lstat(sFinal.c_str(), &st) != 0) {
        if (::rename(sBuilt.c_str(), sFinal.c_str()) != 0) throw ErrorFromErrno(errno, sFinal);
        return "";
    }
    if (::renameat2(AT_FDCWD, sBuilt.c_str(), AT_FDCWD, sFinal.c_str(), RENAME_EXCHANGE) == 0) return sBuilt;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) throw ErrorFromErrno(errno, sFinal);
    const std::string aside = sTempFolder + "previous";
    uint64_t lBytes = 0;
    libFiles::RemoveTree(aside, lBytes);
    if (::rename(sFinal.c_str(), aside.c_str()) != 0) throw ErrorFromErrno(errno, sFinal);
    if (::rename(sBuilt.c_str(), sFinal.c_str()) != 0) {
        const int iErr = errno;
        (void)::rename(aside.c_str(), sFinal.c_str());
        throw ErrorFromErrno(iErr, sFinal);
    }
    return aside;
}

// Removes the previous copy once the new one stands in its place.
bool RemovePrevious(const std::string& sPath) {
    struct stat st {};
    if (sPath.empty() || ::lstat(sPath.c_str(), &st) != 0) return true;
    if (!S_ISDIR(st.st_mode)) return ::unlink(sPath.c_str()) == 0; // a link the final name was
    uint64_t lBytes = 0;
    return libFiles::RemoveTree(sPath, lBytes);
}

} // namespace

namespace libCopy::detail {

libCopy::EntryResult Rebuild(const std::string& sEntry, const std::string& sFinal, bool bIncremental,
                             bool bSubdirectories, const std::string& sExcludeSpec, const std::string& sTempFolder,
                             libFiles::FileCopier* pCopier, TargetFlush& flush) {
    libCopy::EntryResult result;
    const auto abandon = [&](const char* sMessage) {
        libLog::LogEvent(sMessage);
        result.Abandon = true;
        return result;
    };
    struct stat st {};
    const bool bHadPrevious = ::lstat(sFinal.c_str(), &st) == 0;
    if (bHadPrevious && !libFiles::DirExists(sFinal)) return abandon("Error creating new backup folder.");
    // Its own copy would replace the very files to be backed up.
    if (bHadPrevious && SourceLiesWithin(sEntry, sFinal)) return abandon("Error removing previous backup folder.");

    // A folder that is another file system's mount point cannot change places with the new copy.
    struct stat targetSt {};
    if (bHadPrevious && ::stat(libFiles::FilePathStripFileName(sFinal).c_str(), &targetSt) == 0 &&
        ::stat(sFinal.c_str(), &st) == 0 && st.st_dev != targetSt.st_dev) {
        libLog::LogEvent("  Rebuild of '" + sFinal + "' not possible on a mount point: the previous copy was kept");
        return abandon("Error removing previous backup folder.");
    }
    const std::string buildParent = sTempFolder + "rebuild/";
    const std::string built = buildParent + libFiles::FilePathStripPath(sFinal);
    uint64_t lBytes = 0;
    try {
        JobTemp::Create(sTempFolder);
    } catch (const StowError& e) {
        if (!IsDiskError(e.Errno)) throw;
        libLog::LogEvent("  Error creating folder '" + sTempFolder + "': " + std::strerror(e.Errno));
        return abandon("Error creating new backup folder.");
    }
    if (!libFiles::RemoveTree(built, lBytes)) throw ErrorFromErrno(errno, built);
    if (!MakeFolder(buildParent) || !MakeFolder(built)) return abandon("Error creating new backup folder.");

    libCopy::WalkReport report;
    libCopy::WalkPlace place;
    place.TempFolder = sTempFolder;
    place.ShownRoot = sFinal;
    place.AlsoSkip = sFinal;
    place.FreshTree = true;
    place.ModeAtCreate = !libFiles::HasDefaultAcl(built); // its folders inherit it from there
    place.Copier = pCopier;
    place.Flush = &flush;
    bool bFailed = false;
    std::optional<TentativeFlags> flags; // the walk's rows, kept only once the copy stands
    try {
        flags.emplace();
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "libCopy", "CopyFiles()", "");
        throw; // not reached: a fatal report unwinds with its own exception
    }
    libCopy::CopyFiles(result.FileCount, result.ByteCount, sEntry, built, bIncremental, bSubdirectories,
                       libCopy::CopyRebuild, sExcludeSpec, bFailed, &report, &place);
    result.LockedFiles = report.LockedFiles;
    result.LeftOut = report.LeftOut;

    std::string previous;
    bool bSwapped = false;
    if (!bFailed && !RunState::AbortRequested()) {
        try {
            // The new copy is on disk before it takes the place of the previous one (the walk
            // has flushed it, unless its destination lay on another file system).
            if (const int iErr = flush.Flush(); iErr != 0) throw ErrorFromErrno(iErr, built);
            flush.Written();
            previous = SwapIntoPlace(built, sFinal, sTempFolder);
            bSwapped = true;
        } catch (const StowError& e) {
            if (!IsDiskError(e.Errno)) throw;
            libLog::LogEvent("  Error replacing '" + sFinal + "': " + std::strerror(e.Errno));
            bFailed = true;
        }
    }
    if (!bSwapped) {
        // Whatever was built goes; the walk's copies stand for nothing, so their sources keep
        // their archive flags (the rows go when flags ends).
        libFiles::RemoveTree(built, lBytes);
        libLog::LogEvent("  Rebuild of '" + sFinal + "' not completed: " +
                         (bHadPrevious ? "the previous copy was kept" : "there was no previous copy"));
        if (bFailed) return abandon("Error copying backup files and folders to destination.");
        return result;
    }
    // The flag rows claim the new copy: it stands under its name on disk before they are kept.
    if (const int iErr = flush.Flush(); iErr != 0) {
        libLog::LogEvent("  Error writing to '" + sFinal + "': " + std::strerror(iErr));
        return abandon("Error copying backup files and folders to destination.");
    }
    flags->Keep();
    if (!RemovePrevious(previous)) return abandon("Error removing previous backup folder.");
    (void)::rmdir(libFiles::RemoveTrailingSlash(buildParent).c_str());
    return result;
}

} // namespace libCopy::detail
