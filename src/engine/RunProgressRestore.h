#pragma once
// A restore's progress: the total is known from the selection before it begins (a selected
// folder brings everything below it, as the restore takes it), and each entry the restore
// reports beginning ends the one before it.

#include "engine/RunProgress.h"

#include <cstdint>
#include <string>
#include <unordered_map>
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
    struct Item {
        uint64_t Size = 0;
        bool IsFile = false;
    };
    void Done(const std::string& sName);

    RunProgress& m_progress;
    std::unordered_map<std::string, Item> m_items;
    std::string m_sCurrent;
};
