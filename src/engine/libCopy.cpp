#include "engine/libCopy.h"
#include "engine/CopyInternal.h"

#include "engine/ArchiveFlags.h"
#include "engine/BackupRunOwner.h"
#include "engine/CFileFinder.h"
#include "engine/CopyFlush.h"
#include "engine/CopyLookAhead.h"
#include "engine/CopyWorkers.h"
#include "engine/JobTemp.h"
#include "engine/RunState.h"
#include "engine/TargetFlush.h"
#include "support/StowError.h"
#include "support/UserInteraction.h"
#include "support/appPreferences.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

using libCopy::detail::CopyWorkers;
using libCopy::detail::FlushBatch;
using libCopy::detail::IsDiskError;

namespace {

// folder + "/" + name, without doubling the "/" of the root folder.
std::string JoinPath(const std::string& sFolder, const std::string& sName) {
    if (!sFolder.empty() && sFolder.back() == '/') return sFolder + sName;
    return sFolder + "/" + sName;
}

std::string WithSlash(const std::string& sFolder) {
    if (!sFolder.empty() && sFolder.back() == '/') return sFolder;
    return sFolder + "/";
}

// A file that cannot be opened for reading is "locked"; a refusal on the destination's side is not.
bool SourceIsLocked(const std::string& sPath) {
    const int fd = ::open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == EACCES || errno == EPERM || errno == EBUSY || errno == ETXTBSY;
}

// Why a source file that failed to copy cannot be read, or "" when it reads well (the failure
// was the destination's).
std::string WhyUnreadable(const std::string& sPath, int iErr) {
    if (iErr == ENAMETOOLONG) return std::strerror(iErr);
    struct stat st {};
    if (::lstat(sPath.c_str(), &st) != 0) return std::strerror(errno); // vanished since listed
    if (S_ISLNK(st.st_mode)) return ""; // copied as a link: nothing of it is read but its text
    if (!S_ISREG(st.st_mode)) return "no longer a regular file";
    const int fd = ::open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    return "";
}

// A file or folder the walk selected but could not back up: named, with the reason.
void LeaveOut(libCopy::WalkReport& report, const std::string& sPath, const std::string& sReason) {
    libLog::LogEvent("  Not backed up: '" + sPath + "': " + sReason);
    ++report.LeftOut;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The destination file's last-write time is earlier than the source's; bFound tells whether a
// file of that name is there at all. The name is looked up as it stands, never as a pattern.
// A link is compared by its own time, as the walk reports the source's.
// iFolder: the destination folder open, looked in for sName (-1: sPath is looked up); pListed:
// the folder as listed ahead, when it was, which answers for the names it holds.
bool DestinationOlder(int iFolder, const std::string& sName, const std::string& sPath, const CFileFinder& source,
                      const libCopy::detail::LookAhead::Listing* pListed, bool& bFound) {
    std::optional<int64_t> modified = pListed != nullptr ? pListed->ModifiedNs(sName) : std::nullopt;
    if (!modified) {
        struct stat st {};
        bFound = iFolder >= 0 ? ::fstatat(iFolder, sName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
                              : ::lstat(sPath.c_str(), &st) == 0;
        if (!bFound) return false;
        modified = libFiles::TimeNs(st.st_mtim);
    }
    bFound = true;
    const uint64_t dest = CFileFinder::FileTimeFromUnixNs(*modified);
    return dest < ((static_cast<uint64_t>(source.HakHi()) << 32) | source.HakLo());
}

// What a pipe, socket or device is called in the line that leaves it out.
const char* KindOfSpecial(mode_t mode) {
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISSOCK(mode)) return "a socket";
    return "a device";
}

// Detailed lines are skipped before any text is built when the log would drop them anyway.
bool DetailedLogging() { return appPreferences::LoggingMode <= 0; }

// A folder descriptor closed at the end of its scope.
struct FolderFd {
    int Fd = -1;
    FolderFd() = default;
    FolderFd(const FolderFd&) = delete;
    FolderFd& operator=(const FolderFd&) = delete;
    ~FolderFd() {
        if (Fd >= 0) ::close(Fd);
    }
};

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

// Names the entries of a folder whose full path no look-up can take (PATH_MAX or longer), which
// the finder therefore never reports: folders when the walk recurses, files when they would
// have been selected.
void NameTooLongEntries(const std::string& sFolder, const std::string& sPattern, bool bRecurse,
                        const std::vector<std::string>& exclusions, libCopy::WalkReport& report) {
    DIR* dir = ::opendir(sFolder.c_str());
    if (dir == nullptr) return;
    while (const dirent* ent = ::readdir(dir)) {
        const std::string name = ent->d_name;
        if (name == "." || name == ".." || JoinPath(sFolder, name).size() < PATH_MAX) continue;
        if (ent->d_type == DT_DIR) {
            if (bRecurse && !JobTemp::IsTempName(name))
                LeaveOut(report, JoinPath(sFolder, name) + "/", std::strerror(ENAMETOOLONG));
            continue;
        }
        if (!libStrings::WildcardMatch(name, sPattern)) continue;
        bool bExcluded = false;
        for (const auto& pattern : exclusions)
            bExcluded = bExcluded || libStrings::Like(name, pattern);
        if (!bExcluded) LeaveOut(report, JoinPath(sFolder, name), std::strerror(ENAMETOOLONG));
    }
    ::closedir(dir);
}

// The walk itself; errors leave by exception to the trap of CopyFiles.
void Walk(int32_t& lFileCount, double& dByteCount, const std::string& sEntry, const std::string& sDestination,
          bool bIncremental, bool bRecurse, int32_t lCopyStyle, const std::string& sExcludeSpec, bool& bFailed,
          libCopy::WalkReport& report, libCopy::WalkPlace& place) {
    std::string sourceFolder;
    std::string filePattern;
    libCopy::SplitEntry(sEntry, sourceFolder, filePattern);
    // Folders below the source folder are named relative to it from this offset.
    const size_t relativeStart = sourceFolder.size() + (!sourceFolder.empty() && sourceFolder.back() == '/' ? 0 : 1);

    // Destination root without its final "/"; error lines name the files under ShownRoot.
    std::string destinationRoot = sDestination;
    if (!destinationRoot.empty() && destinationRoot.back() == '/') destinationRoot.pop_back();
    std::string shownRoot = place.ShownRoot.empty() ? destinationRoot : place.ShownRoot;
    if (!shownRoot.empty() && shownRoot.back() == '/') shownRoot.pop_back();

    // Exclusions (blank ones match no name and are dropped).
    std::vector<std::string> exclusions;
    libStrings::GetFileList(sExcludeSpec, exclusions);
    std::erase_if(exclusions, [](const std::string& s) { return s.empty(); });

    lFileCount = 0;
    dByteCount = 0;
    bFailed = false;
    CFileFinder source;
    source.SetReportAsIs(true);
    ArchiveFlags* flags = nullptr; // the store of the walk (WalkScope opened it)
    // An incremental walk reads the rows of each folder anyway; the rows it did not meet are
    // those of files that may be gone, which a complete walk drops.
    std::unique_ptr<FlagPruning> pruning;
    if (bIncremental && !sourceFolder.empty())
        pruning = std::make_unique<FlagPruning>(sourceFolder, filePattern, bRecurse);
    std::vector<std::string> stack{sourceFolder};
    const bool bMatchesAll = filePattern == "*" || filePattern == "*.*";
    bool bTempReady = place.TempFolder.empty();

    // Copies that replace earlier ones wait here until they are on disk; declared before the
    // workers, so that it outlives their last copy. The run's flush state serves when it covers
    // the destination's file system.
    std::optional<TargetFlush> ownFlush;
    TargetFlush* pFlush = place.Flush;
    if (pFlush == nullptr || !pFlush->Covers(destinationRoot)) pFlush = &ownFlush.emplace(destinationRoot);
    FlushBatch batch(*pFlush, place.TempFolder);
    // A fresh tree's files are copied alongside the walk and their outcomes taken back in walk
    // order: nothing of that tree stands until all of it does. Update and Freshen copy one file
    // after the other, so that a run the disk stops has replaced exactly the files before the
    // one it names.
    CopyWorkers copies(place.FreshTree ? CopyWorkers::DefaultThreads() : 0, place.FreshTree, place.TempFolder,
                       place.Copier, place.ModeAtCreate);
    // The copy stands for the file as it was when listed or opened: a change made during the
    // copy leaves the flag set.
    const auto clearFlag = [&](const std::string& sSource, const struct stat& copied) {
        if (flags == nullptr) flags = &ArchiveFlags::Instance();
        flags->Clear(sSource, copied);
    };
    // Puts the waiting copies in place once they are on disk. A copy that could not be placed is
    // no copy: not counted, its flag left set, and the walk stops.
    const auto placeBatch = [&] {
        FlushBatch::Failure failure =
            batch.Place([&](const FlushBatch::Copy& copy) { clearFlag(copy.Source, copy.Copied); });
        if (failure.Error == 0) return;
        for (const FlushBatch::Copy& copy : failure.Undone) {
            --lFileCount;
            dByteCount -= static_cast<double>(copy.Copied.st_size);
        }
        const std::string sWhere = failure.Dest.empty() ? destinationRoot : failure.Dest;
        libLog::LogEvent("  Error writing to '" + shownRoot + sWhere.substr(destinationRoot.size()) +
                         "': " + std::strerror(failure.Error));
        report.DiskError = true;
    };
    // What a copied file's outcome means for the walk: its log lines, counts and flag row.
    const auto settle = [&](CopyWorkers::Item& item) {
        // The walk stopped at an earlier file, or the run was asked to stop before this one was
        // copied: as if never handed over.
        if (report.DiskError || item.Stopped) {
            if (item.IsFile) --lFileCount;
            return;
        }
        if (!item.Line.empty()) libLog::LogEventLevel(0, item.Line);
        if (!item.IsFile) return;
        if (item.Error) {
            try {
                std::rethrow_exception(item.Error);
            } catch (const StowError& e) {
                if (IsDiskError(e.LastDllError)) {
                    --lFileCount;
                    // The files before it are replaced, as a walk copying one after the other
                    // leaves them.
                    placeBatch();
                    libLog::LogEvent("  Error copying '" + item.Source + "' to '" + shownRoot +
                                     item.Dest.substr(destinationRoot.size()) + "': " + std::strerror(e.LastDllError));
                    report.DiskError = true;
                    return;
                }
                if (e.Number == StowErrors::PermissionDenied && SourceIsLocked(item.Source)) {
                    struct stat st {};
                    if (::lstat(item.Source.c_str(), &st) == 0)
                        dByteCount += static_cast<double>(st.st_size); // counted, though not copied
                    libLog::LogEventLevel(2, "****ERROR****" + item.Source +
                                                 "  ** WAS LOCKED IN USE AND NOT BACKED UP **");
                    if (appPreferences::StopOnError) bFailed = true;
                    ++report.LockedFiles;
                    UserInteraction::DoEvents();
                    return;
                }
                const std::string sWhy = WhyUnreadable(item.Source, e.LastDllError);
                if (sWhy.empty()) throw;
                --lFileCount;
                LeaveOut(report, item.Source, sWhy);
                return;
            }
        }
        dByteCount += static_cast<double>(item.Copied.st_size);
        if (!item.Staged.empty()) {
            // Its flag row is written once it is in place.
            if (batch.Add({std::move(item.Staged), item.Dest, item.Source, item.Copied})) placeBatch();
        } else {
            batch.Written();
            clearFlag(item.Source, item.Copied);
        }
        UserInteraction::DoEvents();
    };
    // Takes back the outcomes that are there (bAll: waits for every one).
    const auto takeBack = [&](bool bAll) {
        CopyWorkers::Item item;
        while (copies.Next(item, bAll))
            settle(item);
    };

    // Update and Freshen compare every file with its copy; an incremental walk only the few it
    // copies, for which the look-ahead would read the whole destination tree in vain.
    std::optional<libCopy::detail::LookAhead> lookAhead;
    if (lCopyStyle != libCopy::CopyRebuild && !bIncremental) lookAhead.emplace(destinationRoot, bRecurse);

    // The destination's own folder, the folder the caller names and every temporary folder are
    // never entered, so a target inside the walked tree does not copy its copies again.
    bool bHaveDestinationId = false;
    struct stat destinationId {};
    struct stat skipId {};
    const bool bHaveSkipId = !place.AlsoSkip.empty() && ::stat(place.AlsoSkip.c_str(), &skipId) == 0;
    const auto isSkipped = [&](const std::string& sName, const struct stat& st) {
        return JobTemp::IsTempName(sName) || (bHaveDestinationId && SameFile(st, destinationId)) ||
               (bHaveSkipId && SameFile(st, skipId));
    };

    // Every level adds at least two characters to a path and no folder of PATH_MAX characters or
    // more is entered, so the walk's depth is bounded; the finder never reports links to folders.
    std::string current;
    do {
        // Pop; the last element is replaced by "" rather than removed.
        if (stack.size() == 1) {
            current = std::move(stack[0]);
            stack[0].clear();
        } else {
            current = std::move(stack.back());
            stack.pop_back();
        }
        if (current.empty()) break;

        if (DetailedLogging()) {
            CopyWorkers::Item line;
            line.Line = "  + " + WithSlash(current);
            copies.Add(std::move(line));
        }
        const std::string relative = current.size() > relativeStart ? current.substr(relativeStart) : std::string();
        const std::string destFolder = WithSlash(destinationRoot + "/" + relative);
        const std::string shownFolder = WithSlash(shownRoot + "/" + relative);
        if (::mkdir(destFolder.c_str(), 0777) == 0) {
            batch.Written();
        } else if (errno != EEXIST) {
            const int iErr = errno;
            takeBack(true);
            if (report.DiskError) break;
            if (iErr == ENAMETOOLONG) {
                LeaveOut(report, WithSlash(current), std::strerror(iErr));
                continue;
            }
            if (!IsDiskError(iErr)) throw ErrorFromErrno(iErr, destFolder);
            libLog::LogEvent("  Error creating folder '" + shownFolder + "': " + std::strerror(iErr));
            report.DiskError = true;
            break;
        }
        // Update and Freshen look each name up in the destination folder: opened once, not
        // walked to from the root for every file.
        FolderFd destinationFolder;
        if (lCopyStyle != libCopy::CopyRebuild)
            destinationFolder.Fd = ::open(destFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        std::optional<libCopy::detail::LookAhead::Listing> listed;
        if (lookAhead) listed = lookAhead->Enter(relative);
        if (!bHaveDestinationId)
            bHaveDestinationId = ::stat(destinationRoot.empty() ? "/" : destinationRoot.c_str(), &destinationId) == 0;
        if (current.size() + 2 + NAME_MAX > PATH_MAX) {
            takeBack(true);
            NameTooLongEntries(current, filePattern, bRecurse, exclusions, report);
        }

        // Subfolders found while the files are handled, when the pattern lists everything anyway.
        std::vector<std::string> subfolders;
        bool bSubfoldersKnown = false;

        std::string name = source.FindFirst(JoinPath(current, filePattern));
        bSubfoldersKnown = bMatchesAll;
        bool bListedWhole = true;
        for (; !name.empty(); name = source.FindNext()) {
            const mode_t mode = source.Kind();
            if (S_ISDIR(mode)) {
                if (bMatchesAll && name != "." && name != ".." && !isSkipped(name, source.StatData()))
                    subfolders.push_back(name);
                continue;
            }
            if (RunState::AbortRequested()) {
                bSubfoldersKnown = false; // the walk ends after this folder anyway
                bListedWhole = false;
                break;
            }

            bool bExcluded = false;
            for (const auto& pattern : exclusions) {
                if (libStrings::Like(name, pattern)) {
                    bExcluded = true;
                    break;
                }
            }
            if (bExcluded) continue;
            if (!S_ISREG(mode) && !S_ISLNK(mode)) {
                // Holds no data a copy could keep (a pipe would even wait for a writer); named,
                // but no failure of the run, as nothing could ever back it up.
                takeBack(true);
                if (report.DiskError) break;
                libLog::LogEvent("  Not backed up: '" + JoinPath(current, name) + "': " + KindOfSpecial(mode));
                continue;
            }

            if (bIncremental && (source.Attrib() & CFileFinder::AttrArchive) == 0) continue;

            const std::string destPath = destFolder + name;
            bool bFound = false;
            if (lCopyStyle != libCopy::CopyRebuild) {
                const bool bOlder =
                    DestinationOlder(destinationFolder.Fd, name, destPath, source, listed ? &*listed : nullptr, bFound);
                if (bFound && !bOlder) continue;
                if (!bFound && lCopyStyle == libCopy::CopyFreshen) continue;
            }

            CopyWorkers::Item file;
            file.IsFile = true;
            file.Source = JoinPath(current, name);
            file.Dest = destPath;
            file.Replaces = bFound;
            // What the walk knows already; a regular file in a fresh tree is looked up as opened.
            if (!place.FreshTree || S_ISLNK(mode)) file.Listed = source.StatData();
            ++lFileCount;
            if (RunState::Owner() != nullptr) RunStatus::SetStatusMessage("Backing Up  ", file.Source);
            if (DetailedLogging()) file.Line = "    +-- " + name;
            if (!bTempReady) {
                try {
                    JobTemp::Create(place.TempFolder);
                } catch (const StowError&) {
                    file.Error = std::current_exception(); // refused like the copy it was for
                    file.Done = true;
                }
                bTempReady = !file.Error;
            }
            copies.Add(std::move(file));
            takeBack(false);
            if (report.DiskError) break;
        }
        source.FindClose();
        if (report.DiskError) break;
        if (pruning && bListedWhole) {
            takeBack(true); // the folder's rows are all written before it counts as listed
            if (report.DiskError) break;
            if (flags == nullptr) flags = &ArchiveFlags::Instance();
            pruning->FolderListed(*flags, WithSlash(current));
        }

        // Subfolders, pushed in listing order (so visited in reverse).
        if (bRecurse && !RunState::AbortRequested()) {
            if (!bSubfoldersKnown) {
                subfolders.clear();
                for (std::string sub = source.FindFirst(JoinPath(current, "*.*")); !sub.empty();
                     sub = source.FindNext()) {
                    if (sub != "." && sub != ".." && S_ISDIR(source.Kind()) && !isSkipped(sub, source.StatData()))
                        subfolders.push_back(sub);
                }
                source.FindClose();
            }
            for (const auto& sub : subfolders) {
                std::string path = JoinPath(current, sub);
                // Its own names would not fit in a path: it cannot be entered.
                if (path.size() + 2 > PATH_MAX) {
                    takeBack(true);
                    if (report.DiskError) break;
                    LeaveOut(report, path + "/", std::strerror(ENAMETOOLONG));
                    continue;
                }
                if (stack.size() == 1 && stack[0].empty())
                    stack[0] = std::move(path);
                else
                    stack.push_back(std::move(path));
            }
        }
        if (RunState::AbortRequested() || report.DiskError) break;
    } while (!current.empty());
    takeBack(true);
    // Even after a disk stop: the files before the one it names are replaced.
    placeBatch();
    // Nothing of the walk counts, in the flag rows or in the run's record, before it is on disk.
    if (const int iErr = batch.Flush(); iErr != 0 && !report.DiskError) {
        libLog::LogEvent("  Error writing to '" + shownRoot + "': " + std::strerror(iErr));
        report.DiskError = true;
    }
    if (report.DiskError)
        bFailed = true;
    else if (pruning && !RunState::AbortRequested())
        pruning->Apply(flags != nullptr ? *flags : ArchiveFlags::Instance());
}

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
    WalkReport report;
    WalkPlace place;
    try {
        WalkScope walk;
        Walk(lFileCount, dByteCount, sEntry, sDestination, bIncremental, bRecurse, lCopyStyle, sExcludeSpec, bFailed,
             report, pPlace != nullptr ? *pPlace : place);
        if (pReport != nullptr) *pReport = report;
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "CBackupJob", "CopyFiles()", "");
        throw; // not reached: a fatal report unwinds with its own exception
    }
}

namespace detail {

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
    result.LockedFiles = report.LockedFiles;
    result.LeftOut = report.LeftOut;
    if (bFailed) {
        libLog::LogEvent("Error copying backup files and folders to destination.");
        result.Abandon = true;
    }
    return result;
}

} // namespace libCopy
