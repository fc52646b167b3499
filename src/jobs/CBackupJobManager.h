#pragma once
// The catalogue of job files. It keeps one small entry per job file (handle, next run, file
// name) and ONE shared CBackupJob into which it loads whichever job a caller asks for: a
// caller must finish with a job object before it calls the manager again.
//
// The program holds exactly one manager, created at start-up with CreateJobManager() and
// reached with JobManager(). JobManager() is nullptr before that (unit tests, or code that
// runs without one): a job save then simply has nobody to tell.

#include "jobs/CBackupJob.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CBackupJobManager {
public:
    CBackupJobManager();
    ~CBackupJobManager();
    CBackupJobManager(const CBackupJobManager&) = delete;
    CBackupJobManager& operator=(const CBackupJobManager&) = delete;

    int32_t Count() const { return static_cast<int32_t>(m_Entries.size()); }
    // Handles of the entries whose next run lies strictly between NotComputed and dAsOf, in list
    // order; the single value -1 when none is due. Computes missing next runs on the way.
    std::vector<int32_t> BackupsToRun(double dAsOf);
    // Registers a job object: next run FarFuture when suspended, else its DateTimeNextRun.
    // Sets the job's Tag to the new handle and returns it.
    int32_t Add(CBackupJob& job);
    // Removes the entry with that handle (the shared job is left as it is).
    void DeleteByHandle(int32_t lHandle);
    // Adds the job when its Tag is below 0 and bAddIfNew; refreshes the entry of its Tag
    // (next run: FarFuture when suspended or not valid, else DateTimeNextRun; file name).
    void Update(CBackupJob& job, bool bAddIfNew);
    // The shared job loaded with the entry at that index (nullptr for an index out of range).
    CBackupJob* JobFromIndex(int32_t lIndex);
    // The shared job loaded with that handle's job; returned as it is, unsaved changes included,
    // when it already holds that handle; nullptr when no entry has the handle.
    CBackupJob* JobFromHandle(int32_t lHandle);
    // The entry's file name, or "".
    std::string FileNameFromHandle(int32_t lHandle) const;
    // The handle of the entry at that index (-1 out of range). With FileNameFromHandle it lets a
    // caller read a job into its own object, leaving the shared job and the stored next runs alone.
    int32_t HandleFromIndex(int32_t lIndex) const;
    // The entry's stored next run (NotComputed when not yet computed; 0 for an unknown handle).
    double NextRunFromHandle(int32_t lHandle) const;
    // Stores dNextRun as the entry's next run again: loading a job stores its next run afresh
    // from the clock, and a job whose run recorded nothing must stay due.
    void KeepNextRun(int32_t lHandle, double dNextRun);
    // Rebuilds the list from the "*.slj" files in JobFolder; handles restart at 0.
    void Reload();
    // Empties the list; the next-handle counter stays.
    void Clear();
    // The one shared job object.
    CBackupJob& SharedJob() { return *m_pSharedJob; }

private:
    struct JobEntry {
        int32_t Handle = -1;
        double NextRun = CBackupJob::NotComputed;
        std::string FileName;
    };

    int32_t AddEntry(const std::string& sFileName, double dNextRun);
    int32_t FindIndexByHandle(int32_t lHandle) const;
    void LoadEntry(int32_t lIndex);

    std::unique_ptr<CBackupJob> m_pSharedJob;
    std::vector<JobEntry> m_Entries;
    int32_t m_NextHandle = 0;
};

// The one manager of the process, or nullptr when none has been created.
CBackupJobManager* JobManager();
// Creates the one manager (once; later calls return the same one).
CBackupJobManager& CreateJobManager();
// Ends it (orderly shut-down, tests). JobManager() is nullptr afterwards.
void DestroyJobManager();
