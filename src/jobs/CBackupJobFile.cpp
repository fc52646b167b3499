// The job file: the INI layout (read and written) and the older line layout (read only).
//
// Damaged files are an expected condition here: a value that does not convert takes the
// field's default, missing lines or keys take defaults, and any byte sequence loads without
// an error report. Values are read whole, so whatever a save writes reads back equal.

#include "jobs/CBackupJob.h"

#include "jobs/CBackupJobManager.h"
#include "support/StowError.h"
#include "support/appMisc.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libIni.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using libErrorHandler::Trap;
using namespace libStrings;

namespace {
constexpr const char* kModule = "CBackupJob";
constexpr mode_t kJobFileMode = 0600; // job files hold passwords
// A job file is a few kilobytes; anything far larger is not one, and is not read into memory.
constexpr uint64_t kMaxJobFileBytes = 64ull << 20;

bool TooLargeForAJobFile(const std::string& sFileName) { return libFiles::FileLen(sFileName) > kMaxJobFileBytes; }

// The shortest decimal text that reads back as the same number ("-1", "350", "1e+21").
std::string ShortestNumber(double d) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, res.ptr);
}

double DateOrDefault(const std::string& sText, double dDefault) {
    double d;
    return libDates::ParseDateTime(sText, d) ? d : dDefault;
}

// A run's start in ns since 1970: digits only, positive and within int64; anything else is none.
int64_t RunStartOrNone(const std::string& sText) {
    const std::string s = Trim(sText);
    if (s.empty() || s.size() > 19 || s.find_first_not_of("0123456789") != std::string::npos) return 0;
    const unsigned long long u = std::stoull(s);
    return u <= static_cast<unsigned long long>(INT64_MAX) ? static_cast<int64_t>(u) : 0;
}

double TimeOrMidnight(const std::string& sText) {
    double d;
    return libDates::ParseDateTime(sText, d) ? libDates::TimeValue(d) : 0.0;
}

// A whole number that fits the range, or nothing.
bool WholeNumber(const std::string& sText, double dMin, double dMax, double& dValue) {
    if (!IsNumeric(sText)) return false;
    double d = RoundHalfEven(NumericValue(sText));
    if (!std::isfinite(d) || d < dMin || d > dMax) return false;
    dValue = d;
    return true;
}

// A boolean text as the old layout wrote it: True/False (any case) or a number.
bool LegacyBool(const std::string& sText, bool& bValue) {
    std::string s = Trim(sText);
    if (IEquals(s, "True"))
        bValue = true;
    else if (IEquals(s, "False"))
        bValue = false;
    else if (IsNumeric(s))
        bValue = NumericValue(s) != 0;
    else
        return false;
    return true;
}

// The old layout's small integers: the value of "0" followed by the line.
bool LegacyInt16(const std::string& sLine, int16_t& iValue) {
    double d;
    if (!WholeNumber("0" + sLine, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max(), d))
        return false;
    iValue = static_cast<int16_t>(d);
    return true;
}

// Lines ended by CR LF, LF or CR.
std::vector<std::string> SplitLines(const std::string& sText) {
    std::vector<std::string> lines;
    std::string sLine;
    for (size_t i = 0; i < sText.size(); ++i) {
        char c = sText[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(sLine);
            sLine.clear();
            if (c == '\r' && i + 1 < sText.size() && sText[i + 1] == '\n') ++i;
        } else {
            sLine += c;
        }
    }
    if (!sLine.empty()) lines.push_back(sLine);
    return lines;
}

// No path can hold a NUL byte: the system would read such a value only up to it, so a walk or
// removal would meet a different path than the one it joins names to.
bool HoldsNoPathByte(const std::string& sValue) { return sValue.find('\0') != std::string::npos; }

// A path value that no path can hold is dropped with one log line naming the file and the key.
std::string PathValue(const std::string& sValue, const std::string& sFileName, const std::string& sKey) {
    if (!HoldsNoPathByte(sValue)) return sValue;
    libLog::LogEvent("Job file '" + sFileName + "': value of " + sKey + " dropped: it holds a byte no path can hold");
    return "";
}

