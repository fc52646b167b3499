#include "app/CommandLineRestore.h"

#include "app/appSetup.h"
#include "engine/JobLock.h"
#include "engine/OffsiteFetch.h"
#include "engine/RunCount.h"
#include "engine/RunProgressRestore.h"
#include "engine/Snapshots.h"
#include "engine/libRestore.h"
#include "engine/libVerify.h"
#include "jobs/CBackupJob.h"
#include "jobs/JobPassword.h"
#include "support/appMisc.h"
#include "support/libFiles.h"

#include <iostream>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace CommandLineRestore {

namespace {

bool BeginsWith(const std::string& s, const char* sWhat) { return s.rfind(sWhat, 0) == 0; }

// Switches the other parts of the command line use, which these commands let pass.
bool Ignored(const std::string& sArg) {
    return sArg.find("/EXIT") != std::string::npos || sArg.find("SILENT") != std::string::npos;
}

// A switch of this command (a value after /FROM, /TO or /ONLY may begin with "/": a path).
bool IsSwitch(const std::string& s) {
    for (const char* sSwitch : {"/RESTORE", "/FROM", "/TO", "/ONLY", "/OVERWRITE", "/RUN", "/VERIFY"})
        if (s == sSwitch) return true;
    return Ignored(s);
}

int Usage() {
    appSetup::ShowCommandLineHelp();
    return appSetup::ExitUsage;
}

// The job file of a job named as /RUN names it (no folder part, ".slj" optional).
std::string JobFileOf(const std::string& sName) {
    std::string sPath = appMisc::JobFolder() + sName;
    if (sPath.size() < 4 || sPath.compare(sPath.size() - 4, 4, ".slj") != 0) sPath += ".slj";
    return sPath;
}

// Keeps a running backup of the named job from changing what is about to be read: waits, saying
// so on standard error, until it ends, and holds the job's lock until the result is let go.
FileLock WaitForRunningBackup(const std::string& sName) {
    const std::string sPath = JobFileOf(sName);
    if (sName.find('/') != std::string::npos || !libFiles::FileExists(sPath)) return {};
    return JobLock::ForReading(sPath, [&] {
        std::cerr << "Stowline: waiting for the running backup of " << sName << " to end..." << std::endl;
    });
}

// Opens the job named as /RUN names it. False, with the reason on standard error, when there is
// no such job file or it cannot be read.
bool OpenJob(const std::string& sName, CBackupJob& job) {
    const std::string sPath = JobFileOf(sName);
    if (sName.find('/') != std::string::npos || !libFiles::FileExists(sPath)) {
        std::cerr << "Stowline: no job file '" << sPath << "'." << std::endl;
        return false;
    }
    if (job.Open(sPath) != CBackupJob::FileResult::Done) {
        std::cerr << "Stowline: the job file '" << sPath << "' cannot be read." << std::endl;
        return false;
    }
    // Archives protected with a password kept in the keyring cannot be read without it.
    std::string sProblem;
    if (job.Compress() && !JobPassword::Fetch(job, sProblem)) {
        std::cerr << "Stowline: " << sProblem << std::endl;
        return false;
    }
    return true;
}

std::string Absolute(const std::string& sPath) {
    if (sPath.empty() || sPath[0] == '/') return sPath;
    char buf[4096];
    const char* sCwd = ::getcwd(buf, sizeof buf);
    return libFiles::AddTrailingSlash(sCwd ? sCwd : "/") + sPath;
}

// Brings the remote backup sFrom into the job's temporary folder, saying on standard error what
// it does. False, with the reason there, when the download failed; nothing is left behind then.
bool FetchRemote(const CBackupJob& job, const std::string& sFrom, OffsiteFetch::Download& download) {
    std::cerr << "Stowline: downloading '" << sFrom << "'..." << std::endl;
    int iShown = -10;
    auto progress = [&](uint64_t lDone, uint64_t lTotal) {
        if (lTotal == 0) return;
        const int iPercent = static_cast<int>(lDone * 100 / lTotal);
        if (iPercent / 10 == iShown / 10) return; // a line per tenth is enough in a script's log
        iShown = iPercent;
        std::cerr << "Stowline: downloaded " << lDone << " of " << lTotal << " bytes (" << iPercent << "%)"
                  << std::endl;
    };
    std::string sWhy;
    if (download.Fetch(job, sFrom, job.Compress(), progress, sWhy)) return true;
    std::cerr << "Stowline: " << sWhy << std::endl;
    return false;
}

// Where a /FROM value names a local backup: a name without a folder is one of the job's
// archives in its target folder, or one of its snapshots.
std::string LocalPathOf(const CBackupJob& job, const std::string& sFrom) {
    if (sFrom.find('/') != std::string::npos) return Absolute(sFrom);
    const std::string sInTarget = libFiles::AddTrailingSlash(job.TargetDirectory()) + sFrom;
    const std::string sSnapshot = Snapshots::FolderOf(job.TargetDirectory(), job.JobName()) + "/" + sFrom;
    struct stat st {};
    if (!job.Compress() && ::lstat(sInTarget.c_str(), &st) != 0 && ::lstat(sSnapshot.c_str(), &st) == 0)
        return sSnapshot;
    return sInTarget;
}

// The "latest" link of a snapshot folder stands for the snapshot it names, resolved once here
// and said on standard error, so that the restore itself follows no link. False, with the
// reason, for a link there that names no snapshot beside it.
bool ResolveLatest(std::string& sPath, std::string& sWhy) {
    std::string sResolved;
    if (libRestore::ResolveSnapshotLink(sPath, sResolved, sWhy)) {
        std::cerr << "Stowline: '" << sPath << "' is the snapshot '" << sResolved << "'." << std::endl;
        sPath = sResolved;
        return true;
    }
    return sWhy.empty();
}

} // namespace

