#pragma once
// Copy-style backup: copies a source entry (a file, or a wildcard specification and optionally its
// subfolders) into a folder tree under the target, with the copy styles Rebuild, Update and
// Freshen, exclusions, the incremental mode (archive-flag store) and the tree lines of the
// transaction log. The status line goes to the window showing the run (RunState::Owner()),
// and RunState::AbortRequested() is read before each file.

#include <cstdint>
#include <string>

namespace libCopy {

// Copy styles (the job's CopyStyle).
constexpr int32_t CopyRebuild = 0;
constexpr int32_t CopyUpdate = 1;
constexpr int32_t CopyFreshen = 2;

// Walks the entry's folder (and its subfolders when bRecurse) and copies the files matching the
// entry's last component into sDestination, keeping the folder structure below the entry's folder.
// lFileCount / dByteCount: files copied and the sum of their lengths (a locked file counts too).
// bFailed: set only when a file could not be read and the StopOnError preference is on.
// pLockedCount, when given: how many files could not be read and were left out.
// Any other error is reported as fatal (HandleError, "CBackupJob", "CopyFiles()").
void CopyFiles(int32_t& lFileCount, double& dByteCount, const std::string& sEntry, const std::string& sDestination,
               bool bIncremental, bool bRecurse, int32_t lCopyStyle, const std::string& sExcludeSpec, bool& bFailed,
               int32_t* pLockedCount = nullptr);

// The last folder name of a wildcard entry: "Docs" for "/data/Docs/*.doc"; "" for an entry
// directly in the root ("/*.txt"), and for "." or ".." (which name no folder of their own).
std::string LastFolderName(const std::string& sEntry);

// True when the entry holds "*" or "?".
bool IsWildcardEntry(const std::string& sEntry);

struct EntryResult {
    int32_t FileCount = 0;
    double ByteCount = 0;
    bool Abandon = false;    // an error line was logged; the run is to be abandoned
    int32_t LockedFiles = 0; // files that could not be read and were left out
};

// The copy step of a copy-style run for one source entry:
// - a wildcard entry goes to sTargetDirectory + its last folder name; with Rebuild that folder is
//   first removed ("Error removing previous backup folder.") and then created ("Error creating new
//   backup folder."); subfolders are entered as bSubdirectories says. An entry whose last folder
//   name is empty is copied into the target directory itself, which is never removed;
// - any other entry goes to sTargetDirectory itself, without subfolders;
// - a failure reported by CopyFiles logs "Error copying backup files and folders to destination.".
// Every error line is written with LogEvent and sets Abandon.
EntryResult CopyEntry(const std::string& sEntry, const std::string& sTargetDirectory, bool bIncremental,
                      bool bSubdirectories, int32_t lCopyStyle, const std::string& sExcludeSpec);

} // namespace libCopy
