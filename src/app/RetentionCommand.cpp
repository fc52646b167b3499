#include "app/RetentionCommand.h"

#include "app/appSetup.h"
#include "support/appMisc.h"
#include "support/libFiles.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <iostream>
#include <sys/stat.h>

namespace RetentionCommand {

namespace {

// Switches the other parts of the command line use, which this command lets pass.
bool Ignored(const std::string& sArg) {
    return sArg.find("/EXIT") != std::string::npos || sArg.find("SILENT") != std::string::npos;
}

int Usage() {
    appSetup::ShowCommandLineHelp();
    return appSetup::ExitUsage;
}

} // namespace

std::vector<std::string> PlanLines(const std::vector<Snapshots::Snapshot>& snapshots,
                                   const CBackupJob::SnapshotKeep& keep) {
    std::vector<std::string> lines;
    for (const Snapshots::Verdict& verdict : Snapshots::Plan(snapshots, keep))
        lines.push_back(verdict.Of.Name + "  " + Snapshots::VerdictText(verdict.Why));
    return lines;
}

bool ListSnapshots(const std::string& sFolder, std::vector<Snapshots::Snapshot>& snapshots, std::string& sProblem) {
    snapshots.clear();
    struct stat st {};
    if (::stat(sFolder.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        sProblem = "the snapshot folder '" + sFolder + "' cannot be read: " + std::strerror(errno);
        return false;
    }
    DIR* pDir = S_ISDIR(st.st_mode) ? ::opendir(sFolder.c_str()) : nullptr;
    if (pDir == nullptr) {
        sProblem = "the snapshot folder '" + sFolder +
                   "' cannot be read: " + (S_ISDIR(st.st_mode) ? std::strerror(errno) : "it is not a folder");
        return false;
    }
    ::closedir(pDir);
    snapshots = Snapshots::List(sFolder);
    return true;
}

int Print(const std::vector<std::string>& args) {
    std::string sName;
    bool bRetentionMode = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "/RETENTION")
            bRetentionMode = true;
        else if (Ignored(args[i]))
            continue;
        else if (args[i].rfind('/', 0) == 0 || (bRetentionMode && !sName.empty()))
            return Usage();
        else if (bRetentionMode)
            sName = args[i];
    }
    if (sName.empty()) return Usage();

    // The job file as /RUN names it (no folder part, ".slj" optional); a name reaching outside
    // the job folder is no job.
    std::string sPath = appMisc::JobFolder() + sName;
    if (!sPath.ends_with(".slj")) sPath += ".slj";
    if (sName.find('/') != std::string::npos || !libFiles::FileExists(sPath)) {
        std::cerr << "Stowline: no job file '" << sPath << "'." << std::endl;
        return appSetup::ExitJobFailed;
    }
    CBackupJob job;
    if (job.Open(sPath) != CBackupJob::FileResult::Done) {
        std::cerr << "Stowline: the job file '" << sPath << "' cannot be read." << std::endl;
        return appSetup::ExitJobFailed;
    }
    if (job.Compress() || !job.Snapshots()) {
        std::cerr << "Stowline: job " << job.JobName()
                  << " keeps no dated snapshots (only a copy-style job with \"Keep a dated snapshot of every "
                     "run\" ticked has them), so there is nothing for the calendar to keep or remove."
                  << std::endl;
        return appSetup::ExitUsage;
    }
    // No job lock: this only reads the names in one folder, and a run puts each snapshot there
    // by a single rename once it is complete, so a running backup is never waited for. What is
    // printed is the folder as it was at that moment.
    const std::string sFolder = Snapshots::FolderOf(job.TargetDirectory(), job.JobName());
    std::vector<Snapshots::Snapshot> snapshots;
    std::string sProblem;
    if (!ListSnapshots(sFolder, snapshots, sProblem)) {
        std::cerr << "Stowline: " << sProblem << std::endl;
        return appSetup::ExitJobFailed;
    }
    if (snapshots.empty()) {
        std::cout << "No snapshots in '" << sFolder << "' yet." << std::endl;
        return appSetup::ExitOk;
    }
    for (const std::string& sLine : PlanLines(snapshots, job.SnapshotKeeping()))
        std::cout << sLine << "\n";
    std::cout.flush();
    return std::cout ? appSetup::ExitOk : appSetup::ExitJobFailed;
}

} // namespace RetentionCommand
