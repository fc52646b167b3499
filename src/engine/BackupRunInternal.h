#pragma once
// The backup run's own pieces, shared by BackupRun.cpp (the checks, the copy style, the record)
// and BackupRunZip.cpp (the zip style and what a failed archive leaves). Not for other callers.

#include "engine/BackupRun.h"
#include "engine/CacheFolders.h"
#include "engine/RunCount.h"
#include "engine/RunProgress.h"
#include "engine/TargetFlush.h"
#include "engine/libZip.h"
#include "support/StowError.h"
#include "support/UserInteraction.h"
#include "support/libFiles.h"
#include "support/libLog.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace BackupRun::detail {
// Thrown to leave the run on its abandon path. Not a std::exception, so that no error trap on
// the way reports it.
struct AbandonRun {};

enum class Outcome { Completed, CompletedWithError, Abandoned, DiskStop };
enum class Check { Ok, Abandon, DiskStop };

inline constexpr const char* ActionCopy = "Backing Up   ";
inline constexpr const char* ActionZip = "Zipping Up   ";

// The run's error trap around one statement: a drive without a medium asks for the disk and
// tries the statement again; Cancel abandons the run. Anything else goes on to the fatal trap.
template <class F> auto Retrying(F f) -> decltype(f()) {
    for (;;) {
        try {
            return f();
        } catch (const std::exception& e) {
            if (ErrorFromException(e).Number != StowErrors::NoMedium) throw;
            if (UserInteraction::MsgBox("Disk Error, please insert the diskette and try again.",
                                        UserInteraction::Buttons::OKCancel, UserInteraction::Icon::None,
                                        "Disk Error") == UserInteraction::Answer::OK)
                continue;
            libLog::LogEvent("User cancelled out at error prompt to insert floppy disk.");
            throw AbandonRun{};
        }
    }
}

// The shortest decimal text of a count held in a double.
std::string NumberText(double d);

class Run {
public:
    Run(CBackupJob& job, BackupRunOwner* pOwner, const FileSystemProbe& probe)
        : m_job(job), m_pOwner(pOwner), m_probe(probe), m_bFailureBefore(job.Failure()),
          m_dSizeBefore(job.SizeLastRun()), m_caches(job.ExcludeCaches()) {}

    BackupRun::RunResult Execute();

private:
    Outcome Steps();
    Outcome CopyStyle(const std::vector<std::string>& sources);
    Outcome ZipStyle(const std::vector<std::string>& sources);
    // What the run's count walks. A zip run's walk of its first source entry counts that entry
    // itself, ahead of the writing, so no second walk reads the same inodes: the count walks the
    // other entries (m_bWalkCounts).
    RunCount::Selection CountSelection();
    void Record(bool bFailure);
    // After a recorded successful run: the new archive to the job's off-site remote, if it has one.
    void SendOffsite();
    // Before a successful run is recorded: a new backup of a job with a remote waits for it.
    void NoteOffsitePending();
    // Flushes the target's file system, so that the record saved next never claims a backup
    // that is not on disk (nothing to do when the run's last flush covered all it wrote there).
    // False, with a line, when the system could not write it all.
    bool TargetOnDisk();
    void Finish();
    // The figures of the run so far, as the record keeps them.
    CBackupJob::LastRunFigures Figures() const;
    // The run's last line: what it backed up, how fast, and what it left out.
    void LogSummary();

    bool TargetMissing() const;
    Check SourceCheck(const std::string& sEntry) const;
    void EntryStart(const std::string& sAction, const std::string& sEntry);
    void Command(const std::string& sCommand, const char* sWhich);
    void DropArchive();
    // Nothing of a failed zip run takes a final name, not even its complete entries: logs why
    // the archive was not written, naming it, drops it with the temporary folder and fails the run.
    Outcome Discard(int iErrno, int iCode);
    // The same for a step that failed with e, first naming the step's failure (iCode).
    Outcome Discard(const StowError& e, int iCode);

    CBackupJob& m_job;
    BackupRunOwner* m_pOwner;
    const FileSystemProbe& m_probe;
    const bool m_bFailureBefore;
    const double m_dSizeBefore;
    std::string m_sTarget;     // TargetDirectory with its final "/"
    std::string m_sTempFolder; // where the run writes before giving final names (JobTemp)
    std::string m_sBase;       // TargetDirectory + clean job name
    std::string m_sZipBase;    // the archive's path without ".zip"; "" for a copy-style run
    std::string m_sNewZip;     // the archive being written, in the temporary folder
    std::string m_sFinalZip;   // the new archive under its final name, once it has one
    std::string m_sSnapshot;   // the new snapshot of a job keeping them, once complete
    double m_dFinalAt = 0;     // when it got that name
    libZip::ZipJobValues m_zipValues;
    std::unique_ptr<libZip::ZipEngine> m_zip; // the zip step's engine, made when it starts
    libFiles::FileCopier m_copier;            // copy style: learns once per run what the kernel can copy
    std::optional<TargetFlush> m_flush;       // what the run wrote in the target and has not flushed
    bool m_bArchiveOpen = false;
    bool m_bTempMade = false;           // the temporary folder was created by this run
    bool m_bNotAllBackedUp = false;     // a file was left out although the run went on
    int64_t m_lStartNs = 0;             // when the run began (ns since 1970), for the verification
    RunProgress* m_pProgress = nullptr; // the run's progress, while Execute runs
    bool m_bWalkCounts = false;         // the zip step's first walk is a part of the count
    int64_t m_lBackedUpFiles = 0;       // what the run backed up, for its summary and record
    int64_t m_lBackedUpBytes = 0;
    bool m_bRecorded = false; // the job holds the run's figures
    // What every walk of the run leaves out, when the job says so.
    CacheFolders::RunScope m_caches;
};

} // namespace BackupRun::detail
