// BackupRun::RunNow: one backup of a job, copy style or zip style, from the checks through
// retention and the copy or zip steps to the recorded run and the saved job file (the zip
// style is in BackupRunZip.cpp); BackupRun::ExecuteBackup: the same for a catalogued job.

#include "engine/BackupRunInternal.h"

#include "engine/BackupRunOwner.h"
#include "engine/CFileFinder.h"
#include "engine/JobLock.h"
#include "engine/JobTemp.h"
#include "engine/Offsite.h"
#include "engine/ReportHook.h"
#include "engine/RunState.h"
#include "engine/SnapshotRun.h"
#include "engine/TargetFlush.h"
#include "engine/libCopy.h"
#include "engine/libRetention.h"
#include "engine/libVerify.h"
#include "engine/libZip.h"
#include "jobs/CBackupJob.h"
#include "jobs/CBackupJobManager.h"
#include "jobs/JobPassword.h"
#include "jobs/TargetDrive.h"
#include "support/StowError.h"
#include "support/UserInteraction.h"
#include "support/appMisc.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <optional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace BackupRun::detail {

using UserInteraction::Answer;
using UserInteraction::Buttons;
using UserInteraction::Icon;
// The shortest decimal text of a count held in a double.
std::string NumberText(double d) {
    char buf[64];
    if (std::fabs(d) < 9.0e15 && d == std::floor(d))
        std::snprintf(buf, sizeof buf, "%.0f", d);
    else
        std::snprintf(buf, sizeof buf, "%.15g", d);
    return buf;
}