// A list section: keys sPrefix + 0, 1, ...; stops at the first empty value; blank values are
// skipped; bDatesOnly keeps only date texts; with a file name given, path values are checked. Each key is removed from
// the (scratch) copy once read, so the next key is found at the front and a long list reads in linear time.
std::string ReadList(IniFile& ini, const std::string& sSection, const std::string& sPrefix, bool bDatesOnly,
                     const std::string& sPathsOf = "") {
    std::string sList;
    for (long i = 0;; ++i) {
        const std::string sKey = sPrefix + std::to_string(i);
        std::string sValue = ini.Get(sSection, sKey, "");
        // A value of blanks only is passed over; an empty or missing one ends the list.
        const bool bBlanks = sValue.empty() && ini.HasBlankValue(sSection, sKey);
        ini.Remove(sSection, sKey);
        if (bBlanks) continue;
        if (sValue.empty()) break;
        if (Trim(sValue).empty()) continue;
        double d;
        if (bDatesOnly && !libDates::ParseDateTime(sValue, d)) continue;
        if (!sPathsOf.empty() && PathValue(sValue, sPathsOf, sSection + "/" + sKey).empty()) continue;
        sList += sValue + "\r\n";
    }
    return sList;
}
// The key with its value while bPresent, else no key at all.
void SetOrRemove(IniFile& ini, const char* sKey, bool bPresent, const std::string& sValue) {
    if (bPresent)
        ini.Set("Config", sKey, sValue);
    else
        ini.Remove("Config", sKey);
}
} // namespace

bool CBackupJob::OpenBackupJob(const std::string& sFileName) {
    return Trap(kModule, "OpenBackupJob()", [&] {
        Clear();
        m_FileName = sFileName;
        if (sFileName.empty()) {
            m_Tag = -1;
            return true;
        }
        if (TooLargeForAJobFile(sFileName)) return true;
        if (IsIniJobFile(sFileName)) return OpenBackupJobIniFile(sFileName);
        return ReadLegacyJobFile(sFileName) != FileResult::Done;
    });
}

bool CBackupJob::IsIniJobFile(const std::string& sFileName) {
    IniFile ini;
    if (!ini.Load(sFileName)) return false;
    return !ini.Get("Config", "JobName", "").empty();
}

