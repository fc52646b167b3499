#pragma once
// A restore's progress: the total is known from the selection before it begins (a selected
// folder brings everything below it, as the restore takes it), and each entry the restore
// reports beginning ends the one before it.

#include "engine/RestoreListing.h"
#include "engine/RunProgress.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class RestoreProgress {
public:
    RestoreProgress(RunProgress& progress, const std::vector<libRestore::Entry>& contents,
                    const std::vector<libRestore::Entry>& selection);
    // selection nullptr: everything listed.
    RestoreProgress(RunProgress& progress, const libRestore::Listing& contents,
                    const std::vector<libRestore::Entry>* selection);
    // The restore reports sName (at its start, and again while it is written).
    void Step(const std::string& sName);
    // The restore ended: the last entry is done, and the display's End.
    void End();

private:
    void Begin(const std::vector<libRestore::Entry>* selection);
    void Done();

    RunProgress& m_progress;
    libRestore::EntryTable m_contents;
    // The selected entries in the order the restore takes them (positions in the contents, so
    // a word an entry), and the one it is at (SIZE_MAX: none yet).
    std::vector<size_t> m_order;
    size_t m_uNext = 0;
    size_t m_uCurrent = SIZE_MAX;
};
