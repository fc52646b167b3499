#pragma once
// Copies the files a copy walk selects on worker threads while the walk goes on. The walk takes
// each file's outcome back in the order it handed the files over, so its log lines, counts and
// archive-flag rows come out exactly as a copy of one file after the other writes them; only the
// copying itself (the kernel's work of creating, filling and stamping each file) runs alongside.
// Not for other callers than the copy walk.

#include "engine/WorkerThreads.h"
#include "support/libFiles.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <stop_token>
#include <string>
#include <sys/stat.h>

namespace libCopy::detail {

class CopyWorkers {
public:
    // One step of the walk, in walk order: a log line, and a file to copy.
    struct Item {
        std::string Line; // logged when the walk takes the item ("": none)
        bool IsFile = false;
        std::string Source;
        std::string Dest;
        // The file's status as listed, when the walk has it (st_mode 0: looked up before a copy
        // that does not report it).
        struct stat Listed {};
        // A file of that name stands in the destination: the copy waits under a temporary name
        // (Staged) until it is on disk, so that a power cut never leaves less than that file.
        bool Replaces = false;
        std::string Staged;
        // A snapshot's walk: the file's copy in the previous snapshot, linked to when the same
        // (Listed is then set); LinkError: why a link was refused, the file then copied.
        std::string LinkFrom;
        int LinkError = 0;
        // The outcome, once copied: the status of the file as copied, or the failure.
        struct stat Copied {};
        std::exception_ptr Error;
        bool Stopped = false; // not copied, or dropped part-way: the run was asked to stop
        bool Done = false;    // set once the outcome is there
    };

    // iThreads: 0 copies each file as it is added, on the walk's thread, as do the copy workers
    // when not even one thread could be started. bFreshTree, sTempFolder, pCopier,
    // bModeAtCreate: as the walk's WalkPlace says. When destroyed, copies under way are
    // finished (the workers' owner is the last member); those not started are dropped.
    CopyWorkers(unsigned iThreads, bool bFreshTree, std::string sTempFolder, libFiles::FileCopier* pCopier,
                bool bModeAtCreate);
    CopyWorkers(const CopyWorkers&) = delete;
    CopyWorkers& operator=(const CopyWorkers&) = delete;

    // Hands an item over. A file whose item is Done already (a failure met before its copy) is
    // not copied. Once an abort is requested (RunState), no further copy starts: the items
    // still waiting come back Stopped, as does a copy the run's copier dropped part-way.
    void Add(Item item);
    // The oldest item once its copy is done, taken off the queue. False when the queue is empty,
    // or when its oldest item is still being copied and neither bWait nor a full queue says to
    // wait for it. Rethrows what a worker ended with outside a copy.
    bool Next(Item& item, bool bWait);

    // The threads worth starting for a walk on this machine.
    static unsigned DefaultThreads();

private:
    void Copy(Item& item) const;
    static bool Link(Item& item);
    void Work(const std::stop_token& stop);

    unsigned m_iThreads; // fewer once a thread could not be started
    const bool m_bFreshTree;
    const std::string m_sTempFolder;
    libFiles::FileCopier* const m_pCopier;
    const bool m_bModeAtCreate;

    std::mutex m_mutex;
    std::condition_variable_any m_work; // an item to copy was added
    std::condition_variable_any m_done; // an item's copy is done
    std::deque<Item> m_items;           // in walk order; references stay valid as it grows and shrinks
    size_t m_iClaimed = 0;              // items before this index are taken by a worker
    WorkerThreads m_workers;            // last: stopped and joined first
};

} // namespace libCopy::detail
