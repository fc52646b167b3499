#pragma once
// What the copy walk and a Rebuild share. Not for other callers.

#include "engine/ArchiveFlags.h"
#include "engine/libCopy.h"

#include <string>

namespace libCopy::detail {

// An entry's counts from its walk's report; a failed walk logs the copy failure and abandons.
void TakeWalkReport(EntryResult& result, const WalkReport& report, bool bFailed);

// Holds the store's transaction across a Rebuild's walk and its exchange (or a snapshot's walks
// and its rename). The walk writes its
// rows as it goes, in a tentative part that Keep() commits once the new copy stands; otherwise
// (a failure, an abort, a kill) they are undone: a copy that never took its place stands for
// nothing, so its sources keep their flags.
class TentativeFlags {
public:
    TentativeFlags() : m_flags(ArchiveFlags::Instance()) {
        m_flags.BeginWalk();
        try {
            m_flags.BeginTentative();
        } catch (...) {
            Finish(false);
            throw;
        }
    }
    ~TentativeFlags() { Finish(false); }
    void Keep() { Finish(true); }
    TentativeFlags(const TentativeFlags&) = delete;
    TentativeFlags& operator=(const TentativeFlags&) = delete;

private:
    void Finish(bool bKeep) noexcept {
        if (m_bDone) return;
        m_bDone = true;
        try {
            m_flags.EndTentative(bKeep);
        } catch (const std::exception&) {
            // Undone in full instead: those files are copied again next time.
        }
        try {
            m_flags.EndWalk();
        } catch (const std::exception&) {
            // A failed commit leaves the flags set, as above.
        }
    }
    ArchiveFlags& m_flags;
    bool m_bDone = false;
};

// The destination refused the copy: nothing more can be written, so the walk stops.
bool IsDiskError(int iErr);
// Creates a folder (an existing one is fine). False, with a line naming the folder and the
// reason, when the destination refuses it; any other failure is unexpected.
bool MakeFolder(const std::string& sFolder);
// A Rebuild of the folder sFinal: the new copy is built beside the previous one and takes its
// place only when complete, so that the previous copy or the new one always stands there.
// flush: the run's state of the target's file system.
EntryResult Rebuild(const std::string& sEntry, const std::string& sFinal, bool bIncremental, bool bSubdirectories,
                    const std::string& sExcludeSpec, const std::string& sTempFolder, libFiles::FileCopier* pCopier,
                    TargetFlush& flush);

} // namespace libCopy::detail