namespace {

// The look-up failed because a drive has no medium (or is not there): error 52 of the run's trap.
bool NoMedium(int iErr) { return iErr == ENOMEDIUM || iErr == ENXIO; }

// Looks a folder up. False when the look-up itself failed (a drive without a medium, a device
// error); bFound tells whether a folder of that name exists.
bool LookUpFolder(const FileSystemProbe& probe, const std::string& sFolder, bool& bFound) {
    struct stat st {};
    const int iErr = probe.LookUp(sFolder, st);
    bFound = iErr == 0 && S_ISDIR(st.st_mode);
    return !(NoMedium(iErr) || iErr == EIO);
}

// Waits for a drive to come up: while looking the path up fails (a path that simply does not
// exist is no failure), looks again, letting events run, for at most 5 seconds. Reports nothing.
void WaitForDrive(const FileSystemProbe& probe, const std::string& sPath) {
    bool bFound = false;
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!LookUpFolder(probe, sPath, bFound) && std::chrono::steady_clock::now() < tEnd) {
        UserInteraction::DoEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// A path exists (a folder when bFolder). A drive without a medium raises error 52, which the
// run's trap turns into the prompt for the disk.
bool Exists(const FileSystemProbe& probe, const std::string& sPath, bool bFolder) {
    struct stat st {};
    const int iErr = probe.LookUp(sPath, st);
    if (NoMedium(iErr)) throw ErrorFromErrno(iErr, sPath);
    return iErr == 0 && (!bFolder || S_ISDIR(st.st_mode));
}

// A file (or folder) entry exists; a "?" pattern needs one matching file.
bool EntryExists(const FileSystemProbe& probe, const std::string& sEntry) {
    if (libStrings::HasWildcards(libFiles::FilePathStripPath(sEntry))) {
        CFileFinder finder;
        for (std::string sName = finder.FindFirst(sEntry); !sName.empty(); sName = finder.FindNext())
            if ((finder.Attrib() & CFileFinder::AttrDirectory) == 0) return true;
        return false;
    }
    return Exists(probe, sEntry, false);
}

} // namespace

BackupRun::RunResult Run::Execute() {
    RunProgress progress(m_job.JobName());
    RunProgress::ActiveScope active(progress);
    m_pProgress = &progress;
    Outcome outcome;
    m_job.SetOffsiteFailed(false);
    try {
        outcome = Steps();
        if (outcome == Outcome::Completed || outcome == Outcome::CompletedWithError) {
            const bool bFailed = outcome == Outcome::CompletedWithError || m_bNotAllBackedUp || !TargetOnDisk();
            if (!bFailed) NoteOffsitePending(); // recorded with the run, before any upload begins
            Record(bFailed);
        }
        if (outcome == Outcome::Completed && !m_job.Failure()) SendOffsite();
    } catch (const AbandonRun&) {
        DropArchive();
        outcome = Outcome::Abandoned;
    } catch (const std::exception& e) {
        DropArchive();
        libErrorHandler::HandleError(true, ErrorFromException(e), "BackupRun", "RunNow()", "");
        throw; // not reached: a fatal report unwinds with its own exception
    } catch (...) {
        DropArchive();
        throw;
    }
    BackupRun::RunResult result = BackupRun::RunResult::Completed;
    if (outcome == Outcome::Abandoned) {
        result = BackupRun::RunResult::Abandoned;
        m_job.SetFailure(true);
    } else if (outcome == Outcome::DiskStop) {
        // Nothing was recorded, but nothing was backed up either: never let the previous run's
        // success stand for this one.
        result = BackupRun::RunResult::Stopped;
        m_job.SetFailure(true);
    }
    LogSummary();
    progress.Finish();
    Finish();
    return result;
}

Outcome Run::Steps() {
    // Compared with the times the file system gives files, so the system's clock, not the
    // program's (which tests may set).
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    m_lStartNs = libFiles::TimeNs(now);
    // Clear a stale abort request of an earlier run, so that it cannot empty this one.
    RunState::SetAbortRequested(false);
    // 1. Let removable drives come up.
    WaitForDrive(m_probe, appMisc::AppFolder() + appMisc::ExeBaseName());
    WaitForDrive(m_probe, m_job.TargetDirectory());
    // 2. Show that the run is busy.
    if (m_pOwner != nullptr) {
        m_pOwner->SetBusyPointer(true);
        m_pOwner->SetMessageText("Initializing...");
        RunStatus::SetLightBusy(m_pOwner);
    }
    // 3. Header line.
    libLog::LogEventLevel(2, BackupRun::HeaderLine(m_job.JobName()));
    // A target that is no absolute folder would put the backup wherever the program happens to
    // have been started. Every name below is joined to it with its final "/".
    const std::string& sTargetDirectory = m_job.TargetDirectory();
    if (sTargetDirectory.empty() || sTargetDirectory[0] != '/') {
        libLog::LogEvent("Invalid target directory: '" + sTargetDirectory + "'.");
        throw AbandonRun{};
    }
    // The clean job name names the temporary folder and the archives: one that would point into
    // another folder, or name none, stops the run before any path is made of it.
    if (CBackupJob::CleanJobName(m_job.JobName()).empty()) {
        libLog::LogEvent("Invalid job name: '" + m_job.JobName() + "' cannot name a folder or file in the target.");
        throw AbandonRun{};
    }
    // Another drive at the target's path, or the bare folder the job's drive is mounted on while
    // the drive is away: nothing is written there.
    if (const TargetDrive::Where where = TargetDrive::Locate(m_job);
        where == TargetDrive::Where::Other || where == TargetDrive::Where::Away) {
        libLog::LogEvent(TargetDrive::RefusedText(m_job, where));
        return Outcome::CompletedWithError;
    }
    // A password kept in the keyring is read before anything is written: without it the run
    // fails and makes no archive (never one unprotected or protected otherwise). It is recorded
    // as failed, so that the failure is reported and the job waits for its next moment.
    if (m_job.Compress()) {
        std::string sProblem;
        if (!JobPassword::Fetch(m_job, sProblem)) {
            libLog::LogEvent(sProblem);
            return Outcome::CompletedWithError;
        }
    }
    m_sTarget = libFiles::AddTrailingSlash(sTargetDirectory);
    m_flush.emplace(m_sTarget);
    m_sTempFolder = JobTemp::FolderOf(m_sTarget, m_job.JobName());
    // 4. Zip base name.
    if (m_job.Compress()) {
        m_sBase = libRetention::ZipBase(m_sTarget, m_job.JobName());
        m_sZipBase = m_job.KeepPeriod() == CBackupJob::KeepCopies
                         ? m_sBase
                         : libRetention::DatedZipBase(m_sBase, libDates::Now());
    }
    // 5. Sources.
    std::vector<std::string> sources;
    if (libStrings::GetFileList(m_job.FilesToZip(), sources)) {
        libLog::LogEvent("Error loading list of files and folders to backup.");
        throw AbandonRun{};
    }
    // A relative source would be read from wherever the program was started. (An empty list
    // reaches the source check, which names it missing.)
    for (const std::string& sEntry : sources) {
        if (!sEntry.empty() && sEntry[0] != '/') {
            libLog::LogEvent("Invalid source, not an absolute path: '" + sEntry + "'.");
            throw AbandonRun{};
        }
    }
    // What an interrupted run of this job left behind goes before anything new is written.
    if (Retrying([&] { return Exists(m_probe, m_sTarget, true); })) JobTemp::Reclaim(m_sTempFolder);
    // 6. Pending comment.
    if (!libLog::PendingComment().empty()) libLog::LogEvent(libLog::PendingComment());
    // 7. Pre-backup command.
    if (!m_job.PreBackupCommand().empty()) Command(m_job.PreBackupCommand(), "Pre");
    // 8./9. The backup itself.
    Outcome outcome;
    {
        std::optional<RunCount> count; // beside the work, until it ends
        if (m_pProgress->Shown()) count.emplace(*m_pProgress, CountSelection());
        outcome = m_job.Compress() ? ZipStyle(sources) : CopyStyle(sources);
    }
    if (outcome != Outcome::Completed) return outcome;
    // 10. Post-backup command.
    if (!m_job.PostBackupCommand().empty()) Command(m_job.PostBackupCommand(), "Post");
    return Outcome::Completed;
}

RunCount::Selection Run::CountSelection() {
    RunCount::Selection selection = RunCount::SelectionOf(m_job);
    if (m_job.Compress() && !selection.Sources.empty()) {
        m_bWalkCounts = true;
        m_pProgress->AddCountPart();
        selection.Sources.erase(selection.Sources.begin());
    }
    return selection;
}

Outcome Run::CopyStyle(const std::vector<std::string>& sources) {
    int64_t lFiles = 0;
    double dBytes = 0;
    bool bAborted = false;
    // The temporary copies and a Rebuild's new tree live in the job's temporary folder while
    // they are made; it goes when the run ends, however it ends (a kill leaves it to Reclaim).
    struct TempFolderScope {
        const std::string& Folder;
        ~TempFolderScope() { JobTemp::Remove(Folder); }
    } tempScope{m_sTempFolder};
    // A job keeping snapshots writes each run to a new dated snapshot instead of the target.
    std::optional<SnapshotRun> snapshot;
    if (m_job.Snapshots() && !snapshot.emplace(m_job, m_sTarget, m_sTempFolder, &m_copier, *m_flush).Begin())
        throw AbandonRun{};
    for (const std::string& sEntry : sources) {
        RunStatus::SetLightIdle(m_pOwner);
        RunStatus::SetLightBusy(m_pOwner);
        if (TargetMissing()) throw AbandonRun{};
        EntryStart(ActionCopy, sEntry);
        const Check check = SourceCheck(sEntry);
        if (check == Check::DiskStop) return Outcome::DiskStop;
        if (check == Check::Abandon) throw AbandonRun{};
        // A folder named on its own is backed up whole, as a zip run would: with its files and,
        // as the job says, its subfolders.
        std::string sCopyEntry = sEntry;
        if (!libCopy::IsWildcardEntry(sEntry) && libFiles::DirExists(sEntry))
            sCopyEntry = libFiles::AddTrailingSlash(sEntry) + "*.*";
        const libCopy::EntryResult result = Retrying([&] {
            if (snapshot) return snapshot->CopyEntry(sCopyEntry);
            return libCopy::CopyEntry(sCopyEntry, m_sTarget, m_job.Incremental(), m_job.Subdirectories(),
                                      m_job.CopyStyle(), m_job.ExcludeSpec(), m_sTempFolder, &m_copier, &*m_flush);
        });
        if (result.Abandon) throw AbandonRun{};
        // A file left out is a run that did not back up everything, even when it goes on.
        if (result.LockedFiles > 0 || result.LeftOut > 0) m_bNotAllBackedUp = true;
        if (result.ByteCount >= 0) {
            lFiles += result.FileCount;
            dBytes += result.ByteCount;
            // A locked file is counted by the walk, though not copied.
            m_lBackedUpFiles += result.FileCount - result.LockedFiles;
            m_lBackedUpBytes += static_cast<int64_t>(result.ByteCount);
        }
        if (RunState::AbortRequested()) {
            // The walk stopped early; the later entries are not touched (a Rebuild would remove
            // their previous backup folders and copy nothing back).
            bAborted = true;
            break;
        }
    }
    if (snapshot && !bAborted && !snapshot->Complete()) throw AbandonRun{};
    m_job.SetSizeLastRun(dBytes);
    libLog::LogEventLevel(1, "  Copied " + std::to_string(lFiles) + " files totaling " + NumberText(dBytes) + " bytes");
    CacheFolders::LogRunCount();
    if (bAborted) {
        if (snapshot) libLog::LogEvent("  Snapshot not completed: the previous snapshots were kept");
        if (RunState::StopRequested()) libLog::LogEvent("  Stopped: the program was asked to end");
        libLog::LogEvent("Backup terminated by user");
        return Outcome::CompletedWithError; // recorded as a failed run, without the post-backup command
    }
    m_sSnapshot = snapshot ? snapshot->Done() : std::string();
    if (m_job.Verify() && !libVerify::VerifyAfterRun(m_job, "", m_lStartNs, m_sSnapshot))
        return Outcome::CompletedWithError;
    // Expired snapshots go only after a run that backed up everything.
    if (snapshot && !m_bNotAllBackedUp) snapshot->Expire();
    return Outcome::Completed;
}
void Run::Record(bool bFailure) {
    m_job.SetFailure(bFailure);
    m_job.SetDateLastRun(libDates::Now());
    if (!bFailure) m_job.SetDateLastSuccess(m_job.DateLastRun());
    // The drive of a good run: another one at the same path later is told from it.
    if (const std::string sVolume = bFailure ? "" : TargetDrive::VolumeOf(m_job.TargetDirectory()); !sVolume.empty())
        m_job.SetTargetVolume(sVolume);
    m_job.SetDateLastFailure(bFailure ? m_job.DateLastRun() : CBackupJob::NotComputed);
    if (m_lStartNs > 0) m_job.SetLastRunStartNs(m_lStartNs);
    m_job.SetLastRun(Figures());
    m_bRecorded = true;
    const int32_t lCount = m_job.RunCount();
    if (lCount <= 0)
        m_job.SetRunCount(1);
    else if (lCount < std::numeric_limits<int32_t>::max())
        m_job.SetRunCount(lCount + 1);
    m_job.PurgeOneShotJobs();
    // The failure flag and the size are no properties and do not mark the job changed by
    // themselves; a change of either must reach the file all the same.
    // A record that could not be kept cannot say the run succeeded: the job shows the failure
    // (and the save's reason as its last log line) for as long as it is loaded.
    if ((m_job.Changed() || m_bFailureBefore != bFailure || m_dSizeBefore != m_job.SizeLastRun()) &&
        m_job.Save() != CBackupJob::FileResult::Done)
        m_job.SetFailure(true);
}

void Run::SendOffsite() {
    if (m_job.OffsiteRemote().empty()) return;
    if (m_job.Compress() && m_sFinalZip.empty()) return; // no new archive (an incremental run without changes)
    if (Offsite::Held()) {
        // Pending since the run's record: the agents' retry sends it once the network allows.
        libLog::LogEventLevel(2,
                              "  Off-site copy to '" + m_job.OffsiteRemote() + "' postponed: the network is metered");
        return;
    }
    const std::string sStatus = "Off-site copy to " + m_job.OffsiteRemote();
    if (m_pOwner != nullptr) m_pOwner->SetMessageText(sStatus + "...");
    const Rclone::StatsSink onStats = [&](const Rclone::Stats& stats) {
        if (m_pOwner != nullptr) m_pOwner->SetMessageText(sStatus + ": " + Rclone::Progress(stats));
    };
    const bool bSent = m_job.Compress() ? Offsite::SendArchive(m_job, m_sFinalZip, m_dFinalAt, onStats)
                                        : Offsite::SendTree(m_job, m_sSnapshot.empty() ? m_sTarget : m_sSnapshot + "/",
                                                            libDates::Now(), onStats);
    m_job.SetOffsiteFailed(!bSent);
    Offsite::RecordAttempt(m_job, bSent);
    // As with the run's record: one that could not be kept cannot say the copy succeeded.
    if (m_job.Save() != CBackupJob::FileResult::Done) m_job.SetOffsiteFailed(true);
}

void Run::NoteOffsitePending() {
    if (m_job.OffsiteRemote().empty()) return;
    if (m_job.Compress() && m_sFinalZip.empty()) return; // nothing new: ok stays ok, pending stays pending
    // The first backup the remote lacks tells how long it has been behind.
    if (m_job.OffsitePending() <= CBackupJob::NotComputed) m_job.SetOffsitePending(libDates::Now());
}

bool Run::TargetOnDisk() {
    if (!m_flush) return true;
    if (const int iErr = m_flush->Flush(); iErr != 0) {
        libLog::LogEvent("  Error writing to '" + m_sTarget + "': " + std::strerror(iErr));
        return false;
    }
    return true;
}

void Run::Finish() {
    if (m_pOwner == nullptr) return;
    m_pOwner->SetMessageText("");
    RunStatus::SetLightIdle(m_pOwner);
    m_pOwner->SetBusyPointer(false);
}

bool Run::TargetMissing() const {
    const std::string& sTarget = m_job.TargetDirectory();
    if (Retrying([&] { return Exists(m_probe, sTarget, true); }) || sTarget.size() <= 3) return false;
    libLog::LogEvent("Stowline Target Path does not exist: '" + sTarget + "'.");
    return true;
}

Check Run::SourceCheck(const std::string& sEntry) const {
    if (sEntry.find('*') != std::string::npos) {
        bool bFound = false;
        if (!LookUpFolder(m_probe, libFiles::FilePathStripFileName(sEntry), bFound)) {
            UserInteraction::MsgBox("Please put the floppy or zip disk into the drive and try again.", Buttons::OK,
                                    Icon::Information, "Disk I/O Error");
            return Check::DiskStop;
        }
        if (!bFound) {
            libLog::LogEvent("Stowline Pre-Emptive Error, file specification (wildcards) to backup does not exist: '" +
                             sEntry + "'.");
            return Check::Abandon;
        }
        return Check::Ok;
    }
    if (!Retrying([&] { return EntryExists(m_probe, sEntry); })) {
        libLog::LogEvent("Stowline Pre-Emptive Error, file to backup does not exist: '" + sEntry + "'.");
        return Check::Abandon;
    }
    return Check::Ok;
}

void Run::EntryStart(const std::string& sAction, const std::string& sEntry) {
    libLog::LogEventLevel(1, sAction + sEntry);
    if (m_pOwner != nullptr) RunStatus::SetStatusMessage(sAction, sEntry);
}

void Run::Command(const std::string& sCommand, const char* sWhich) {
    const std::string sExpanded =
        BackupRun::ExpandPlaceholders(sCommand, m_job.JobName(), m_sZipBase, m_job.TargetDirectory());
    const int iStatus = BackupRun::RunCommand(sExpanded);
    libLog::LogEventLevel(1, std::string("  ") + sWhich + "-backup command exit status " + std::to_string(iStatus));
}

} // namespace BackupRun::detail

