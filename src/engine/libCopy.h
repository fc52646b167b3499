#pragma once
// Copy-style backup: copies a source entry (a file, or a wildcard specification and optionally its
// subfolders) into a folder tree under the target, with the copy styles Rebuild, Update and
// Freshen, exclusions, the incremental mode (archive-flag store) and the tree lines of the
// transaction log. The status line goes to the window showing the run (RunState::Owner()),
// and RunState::AbortRequested() is read before each file.

#include "support/libFiles.h"

#include <cstdint>
#include <string>

class TargetFlush;

namespace libCopy {

// Copy styles (the job's CopyStyle).
constexpr int32_t CopyRebuild = 0;
constexpr int32_t CopyUpdate = 1;
constexpr int32_t CopyFreshen = 2;

// What a walk met besides the files it copied.
struct WalkReport {
    int32_t LockedFiles = 0; // could not be read ("locked"): logged with the locked-file line
    int32_t LeftOut = 0;     // could not be backed up for another reason: one line each, naming it
    bool DiskError = false;  // the copy was refused for want of space, quota, a read-only file
                             // system or an I/O error: logged, and the walk stopped there
};

// Where a walk writes besides its destination, and what it must not enter.
struct WalkPlace {
    std::string TempFolder; // the job's temporary folder for the copies' temporary files ("":
                            // beside each destination file); created when first needed
    std::string ShownRoot;  // the destination root named in error lines ("": the destination)
    std::string AlsoSkip;   // one more folder the walk never enters (a Rebuild's final folder)
    bool FreshTree = false; // the destination is a new tree inside TempFolder, which as a whole
                            // stands for nothing until it is put in place: files are written
                            // straight under their names there
    // FreshTree's files may be made with their modes: the tree has no default ACL.
    bool ModeAtCreate = false;
    // The run's copier (a fresh one per file when null).
    libFiles::FileCopier* Copier = nullptr;
    // The run's state of its target's file system (null, or a destination on another file
    // system: the walk keeps its own and flushes before it ends all the same).
    TargetFlush* Flush = nullptr;
    // A snapshot's walk: the destination's counterpart in the previous snapshot ("": none). A
    // file whose copy there is the same (SameForLink) is linked to it instead of copied.
    std::string LinkFrom;
    // Set once a refused link was named in the log, so that a run says it once.
    bool* LinkRefusalNamed = nullptr;
};

// A file (status src) may be a hard link to its copy in the previous snapshot (status prev):
// both regular files, same size, modification time to the nanosecond, mode and owner.
bool SameForLink(const struct stat& src, const struct stat& prev);

// A link failed for want of hard links where it was to be made (no support, another file
// system, the link count at its limit): the file is copied instead.
bool LinkRefused(int iErr);

// Walks the entry's folder (and its subfolders when bRecurse) and copies the files matching the
// entry's last component into sDestination, keeping the folder structure below the entry's folder.
// lFileCount / dByteCount: files copied and the sum of their lengths (a locked file counts too).
// bFailed: set when a file could not be read and the StopOnError preference is on, and when the
// destination refused the copy (WalkReport::DiskError).
// Folders whose names begin with the temporary-folder prefix are never entered. A symbolic link is
// copied as a link, never followed, whatever it points to; a pipe, socket or device is named in
// the log and left out. After a complete incremental walk the archive-flag store forgets the files
// of the walked folders that are gone.
// Any other error is reported as fatal (HandleError, "libCopy", "CopyFiles()").
void CopyFiles(int32_t& lFileCount, double& dByteCount, const std::string& sEntry, const std::string& sDestination,
               bool bIncremental, bool bRecurse, int32_t lCopyStyle, const std::string& sExcludeSpec, bool& bFailed,
               WalkReport* pReport = nullptr, WalkPlace* pPlace = nullptr);

// An entry's folder and last component: "/data/Docs" and "*.doc" for "/data/Docs/*.doc"; "/" for
// an entry directly in the root; no folder (nothing to visit) for a relative name.
void SplitEntry(const std::string& sEntry, std::string& sFolder, std::string& sPattern);

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
    int32_t LeftOut = 0;     // files or folders left out for another reason (each named in the log)
};

// The copy step of a copy-style run for one source entry:
// - a wildcard entry goes to sTargetDirectory + its last folder name, subfolders entered as
//   bSubdirectories says. With Rebuild the new copy is built inside sTempFolder (the job's
//   temporary folder) and, once complete, exchanged with the previous copy in one step, which is
//   then removed ("Error removing previous backup folder." when it cannot be); an abort or a
//   failure while building keeps the previous copy and logs so. An entry whose last folder name
//   is empty is copied into the target directory itself, which is never removed;
// - any other entry goes to sTargetDirectory itself, without subfolders;
// - a failure reported by CopyFiles logs "Error copying backup files and folders to destination.".
// Every error line is written with LogEvent and sets Abandon. pCopier: the run's copier; pFlush:
// the run's state of the target's file system, which every walk flushes through.
EntryResult CopyEntry(const std::string& sEntry, const std::string& sTargetDirectory, bool bIncremental,
                      bool bSubdirectories, int32_t lCopyStyle, const std::string& sExcludeSpec,
                      const std::string& sTempFolder, libFiles::FileCopier* pCopier = nullptr,
                      TargetFlush* pFlush = nullptr);

} // namespace libCopy
