#pragma once
// One backup job: its definition, its run state, its job file and its schedule.
//
// Properties follow one rule set: most setters act only when the value differs and then set
// Changed; schedule setters also void the cached next run. The exceptions are part of the
// contract and are tested: SetRunCount ignores negative values, SetCompress never touches
// Changed, SetFilesToZip CLEARS Changed, SetStatus and SetTag are plain stores.
//
// JobName, TargetDirectory, FileName and Failure are read-only for ordinary callers. They
// change through a load, CopyJob, RenameJobFile or the backup run. For code that is not a
// member (the backup run, tests of higher layers building a job in memory, the command line)
// the "...Raw" setters below store a value plainly, without any rule and without touching
// Changed. Nothing in the user interface calls them.
//
// This class is the record alone. What acts on a job's backups lives in the engine and takes
// the job: the run (BackupRun::ExecuteBackupNow), the rename that also moves the archives
// (BackupRun::RenameJob) and the archive look-ups (libRetention::LatestZip, CurrentBackupSize).

#include "support/libDates.h"

#include <cstdint>
#include <string>

class IniFile;

class CBackupJob {
public:
    // Markers of the date-time fields.
    static constexpr double NotComputed = libDates::NotComputed; // 1900-01-01 00:00
    static constexpr double FarFuture = libDates::FarFuture;     // 3000-01-01 00:00
    // The one-byte key of the password transform in the job file.
    static constexpr unsigned char PasswordScrambleKey = 0xA5;

    // Frequency, copy-style and keep-period codes.
    static constexpr int32_t Daily = 1, Weekly = 2, Monthly = 3, OneShot = 4;
    static constexpr int32_t CopyRebuild = 0, CopyUpdate = 1, CopyFreshen = 2;
    static constexpr int32_t KeepCopies = 0, KeepDays = 1, KeepWeeks = 2, KeepMonths = 3;
    static constexpr int16_t AllDays = 254;

    CBackupJob(); // runs Clear

