// BackupRun::RenameJob: a new name and target directory for a job, moving its job file and,
// on request, its zip archives.

#include "engine/BackupRun.h"

#include "engine/CFileFinder.h"
#include "engine/libRetention.h"
#include "jobs/CBackupJob.h"
#include "jobs/JobPassword.h"
#include "support/StowError.h"
#include "support/UserInteraction.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"

#include <cerrno>
#include <vector>

namespace BackupRun {

bool RenameJob(CBackupJob& job, const std::string& sNewTargetDirectory, const std::string& sNewJobName,
               bool bMoveBackups) {
    try {
        const std::string sOldTarget = libFiles::AddTrailingSlash(job.TargetDirectory());
        // A name that never made a clean name owns no archives: nothing is moved for it.
        const std::string sOldBase = CBackupJob::CleanJobName(job.JobName());
        const std::string sOldName = job.JobName();
        if (!job.RenameJobFile(sNewTargetDirectory, sNewJobName)) return false;
        // The keyring entry is found by the job's name: it follows the name.
        if (job.PasswordInKeyring() && !sOldName.empty() && sOldName != sNewJobName) {
            const PasswordVault::Result moved = JobPassword::MoveEntry(sOldName, sNewJobName);
            if (moved.State == PasswordVault::Status::Unreachable)
                UserInteraction::MsgBox(PasswordVault::UnreachableText(sOldName, moved) +
                                            "\r\nIts password was not moved to the new name '" + sNewJobName + "'.",
                                        UserInteraction::Buttons::OK, UserInteraction::Icon::Exclamation);
        }
        const std::string& sNewTarget = job.TargetDirectory();
        const bool bTargetMoved = sNewTarget != sOldTarget && !sOldTarget.empty();
        const std::string sNewBase = CBackupJob::CleanJobName(sNewJobName);

        const bool bNameMoved = sOldBase != sNewBase && !sOldBase.empty();
        // Without a base name every zip in the old folder would look like ours: move nothing.
        if (bMoveBackups && (bNameMoved || bTargetMoved) && !sOldBase.empty()) {
            CFileFinder finder;
            std::vector<std::string> names;
            std::string sName = finder.FindFirst(sOldTarget + sOldBase + "*.zip");
            const int32_t lError = finder.LastError();
            if (lError != 0 && lError != ENOENT)
                UserInteraction::MsgBox("Finder error " + std::to_string(lError), UserInteraction::Buttons::OK,
                                        UserInteraction::Icon::Information);
            for (; !sName.empty(); sName = finder.FindNext()) {
                // Only this job's own archives: base.zip, base_n.zip and the dated names. A job
                // whose name begins with this one's (Mail2 beside Mail) keeps its archives.
                if ((finder.Attrib() & CFileFinder::AttrDirectory) == 0 && libRetention::IsOwnZipName(sName, sOldBase))
                    names.push_back(sName);
            }
            finder.FindClose();
            for (const std::string& sFound : names) {
                const std::string sFrom = sOldTarget + sFound;
                const std::string sTo = sNewTarget + sNewBase + sFound.substr(sOldBase.size());
                // An archive already there (of another job, or of an earlier name) is kept.
                if (sFrom == sTo || libFiles::PathExists(sTo)) continue;
                libFiles::MoveFile(sFrom, sTo);
            }
        }
        return true;
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "BackupRun", "RenameJob()", "");
        return false;
    }
}

} // namespace BackupRun
