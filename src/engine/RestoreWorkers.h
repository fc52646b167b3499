#pragma once
// The restore's file writers: each regular file's data is read (a copy-tree file, or an archive
// entry's stored bytes inflated here) and written under its temporary name by a worker, one per
// core, while the calling thread goes on making folders and deciding conflicts. Jobs are taken
// back in the order they were handed over, so renames, counts and log lines stay those of one
// entry after the other. At most a window of jobs (or WindowBytes of declared data, at least one
// job) are in flight, so memory does not grow with the number of entries. The window is as long
// as the descriptors allow: the longer, the further ahead the files are read. Without threads (none can
// start) each job runs on the calling thread as it is handed over. Not for other callers.

#include "engine/WorkerThreads.h"
#include "engine/libRestore.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>

namespace libRestore::detail {

// One regular file to write under a temporary name, and what became of it.
struct FileJob {
    const Entry* E = nullptr; // Own, unless whoever makes the job keeps the entry
    Entry Own;
    int Parent = -1;        // the job's own descriptor of the destination folder (closed with the job)
    int SourceFolder = -1;  // the copy tree's folder holding the file; -1 reads the archive
    std::string SourceLeaf; // the file's name in it
    int Source = -1;        // the file (see StartReading), else opened by whoever runs the job
    std::string Temp, Leaf, Shown;
    bool Replace = false;
    // Set by whoever runs the job.
    std::atomic<uint64_t> Done = 0; // bytes written so far
    bool Ok = false;
    bool Stopped = false; // abandoned on a stop: its temporary file is gone, nothing to report
    uint64_t Written = 0;
    std::string Why;
    bool Inline = false;   // run on the calling thread, its progress told as it went
    bool Finished = false; // guarded by the pool's mutex
    FileJob() = default;
    FileJob(const FileJob&) = delete;
    FileJob& operator=(const FileJob&) = delete;
    ~FileJob();
    void CloseSource();
};

class RestoreWorkers {
public:
    // Called on the calling thread with a file's bytes so far; false stops the restore.
    using Tick = std::function<bool(const FileJob& job, uint64_t lDone)>;
    static constexpr uint64_t WindowBytes = 32u << 20;

    // iArchive: the archive's descriptor (not owned), -1 for a copy tree.
    RestoreWorkers(int iArchive, mode_t uUmask, Tick tick);
    ~RestoreWorkers();
    RestoreWorkers(const RestoreWorkers&) = delete;
    RestoreWorkers& operator=(const RestoreWorkers&) = delete;

    // Whether a job may be handed over now without exceeding the window.
    bool Room(const Entry& e) const;
    // Hands a job over (the window must have room): a worker runs it, or the calling thread
    // when no worker could start.
    void Add(std::unique_ptr<FileJob> job);
    bool Empty() const { return m_order.empty(); }
    // Whether a job in flight writes the name sLeaf ("": any name) into the folder shown so
    // (calling thread only).
    bool Holds(const std::string& sShown, const std::string& sLeaf) const;
    // The oldest job once it has finished, nullptr when there is none; with bWait it waits,
    // ticking the oldest job's progress every tenth of a second (a false tick stops all).
    std::unique_ptr<FileJob> Take(bool bWait);
    // Stops the workers: running jobs are abandoned, their temporary files removed.
    void Stop();
    bool Stopped() const { return m_bStopped; }

private:
    void Work(std::stop_token stop);

    int m_iArchive;
    mode_t m_uUmask;
    size_t m_uWindow;
    Tick m_tick;
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::deque<std::unique_ptr<FileJob>> m_order; // in flight, in the order handed over (the calling thread pops)
    size_t m_uStarted = 0;                        // slots of m_order a worker has taken (guarded by m_mutex)
    uint64_t m_lBytes = 0;                        // declared bytes in flight
    bool m_bStopped = false;
    WorkerThreads m_threads; // last: joined before the rest goes
};

// Writes a job's data under its temporary name with its mode and time (the work of one job, on
// whichever thread runs it); going(bytes so far) false abandons it. Data longer or shorter than
// the entry declares, or not matching its CRC, is damage: nothing stays of it.
void WriteFileJob(FileJob& job, int iArchive, mode_t uUmask, const std::function<bool(uint64_t)>& going);

// Opens a copy tree's file as the job is handed over and asks the disk for its first bytes at
// once, so that the files in the window are read side by side, not each when a worker comes to
// it. Nothing is decided here: when the file does not open, whoever runs the job finds out why.
void StartReading(FileJob& job, uint64_t lSize);

// The data of an archive entry read as the workers read it (stored or deflated, its size and
// CRC checked) into sText: for a link's target. False with sWhy.
bool ReadEntryText(int iArchive, const Entry& e, std::string& sText, std::string& sWhy);

} // namespace libRestore::detail
