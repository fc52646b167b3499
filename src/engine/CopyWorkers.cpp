#include "engine/CopyWorkers.h"

#include "engine/RunState.h"
#include "engine/libCopy.h"
#include "support/StowError.h"

#include <algorithm>
#include <cerrno>
#include <thread>
#include <unistd.h>
#include <utility>

namespace libCopy::detail {

namespace {

// Items the walk may run ahead of the oldest one it has not taken back: enough to keep every
// worker busy while the walk looks up the next folder's names.
constexpr size_t kItemsPerThread = 16;

} // namespace

unsigned CopyWorkers::DefaultThreads() {
    // One per core: the copying is the system's work on the target's folders and journal, and
    // more threads than cores only contend for them. A single core gains nothing from handing
    // files over.
    const unsigned iCores = std::thread::hardware_concurrency();
    return iCores < 2 ? 0 : std::min(iCores, 8U);
}

CopyWorkers::CopyWorkers(unsigned iThreads, bool bFreshTree, std::string sTempFolder, libFiles::FileCopier* pCopier,
                         bool bModeAtCreate)
    : m_iThreads(iThreads), m_bFreshTree(bFreshTree), m_sTempFolder(std::move(sTempFolder)), m_pCopier(pCopier),
      m_bModeAtCreate(bModeAtCreate) {
    // A file being copied when an abort comes is dropped part-way, not finished.
    if (m_pCopier != nullptr) m_pCopier->SetStopTest(&RunState::AbortRequested);
}

void CopyWorkers::Copy(Item& item) const {
    if (RunState::AbortRequested()) {
        item.Stopped = true;
        return;
    }
    try {
        if (!item.LinkFrom.empty() && Link(item)) return;
        if (!m_bFreshTree || !libFiles::CopyFileNew(item.Source, item.Dest, m_pCopier, m_bModeAtCreate, &item.Copied)) {
            // The copy stands for the file as it was before it was read.
            if (item.Listed.st_mode == 0 && ::lstat(item.Source.c_str(), &item.Listed) != 0) item.Listed = {};
            if (item.Replaces && !m_sTempFolder.empty())
                item.Staged = libFiles::CopyFileStaged(item.Source, item.Dest, m_sTempFolder, m_pCopier);
            else
                libFiles::CopyFileAtomic(item.Source, item.Dest, m_sTempFolder, m_pCopier);
            item.Copied = item.Listed;
        }
    } catch (const StowError& e) {
        if (e.Errno == ECANCELED && RunState::AbortRequested())
            item.Stopped = true; // the copier dropped it: as if never started
        else
            item.Error = std::current_exception();
    } catch (...) {
        item.Error = std::current_exception();
    }
}

// Links the file to its copy in the previous snapshot when that copy is the same. False: it is
// to be copied (LinkError says why when the file system refused the link).
bool CopyWorkers::Link(Item& item) {
    struct stat prev {};
    if (::lstat(item.LinkFrom.c_str(), &prev) != 0 || !libCopy::SameForLink(item.Listed, prev)) return false;
    if (::link(item.LinkFrom.c_str(), item.Dest.c_str()) == 0) {
        item.Copied = item.Listed;
        return true;
    }
    if (libCopy::LinkRefused(errno)) item.LinkError = errno;
    return false; // anything else is met again, and reported, by the copy
}

void CopyWorkers::Work(const std::stop_token& stop) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (!m_work.wait(lock, stop, [this] { return m_iClaimed < m_items.size(); })) return;
        Item& item = m_items[m_iClaimed++];
        if (item.Done) continue; // a line: nothing to copy
        lock.unlock();
        Copy(item);
        lock.lock();
        item.Done = true;
        m_done.notify_one();
    }
}

void CopyWorkers::Add(Item item) {
    // One more worker for each file handed over, up to m_iThreads: a walk of a few files starts
    // few threads.
    if (!item.Done && item.IsFile && m_workers.Count() < m_iThreads) {
        m_workers.StartUpTo(m_workers.Count() + 1, [this](const std::stop_token& stop) { Work(stop); });
        if (m_workers.Limited()) m_iThreads = m_workers.Count(); // with none, the walk's thread copies
    }
    if (!item.Done && (!item.IsFile || m_iThreads == 0)) {
        if (item.IsFile) Copy(item);
        item.Done = true;
    }
    const bool bDone = item.Done;
    {
        std::lock_guard lock(m_mutex);
        m_items.push_back(std::move(item));
    }
    if (!bDone) m_work.notify_one();
}

bool CopyWorkers::Next(Item& item, bool bWait) {
    std::unique_lock lock(m_mutex);
    if (m_items.empty()) return false;
    if (!m_items.front().Done) {
        if (!bWait && m_items.size() < kItemsPerThread * std::max(1U, m_iThreads)) return false;
        if (!m_done.wait(lock, m_workers.Token(), [this] { return m_items.front().Done; })) {
            lock.unlock();
            m_workers.ThrowStopped(); // a worker failed: the walk gets its exception
        }
    }
    item = std::move(m_items.front());
    m_items.pop_front();
    if (m_iClaimed > 0) --m_iClaimed;
    return true;
}

} // namespace libCopy::detail