    // ---- properties, in slot order ----
    int32_t Tag() const { return m_Tag; }
    void SetTag(int32_t lValue) { m_Tag = lValue; }
    bool PromptForComment() const { return false; }
    int32_t RunCount() const { return m_RunCount; }
    void SetRunCount(int32_t lValue); // negative or unchanged: ignored
    bool Valid() const { return m_Status == 0; }
    int32_t CopyStyle() const { return m_CopyStyle; }
    void SetCopyStyle(int32_t lValue);
    int32_t Status() const { return m_Status; }
    void SetStatus(int32_t lValue) { m_Status = lValue; }
    // "D", "W", "M", "O" by frequency ("?" for others) when valid and active; "#" when not
    // valid; "S" when valid and suspended.
    std::string StatusAsStr() const;
    bool Changed() const { return m_Changed; }
    const std::string& FileName() const { return m_FileName; }
    const std::string& ExcludeSpec() const { return m_ExcludeSpec; }
    void SetExcludeSpec(const std::string& sValue);
    const std::string& OneShotDates() const { return m_OneShotDates; }
    void SetOneShotDates(const std::string& sValue); // voids the cached next run
    const std::string& PreBackupCommand() const { return m_PreBackupCommand; }
    void SetPreBackupCommand(const std::string& sValue);
    const std::string& PostBackupCommand() const { return m_PostBackupCommand; }
    void SetPostBackupCommand(const std::string& sValue);
    bool Suspended() const { return m_Suspended; }
    void SetSuspended(bool bValue);
    int32_t KeepPeriod() const { return m_KeepPeriod; }
    void SetKeepPeriod(int32_t lValue);
    const std::string& JobName() const { return m_JobName; }
    double DateLastRun() const { return m_DateLastRun; }
    void SetDateLastRun(double dValue);
    // The end of the last run without Failure; NotComputed when none is recorded (files written
    // before the field existed have none).
    double DateLastSuccess() const { return m_DateLastSuccess; }
    void SetDateLastSuccess(double dValue);
    // The moment of the last run when that run failed, to the second; NotComputed after a
    // success and in files written before the field existed. The minute-resolution dates above
    // cannot tell a failure from a success of the same minute; this can (see JobHealth).
    double DateLastFailure() const { return m_DateLastFailure; }
    void SetDateLastFailure(double dValue);
    // When the last run began, in ns since 1970 on the system clock (0 when not recorded): what
    // the copy holds can be held to the sources that changed before it, to the nanosecond.
    int64_t LastRunStartNs() const { return m_LastRunStartNs; }
    void SetLastRunStartNs(int64_t lValue);
    double StartTime() const { return m_StartTime; }
    void SetStartTime(double dValue); // voids the cached next run
    // The time-of-day part of the next run (computes it when Changed or not yet computed).
    double CurrentStartTime();
    int32_t Frequency() const { return m_Frequency; }
    void SetFrequency(int32_t lValue); // voids the cached next run
    int16_t DayOfWeek() const { return m_DayOfWeek; }
    void SetDayOfWeek(int16_t iValue); // voids the cached next run
    int16_t DayOfMonth() const { return m_DayOfMonth; }
    void SetDayOfMonth(int16_t iValue); // voids the cached next run
    bool Compress() const { return m_Compress; }
    void SetCompress(bool bValue) { m_Compress = bValue; } // never touches Changed
    int16_t NumberCopies() const { return m_NumberCopies; }
    void SetNumberCopies(int16_t iValue);
    const std::string& Password() const { return m_Password; }
    void SetPassword(const std::string& sValue);
    // How a password protects the archives (job key Encryption: "AES256" or "Traditional";
    // absent or unknown: Traditional, as jobs were before AES).
    enum class EncryptionKind { Traditional, Aes256 };
    EncryptionKind Encryption() const { return m_Encryption; }
    void SetEncryption(EncryptionKind value);
    // The password is kept in the desktop keyring under the job name (job key PasswordStore =
    // Keyring; absent: File). The job file's Password is then always written empty: Password()
    // holds the keyring's password only once a run or a window has read it (SetPasswordRaw).
    bool PasswordInKeyring() const { return m_PasswordInKeyring; }
    void SetPasswordInKeyring(bool bValue);
    bool Incremental() const { return m_Incremental; }
    void SetIncremental(bool bValue);
    const std::string& TargetDirectory() const { return m_TargetDirectory; }
    const std::string& FilesToZip() const { return m_FilesToZip; }
    void SetFilesToZip(const std::string& sValue); // when different: stores and CLEARS Changed
    bool Subdirectories() const { return m_Subdirectories; }
    void SetSubdirectories(bool bValue);
    // Read the new backup back after each run (job key Verify; absent: off).
    bool Verify() const { return m_Verify; }
    void SetVerify(bool bValue);
    bool Failure() const { return m_Failure; }
    // Off-site copy: an rclone remote path (job key OffsiteRemote; empty or absent: off), how many
    // days a copy-style remote keeps its versions (OffsiteKeepDays, default 30), and when an
    // off-site step last succeeded (OffsiteLastSuccess; NotComputed when none is recorded).
    static constexpr int32_t DefaultOffsiteKeepDays = 30;
    const std::string& OffsiteRemote() const { return m_OffsiteRemote; }
    void SetOffsiteRemote(const std::string& sValue);
    int32_t OffsiteKeepDays() const { return m_OffsiteKeepDays; }
    void SetOffsiteKeepDays(int32_t lValue);
    double OffsiteLastSuccess() const { return m_OffsiteLastSuccess; }
    void SetOffsiteLastSuccess(double dValue);
    // A successful local backup waits for its off-site copy since this moment (job key
    // OffsitePending; NotComputed when none waits). Kept from the first backup that was not sent,
    // so that it tells how long the remote has been behind. Giving the job another remote while
    // it has a local success sets it to now: the newest backup is yet to go there.
    double OffsitePending() const { return m_OffsitePending; }
    void SetOffsitePending(double dValue);
    // Off-site attempts that failed in a row since the last success (job key OffsiteFailures;
    // absent: none).
    int32_t OffsiteFailures() const { return m_OffsiteFailures; }
    void SetOffsiteFailures(int32_t lValue);
    // The last run's off-site step failed (kept in memory only, never in the file).
    bool OffsiteFailed() const { return m_OffsiteFailed; }
    void SetOffsiteFailed(bool bValue) { m_OffsiteFailed = bValue; }
    // The monitoring ping (job key PingUrl, an http or https address; empty or absent: none):
    // "<url>/start" when a run starts, "<url>" after a success, "<url>/fail" after a failure.
    const std::string& PingUrl() const { return m_PingUrl; }
    void SetPingUrl(const std::string& sValue);

