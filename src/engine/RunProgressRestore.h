#pragma once
// A restore's progress: the total is known from the selection before it begins (a selected
// folder brings everything below it, as the restore takes it), and each entry the restore
// reports beginning ends the one before it.

#include "engine/RunProgress.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace libRestore {
struct Entry;
}

class RestoreProgress {
public:
    RestoreProgress(RunProgress& progress, const std::vector<libRestore::Entry>& contents,
                    const std::vector<libRestore::Entry>& selection);
    // The restore reports sName (at its start, and again while it is written).
    void Step(const std::string& sName);
    // The restore ended: the last entry is done, and the display's End.
    void End();

private:
    void Done();

    RunProgress& m_progress;
    // The selected entries in the order the restore takes them (pointers into the listing, so
    // a word an entry), and the one it is at (SIZE_MAX: none yet).
    std::vector<const libRestore::Entry*> m_order;
    size_t m_uNext = 0;
    size_t m_uCurrent = SIZE_MAX;
};
