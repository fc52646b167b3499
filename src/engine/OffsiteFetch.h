#pragma once
// Reading a job's off-site copies back through rclone: the list of what the remote holds for the
// job (the dated archives of a zip job, the current/ tree of a copy job), the download of one into
// the job's temporary folder so that the ordinary restore reads it as it reads a local backup
// (with every one of its safety rules), and the check that the newest remote backup is the
// newest local one.
//
// A download is checked before anything is restored from it (the size, and the hash where the
// remote has one) and removed when it is let go, whatever happened; one left by a killed process
// is removed by the next download of the job, or by the job's next run with its temporary folder.

#include "engine/Rclone.h"
#include "engine/libRestore.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CBackupJob;

namespace OffsiteFetch {

// True for "<name>:<rest>" where name is made of rclone's remote-name characters (letters,
// digits, "_", "-", ".", "+", "@" and inner blanks, not beginning with "-"); no "/" comes
// before the ":".
bool IsRemotePath(const std::string& sPath);

// Whether an rclone program is found through PATH.
bool RcloneInstalled();

struct RemoteBackup {
    std::string Path;      // rclone's path of the archive or of the tree ("nas:b/Docs/current")
    std::string Shown;     // "Docs_2026-12-07_030000.zip (nas:b)"
    bool IsArchive = true; // else a copy job's current/ tree
    double When = 0;       // the moment in a dated name (local serial); 0 for a tree
    uint64_t Size = 0;     // an archive's length (0 for a tree)
};

// Options that keep a listing from waiting long on a remote that does not answer.
std::vector<std::string> QuickTimeouts();

// The job's backups on its OffsiteRemote, newest first. False with rclone's reason in sWhy when
// the remote cannot be listed; a job folder not made yet lists as empty.
bool List(const CBackupJob& job, std::vector<RemoteBackup>& backups, std::string& sWhy,
          const std::vector<std::string>& extra = {});

// Called with the bytes moved so far and the total (0 when not known yet).
using Progress = std::function<void(uint64_t lDone, uint64_t lTotal)>;

// One remote backup brought into the job's temporary folder. Removed by its destructor (and by
// Remove), so no download outlives the restore that used it.
class Download {
public:
    Download() = default;
    Download(const Download&) = delete;
    Download& operator=(const Download&) = delete;
    ~Download();

    // Fetches sRemote (an archive, or a copy job's tree when bArchive is false) and checks it
    // arrived whole. False with the failed step and rclone's reason in sWhy; nothing is left
    // behind then. stopWanted returning true stops the download (reason "stopped").
    bool Fetch(const CBackupJob& job, const std::string& sRemote, bool bArchive, const Progress& progress,
               std::string& sWhy, const Rclone::StopWanted& stopWanted = {});
    // The downloaded backup, read as a local one (valid after a successful Fetch).
    const libRestore::BackupInfo& Backup() const { return m_backup; }
    bool Present() const { return !m_sLocal.empty(); }
    void Remove();

private:
    std::string m_sFolder; // the job's temporary folder
    std::string m_sLocal;  // the download's path ("" when there is none)
    libRestore::BackupInfo m_backup;
};

// The newest remote backup held to the local one sLocal (the newest local archive, or the copy
// job's tree): a zip job's newest dated archive by MD5, else SHA-1, else size; a copy job's
// current/ tree by "rclone check --one-way". True with what held in sHeld; false with what
// differed, or why the remote could not be read, in sProblem.
bool CheckNewest(const CBackupJob& job, const std::string& sLocal, std::string& sHeld, std::string& sProblem);

} // namespace OffsiteFetch