bool CBackupJob::OpenBackupJobIniFile(const std::string& sFileName) {
    return Trap(kModule, "OpenBackupJobIniFile()", [&] {
        IniFile ini;
        if (TooLargeForAJobFile(sFileName) || !ini.Load(sFileName)) return true;
        auto get = [&](const char* sKey) { return ini.Get("Config", sKey, ""); };

        m_Suspended = false;
        m_JobName = get("JobName");
        m_DateLastRun = DateOrDefault(get("DateLastRun"), NotComputed);
        m_DateLastSuccess = DateOrDefault(get("DateLastSuccess"), NotComputed);
        m_DateLastFailure = DateOrDefault(get("DateLastFailure"), NotComputed);
        m_LastRunStartNs = RunStartOrNone(get("LastRunStartNs"));
        {
            std::string s = get("SizeLastRun");
            double d = IsNumeric(s) ? std::trunc(NumericValue(s)) : -1;
            m_SizeLastRun = std::isfinite(d) ? d : -1;
        }
        m_RunCount = StrToLongRange(get("RunCount"), 0, 2147483647);
        m_StartTime = TimeOrMidnight(get("StartTime"));
        m_Frequency = StrToIntRange(get("Frequency"), 1, 4);
        m_DayOfWeek = StrToIntRange(get("DayOfWeek"), 2, 254);
        if (m_Frequency == Daily && m_DayOfWeek != AllDays) m_Frequency = Weekly;
        m_DayOfMonth = StrToIntRange(get("DayOfMonth"), 1, 28);
        m_Compress = BoolFromIniText(get("Compress"));
        m_CopyStyle = StrToIntRange(get("CopyStyle"), 0, 2);
        m_KeepPeriod = KeepPeriodFromText(get("KeepPeriod"));
        if (m_KeepPeriod == KeepCopies)
            m_NumberCopies = StrToIntRange(get("KeepCount"), 0, 99);
        else
            m_NumberCopies = StrToIntRange(get("KeepCount"), 1, 30);
        m_Password = PasswordFromFileValue(get("Password"));
        m_Encryption = get("Encryption") == "AES256" ? EncryptionKind::Aes256 : EncryptionKind::Traditional;
        // A password kept in the keyring is never taken from the file, whatever the file says.
        m_PasswordInKeyring = libStrings::IEquals(Trim(get("PasswordStore")), "Keyring");
        if (m_PasswordInKeyring) m_Password.clear();
        m_Subdirectories = BoolFromIniText(get("ParseSubDir"));
        m_Incremental = BoolFromIniText(get("Incremental"));
        m_Verify = BoolFromIniText(get("Verify"));
        m_OffsiteRemote = Trim(get("OffsiteRemote"));
        m_OffsiteKeepDays = ini.Has("Config", "OffsiteKeepDays") ? StrToLongRange(get("OffsiteKeepDays"), 1, 36500)
                                                                 : DefaultOffsiteKeepDays;
        m_OffsiteLastSuccess = DateOrDefault(get("OffsiteLastSuccess"), NotComputed);
        m_OffsitePending = DateOrDefault(get("OffsitePending"), NotComputed);
        m_OffsiteFailures = StrToLongRange(get("OffsiteFailures"), 0, 2147483647);
        ReadLastRunKeys(ini);
        ReadHistoryKeys(ini);
        ReadPingKey(ini);
        ReadDriveKeys(ini);
        m_Suspended = BoolFromIniText(get("Suspended"));
        m_TargetDirectory = PathValue(get("TargetDir"), sFileName, "Config/TargetDir");
        m_PreBackupCommand = get("PreBackupCommand");
        m_PostBackupCommand = get("PostBackupCommand");

        m_FilesToZip = ReadList(ini, "Source", "File_", false, sFileName);
        m_ExcludeSpec = ReadList(ini, "Exclude", "File_", false, sFileName);
        m_OneShotDates = ReadList(ini, "OneShot", "", true);
        return false;
    });
}

// The older layout, one value per line (see the table in the loader below). Lines that do not
// convert keep the field's default.
CBackupJob::FileResult CBackupJob::ReadLegacyJobFile(const std::string& sFileName) {
    std::string sText;
    try {
        sText = libFiles::ReadWholeFile(sFileName);
    } catch (const std::exception&) {
        return FileResult::Failed; // missing or unreadable: the cleared job stays
    }
    const std::vector<std::string> lines = SplitLines(sText);
    size_t n = 0;
    auto next = [&]() -> std::string { return n < lines.size() ? lines[n++] : std::string(); };

    m_JobName = next();                                                 // 1 job name
    m_DateLastRun = DateOrDefault(next(), std::floor(libDates::Now())); // 2 last run
    m_StartTime = TimeOrMidnight(next());                               // 3 start time
    {                                                                   // 4 frequency
        double d;
        if (WholeNumber(next(), std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), d))
            m_Frequency = static_cast<int32_t>(d);
    }
    LegacyInt16(next(), m_DayOfWeek); // 5 weekday mask
    if (m_Frequency == Daily && m_DayOfWeek != AllDays) m_Frequency = Weekly;
    LegacyInt16(next(), m_DayOfMonth);    // 6 day of month
    LegacyBool(next(), m_Compress);       // 7 compress
    LegacyInt16(next(), m_NumberCopies);  // 8 copies
    m_Password = next();                  // 9 password, plain
    LegacyBool(next(), m_Subdirectories); // 10 sub-folders
    // 11: the optional incremental flag. Empty: no flag, and this empty line is the target.
    // A boolean: the flag, with the target on the next line. Anything else comes from a file
    // written before the flag existed: it is the target itself.
    std::string sLine = next();
    bool bFlag = false;
    if (sLine.empty()) {
        m_Incremental = false;
        m_TargetDirectory = "";
    } else if (LegacyBool(sLine, bFlag)) {
        m_Incremental = bFlag;
        m_TargetDirectory = next();
    } else {
        m_Incremental = false;
        m_TargetDirectory = sLine;
    }
    m_TargetDirectory = PathValue(m_TargetDirectory, sFileName, "TargetDir (line " + std::to_string(n) + ")");
    std::string sSources;
    while (n < lines.size()) {
        std::string s = next();
        if (!Trim(s).empty() && !PathValue(s, sFileName, "Source (line " + std::to_string(n) + ")").empty())
            sSources += s + "\r\n";
    }
    m_FilesToZip = sSources;
    m_Changed = false;
    return FileResult::Done;
}

