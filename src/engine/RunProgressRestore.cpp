#include "engine/RunProgressRestore.h"

#include "engine/libRestore.h"

#include <algorithm>

RestoreProgress::RestoreProgress(RunProgress& progress, const std::vector<libRestore::Entry>& contents,
                                 const std::vector<libRestore::Entry>& selection)
    : m_progress(progress), m_contents(contents) {
    Begin(&selection == &contents ? nullptr : &selection);
}

RestoreProgress::RestoreProgress(RunProgress& progress, const libRestore::Listing& contents,
                                 const std::vector<libRestore::Entry>* selection)
    : m_progress(progress), m_contents(contents) {
    Begin(selection);
}

void RestoreProgress::Begin(const std::vector<libRestore::Entry>* selection) {
    uint64_t lBytes = 0;
    m_contents.Select(selection, m_order, lBytes);
    int64_t lFiles = 0;
    for (const size_t i : m_order)
        if (!m_contents.IsDir(i)) ++lFiles;
    m_progress.AddTotal(lFiles, static_cast<int64_t>(lBytes));
    m_progress.EndCount();
}

void RestoreProgress::Done() {
    if (m_uCurrent == SIZE_MAX) return;
    const size_t i = m_order[m_uCurrent];
    if (!m_contents.IsDir(i)) m_progress.AddDone(1, static_cast<int64_t>(m_contents.Size(i)));
    m_uCurrent = SIZE_MAX;
}

void RestoreProgress::Step(const std::string& sName) {
    if (m_uCurrent != SIZE_MAX && m_contents.Name(m_order[m_uCurrent]) == sName) return;
    // The restore reports each entry in this order as it takes it up (then again while its
    // data is written), so a new name is the next one; the few ahead allow for a listing that
    // differs a little. A name not found is one reported again, or none of these.
    const size_t uEnd = std::min(m_order.size(), m_uNext + 64);
    for (size_t i = m_uNext; i < uEnd; ++i)
        if (m_contents.Name(m_order[i]) == sName) {
            Done();
            m_uCurrent = i;
            m_uNext = i + 1;
            return;
        }
}

void RestoreProgress::End() {
    Done();
    m_progress.Finish();
}
