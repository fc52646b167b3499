#pragma once
// Where a job's target drive is: which file system holds the target folder (its UUID, from
// /dev/disk/by-uuid or, without udev, from the device's superblock through libblkid), whether the
// file system the job last backed up to is mounted now, and so whether a run may write there.

#include "jobs/CBackupJob.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace TargetDrive {

// One line of the mount table.
struct Mount {
    std::string MountPoint;
    std::string Source; // "/dev/sdb1", or what the file system names ("tmpfs", "overlay")
    dev_t Device = 0;   // major:minor as the table gives it
};
// The mount table of this process (/proc/self/mountinfo), in its order.
std::vector<Mount> ReadMounts(const std::string& sFile = "/proc/self/mountinfo");
// The UUID of the file system of the device (a block device of the mount table), "" unknown.
std::string UuidOfDevice(dev_t device, const std::string& sSource);
// The UUID of the file system that holds the path (its nearest existing folder); "" unknown.
std::string VolumeOf(const std::string& sPath);
// A file system with this UUID is mounted now.
bool VolumeMounted(const std::string& sUuid);

// Here: the target folder's file system is the recorded one. Away: the recorded file system is
// not mounted, and the path holds nothing that looks like another drive (a missing folder, or
// the empty folder a drive is mounted on): the job waits for its drive. Other: another file
// system holds the path (it is mounted there, or the folder has contents), or the recorded one
// is mounted elsewhere while the path is on another: never written to. Unknown: no volume
// recorded, or the path's file system cannot be told.
enum class Where { Unknown, Here, Away, Other };
Where Locate(const CBackupJob& job);
// The message of a run refused because another drive holds the path, or the drive is away.
std::string RefusedText(const CBackupJob& job, Where where);

} // namespace TargetDrive
