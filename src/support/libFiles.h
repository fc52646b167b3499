#pragma once
// Paths, folders and files: the one path helper of the program. Folders returned
// by the program end with "/". Operations marked "trapped" report an unexpected
// error as fatal through libErrorHandler ("libFiles", "<name>()").

#include <atomic>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace libFiles {

constexpr char PathSep = '/';

// ---- path texts ----
// The folder part including its final "/"; with no "/" but ":" in position 2, the first two
// characters; otherwise "". Trapped.
std::string FilePathStripFileName(const std::string& sPath);
// The name after the last "/" ("" when nothing follows); with no "/" but ":" in position 2,
// the text from position 3. Trapped.
std::string FilePathStripPath(const std::string& sPath);
// Adds a final "/" when missing (not to "").
std::string AddTrailingSlash(const std::string& sPath);
// Removes one final "/" (never from "/" itself).
std::string RemoveTrailingSlash(const std::string& sPath);

// ---- look-ups (never throw) ----
bool FileExists(const std::string& sPath); // a regular file (symbolic links followed)
// Reads up to n bytes from fd, going on after interruptions (less only at the end); -1 on an error.
long ReadFull(int fd, char* p, size_t n);
bool DirExists(const std::string& sPath);  // a directory (symbolic links followed)
bool PathExists(const std::string& sPath); // anything
// File length in bytes; 0 when missing.
uint64_t FileLen(const std::string& sPath);
// Modification time in ns since 1970 UTC; 0 when missing.
int64_t ModTimeNs(const std::string& sPath);
// A time the system gives (st_mtim, st_ctim, a clock) in ns since 1970 UTC.
inline int64_t TimeNs(const struct timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

// ---- changes (throw StowError with classic numbers) ----
// Moves the bytes of one open file into another. The kernel's copy is tried first; once it has
// said that it cannot copy between these file systems (EXDEV, EOPNOTSUPP, ENOSYS), this copier
// reads and writes instead for the rest of its life, so one copier held by a whole run asks the
// kernel once, not once per file. Only the data of a sparse file is copied: its holes stay holes.
class FileCopier {
public:
    virtual ~FileCopier() = default;
    // Copies all of in (whose status is st) into the empty file out. Throws StowError.
    void Copy(int in, int out, const struct stat& st, const std::string& sSource, const std::string& sDest);
    // The kernel said it cannot copy here: reading and writing from now on.
    bool KernelRefused() const { return m_bKernelRefused; }
    // Asked between pieces of a file (from any copying thread): once it answers true, the copy
    // under way ends with a StowError of ECANCELED and is dropped as any failed copy is.
    void SetStopTest(bool (*pStopped)()) { m_pStopped = pStopped; }

protected:
    // The kernel's copy of at most n bytes between the two offsets (as copy_file_range).
    virtual ssize_t KernelCopy(int in, off_t* pInOffset, int out, off_t* pOutOffset, size_t n);

private:
    void CopyRange(int in, int out, off_t iFrom, off_t iTo, const std::string& sSource, const std::string& sDest);
    std::atomic<bool> m_bKernelRefused = false; // one copier serves a run's copying threads
    bool (*m_pStopped)() = nullptr;
};

// Copies bytes to a temporary name, then renames over the target. Keeps modification time and
// permission bits; overwrites a read-only target. Streams. The temporary lives in sTempFolder
// when given (a job's temporary folder, so a kill leaves it where the job's next run reclaims
// it), or beside the target when that folder is on another file system (named after
// sTempFolder); without sTempFolder it lives beside the target. A symbolic link is copied as a
// link (its target text and its own modification time), never followed. pCopier: the copier of
// the run (a fresh one when null).
// A copy that replaces an existing regular file is flushed to the disk before its rename.
void CopyFileAtomic(const std::string& sSource, const std::string& sDest, const std::string& sTempFolder = "",
                    FileCopier* pCopier = nullptr);
// The first half of CopyFileAtomic, for a caller that flushes many copies at once before it
// renames them: copies sSource (a regular file, or a link as a link) under a new temporary name
// in sTempFolder and returns that name, which the caller renames over sDest. The writing of its
// data to disk is started, not waited for. A failed copy leaves nothing.
std::string CopyFileStaged(const std::string& sSource, const std::string& sDest, const std::string& sTempFolder,
                           FileCopier* pCopier = nullptr);
// Copies a regular file straight under the new name sDest, for a tree that is itself still a
// temporary (a Rebuild's copy before its exchange): no temporary name, no rename. Keeps what
// CopyFileAtomic keeps; a failed copy leaves nothing. False, having done nothing, when sSource
// is a symbolic link or sDest exists already: CopyFileAtomic then does the copy.
// bModeAtCreate: sDest's folder has no default ACL (HasDefaultAcl), so a new file gets the
// permission bits it is made with less the umask's; where the umask takes none of them and no
// set-id or sticky bit is wanted, the file is made with its mode and no change of mode follows.
// pCopied: gets the source's status as opened (its length, mode and times are what was copied).
bool CopyFileNew(const std::string& sSource, const std::string& sDest, FileCopier* pCopier = nullptr,
                 bool bModeAtCreate = false, struct stat* pCopied = nullptr);
// True when new entries of sFolder take their permissions from its default ACL rather than from
// the mode they are made with less the umask, or when that cannot be told.
bool HasDefaultAcl(const std::string& sFolder);
// The process's umask (0777 when it cannot be read).
mode_t ProcessUmask();
// Renames; across file systems copies then deletes.
void MoveFile(const std::string& sFrom, const std::string& sTo);
void RenameFile(const std::string& sFrom, const std::string& sTo);
// Renames only when nothing stands under sTo: false (nothing done) when something does. Never
// replaces, even when another program creates sTo at the same moment.
bool RenameNoReplace(const std::string& sFrom, const std::string& sTo);
// Flushes a file or a folder (its names: a rename in it) to the disk.
void SyncPath(const std::string& sPath);
// Flushes the whole file system that holds sPath (syncfs): every file and name written there.
// Throws with the error the system reports for data it could not write.
void SyncFileSystem(const std::string& sPath);
// Deletes a file (a read-only one too). A missing file is not an error.
void DeleteFile(const std::string& sPath);
// The whole content of a (small) file; throws when it cannot be read.
std::string ReadWholeFile(const std::string& sPath);
// Writes through a temporary name, fsync and rename. The temporary has its mode before a byte is
// written, and the file takes it (Stowline's own files are private unless asked otherwise).
void WriteWholeFileAtomic(const std::string& sPath, const std::string& sBytes, mode_t mode = 0600);
// Appends bytes to one of Stowline's own files (its logs): created 0600, and one that an older
// version left readable by others made private (MakePrivate); throws on failure.
void AppendToFile(const std::string& sPath, const std::string& sBytes);
// Takes the group's and others' permissions away from sPath when it is a regular file of this
// user that has any: one of Stowline's own files (a log, the archive-flag store) that an older
// version made 0644. A symbolic link, a missing file or another user's file is left alone.
void MakePrivate(const std::string& sPath);
// A file kept open for appending, made private as AppendToFile does. Each Append is one write to
// the system, nothing held back in the program, so a crash of the program loses nothing appended
// before it.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile() { Close(); }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    void Open(const std::string& sPath);    // throws on failure
    void Append(const std::string& sBytes); // throws on failure
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    const std::string& Path() const { return m_sPath; }

private:
    int m_fd = -1;
    std::string m_sPath;
};
// Removes a folder and everything in it without following links, walking by descriptor so that
// neither depth nor path length can stop it, and never holding more than one folder open.
// lBytes gets the total size of the files removed. Returns false when something could not be
// removed (errno tells why); a missing folder is no failure.
bool RemoveTree(const std::string& sFolder, uint64_t& lBytes);

