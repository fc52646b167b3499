#pragma once
// Copies that replace earlier copies take their final names in batches. A batch's copies wait
// under temporary names in the job's temporary folder until one flush of the target's file system
// (syncfs) has put their data on disk; only then are they renamed into place. A power cut thus
// leaves each earlier copy or its complete replacement, never an empty file, and one flush serves
// many files instead of one wait for the disk per file. Not for other callers than the copy walk.
// Whether anything needs flushing is the run's TargetFlush's to know, not the batch's.

#include "engine/TargetFlush.h"

#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace libCopy::detail {

class FlushBatch {
public:
    struct Copy {
        std::string Staged; // the complete copy, under its temporary name
        std::string Dest;
        std::string Source;
        struct stat Copied {}; // the source as copied
    };
    // What Place did not do.
    struct Failure {
        int Error = 0;            // errno; 0: every copy is in place
        std::string Dest;         // the copy whose rename failed ("": the flush failed)
        std::vector<Copy> Undone; // the copies not put in place (their temporaries go with the folder)
    };

    // flush: the state of the file system the copies are written to (it outlives the batch);
    // sTempFolder: the job's temporary folder.
    FlushBatch(TargetFlush& flush, std::string sTempFolder);
    // Whatever was written since the last flush is flushed (a walk that ends by an exception has
    // its flag rows committed after this). Copies still waiting are not put in place.
    ~FlushBatch();
    FlushBatch(const FlushBatch&) = delete;
    FlushBatch& operator=(const FlushBatch&) = delete;

    // A copy waiting for its rename. True when the batch is full: time to Place it.
    bool Add(Copy copy);
    // Something was written under a final name (a new file or folder), to be flushed by the next
    // Flush or Place.
    void Written() { m_flush.Written(); }
    // Flushes the target, then renames the waiting copies into place in the order they were added,
    // calling onPlaced after each rename. Nothing is renamed when the flush fails.
    Failure Place(const std::function<void(const Copy&)>& onPlaced);
    // Flushes the target when anything was written or renamed since the last flush: what the walk
    // did is then on disk. Returns 0 or the error of the flush.
    int Flush();

private:
    TargetFlush& m_flush;
    const std::string m_sTempFolder;
    std::vector<Copy> m_copies;
    uint64_t m_lBytes = 0;
};

} // namespace libCopy::detail
