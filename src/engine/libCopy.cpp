#include "engine/libCopy.h"

#include "engine/ArchiveFlags.h"
#include "engine/BackupRunOwner.h"
#include "engine/CFileFinder.h"
#include "engine/RunState.h"
#include "support/StowError.h"
#include "support/UserInteraction.h"
#include "support/appPreferences.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

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

// Detailed lines are skipped before any text is built when the log would drop them anyway.
bool DetailedLogging() { return appPreferences::LoggingMode <= 0; }

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

// The walk itself; errors leave by exception to the trap of CopyFiles.
void Walk(int32_t& lFileCount, double& dByteCount, const std::string& sEntry, const std::string& sDestination,
          bool bIncremental, bool bRecurse, int32_t lCopyStyle, const std::string& sExcludeSpec, bool& bFailed,
          int32_t& lLockedCount) {
    // The entry's folder and last component. A "/" in first place is the root folder.
    std::string sourceFolder;
    std::string filePattern;
    size_t cut = std::string::npos;
    for (size_t i = sEntry.size(); i-- > 1;) {
        if (sEntry[i] == '/') {
            cut = i;
            break;
        }
    }
    if (cut != std::string::npos) {
        sourceFolder = sEntry.substr(0, cut);
        filePattern = sEntry.substr(cut + 1);
    } else if (!sEntry.empty() && sEntry[0] == '/') {
        sourceFolder = "/";
        filePattern = sEntry.substr(1);
    } else {
        // No folder at all (a relative name): nothing is visited.
        filePattern = sEntry.size() > 1 ? sEntry.substr(1) : std::string();
    }
    // Folders below the source folder are named relative to it from this offset.
    const size_t relativeStart = sourceFolder.size() + (!sourceFolder.empty() && sourceFolder.back() == '/' ? 0 : 1);

    // Destination root without its final "/".
    std::string destinationRoot = sDestination;
    if (!destinationRoot.empty() && destinationRoot.back() == '/') destinationRoot.pop_back();

    // Exclusions (blank ones match no name and are dropped).
    std::vector<std::string> exclusions;
    libStrings::GetFileList(sExcludeSpec, exclusions);
    std::erase_if(exclusions, [](const std::string& s) { return s.empty(); });

    lFileCount = 0;
    dByteCount = 0;
    bFailed = false;
    CFileFinder source;
    CFileFinder destination;
    ArchiveFlags* flags = nullptr; // the store of the walk (WalkScope opened it)
    std::vector<std::string> stack{sourceFolder};
    const bool bMatchesAll = filePattern == "*" || filePattern == "*.*";

    // The destination's own folder is never entered, so a target inside the walked tree does not
    // copy its copies again without end.
    bool bHaveDestinationId = false;
    dev_t destinationDev = 0;
    ino_t destinationIno = 0;
    const auto isDestination = [&](const struct stat& st) {
        return bHaveDestinationId && st.st_dev == destinationDev && st.st_ino == destinationIno;
    };

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

        if (DetailedLogging()) libLog::LogEventLevel(0, "  + " + WithSlash(current));
        std::string destFolder = current.size() > relativeStart ? destinationRoot + "/" + current.substr(relativeStart)
                                                                : destinationRoot + "/";
        destFolder = WithSlash(destFolder);
        libFiles::uMkDir(destFolder);
        if (!bHaveDestinationId) {
            struct stat st {};
            if (::stat(destinationRoot.empty() ? "/" : destinationRoot.c_str(), &st) == 0) {
                bHaveDestinationId = true;
                destinationDev = st.st_dev;
                destinationIno = st.st_ino;
            }
        }

        // Subfolders found while the files are handled, when the pattern lists everything anyway.
        std::vector<std::string> subfolders;
        bool bSubfoldersKnown = false;

        std::string name = source.FindFirst(JoinPath(current, filePattern));
        bSubfoldersKnown = bMatchesAll;
        for (; !name.empty(); name = source.FindNext()) {
            const bool bIsDir = S_ISDIR(source.StatData().st_mode);
            if (bIsDir) {
                if (bMatchesAll && name != "." && name != ".." && !isDestination(source.StatData()))
                    subfolders.push_back(name);
                continue;
            }
            if (RunState::AbortRequested()) {
                bSubfoldersKnown = false; // the walk ends after this folder anyway
                break;
            }
            if (name == "." || name == "..") continue;

            bool bExcluded = false;
            for (const auto& pattern : exclusions) {
                if (libStrings::Like(name, pattern)) {
                    bExcluded = true;
                    break;
                }
            }
            if (bExcluded) continue;

            if (bIncremental && (source.Attrib() & CFileFinder::AttrArchive) == 0) continue;

            const std::string destPath = destFolder + name;
            if (lCopyStyle != libCopy::CopyRebuild) {
                const bool bFound = !destination.FindFirst(destPath).empty();
                const bool bOlder = bFound && destination.Compare(source.HakHi(), source.HakLo()) < 0;
                destination.FindClose();
                if (bFound && !bOlder) continue;
                if (!bFound && lCopyStyle == libCopy::CopyFreshen) continue;
            }

            const std::string sourcePath = JoinPath(current, name);
            const int64_t size = source.FileSize();
            dByteCount += static_cast<double>(size);
            ++lFileCount;
            if (RunState::Owner() != nullptr) RunStatus::SetStatusMessage("Backing Up  ", sourcePath);
            if (DetailedLogging()) libLog::LogEventLevel(0, "    +-- " + name);
            try {
                libFiles::CopyFileAtomic(sourcePath, destPath);
            } catch (const StowError& e) {
                if (e.Number == StowErrors::PermissionDenied && SourceIsLocked(sourcePath)) {
                    libLog::LogEventLevel(2, "****ERROR****" + JoinPath(current, name) +
                                                 "  ** WAS LOCKED IN USE AND NOT BACKED UP **");
                    if (appPreferences::StopOnError) bFailed = true;
                    ++lLockedCount;
                    UserInteraction::DoEvents();
                    continue;
                }
                if (e.Number == StowErrors::FileNotFound && !libFiles::PathExists(sourcePath)) {
                    // Deleted between listing and copying: like a name that matches nothing.
                    dByteCount -= static_cast<double>(size);
                    --lFileCount;
                    continue;
                }
                throw;
            }
            // The copy stands for the file as it was listed: a change made during the copy
            // leaves the flag set.
            if (flags == nullptr) flags = &ArchiveFlags::Instance();
            flags->Clear(sourcePath, source.StatData());
            UserInteraction::DoEvents();
        }
        source.FindClose();

        // Subfolders, pushed in listing order (so visited in reverse).
        if (bRecurse && !RunState::AbortRequested()) {
            if (!bSubfoldersKnown) {
                subfolders.clear();
                for (std::string sub = source.FindFirst(JoinPath(current, "*.*")); !sub.empty();
                     sub = source.FindNext()) {
                    if (sub != "." && sub != ".." && S_ISDIR(source.StatData().st_mode) &&
                        !isDestination(source.StatData()))
                        subfolders.push_back(sub);
                }
                source.FindClose();
            }
            for (const auto& sub : subfolders) {
                if (stack.size() == 1 && stack[0].empty())
                    stack[0] = JoinPath(current, sub);
                else
                    stack.push_back(JoinPath(current, sub));
            }
        }
        if (RunState::AbortRequested()) break;
    } while (!current.empty());
}

} // namespace