int Restore(const std::vector<std::string>& args) {
    std::string sJob, sFrom, sTo;
    std::vector<std::string> only;
    bool bOverwrite = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& sArg = args[i];
        auto value = [&](std::string& sOut) {
            if (i + 1 >= args.size() || IsSwitch(args[i + 1])) return false;
            sOut = args[++i];
            return true;
        };
        if (sArg == "/RESTORE") {
            if (!value(sJob)) return Usage();
        } else if (sArg == "/FROM") {
            if (!value(sFrom)) return Usage();
        } else if (sArg == "/TO") {
            if (!value(sTo)) return Usage();
        } else if (sArg == "/ONLY") {
            std::string sSpec;
            if (!value(sSpec)) return Usage();
            only.push_back(sSpec);
        } else if (sArg == "/OVERWRITE") {
            bOverwrite = true;
        } else if (!Ignored(sArg)) {
            return Usage();
        }
    }
    if (sJob.empty()) return Usage();
    const FileLock backupLock = WaitForRunningBackup(sJob);
    CBackupJob job;
    if (!OpenJob(sJob, job)) return appSetup::ExitJobFailed;

    libRestore::BackupInfo backup;
    OffsiteFetch::Download download; // a remote backup's download, removed on every way out
    std::string sShownFrom;
    if (sFrom.empty()) {
        const auto backups = libRestore::ListRestorable(job, false);
        if (backups.empty()) {
            std::cerr << "Stowline: job " << job.JobName() << " has no backup to restore from." << std::endl;
            return appSetup::ExitJobFailed;
        }
        backup = backups[0];
    } else {
        std::string sPath = LocalPathOf(job, sFrom), sWhy;
        if (!ResolveLatest(sPath, sWhy)) {
            std::cerr << "Stowline: " << sWhy << std::endl;
            return appSetup::ExitJobFailed;
        }
        if (!libRestore::BackupAt(sPath, backup) && OffsiteFetch::IsRemotePath(sFrom)) {
            if (!FetchRemote(job, sFrom, download)) return appSetup::ExitJobFailed;
            backup = download.Backup();
            sShownFrom = sFrom;
        } else if (backup.Path.empty()) {
            std::cerr << "Stowline: '" << sPath << "' does not exist." << std::endl;
            return appSetup::ExitJobFailed;
        }
    }
    // Held compactly: a whole home folder's listing stays a small part of the restore's memory.
    libRestore::Listing entries;
    std::string sError;
    // A copy tree whose listing stopped somewhere: what was listed is restored, and the restore
    // fails, naming where the listing stopped.
    const libRestore::Status listed = libRestore::ReadContents(job, backup, entries, sError);
    if (listed != libRestore::Status::Ok && listed != libRestore::Status::Incomplete) {
        std::cerr << "Stowline: " << sError << std::endl;
        return appSetup::ExitJobFailed;
    }
    if (listed == libRestore::Status::Incomplete) std::cerr << "Stowline: " << sError << std::endl;
    libRestore::Options options;
    options.ToFolder = Absolute(sTo);
    options.OnConflict = bOverwrite ? libRestore::Conflict::Overwrite : libRestore::Conflict::Skip;
    options.Password = job.Password();
    // Without /ONLY the whole listing is the selection (no copy of it is made).
    const std::vector<libRestore::Entry> filtered =
        only.empty() ? std::vector<libRestore::Entry>() : libRestore::Filter(entries, only);
    const std::vector<libRestore::Entry>* selection = only.empty() ? nullptr : &filtered;
    RunProgress progress(job.JobName());
    RestoreProgress restoreProgress(progress, entries, selection);
    options.Progress = [&](const std::string& sName, uint64_t, uint64_t) {
        restoreProgress.Step(sName);
        return true;
    };
    const libRestore::Report r = libRestore::Restore(job, backup, entries, selection, options);
    restoreProgress.End();

    std::cout << "Restore " << job.JobName() << " from " << (sShownFrom.empty() ? backup.Path : sShownFrom) << " to "
              << (options.ToFolder.empty() ? std::string("the original place") : options.ToFolder) << "\n"
              << "  restored " << r.Restored << " files (" << r.Bytes << " bytes), skipped " << r.Skipped
              << " existing, not restored " << r.NotRestored << "\n";
    for (const std::string& s : r.Problems)
        std::cout << "  not restored: " << s << "\n";
    if (listed == libRestore::Status::Incomplete) std::cout << "  " << sError << "\n";
    if (!r.Error.empty()) std::cout << "  " << r.Error << "\n";
    std::cout.flush();
    const bool bOk = r.Result == libRestore::Status::Ok && listed == libRestore::Status::Ok;
    return bOk ? appSetup::ExitOk : appSetup::ExitJobFailed;
}

