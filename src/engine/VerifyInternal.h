#pragma once
// The pieces of the verification behind libVerify.h. Not for other callers.

#include "engine/CacheFolders.h"
#include "engine/WorkerThreads.h"
#include "engine/libRestore.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <sys/stat.h>
#include <vector>
#include <zip.h>

class CBackupJob;
class CFileFinder;

namespace libVerify::detail {

// Checks one archive entry read through pZip (an archive opened by ArchiveSource): the damage
// its headers carry, an AES entry's code, and its data inflated whole, its length and CRC
// against the declared ones. "" when sound, else the problem ("'<name>': CRC error", ...).
// stopped is asked between pieces of the data; when it says so the entry is left unjudged
// ("" returned: the caller names the stop).
std::string CheckEntry(zip_t* pZip, const libRestore::Entry& e, const std::string& sPassword, std::vector<char>& buffer,
                       const std::function<bool()>& stopped);

// The entries of one archive checked by worker threads (CheckEntry), each worker reading the
// archive through a handle of its own on the descriptor pZip reads (the very file, whatever
// its name names meanwhile), in entry order and a bounded distance ahead of the calling thread,
// which takes the outcomes in that order and, rather than wait, checks the next entry no one
// has taken through pZip (without a worker: each entry in turn). An abort asked for after the
// check began stops the workers: Next then says so, and the destruction waits for no more than
// the piece of data each worker reads.
class EntryReaders {
public:
    // pZip, entries and sPassword outlive the readers; iOpenFlags: those pZip was opened with.
    EntryReaders(zip_t* pZip, int iOpenFlags, const std::vector<libRestore::Entry>& entries,
                 const std::string& sPassword, unsigned iWorkers = DefaultWorkers());
    EntryReaders(const EntryReaders&) = delete;
    EntryReaders& operator=(const EntryReaders&) = delete;

    // The next entry's outcome in order ("" when sound). False when the check was aborted.
    // Rethrows what a worker ended with.
    bool Next(std::string& sFailure);

    // One fewer than the cores (1 to 7): the calling thread reads too.
    static unsigned DefaultWorkers();

private:
    struct Outcome {
        std::string Failure;
        bool Done = false;
    };
    void Work(const std::stop_token& stop);
    bool AbortAsked() const;
    bool Claimable() const;                       // under the mutex: an entry may be taken
    void Store(size_t i, std::string&& sFailure); // under the mutex

    zip_t* const m_pZip; // the calling thread's
    const int m_iOpenFlags;
    const std::vector<libRestore::Entry>& m_entries;
    const std::string& m_sPassword;
    const bool m_bAbortAtStart; // an abort left from before the check is not this check's
    std::vector<char> m_buffer; // the calling thread's, when it checks entries itself
    std::mutex m_mutex;
    std::condition_variable_any m_done, m_room;
    std::vector<Outcome> m_outcomes; // a ring: entry i in slot i % size
    size_t m_next = 0;               // the next entry to check
    size_t m_taken = 0;              // the next outcome to take
    WorkerThreads m_workers;         // last: stopped and joined first
};

// Walks a copy job's sources as its copy step selects them (sources, wildcards, exclusions,
// subfolders, copy style) and holds each selected file to its copy: present, same kind, same
// bytes, same modification time. Sources changed at or after lSourcesBeforeNs, or after their
// copy was made, cannot be judged and are skipped.
class CopyCheck {
public:
    // sCopyRoot: the folder holding the copy ("": the job's target).
    CopyCheck(const CBackupJob& job, int64_t lSourcesBeforeNs, std::string sCopyRoot = "");
    // Every problem found, "<path>: <why>"; empty when the copy holds what it should.
    std::vector<std::string> Run();

private:
    void WalkRoot(const std::string& sFolder, const std::string& sPattern, const std::string& sDest, bool bRecurse);
    void CheckFile(const std::string& sSource, const std::string& sCopy, const CFileFinder& finder);
    bool SameBytes(const std::string& sCopy, const std::string& sSource, std::string& sWhy);
    bool ChangedSince(const struct stat& st) const;
    bool Excluded(const std::string& sName) const;
    void Problem(const std::string& sText);

    const CBackupJob& m_job;
    const std::string m_sCopyRoot;
    int64_t m_lBeforeNs;
    std::vector<std::string> m_exclusions;
    std::vector<char> m_bufA, m_bufB; // read buffers, one pair for the whole check
    struct stat m_destId {};          // the copy tree being checked
    std::vector<std::string> m_problems;
    std::optional<CacheFolders> m_caches;     // what the runs leave out, when the job says so
    static constexpr size_t MaxListed = 1000; // a tree gone wrong whole is not listed file by file
    int64_t m_lUnlisted = 0;
};

} // namespace libVerify::detail