    // ---- the target's drive (CBackupJobDrive.cpp) ----
    // The file-system UUID of the target folder's file system, recorded after a good run (job key
    // TargetVolume; empty or absent: unknown). A different file system at the target's path is
    // another drive, never written to; this one unmounted means the job waits for it.
    const std::string& TargetVolume() const { return m_TargetVolume; }
    void SetTargetVolume(const std::string& sValue);
    // Also run each time the target's drive is connected, when the last success is older than an
    // hour (job key RunOnConnect; absent: off).
    bool RunOnConnect() const { return m_RunOnConnect; }
    void SetRunOnConnect(bool bValue);

    // ---- history (CBackupJobHistory.cpp) ----
    // A copy-style run keeps a dated snapshot of what it copied (job key Snapshots; absent: off).
    bool Snapshots() const { return m_Snapshots; }
    void SetSnapshots(bool bValue);
    // How many snapshots the calendar keeps: the newest of each of the last Daily days, Weekly
    // ISO weeks, Monthly months and Yearly years, and the Last newest (job keys KeepLast,
    // KeepDaily, KeepWeekly, KeepMonthly, KeepYearly; each absent key takes its default).
    struct SnapshotKeep {
        int32_t Last = 3;
        int32_t Daily = 7;
        int32_t Weekly = 4;
        int32_t Monthly = 12;
        int32_t Yearly = 0;
        bool operator==(const SnapshotKeep&) const = default;
    };
    static constexpr int32_t MaxSnapshotKeep = 9999;
    const SnapshotKeep& SnapshotKeeping() const { return m_SnapshotKeep; }
    void SetSnapshotKeeping(const SnapshotKeep& value);
    // Folders not worth keeping are left out (caches, trash, thumbnails, a CACHEDIR.TAG or a
    // .nobackup file; job key ExcludeCaches; absent: off, on for new jobs made by the editor).
    bool ExcludeCaches() const { return m_ExcludeCaches; }
    void SetExcludeCaches(bool bValue);

    // ---- schedule ----
    // The next run (stored in the cache). A Daily or Weekly job whose mask holds no weekday
    // reports FarFuture.
    double DateTimeNextRun();
    // The most recent scheduled moment at or before now (regular schedule or one-shot date):
    // the mirror of DateTimeNextRun over the same calendar rules. NotComputed when there is none.
    // Not cached.
    double DateTimePreviousRun() const;
    // Rebuilds the weekday mask (Monday first, Sunday last). Neither sets Changed nor voids the
    // cache.
    void SetDayOfWeek(bool bMonday, bool bTuesday, bool bWednesday, bool bThursday, bool bFriday, bool bSaturday,
                      bool bSunday);
    // Drops one-shot dates not later than DateLastRun, and lines that are not dates.
    void PurgeOneShotJobs();