namespace BackupRun {

std::string HeaderLine(const std::string& sJobName) {
    const size_t iDashes = sJobName.size() < 60 ? 60 - sJobName.size() : 0;
    return "-- " + sJobName + " " + std::string(iDashes, '-');
}

std::string ExpandPlaceholders(const std::string& sCommand, const std::string& sJobName, const std::string& sZipBase,
                               const std::string& sTargetDirectory) {
    std::string sResult;
    sResult.reserve(sCommand.size());
    for (size_t i = 0; i < sCommand.size(); ++i) {
        if (sCommand[i] != '%') {
            sResult += sCommand[i];
            continue;
        }
        const char cSelect = i + 1 < sCommand.size() ? sCommand[i + 1] : '\0';
        switch (cSelect) {
        case 'J':
            sResult += sJobName;
            break;
        case 'Z':
            sResult += sZipBase;
            break;
        case 'D':
            sResult += sTargetDirectory;
            break;
        default:
            break;
        }
        ++i; // the selecting character goes with the "%"
    }
    return sResult;
}

int RunCommand(const std::string& sCommandLine) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv{const_cast<char*>("/bin/sh"), const_cast<char*>("-c"),
                            const_cast<char*>(sCommandLine.c_str()), nullptr};
    pid_t pid = 0;
    const int iErr = ::posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (iErr != 0) return -1;
    for (;;) {
        int iStatus = 0;
        const pid_t r = ::waitpid(pid, &iStatus, WNOHANG);
        if (r == pid) {
            if (WIFEXITED(iStatus)) return WEXITSTATUS(iStatus);
            if (WIFSIGNALED(iStatus)) return 128 + WTERMSIG(iStatus);
            continue; // stopped or continued: still running
        }
        if (r < 0 && errno != EINTR) return -1;
        UserInteraction::DoEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

RunResult RunNow(CBackupJob& job, BackupRunOwner* pOwner, const FileSystemProbe& probe) {
    // A run lets events through; a second run started from one of them would share the
    // process-wide state (abort flag, status window, archive-flag store). It is refused: not
    // run, so not backed up.
    RunState::RunningScope running;
    if (!running.Entered()) {
        job.SetFailure(true);
        return RunResult::Refused;
    }
    RunState::OwnerScope ownerScope(pOwner);
    libLog::RunLog runLog;
    // Never written while a restore or verify reads it: a wait cut short is no run.
    FileLock jobLock;
    switch (JobLock::ForRun(jobLock, job)) {
    case JobLock::RunLock::Held:
        break;
    case JobLock::RunLock::Aborted:
        job.SetFailure(true);
        return RunResult::Abandoned;
    case JobLock::RunLock::ReadHere:
        // Put off, not failed: nothing is recorded, so the job stays due for a later tick.
        libLog::LogEvent("Backup of '" + job.JobName() + "' put off: its backups are being read");
        return RunResult::PutOff;
    }
    // Reports off the machine hear of the start and of the recorded end; they never wait here.
    ReportHook::RunScope report(job);
    const RunResult result = detail::Run(job, pOwner, probe).Execute();
    report.End(result);
    return result;
}

bool ExecuteBackupNow(CBackupJob& job, BackupRunOwner* pOwner, const FileSystemProbe& probe) {
    const RunResult result = RunNow(job, pOwner, probe);
    return result != RunResult::Completed && result != RunResult::Stopped;
}

int32_t ExecuteBackup(CBackupJobManager& manager, int32_t lHandle) {
    if (lHandle < 0) return lHandle;
    if (manager.SharedJob().Tag() != lHandle && manager.JobFromHandle(lHandle) == nullptr) return lHandle;
    ExecuteBackupNow(manager.SharedJob(), nullptr);
    return lHandle;
}

} // namespace BackupRun