namespace libCopy {

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
               int32_t* pLockedCount) {
    lFileCount = 0;
    dByteCount = 0;
    bFailed = false;
    int32_t lLocked = 0;
    try {
        WalkScope walk;
        Walk(lFileCount, dByteCount, sEntry, sDestination, bIncremental, bRecurse, lCopyStyle, sExcludeSpec, bFailed,
             lLocked);
        if (pLockedCount != nullptr) *pLockedCount = lLocked;
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "CBackupJob", "CopyFiles()", "");
        throw; // reached only when a fatal hook returned: the walk must not look successful
    }
}

EntryResult CopyEntry(const std::string& sEntry, const std::string& sTargetDirectory, bool bIncremental,
                      bool bSubdirectories, int32_t lCopyStyle, const std::string& sExcludeSpec) {
    EntryResult result;
    std::string destination = sTargetDirectory;
    bool bRecurse = false;
    if (IsWildcardEntry(sEntry)) {
        const std::string name = LastFolderName(sEntry);
        destination = sTargetDirectory + name;
        // An entry directly in the root has no folder of its own: its files go into the target
        // directory itself, which a Rebuild must never remove.
        if (!name.empty()) {
            if (lCopyStyle == CopyRebuild && libFiles::DirExists(destination)) {
                if (SourceLiesWithin(sEntry, destination) || libFiles::uRmDir(destination) ||
                    libFiles::DirExists(destination)) {
                    libLog::LogEvent("Error removing previous backup folder.");
                    result.Abandon = true;
                    return result;
                }
            }
        }
        libFiles::uMkDir(destination);
        if (!libFiles::DirExists(destination)) {
            libLog::LogEvent("Error creating new backup folder.");
            result.Abandon = true;
            return result;
        }
        bRecurse = bSubdirectories;
    }
    bool bFailed = false;
    CopyFiles(result.FileCount, result.ByteCount, sEntry, destination, bIncremental, bRecurse, lCopyStyle, sExcludeSpec,
              bFailed, &result.LockedFiles);
    if (bFailed) {
        libLog::LogEvent("Error copying backup files and folders to destination.");
        result.Abandon = true;
    }
    return result;
}

} // namespace libCopy