    // ---- job file (results are true on FAILURE) ----
    // Clear, FileName = sFileName, then the INI or the legacy line layout. A missing or
    // unreadable file returns true and leaves the cleared job; damaged values take defaults.
    bool OpenBackupJob(const std::string& sFileName);
    // Reads the INI layout (does not set FileName, leaves Changed as it is).
    bool OpenBackupJobIniFile(const std::string& sFileName);
    // Writes the INI layout to FileName (0600, atomic), then tells the job manager (when one
    // exists) and clears Changed.
    bool SaveBackupJobIniFile();
    // The job file operations above, saying what happened rather than flagging a failure.
    enum class FileResult { Done, Failed };
    [[nodiscard]] FileResult Open(const std::string& sFileName) {
        return OpenBackupJob(sFileName) ? FileResult::Failed : FileResult::Done;
    }
    [[nodiscard]] FileResult Save() { return SaveBackupJobIniFile() ? FileResult::Failed : FileResult::Done; }
    // Why the latest SaveBackupJobIniFile of this object could not write the file (the file and
    // the system's reason), "" when it wrote it or did not try.
    const std::string& SaveError() const { return m_SaveError; }

    // New target folder (stored with its final "/") and name, moving the job file to
    // JobFileNameFor(sNewJobName). Refuses (false, nothing changed) a name for which
    // IsSafeJobName is false and a new job file name that another job's file holds. The
    // archives stay where they are: BackupRun::RenameJob moves them. Raises StowError when the
    // job file cannot be moved.
    bool RenameJobFile(const std::string& sNewTargetDirectory, const std::string& sNewJobName);

    // ---- record operations ----
    // Makes this object a never-run copy of source named sNewName, with FileName
    // JobFileNameFor(sNewName) ("" when the name is not safe, so that no save can happen).
    // OneShotDates keeps this object's value. Not saved.
    void CopyJob(const CBackupJob& source, const std::string& sNewName);
    void Clear();

    // ---- run state (no property rules) ----
    double SizeLastRun() const { return m_SizeLastRun; }
    void SetSizeLastRun(double dValue) { m_SizeLastRun = dValue; }
    // What the last run backed up and how long it took (job keys LastRunFiles, LastRunBytes,
    // LastRunSeconds; each -1 when unknown, as in files written before the keys existed, which
    // then load and save without them). Written by the run's record.
    struct LastRunFigures {
        int64_t Files = -1;
        int64_t Bytes = -1;
        double Seconds = -1;
        bool Known() const { return Files >= 0 && Bytes >= 0 && Seconds >= 0; }
        bool operator==(const LastRunFigures&) const = default;
    };
    const LastRunFigures& LastRun() const { return m_LastRun; }
    // Marks the job changed when the figures differ.
    void SetLastRun(const LastRunFigures& figures);
    // "120 files (3.4 MiB) in 2 min 5 s"; "" while unknown.
    std::string LastRunText() const;
    double CachedNextRun() const { return m_CachedNextRun; }
    // Recorded by the backup run: a plain store.
    void SetFailure(bool bValue) { m_Failure = bValue; }
    // Plain stores for loaders, the run and tests; no checks, Changed untouched.
    void SetJobNameRaw(const std::string& sValue) { m_JobName = sValue; }
    void SetTargetDirectoryRaw(const std::string& sValue) { m_TargetDirectory = sValue; }
    void SetFileNameRaw(const std::string& sValue) { m_FileName = sValue; }
    void SetPasswordRaw(const std::string& sValue) { m_Password = sValue; }