bool CBackupJob::SaveBackupJobIniFile() {
    return Trap(kModule, "SaveBackupJobIniFile()", [&] { return WriteJobFile() != FileResult::Done; });
}

void CBackupJob::WriteOffsiteKeys(IniFile& ini) const {
    auto set = [&](const char* sKey, const std::string& sValue) { ini.Set("Config", sKey, sValue); };
    // The off-site keys appear only for jobs that use them.
    if (!m_OffsiteRemote.empty() || ini.Has("Config", "OffsiteRemote")) set("OffsiteRemote", m_OffsiteRemote);
    if (m_OffsiteKeepDays != DefaultOffsiteKeepDays || ini.Has("Config", "OffsiteKeepDays"))
        set("OffsiteKeepDays", std::to_string(m_OffsiteKeepDays));
    if (m_OffsiteLastSuccess > NotComputed)
        set("OffsiteLastSuccess", libDates::Format(m_OffsiteLastSuccess, "mm/dd/yyyy hh:mm:ss"));
    // What waits for the remote, and how often sending it failed: present only while so.
    SetOrRemove(ini, "OffsitePending", m_OffsitePending > NotComputed,
                libDates::Format(m_OffsitePending, "mm/dd/yyyy hh:mm:ss"));
    SetOrRemove(ini, "OffsiteFailures", m_OffsiteFailures > 0, std::to_string(m_OffsiteFailures));
}

