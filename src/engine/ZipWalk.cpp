// The selection's walk on a thread of its own: it lists folders and looks files up ahead of the
// thread that owns the entry store, which takes the findings in walk order while it writes the
// archive, so that waiting on the disk for the walk never holds up the writing.

#include "engine/ZipInternal.h"

namespace libZip::detail {

namespace {

// Findings that may wait for the writing thread: a few MiB, whatever the tree.
constexpr size_t MaxQueued = 32768;

} // namespace

class SelectionWalk::Sink : public WalkSink {
public:
    // bBounded: the walk has a thread of its own; run on the taking thread, it has nobody to
    // wait for.
    Sink(SelectionWalk& walk, std::stop_token stop, bool bBounded)
        : m_walk(walk), m_stop(std::move(stop)), m_bBounded(bBounded) {}

    void Take(std::vector<WalkEvent>& batch) override {
        std::unique_lock<std::mutex> lock(m_walk.m_mutex);
        if (m_bBounded) m_walk.m_roomCv.wait(lock, m_stop, [this] { return m_walk.m_iQueued < MaxQueued; });
        if (m_stop.stop_requested()) {
            batch.clear();
            return;
        }
        m_walk.m_iQueued += batch.size();
        m_walk.m_batches.push_back(std::move(batch));
        batch.clear();
        m_walk.m_newsCv.notify_one();
    }

private:
    SelectionWalk& m_walk;
    std::stop_token m_stop;
    const bool m_bBounded;
};

SelectionWalk::SelectionWalk(const std::vector<std::string>& names, const ZpOpt& options, const FileSystemProbe& probe,
                             size_t iCheckFiles)
    : m_names(names), m_options(options), m_probe(probe), m_iCheckFiles(iCheckFiles) {
    // Without a thread of its own, the walk is done whole by the first Take.
    m_bInline = m_thread.StartUpTo(
                    1, [this](std::stop_token stop) { Run(std::move(stop)); }, true) == 0;
}

void SelectionWalk::Run(std::stop_token stop) {
    Sink sink(*this, stop, true);
    const int iWalked = WalkFiles(m_names, m_options, m_probe, sink, m_iCheckFiles, stop);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_iWalked = iWalked;
    m_bEnded = true;
    m_newsCv.notify_one();
}

bool SelectionWalk::HasNews() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_batches.empty() || m_bEnded;
}

bool SelectionWalk::Take(Selection& sel, uint32_t iFolderBase, bool bWait) {
    if (m_bInline && !m_bEnded) {
        Sink sink(*this, {}, false);
        m_iWalked = WalkFiles(m_names, m_options, m_probe, sink, m_iCheckFiles);
        m_bEnded = true;
    }
    std::deque<std::vector<WalkEvent>> batches;
    bool bEnded = false;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (bWait) m_newsCv.wait(lock, m_thread.Token(), [this] { return !m_batches.empty() || m_bEnded; });
        if (m_thread.Failed()) {
            lock.unlock();
            m_thread.RethrowFailure();
        }
        batches.swap(m_batches);
        m_iQueued = 0;
        bEnded = m_bEnded; // set after the walk's last batch: all of it is in hand
        m_roomCv.notify_one();
    }
    for (std::vector<WalkEvent>& batch : batches)
        ApplyWalk(batch, iFolderBase, m_options, sel);
    return bEnded;
}

} // namespace libZip::detail