    // ---- shared helpers ----
    // The job name without the characters StripFileNameChars removes: what names the job's
    // archives and its temporary folder in the target directory. "" when the name can make no
    // clean name there: "/" or NUL in it, nothing left or nothing but dots once stripped, or
    // more than MaxJobNameBytes bytes.
    static std::string CleanJobName(const std::string& sJobName);
    static constexpr size_t MaxJobNameBytes = 200;
    // A job name that can form a file name inside JobFolder and a clean name in the target
    // directory (CleanJobName not ""). Every place that builds a path from a job name checks it.
    static bool IsSafeJobName(const std::string& sJobName);
    // appMisc::JobFolder() + sJobName + ".slj", or "" when the name is not safe.
    static std::string JobFileNameFor(const std::string& sJobName);
    // "COPIES"/"DAYS"/"WEEKS"/"MONTHS" (case ignored) -> 0..3; anything else 0.
    static int32_t KeepPeriodFromText(const std::string& sText);
    // 0..3 -> "Copies", "Days", "Weeks", "Months"; anything else "".
    static std::string KeepPeriodToText(int32_t lPeriod);
    // Each byte XOR PasswordScrambleKey; applying it twice gives the text back.
    static std::string ScramblePassword(const std::string& sText);
    // The Password value as written to / read from a job file (the scrambled form, escaped only
    // when the scrambled form could not survive an INI line; see the .cpp).
    static std::string PasswordToFileValue(const std::string& sPassword);
    static std::string PasswordFromFileValue(const std::string& sValue);

private:
    bool IsIniJobFile(const std::string& sFileName);
    FileResult ReadLegacyJobFile(const std::string& sFileName);
    FileResult WriteJobFile();
    void WriteOffsiteKeys(IniFile& ini) const;
    void ReadLastRunKeys(const IniFile& ini);
    void WriteLastRunKeys(IniFile& ini) const;
    void ReadHistoryKeys(const IniFile& ini);
    void WriteHistoryKeys(IniFile& ini) const;
    void ReadPingKey(const IniFile& ini);
    void WritePingKey(IniFile& ini) const;
    void ReadDriveKeys(const IniFile& ini);
    void WriteDriveKeys(IniFile& ini) const;
    double ComputeNextRun() const;
    double ComputePreviousRun() const;

    // Fields in declaration order, with the values Clear gives them.
    bool m_Changed = true;
    int32_t m_Tag = -1;
    int32_t m_Status = 0;
    std::string m_FileName;
    std::string m_JobName;
    double m_DateLastRun = NotComputed;
    double m_DateLastSuccess = NotComputed;
    double m_DateLastFailure = NotComputed;
    int64_t m_LastRunStartNs = 0;
    double m_SizeLastRun = -1;
    LastRunFigures m_LastRun;
    int32_t m_RunCount = -1;
    double m_CachedNextRun = NotComputed;
    double m_StartTime = 0.5;
    bool m_Compress = true;
    int32_t m_CopyStyle = 0;
    int32_t m_Frequency = 1;
    int16_t m_DayOfWeek = 2;
    int16_t m_DayOfMonth = 1;
    int16_t m_NumberCopies = 0;
    int32_t m_KeepPeriod = 0;
    std::string m_Password;
    EncryptionKind m_Encryption = EncryptionKind::Traditional;
    bool m_PasswordInKeyring = false;
    std::string m_TargetDirectory;
    std::string m_FilesToZip;
    std::string m_ExcludeSpec;
    bool m_Subdirectories = false;
    bool m_Verify = false;
    std::string m_OffsiteRemote;
    int32_t m_OffsiteKeepDays = DefaultOffsiteKeepDays;
    double m_OffsiteLastSuccess = NotComputed;
    double m_OffsitePending = NotComputed;
    int32_t m_OffsiteFailures = 0;
    bool m_OffsiteFailed = false;
    std::string m_PingUrl;
    bool m_Snapshots = false;
    SnapshotKeep m_SnapshotKeep;
    bool m_ExcludeCaches = false;
    std::string m_TargetVolume;
    bool m_RunOnConnect = false;
    bool m_Failure = false;
    bool m_Incremental = false;
    bool m_Suspended = false;
    std::string m_PreBackupCommand;
    std::string m_PostBackupCommand;
    std::string m_OneShotDates;
    // Not a field: why the latest save failed ("" when it did not).
    std::string m_SaveError;
};
