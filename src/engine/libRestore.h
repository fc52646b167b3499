#pragma once
// Reading a job's backups back: the list of its backups (every archive of a zip job, the
// target tree of a copy job), the contents of one, and the restore of a selection into the
// original place or a chosen folder.
//
// Nothing a backup holds can write outside the folder restored into (the chosen folder, or
// without one the job's own sources): entry names with ".." or a leading "/" are refused, as
// are entries outside the job's sources, every folder below the destination is entered by
// descriptor without following links, and a link an archive holds is created as a link and
// never written through. A selection that does not fit in the destination's free space is
// refused before anything is written. Each file is written under a temporary name beside its destination and
// renamed once complete, so an abort or a failure never leaves a partial file under a final
// name.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CBackupJob;

namespace libRestore {

struct BackupInfo {
    std::string Path; // the archive, or the copy job's target folder (with its final "/")
    bool IsArchive = true;
    int64_t MTimeNs = 0; // modification time (ns since 1970)
    uint64_t Size = 0;   // the archive's length, or the bytes of the job's files in the tree
    // A dated snapshot of a copy job: its name (YYYY-MM-DD_HHMMSS); Path is then the snapshot's
    // folder, which holds the trees the target folder would, and MTimeNs the moment it names.
    std::string Snapshot;
};

// The job's backups, newest first: for a zip job every archive carrying one of its names
// (base.zip, base_n.zip by number, then the dated names by date and copy number, in the
// order its retention makes them: the mode the job keeps by first); for a copy job its target
// tree when it exists.
// Without bSizes a copy tree is not walked: its Size stays 0 and its time is the folder's.
std::vector<BackupInfo> ListBackups(const CBackupJob& job, bool bSizes = true);

// What a restore offers: ListBackups and, for a copy job, its dated snapshots newest first (their
// Size left 0: each would be a walk of a whole tree). While the job keeps snapshots they come
// first and its target tree after them, and only while the target still holds one of the job's
// trees (a job that switched to snapshots keeps its last plain copy); otherwise the target tree
// first, then the snapshots left from when it kept them. A job that keeps snapshots and has
// neither has no backup.
std::vector<BackupInfo> ListRestorable(const CBackupJob& job, bool bSizes = true);

// A path given for a restore that names a symbolic link in a snapshot folder (its "latest"):
// restore follows no link, so it is resolved here, once, to the dated snapshot it names beside
// it. Sets sResolved (the dated folder, with a final "/") and returns true when sPath was such
// a link; false with sWhy empty when sPath is no link in a snapshot folder (left as it is);
// false with sWhy set when the link names anything but a complete snapshot beside it.
bool ResolveSnapshotLink(const std::string& sPath, std::string& sResolved, std::string& sWhy);

// The backup sPath names when it is a dated folder of a snapshot folder (Snapshot set), else an
// archive or copy tree as the path says; false when nothing is there.
bool BackupAt(const std::string& sPath, BackupInfo& backup);

struct Entry {
    std::string Name;         // path inside the backup ("home/u/a.txt"; folders end with "/")
    std::string OriginalPath; // where it came from ("/home/u/a.txt"); "" when unknown
    uint64_t Size = 0;
    int64_t MTimeNs = 0;
    uint32_t Mode = 0; // st_mode bits (type and permissions)
    bool IsDir = false;
    bool IsLink = false;
    uint64_t Index = 0; // the archive's entry index
    uint32_t Crc = 0;   // the archive's CRC-32 of the data
    // False for WinZip AES (AE-2) entries, which store no CRC: their authentication code
    // proves the data instead (detail::CheckAes).
    bool CrcKnown = true;
    uint8_t AesStrength = 0; // WinZip AES 1..3 (128, 192, 256 bits); 0: not AES
    uint64_t DataStart = 0;  // where the stored data begins in the archive (0: not found sound)
    uint64_t StoredSize = 0; // its length as stored (salt to code for AES)
    uint16_t Method = 0;     // the archive's compression method (0 stored, 8 deflate)
    bool Encrypted = false;  // any encryption: read only through libzip
    std::string Damage;      // why the entry cannot be trusted ("" when it reads as sound)
};

// Incomplete from ReadContents: a copy tree's listing stopped somewhere (sError says where);
// NoRoom: the destination has no room for the selection, and nothing was written.
enum class Status { Ok, Unreadable, WrongPassword, Aborted, Incomplete, NoRoom };

// The contents of a backup (archive entries in archive order; a copy tree's files and folders
// in walk order). sError tells why when the result is not Ok.
Status ReadContents(const CBackupJob& job, const BackupInfo& backup, std::vector<Entry>& entries, std::string& sError);

// The entries whose name (the last component) or whose path inside the backup matches one of
// the wildcard specifications, as the job's exclusions match; no specification keeps all.
std::vector<Entry> Filter(const std::vector<Entry>& entries, const std::vector<std::string>& specs);

// The entries a restore of selection takes, in the backup's order: a selected folder brings
// everything below it, each entry once; lTotal gets their sizes added. The entries stay in
// all (selection may be all itself: then everything, without a lookup).
void SelectEntries(const std::vector<Entry>& all, const std::vector<Entry>& selection, std::vector<const Entry*>& todo,
                   uint64_t& lTotal);

// What to do when a file to restore already exists.
enum class Conflict { Skip, OverwriteOlder, KeepBoth, Overwrite };

struct Options {
    std::string ToFolder; // "" restores to the original place
    Conflict OnConflict = Conflict::Skip;
    std::string Password; // for an encrypted archive
    // The backup's whole contents when the caller has read them already (a copy tree is then
    // not walked again); nullptr reads them.
    const std::vector<Entry>* Contents = nullptr;
    // Called per file and every few MiB inside a file; false aborts the restore.
    std::function<bool(const std::string& sName, uint64_t lDone, uint64_t lTotal)> Progress;
};

struct Report {
    Status Result = Status::Ok;
    int64_t Restored = 0;
    int64_t Skipped = 0;               // existing files kept as the conflict choice said
    int64_t NotRestored = 0;           // refused or failed (each named in Problems)
    uint64_t Bytes = 0;                // bytes actually written
    std::vector<std::string> Problems; // "<name>: <reason>"
    std::string Error;                 // why the restore stopped (Unreadable, WrongPassword)
};

// Whether the password opens the archive's encrypted entries (Ok when it has none; WrongPassword
// or Unreadable otherwise), tried on the first encrypted file, so that a window can ask again
// before restoring anything.
Status CheckPassword(const BackupInfo& backup, const std::string& sPassword);

// Restores the selected entries of a backup (folders bring their contents along) and writes
// the "-- Restore <job> --" block to the transaction log.
Report Restore(const CBackupJob& job, const BackupInfo& backup, const std::vector<Entry>& selection,
               const Options& options);

// " (restored)" before the extension: "a.txt" -> "a (restored).txt", ".profile" and "README"
// get it at the end; iCopy > 1 numbers it (" (restored 2)").
std::string RestoredName(const std::string& sName, int iCopy = 1);

} // namespace libRestore
