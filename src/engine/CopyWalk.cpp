#include "engine/CopyWalk.h"
#include "engine/CopyInternal.h"

#include "engine/BackupRunOwner.h"
#include "engine/CacheFolders.h"
#include "engine/JobTemp.h"
#include "engine/RunProgress.h"
#include "engine/RunState.h"
#include "support/StowError.h"
#include "support/UserInteraction.h"
#include "support/appPreferences.h"
#include "support/libFiles.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

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
    RunProgress::NoteLeftOut(1);
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
    return dest < source.LastWriteTime();
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

} // namespace

namespace libCopy::detail {

namespace {

std::string WithoutFinalSlash(std::string s) {
    if (!s.empty() && s.back() == '/') s.pop_back();
    return s;
}

TargetFlush& ChooseFlush(TargetFlush* pRunFlush, const std::string& sRoot, std::optional<TargetFlush>& own) {
    if (pRunFlush == nullptr || !pRunFlush->Covers(sRoot)) return own.emplace(sRoot);
    return *pRunFlush;
}

} // namespace

struct CopyWalk::Folder {
    std::string Path;     // the source folder
    std::string Relative; // its path below the entry's folder
    std::string Dest;     // its copy, with a final "/"
    // Update and Freshen look each name up in the destination folder: opened once, not
    // walked to from the root for every file.
    FolderFd DestFd;
    std::optional<LookAhead::Listing> Listed;
    // Subfolders found while the files are handled, when the pattern lists everything anyway.
    std::vector<std::string> Subfolders;
    bool SubfoldersKnown = false;
    bool ListedWhole = true;
};

CopyWalk::CopyWalk(const WalkRequest& request, WalkPlace& place, WalkResult& result)
    : m_request(request), m_place(place), m_result(result), m_report(result.Report),
      m_destinationRoot(WithoutFinalSlash(request.Destination)),
      m_shownRoot(WithoutFinalSlash(place.ShownRoot.empty() ? m_destinationRoot : place.ShownRoot)),
      m_flush(&ChooseFlush(place.Flush, m_destinationRoot, m_ownFlush)), m_batch(*m_flush, place.TempFolder),
      m_copies(place.FreshTree ? CopyWorkers::DefaultThreads() : 0, place.FreshTree, place.TempFolder, place.Copier,
               place.ModeAtCreate) {
    libCopy::SplitEntry(request.Entry, m_sourceFolder, m_filePattern);
    m_relativeStart = m_sourceFolder.size() + (!m_sourceFolder.empty() && m_sourceFolder.back() == '/' ? 0 : 1);
    m_exclusions = libStrings::FileList(request.ExcludeSpec);
    std::erase_if(m_exclusions, [](const std::string& s) { return s.empty(); });
    m_result.FileCount = 0;
    m_result.ByteCount = 0;
    m_result.Failed = false;
    m_source.SetReportAsIs(true);
    if (request.Incremental && !m_sourceFolder.empty())
        m_pruning = std::make_unique<FlagPruning>(m_sourceFolder, m_filePattern, request.Recurse);
    m_stack.push_back(m_sourceFolder);
    m_matchesAll = m_filePattern == "*" || m_filePattern == "*.*";
    m_tempReady = place.TempFolder.empty();
    if (request.CopyStyle != libCopy::CopyRebuild && !request.Incremental)
        m_lookAhead.emplace(m_destinationRoot, request.Recurse);
    m_haveSkipId = !place.AlsoSkip.empty() && ::stat(place.AlsoSkip.c_str(), &m_skipId) == 0;
}

// Every level adds at least two characters to a path and no folder of PATH_MAX characters or
// more is entered, so the walk's depth is bounded; the finder never reports links to folders.
void CopyWalk::Run() {
    std::string current;
    while (PopFolder(current)) {
        if (!VisitFolder(current)) break;
    }
    Finish();
}

// The last element is replaced by "" rather than removed; false once the stack is empty.
bool CopyWalk::PopFolder(std::string& sCurrent) {
    if (m_stack.size() == 1) {
        sCurrent = std::move(m_stack[0]);
        m_stack[0].clear();
    } else {
        sCurrent = std::move(m_stack.back());
        m_stack.pop_back();
    }
    return !sCurrent.empty();
}

// One folder: its copy made, its files copied, its subfolders stacked. False: the walk stops.
bool CopyWalk::VisitFolder(const std::string& sCurrent) {
    if (DetailedLogging()) {
        CopyWorkers::Item line;
        line.Line = "  + " + WithSlash(sCurrent);
        m_copies.Add(std::move(line));
    }
    Folder folder;
    folder.Path = sCurrent;
    folder.Relative = sCurrent.size() > m_relativeStart ? sCurrent.substr(m_relativeStart) : std::string();
    folder.Dest = WithSlash(m_destinationRoot + "/" + folder.Relative);
    switch (MakeDestinationFolder(folder)) {
    case Step::Skip:
        return true;
    case Step::Stop:
        return false;
    case Step::Go:
        break;
    }
    OpenDestinationFolder(folder);
    CopyFolderFiles(folder);
    if (m_report.DiskError) return false;
    if (!NoteFolderListed(folder)) return false;
    if (m_request.Recurse && !RunState::AbortRequested()) PushSubfolders(folder);
    return !RunState::AbortRequested() && !m_report.DiskError;
}

CopyWalk::Step CopyWalk::MakeDestinationFolder(const Folder& folder) {
    if (::mkdir(folder.Dest.c_str(), 0777) == 0) {
        m_batch.Written();
        return Step::Go;
    }
    if (errno == EEXIST) return Step::Go;
    const int iErr = errno;
    TakeBack(true);
    if (m_report.DiskError) return Step::Stop;
    if (iErr == ENAMETOOLONG) {
        LeaveOut(m_report, WithSlash(folder.Path), std::strerror(iErr));
        return Step::Skip;
    }
    if (!IsDiskError(iErr)) throw ErrorFromErrno(iErr, folder.Dest);
    libLog::LogEvent("  Error creating folder '" + WithSlash(m_shownRoot + "/" + folder.Relative) +
                     "': " + std::strerror(iErr));
    m_report.DiskError = true;
    return Step::Stop;
}

void CopyWalk::OpenDestinationFolder(Folder& folder) {
    if (m_request.CopyStyle != libCopy::CopyRebuild)
        folder.DestFd.Fd = ::open(folder.Dest.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_lookAhead) folder.Listed = m_lookAhead->Enter(folder.Relative);
    if (!m_haveDestinationId)
        m_haveDestinationId =
            ::stat(m_destinationRoot.empty() ? "/" : m_destinationRoot.c_str(), &m_destinationId) == 0;
    if (folder.Path.size() + 2 + NAME_MAX > PATH_MAX) {
        TakeBack(true);
        NameTooLongEntries(folder.Path, m_filePattern, m_request.Recurse, m_exclusions, m_report);
    }
}

void CopyWalk::CopyFolderFiles(Folder& folder) {
    std::string name = m_source.FindFirst(JoinPath(folder.Path, m_filePattern));
    folder.SubfoldersKnown = m_matchesAll;
    for (; !name.empty(); name = m_source.FindNext()) {
        const mode_t mode = m_source.Kind();
        if (S_ISDIR(mode)) {
            if (m_matchesAll && name != "." && name != ".." && !IsSkipped(name, m_source.StatData()))
                folder.Subfolders.push_back(name);
            continue;
        }
        if (RunState::AbortRequested()) {
            folder.SubfoldersKnown = false; // the walk ends after this folder anyway
            folder.ListedWhole = false;
            break;
        }
        if (!OfferFile(folder, name, mode)) break;
    }
    m_source.FindClose();
}

// A file the pattern selected: copied when its copy is missing or older, as the style asks.
// False: the walk stops.
bool CopyWalk::OfferFile(const Folder& folder, const std::string& sName, mode_t mode) {
    if (IsExcluded(sName)) return true;
    if (!S_ISREG(mode) && !S_ISLNK(mode)) {
        // Holds no data a copy could keep (a pipe would even wait for a writer); named,
        // but no failure of the run, as nothing could ever back it up.
        TakeBack(true);
        if (m_report.DiskError) return false;
        libLog::LogEvent("  Not backed up: '" + JoinPath(folder.Path, sName) + "': " + KindOfSpecial(mode));
        RunProgress::NoteLeftOut(1);
        return true;
    }
    // A file passed unchanged is dealt with, as far as the run's progress goes.
    const auto passed = [this] {
        RunProgress::NoteDone(1, S_ISREG(m_source.Kind()) ? m_source.StatData().st_size : 0);
        return true;
    };
    if (m_request.Incremental && (m_source.Attrib() & CFileFinder::AttrArchive) == 0) return passed();

    const std::string destPath = folder.Dest + sName;
    bool bFound = false;
    if (m_request.CopyStyle != libCopy::CopyRebuild) {
        const bool bOlder = DestinationOlder(folder.DestFd.Fd, sName, destPath, m_source,
                                             folder.Listed ? &*folder.Listed : nullptr, bFound);
        if (bFound && !bOlder) return passed();
        if (!bFound && m_request.CopyStyle == libCopy::CopyFreshen) return passed();
    }

    CopyWorkers::Item file;
    file.IsFile = true;
    file.Source = JoinPath(folder.Path, sName);
    file.Dest = destPath;
    file.Replaces = bFound;
    // What the walk knows already; a regular file in a fresh tree is looked up as opened,
    // unless it may be linked to its copy in the previous snapshot.
    const bool bMayLink = !m_place.LinkFrom.empty() && S_ISREG(mode);
    if (!m_place.FreshTree || S_ISLNK(mode) || bMayLink) file.Listed = m_source.StatData();
    if (bMayLink) file.LinkFrom = m_place.LinkFrom + destPath.substr(m_destinationRoot.size());
    ++m_result.FileCount;
    if (RunState::Owner() != nullptr) RunStatus::SetStatusMessage("Backing Up  ", file.Source);
    if (DetailedLogging()) file.Line = "    +-- " + sName;
    if (!m_tempReady) {
        try {
            JobTemp::Create(m_place.TempFolder);
        } catch (const StowError&) {
            file.Error = std::current_exception(); // refused like the copy it was for
            file.Done = true;
        }
        m_tempReady = !file.Error;
    }
    m_copies.Add(std::move(file));
    TakeBack(false);
    return !m_report.DiskError;
}

// The folder's rows are all written before it counts as listed. False: the walk stops.
bool CopyWalk::NoteFolderListed(const Folder& folder) {
    if (!m_pruning || !folder.ListedWhole) return true;
    TakeBack(true);
    if (m_report.DiskError) return false;
    m_pruning->FolderListed(Flags(), WithSlash(folder.Path));
    return true;
}

// Subfolders, pushed in listing order (so visited in reverse).
void CopyWalk::PushSubfolders(Folder& folder) {
    if (!folder.SubfoldersKnown) {
        folder.Subfolders.clear();
        for (std::string sub = m_source.FindFirst(JoinPath(folder.Path, "*.*")); !sub.empty();
             sub = m_source.FindNext()) {
            if (sub != "." && sub != ".." && S_ISDIR(m_source.Kind()) && !IsSkipped(sub, m_source.StatData()))
                folder.Subfolders.push_back(sub);
        }
        m_source.FindClose();
    }
    for (const auto& sub : folder.Subfolders) {
        std::string path = JoinPath(folder.Path, sub);
        // Its own names would not fit in a path: it cannot be entered.
        if (path.size() + 2 > PATH_MAX) {
            TakeBack(true);
            if (m_report.DiskError) break;
            LeaveOut(m_report, path + "/", std::strerror(ENAMETOOLONG));
            continue;
        }
        if (CacheFolders::LeftOutInRun(path, [this] { TakeBack(true); })) continue;
        if (m_stack.size() == 1 && m_stack[0].empty())
            m_stack[0] = std::move(path);
        else
            m_stack.push_back(std::move(path));
    }
}

void CopyWalk::Finish() {
    TakeBack(true);
    // Even after a disk stop: the files before the one it names are replaced.
    PlaceBatch();
    // Nothing of the walk counts, in the flag rows or in the run's record, before it is on disk.
    if (const int iErr = m_batch.Flush(); iErr != 0 && !m_report.DiskError) {
        libLog::LogEvent("  Error writing to '" + m_shownRoot + "': " + std::strerror(iErr));
        m_report.DiskError = true;
    }
    if (m_report.DiskError)
        m_result.Failed = true;
    else if (m_pruning && !RunState::AbortRequested())
        m_pruning->Apply(Flags());
}

bool CopyWalk::IsExcluded(const std::string& sName) const {
    for (const auto& pattern : m_exclusions) {
        if (libStrings::Like(sName, pattern)) return true;
    }
    return false;
}

bool CopyWalk::IsSkipped(const std::string& sName, const struct stat& st) const {
    return JobTemp::IsTempName(sName) || (m_haveDestinationId && SameFile(st, m_destinationId)) ||
           (m_haveSkipId && SameFile(st, m_skipId));
}

ArchiveFlags& CopyWalk::Flags() {
    if (m_flags == nullptr) m_flags = &ArchiveFlags::Instance();
    return *m_flags;
}

// The copy stands for the file as it was when listed or opened: a change made during the
// copy leaves the flag set.
void CopyWalk::ClearFlag(const std::string& sSource, const struct stat& copied) { Flags().Clear(sSource, copied); }

// A destination path as error lines name it.
std::string CopyWalk::Shown(const std::string& sDestPath) const {
    return m_shownRoot + sDestPath.substr(m_destinationRoot.size());
}

// Puts the waiting copies in place once they are on disk. A copy that could not be placed is
// no copy: not counted, its flag left set, and the walk stops.
void CopyWalk::PlaceBatch() {
    FlushBatch::Failure failure =
        m_batch.Place([&](const FlushBatch::Copy& copy) { ClearFlag(copy.Source, copy.Copied); });
    if (failure.Error == 0) return;
    for (const FlushBatch::Copy& copy : failure.Undone) {
        --m_result.FileCount;
        m_result.ByteCount -= static_cast<double>(copy.Copied.st_size);
    }
    const std::string sWhere = failure.Dest.empty() ? m_destinationRoot : failure.Dest;
    libLog::LogEvent("  Error writing to '" + Shown(sWhere) + "': " + std::strerror(failure.Error));
    m_report.DiskError = true;
}

// What a copied file's outcome means for the walk: its log lines, counts and flag row.
void CopyWalk::Settle(CopyWorkers::Item& item) {
    // The walk stopped at an earlier file, or the run was asked to stop before this one was
    // copied: as if never handed over.
    if (m_report.DiskError || item.Stopped) {
        if (item.IsFile) --m_result.FileCount;
        return;
    }
    if (!item.Line.empty()) libLog::LogEventLevel(0, item.Line);
    if (!item.IsFile) return;
    if (item.Error) {
        SettleError(item);
        return;
    }
    m_result.ByteCount += static_cast<double>(item.Copied.st_size);
    RunProgress::NoteDone(1, item.Copied.st_size);
    if (item.LinkError != 0) NoteLinkRefused(item);
    if (!item.Staged.empty()) {
        // Its flag row is written once it is in place.
        if (m_batch.Add({std::move(item.Staged), item.Dest, item.Source, item.Copied})) PlaceBatch();
    } else {
        m_batch.Written();
        ClearFlag(item.Source, item.Copied);
    }
    UserInteraction::DoEvents();
}

// A snapshot's file was copied for want of a hard link: said once per run.
void CopyWalk::NoteLinkRefused(const CopyWorkers::Item& item) {
    if (m_place.LinkRefusalNamed == nullptr || *m_place.LinkRefusalNamed) return;
    *m_place.LinkRefusalNamed = true;
    libLog::LogEvent("  Hard links not possible in '" + libFiles::FilePathStripFileName(item.LinkFrom) +
                     "': files copied instead (" + std::strerror(item.LinkError) + ")");
}

// A file that could not be copied: the disk stops the walk, a locked file is counted and named,
// an unreadable one is left out; anything else is unexpected and leaves by exception.
void CopyWalk::SettleError(CopyWorkers::Item& item) {
    try {
        std::rethrow_exception(item.Error);
    } catch (const StowError& e) {
        if (IsDiskError(e.Errno)) {
            --m_result.FileCount;
            // The files before it are replaced, as a walk copying one after the other
            // leaves them.
            PlaceBatch();
            libLog::LogEvent("  Error copying '" + item.Source + "' to '" + Shown(item.Dest) +
                             "': " + std::strerror(e.Errno));
            m_report.DiskError = true;
            return;
        }
        if (e.Number == StowErrors::PermissionDenied && SourceIsLocked(item.Source)) {
            struct stat st {};
            if (::lstat(item.Source.c_str(), &st) == 0)
                m_result.ByteCount += static_cast<double>(st.st_size); // counted, though not copied
            libLog::LogEventLevel(2, "****ERROR****" + item.Source + "  ** WAS LOCKED IN USE AND NOT BACKED UP **");
            if (appPreferences::StopOnError) m_result.Failed = true;
            ++m_report.LockedFiles;
            RunProgress::NoteLeftOut(1);
            UserInteraction::DoEvents();
            return;
        }
        const std::string sWhy = WhyUnreadable(item.Source, e.Errno);
        if (sWhy.empty()) throw;
        --m_result.FileCount;
        LeaveOut(m_report, item.Source, sWhy);
    }
}

// Takes back the outcomes that are there (bAll: waits for every one).
void CopyWalk::TakeBack(bool bAll) {
    CopyWorkers::Item item;
    while (m_copies.Next(item, bAll))
        Settle(item);
}

} // namespace libCopy::detail