int Verify(const std::vector<std::string>& args) {
    std::vector<std::string> jobs;
    bool bVerifyMode = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "/VERIFY")
            bVerifyMode = true;
        else if (Ignored(args[i]))
            continue;
        else if (BeginsWith(args[i], "/"))
            return Usage();
        else if (bVerifyMode)
            jobs.push_back(args[i]);
    }
    if (jobs.empty()) return Usage();
    int iStatus = appSetup::ExitOk;
    for (const std::string& sName : jobs) {
        const FileLock backupLock = WaitForRunningBackup(sName);
        CBackupJob job;
        if (!OpenJob(sName, job)) {
            iStatus = appSetup::ExitJobFailed;
            continue;
        }
        std::string sFailure, sChecked, sOffsite;
        RunProgress progress(job.JobName());
        const RunProgress::ActiveScope active(progress);
        // An archive's entries give the total; a copy tree is counted as the run selects it.
        std::optional<RunCount> count;
        if (!job.Compress() && progress.Shown()) count.emplace(progress, RunCount::SelectionOf(job));
        const bool bVerified = libVerify::VerifyNewest(job, sFailure, &sChecked, &sOffsite);
        count.reset();
        progress.Finish();
        if (bVerified) {
            std::cout << "Verified " << job.JobName() << ": " << sChecked << "\n";
            if (!sOffsite.empty()) std::cout << "  off-site: " << sOffsite << "\n";
        } else {
            std::cout << "Verify failed for " << job.JobName() << " (" << sChecked << "): " << sFailure << "\n";
            iStatus = appSetup::ExitJobFailed;
        }
    }
    std::cout.flush();
    return iStatus;
}

} // namespace CommandLineRestore
