// CBackupJob::RenameJob: a new name and target directory for a job, moving its job file and,
// on request, its zip archives.

#include "engine/CFileFinder.h"
#include "engine/libRetention.h"
#include "jobs/CBackupJob.h"
#include "support/StowError.h"
#include "support/UserInteraction.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libStrings.h"

#include <cerrno>
#include <sys/stat.h>
#include <vector>

namespace {
// Both paths name one existing file.
bool SameFile(const std::string& sA, const std::string& sB) {
    struct stat a {
    }, b{};
    return ::stat(sA.c_str(), &a) == 0 && ::stat(sB.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
} // namespace

bool CBackupJob::RenameJob(const std::string& sNewTargetDirectory, const std::string& sNewJobName, bool bMoveBackups) {
    try {
        // A name that cannot form a file inside the job folder is refused before anything changes.
        if (!IsSafeJobName(sNewJobName)) return false;
        const std::string sNewFile = JobFileNameFor(sNewJobName);
        // Never put this job's file over another job's file.
        if (sNewFile != m_FileName && libFiles::PathExists(sNewFile) && !SameFile(sNewFile, m_FileName)) return false;

        const std::string sOldTarget = libFiles::AddTrailingSlash(m_TargetDirectory);
        m_TargetDirectory = libFiles::AddTrailingSlash(sNewTargetDirectory);
        const bool bTargetMoved = m_TargetDirectory != sOldTarget && !sOldTarget.empty();

        const std::string sOldBase = libStrings::StripFileNameChars(m_JobName);
        const std::string sNewBase = libStrings::StripFileNameChars(sNewJobName);
        m_JobName = sNewJobName;

        // File names on this system are case-sensitive: a change of case is a new name.
        if (m_FileName != sNewFile) {
            if (!m_FileName.empty() && libFiles::FileExists(m_FileName)) libFiles::MoveFile(m_FileName, sNewFile);
            m_FileName = sNewFile;
        }

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
                const std::string sTo = m_TargetDirectory + sNewBase + sFound.substr(sOldBase.size());
                // An archive already there (of another job, or of an earlier name) is kept.
                if (sFrom == sTo || libFiles::PathExists(sTo)) continue;
                libFiles::MoveFile(sFrom, sTo);
            }
        }
        return true;
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "CBackupJob", "RenameJob()", "");
        return false;
    }
}