// ---- the utility table ----
// Removes one trailing "/"; creates the folder (one level) when missing, 0700 (every folder made
// through it is Stowline's own); waits until it can be found. An existing folder keeps its mode.
// Returns false. Trapped (a missing parent is a fatal error).
bool uMkDir(const std::string& sPath);
// What uRmDir did.
enum class RmDirResult {
    Removed, // the folder and everything in it are gone
    Refused, // a path shorter than 4 characters or holding a NUL byte: nothing looked at or removed
    Failed,  // missing, or something in it could not be removed (the trap's fatal report says why)
};
// Removes a folder tree without following links. Trapped.
[[nodiscard]] RmDirResult uRmDir(const std::string& sPath);
// Deletes every file matching the pattern (wildcards in the last component only, case ignored,
// "*.*" = all), read-only ones too, and waits until none is left. Returns false. Trapped.
bool uKill(const std::string& sPattern);
// Unless bSkipChecks: a missing file shows the information box sTitle + " file does not exist",
// an empty one sTitle + " file is empty". Otherwise starts sViewer + " " + "\"path\"". Trapped.
void ViewFile(const std::string& sFile, const std::string& sTitle, const std::string& sViewer,
              bool bSkipChecks = false);
// "xdg-open" when the file exists, else "". Trapped.
std::string FindAssociation(const std::string& sFile);
// The path lies on a removable or optical device (or under /media, /run/media). Trapped; never throws.
bool DriveIsRemovable(const std::string& sPath);
// When the folder cannot be found, toggles the trailing "/" and uses that form if it exists.
void NormalizeFolderPath(std::string& sPath);
// Waits (events running) while the path cannot be found, at most 5 seconds.
void WaitForFile(const std::string& sPath);

} // namespace libFiles
