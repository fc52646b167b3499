#include "engine/RunProgressRestore.h"

#include "engine/libRestore.h"

#include <set>

RestoreProgress::RestoreProgress(RunProgress& progress, const std::vector<libRestore::Entry>& contents,
                                 const std::vector<libRestore::Entry>& selection)
    : m_progress(progress) {
    std::set<std::string> chosen;
    std::set<std::string> folders;
    for (const libRestore::Entry& e : selection)
        (e.IsDir ? folders : chosen).insert(e.Name);
    int64_t lFiles = 0;
    int64_t lBytes = 0;
    for (const libRestore::Entry& e : contents) {
        bool bTake = chosen.count(e.Name) != 0 || folders.count(e.Name) != 0;
        for (auto it = folders.begin(); !bTake && it != folders.end(); ++it)
            bTake = e.Name.compare(0, it->size(), *it) == 0;
        if (!bTake || e.IsDir) continue;
        m_items[e.Name] = {e.Size, true};
        ++lFiles;
        lBytes += static_cast<int64_t>(e.Size);
    }
    m_progress.AddTotal(lFiles, lBytes);
    m_progress.EndCount();
}

void RestoreProgress::Done(const std::string& sName) {
    const auto it = m_items.find(sName);
    if (it == m_items.end() || !it->second.IsFile) return;
    it->second.IsFile = false; // counted once
    m_progress.AddDone(1, static_cast<int64_t>(it->second.Size));
}

void RestoreProgress::Step(const std::string& sName) {
    if (sName == m_sCurrent) return;
    if (!m_sCurrent.empty()) Done(m_sCurrent);
    m_sCurrent = sName;
}

void RestoreProgress::End() {
    if (!m_sCurrent.empty()) Done(m_sCurrent);
    m_sCurrent.clear();
    m_progress.Finish();
}
