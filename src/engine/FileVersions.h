#pragma once
// Every version of one file across a job's backups: its dated snapshots and plain copy tree, or
// its archives, each compared with the next older version listed.
//
// "Same" is decided without trusting names: in snapshots two names of one inode are the same
// file without a byte read; otherwise two files of a copy tree are the same when their sizes and
// then their bytes are; two archive entries when their sizes and CRC-32s are (an AES entry that
// stores no CRC is not compared). A link is the same as another link with the same target.
// Files are found by descriptor from the backup's root without following links, as a restore
// reads them.

#include "engine/libRestore.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

class CBackupJob;

namespace FileVersions {

// How a version stands to the next older one listed.
enum class Change { Oldest, Same, Differs, NotCompared };

struct Version {
    libRestore::BackupInfo Backup;
    libRestore::Entry Entry; // the file as that backup holds it (restore it with Backup)
    Change AgainstOlder = Change::Oldest;
    dev_t Dev = 0; // the copy's inode in a copy tree or snapshot (0 in an archive)
    ino_t Ino = 0;
};

// The versions of the file (an entry of one of the backups, not a folder) in each of the backups
// (newest first, as libRestore::ListRestorable gives them) that holds a file or link under its
// name, in that order. A backup that cannot be read is passed over and named in problems.
std::vector<Version> Find(const CBackupJob& job, const std::vector<libRestore::BackupInfo>& backups,
                          const libRestore::Entry& file, std::vector<std::string>& problems);

// Same, Differs or NotCompared (an AES entry without a CRC, or a file that cannot be read).
Change Compare(const Version& newer, const Version& older);

} // namespace FileVersions