CBackupJob::FileResult CBackupJob::WriteJobFile() {
    // Nowhere to write: a job whose name could not form a file name in the job folder.
    if (m_FileName.empty()) return FileResult::Failed;
    m_SaveError.clear();
    libFiles::uMkDir(appMisc::JobFolder());

    IniFile ini;
    if (!TooLargeForAJobFile(m_FileName)) ini.Load(m_FileName); // keep whatever else the file holds
    auto set = [&](const char* sKey, const std::string& sValue) { ini.Set("Config", sKey, sValue); };
    set("JobName", m_JobName);
    set("DateLastRun", libDates::Format(m_DateLastRun, "mmm-dd-yyyy hh:mm"));
    // Only a run that succeeded gives the key; until then the file has none (nothing invented).
    SetOrRemove(ini, "DateLastSuccess", m_DateLastSuccess > NotComputed,
                libDates::Format(m_DateLastSuccess, "mmm-dd-yyyy hh:mm"));
    // The failed last run to the second (the keys above keep their minute format for older
    // readers); only a failed run gives it, and a success takes it away again.
    SetOrRemove(ini, "DateLastFailure", m_DateLastFailure > NotComputed,
                libDates::Format(m_DateLastFailure, "mm/dd/yyyy hh:mm:ss"));
    SetOrRemove(ini, "LastRunStartNs", m_LastRunStartNs > 0, std::to_string(m_LastRunStartNs));
    set("SizeLastRun", ShortestNumber(m_SizeLastRun));
    set("RunCount", std::to_string(m_RunCount));
    set("StartTime", libDates::Format(m_StartTime, "hh:mm"));
    set("Frequency", std::to_string(m_Frequency));
    set("DayOfWeek", std::to_string(m_DayOfWeek));
    set("DayOfMonth", std::to_string(m_DayOfMonth));
    set("Compress", BoolToIniText(m_Compress));
    set("CopyStyle", std::to_string(m_CopyStyle));
    set("KeepCount", std::to_string(m_NumberCopies));
    set("KeepPeriod", KeepPeriodToText(m_KeepPeriod));
    set("Password", PasswordToFileValue(m_Password));
    // Written only once it differs from the old behaviour, so older job files stay as they were.
    if (m_Encryption != EncryptionKind::Traditional || ini.Has("Config", "Encryption"))
        set("Encryption", m_Encryption == EncryptionKind::Aes256 ? "AES256" : "Traditional");
    // With the keyring the file holds no password, not even one read into memory for a run.
    set("Password", m_PasswordInKeyring ? std::string() : PasswordToFileValue(m_Password));
    // Written only once it differs from File, so that older files stay as they were.
    if (m_PasswordInKeyring || ini.Has("Config", "PasswordStore"))
        set("PasswordStore", m_PasswordInKeyring ? "Keyring" : "File");
    set("ParseSubDir", BoolToIniText(m_Subdirectories));
    set("Incremental", BoolToIniText(m_Incremental));
    set("Suspended", BoolToIniText(m_Suspended));
    // Written only once it was ever turned on, so that the files of jobs without it stay as
    // they were.
    if (m_Verify || ini.Has("Config", "Verify")) set("Verify", BoolToIniText(m_Verify));
    WriteOffsiteKeys(ini);
    WriteLastRunKeys(ini);
    WriteHistoryKeys(ini);
    WritePingKey(ini);
    WriteDriveKeys(ini);
    set("PreBackupCommand", m_PreBackupCommand);
    set("PostBackupCommand", m_PostBackupCommand);
    set("TargetDir", m_TargetDirectory);

    // A full disk or a read-only folder is no reason to end the program (a run that just ended
    // keeps its outcome): the save fails, and the log (or standard error) says why.
    auto save = [&] {
        try {
            ini.Save(m_FileName, kJobFileMode);
            m_SaveError.clear();
            return true;
        } catch (const StowError& e) {
            m_SaveError = "Job file '" + m_FileName + "' could not be saved: " + e.Reason();
            libLog::LogEvent(m_SaveError);
            return false;
        }
    };
    // One list section: every element (bKeepEmpty) or only the non-empty ones, keyed by index.
    auto writeList = [&](const char* sSection, const std::string& sList, const std::string& sPrefix, bool bKeepEmpty,
                         const char* sError) {
        std::vector<std::string> items;
        if (GetFileList(sList, items)) {
            libLog::LogEvent(sError);
            return false;
        }
        std::vector<std::string> data;
        for (size_t i = 0; i < items.size(); ++i)
            if (bKeepEmpty || !items[i].empty())
                data.push_back(sPrefix + std::to_string(i) + "=" + libIni::QuoteIfNeeded(items[i]));
        ini.WriteSection(sSection, data);
        return true;
    };
    if (!writeList("Source", m_FilesToZip, "File_", true, "Error loading list of files and folders to backup.") ||
        !writeList("Exclude", m_ExcludeSpec, "File_", false, "Error loading exclude specifications.") ||
        !writeList("OneShot", m_OneShotDates, "", false, "Error loading one shot backup dates.")) {
        return save() ? FileResult::Done : FileResult::Failed;
    }
    if (!save()) return FileResult::Failed;

    if (CBackupJobManager* pManager = JobManager()) pManager->Update(*this, true);
    m_Changed = false;
    return FileResult::Done;
}
