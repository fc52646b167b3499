#pragma once
// The copy step of a job that keeps dated snapshots: the new snapshot is built in the job's
// temporary folder, holding what a copy-style run puts in its target (a Rebuild's files the same
// as in the previous snapshot are hard links to them; Update and Freshen start from a linked
// image of it and replace files by new ones, never writing a linked file in place), then renamed
// to its dated name in the snapshot folder, and "latest" moved to it in one step. Only then are
// the walk's archive flags kept and, after a successful run, expired snapshots removed.

#include "engine/CopyInternal.h"
#include "engine/libCopy.h"

#include <optional>
#include <string>

class CBackupJob;
class TargetFlush;

class SnapshotRun {
public:
    // sTarget: the target directory with its final "/"; sTempFolder: the job's temporary folder.
    SnapshotRun(const CBackupJob& job, const std::string& sTarget, const std::string& sTempFolder,
                libFiles::FileCopier* pCopier, TargetFlush& flush);
    SnapshotRun(const SnapshotRun&) = delete;
    SnapshotRun& operator=(const SnapshotRun&) = delete;

    // Makes the folder the snapshot is built in (for Update and Freshen, a linked image of the
    // previous snapshot). False, with a line, when the target refused it.
    bool Begin();
    // Copies one source entry (a file, or a wildcard entry) into the snapshot being built, as
    // libCopy::CopyEntry does into the target.
    libCopy::EntryResult CopyEntry(const std::string& sEntry);
    // Gives the complete snapshot its dated name and points "latest" at it. False, with a line,
    // when the target refused it: nothing of it then stands under a dated name.
    bool Complete();
    // The new snapshot once complete (no final "/"), else "".
    const std::string& Done() const { return m_sDone; }
    // Removes the snapshots the job's calendar no longer keeps (after a successful run only).
    void Expire();

private:
    bool LinkImage();
    bool MakeLatest(const std::string& sName);

    const CBackupJob& m_job;
    const std::string m_sTempFolder;
    const std::string m_sFolder; // the job's snapshot folder
    const std::string m_sBuild;  // the snapshot being built
    std::string m_sPrevious;     // the newest complete snapshot ("": none)
    std::string m_sDone;
    libFiles::FileCopier* m_pCopier;
    TargetFlush& m_flush;
    bool m_bModeAtCreate = false;
    bool m_bLinkRefusalNamed = false;
    std::optional<libCopy::detail::TentativeFlags> m_flags; // kept once the snapshot stands
};
