#pragma once
// How the agents hear of target drives coming and going, without polling: the mount table
// (/proc/self/mountinfo reports a change to poll as POLLPRI) and, where udisks2 runs on the
// system bus, its InterfacesAdded for block devices (a drive attached). With the preference
// MountBackupDrive, an attached file system whose UUID is a job's TargetVolume is mounted
// through udisks2 (Filesystem.Mount); nothing else is ever mounted.
//
// The udisks2 listener runs on a thread of its own with its own event loop, so that the headless
// agent (which runs no Qt event loop) hears it too: each attached drive is a byte on AttachFd.

#include <memory>
#include <set>
#include <string>

class DriveWatch {
public:
    // Opens the mount table and starts the udisks2 listener (makes a core Qt application where
    // the program made none; without a system bus there is no listener, and AttachFd stays quiet).
    DriveWatch();
    ~DriveWatch();
    DriveWatch(const DriveWatch&) = delete;
    DriveWatch& operator=(const DriveWatch&) = delete;

    // Reports POLLPRI (with POLLERR) when the mount table changed; -1 when it cannot be opened.
    int MountFd() const { return m_iMountFd; }
    // Readable when udisks2 announced a drive.
    int AttachFd() const { return m_pipe[0]; }
    // After MountFd reported: reads the table through, so that the next change is reported.
    void TakeMountChange();
    // After AttachFd was readable: empties it.
    void TakeAttached();
    // The jobs' recorded volumes (from the job manager) and the preference, for the listener.
    void UpdateVolumes();

    // The volumes (TargetVolume) of the jobs of the job manager.
    static std::set<std::string> JobVolumes();

    struct Listener;

private:
    int m_iMountFd = -1;
    int m_pipe[2] = {-1, -1};
    std::unique_ptr<Listener> m_pListener;
};
