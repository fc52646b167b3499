#pragma once
// What the copy walk and a Rebuild share. Not for other callers.

#include "engine/libCopy.h"

#include <string>

namespace libCopy::detail {

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
