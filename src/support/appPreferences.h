#pragma once
// Process-wide preferences, read once at start-up and saved on request, in
// AppFolder() + "Stowline.txt" (INI layout; an older five-line layout is read).

#include <array>
#include <cstdint>
#include <string>

namespace appPreferences {

struct ColumnSetting {
    int16_t Position = 0; // |Position| is the display position; negative = hidden
    int16_t Width = 0;    // twips, 0..20000
};

constexpr int ColumnCount = 9;
// Column identities in key order.
enum Column {
    colJobName,
    colDateLastRun,
    colTimeLastRun,
    colDateNextRun,
    colStartTime,
    colSize,
    colState,
    colRunCount,
    colJobType
};
// "JobName", "DateLastRun", "TimeLastRun", "DateNextRun", "StartTime", "Size", "State", "RunCount", "JobType".
extern const std::array<const char*, ColumnCount> ColumnKeys;
// "Job name", "Date last run", "Time last run", "Date next run", "Start time", "Size", "Status", "Runs", "Type".
extern const std::array<const char*, ColumnCount> ColumnCaptions;

// The values (defaults as with no file).
extern int16_t MaxBackupCopies; // 0..255
extern int32_t LoggingMode;     // 0 Detailed .. 3 Errors only
extern bool StopOnError;
extern bool UseSystemTray;
extern std::string LogViewCommand; // default "xdg-open"
extern bool SaveFormSize;
extern int32_t Commenting; // 0 Never, 1 Always, 2 Job defined
// Run each job's missed scheduled moment once when an agent starts or the clock jumps.
extern bool RunMissedBackups; // default false
// Warn when an active job has no successful backup for this many days (0: never).
extern int32_t StaleDays; // 0..3650, default 7
// Mount a job's target drive (through udisks2) when it is connected; otherwise nothing is mounted.
extern bool MountBackupDrive; // default false
extern std::array<ColumnSetting, ColumnCount> Columns;
extern std::string FormSize; // placement text or ""
extern int32_t MaxLogSizeMB; // a log past this many MiB is rotated at the next run; 0 never
// rclone's --bwlimit for off-site copies, as written (rclone's syntax, timetables too); "" unlimited.
extern std::string OffsiteBandwidth;
// A laptop's power and network (each off by default, and written only once set):
// scheduled runs wait while the machine is on battery;
extern bool PostponeOnBattery;
// scheduled runs go at idle I/O priority and nice 10, with half the cores' workers;
extern bool BackgroundRuns;
// off-site copies of scheduled runs wait while the network is metered.
extern bool PostponeOffsiteMetered;

// Reports off the machine by mail: each key is written only once set, and empty means off.
// The SMTP password is kept in the desktop keyring, never here.
enum class ReportTiming { Off, Failures, Always, Daily };
extern std::string ReportSmtpUrl;  // smtps://host:465, or smtp://host:587 with STARTTLS required
extern std::string ReportSmtpUser; // empty: the server is not logged in to
extern std::string ReportMailFrom; // empty: the first address of ReportMailTo
extern std::string ReportMailTo;   // one address or several, separated by commas
extern ReportTiming ReportWhen;    // ReportWhen: "Failures", "Always" or "Daily" (one digest a day)
extern std::string ReportCaFile;   // certificates trusted instead of the system's (a private CA)
// "Failures", "Always", "Daily"; "" for Off. A text that is none of them reads as Off.
const char* ReportTimingText(ReportTiming timing);
ReportTiming ReportTimingFromText(const std::string& sText);

// The default log viewer on this system.
constexpr const char* DefaultLogViewCommand = "xdg-open";
constexpr int32_t DefaultMaxLogSizeMB = 10;

// AppFolder() + "Stowline.txt".
std::string PreferencesFileName();
// Fills every value from the file (defaults when missing). Trapped ("appPreferences", "LoadPreferences()").
void LoadPreferences();
// Writes every value in INI layout (legacy plain lines kept in front). Trapped ("appPreferences", "SavePreferences()").
void SavePreferences();
// Puts every value back to its no-file default (for tests and start-up).
void ResetToDefaults();
void SetColumnDefaults();
// True when the nine settings form a valid layout.
bool ValidateColumns();
// "pos,width" with both 16-bit integers; on failure the target is unchanged and false is returned.
bool ParseColumnSetting(ColumnSetting& target, const std::string& sText);
// "pos,width".
std::string FormatColumnSetting(const ColumnSetting& setting);

} // namespace appPreferences
