// The taking of a walk's findings into a selection (ApplyWalk), on the walking thread
// (SelectFiles) or from a walk on a thread of its own (SelectionWalk): it lists folders and looks
// files up ahead of the thread that owns the entry store, which takes the findings in walk order
// while it writes the archive, so that waiting on the disk for the walk never holds up the
// writing.

#include "engine/ZipInternal.h"

namespace libZip::detail {

int SelectionResult(int iWalked, const Selection& sel) {
    if (iWalked != ZE_OK) return iWalked;
    if (sel.Count == 0) return sel.LeftOut ? ZE_OPEN : ZE_NONE;
    return ZE_OK;
}

void ApplyWalk(std::vector<WalkEvent>& batch, uint32_t iFolderBase, const ZpOpt& options, Selection& sel) {
    for (WalkEvent& ev : batch) {
        switch (ev.What) {
        case WalkEvent::Kind::Folder:
            sel.Store.AddFolder(std::move(ev.Text), ev.StoredFrom);
            break;
        case WalkEvent::Kind::Entry:
            ev.Item.Folder += iFolderBase;
            ++sel.Count;
            sel.Store.Add(ev.Item, ev.Text); // a name already in the archive stays as it is
            break;
        case WalkEvent::Kind::LeftOut:
            sel.LeftOut = true;
            sel.LeftOutFiles.push_back(LeftOutFile{std::move(ev.Text), std::move(ev.Other), sel.Store.Size()});
            break;
        case WalkEvent::Kind::Skipped:
            sel.Skipped.push_back(LeftOutFile{std::move(ev.Text), std::move(ev.Other)});
            break;
        case WalkEvent::Kind::Link:
            sel.Links.emplace_back(std::move(ev.Text), std::move(ev.Other));
            break;
        case WalkEvent::Kind::Cache:
            // Named here, in walk order with the rest of the run's lines.
            if (options.Caches != nullptr) options.Caches->Name(ev.Cache, ev.Device, ev.Inode, ev.Text);
            break;
        }
    }
    batch.clear();
}

namespace {

// Takes a walk's findings into the selection as they come, on the walking thread.
class DirectSink : public WalkSink {
public:
    DirectSink(Selection& sel, const ZpOpt& options)
        : m_sel(sel), m_options(options), m_iFolderBase(sel.Store.Folders()) {}
    void Take(std::vector<WalkEvent>& batch) override { ApplyWalk(batch, m_iFolderBase, m_options, m_sel); }

private:
    Selection& m_sel;
    const ZpOpt& m_options;
    const uint32_t m_iFolderBase;
};

} // namespace

int SelectFiles(const std::vector<std::string>& names, const ZpOpt& options, const FileSystemProbe& probe,
                Selection& sel) {
    DirectSink sink(sel, options);
    return SelectionResult(WalkFiles(names, options, probe, sink, SIZE_MAX), sel);
}

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
