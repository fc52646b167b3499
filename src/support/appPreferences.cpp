#include "support/appPreferences.h"

#include "support/StowError.h"
#include "support/appMisc.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libIni.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace appPreferences {

const std::array<const char*, ColumnCount> ColumnKeys = {
    "JobName", "DateLastRun", "TimeLastRun", "DateNextRun", "StartTime", "Size", "State", "RunCount", "JobType"};
const std::array<const char*, ColumnCount> ColumnCaptions = {
    "Job name", "Date last run", "Time last run", "Date next run", "Start time", "Size", "Status", "Runs", "Type"};

int16_t MaxBackupCopies = 99;
int32_t LoggingMode = 0;
bool StopOnError = true;
bool UseSystemTray = true;
std::string LogViewCommand = DefaultLogViewCommand;
bool SaveFormSize = false;
int32_t Commenting = 0;
bool RunMissedBackups = false;
int32_t StaleDays = 7;
bool MountBackupDrive = false;
std::array<ColumnSetting, ColumnCount> Columns = {
    ColumnSetting{0, 2000}, {1, 850}, {-2, 800}, {3, 850}, {4, 800}, {5, 720}, {6, 350}, {-7, 600}, {-8, 650}};
std::string FormSize;
int32_t MaxLogSizeMB = DefaultMaxLogSizeMB;
std::string OffsiteBandwidth;
std::string ReportSmtpUrl;
std::string ReportSmtpUser;
std::string ReportMailFrom;
std::string ReportMailTo;
ReportTiming ReportWhen = ReportTiming::Off;
std::string ReportCaFile;

namespace {
// The report keys in [Preferences], each with its value.
struct ReportKey {
    const char* Name;
    std::string* Value;
};
const std::array<ReportKey, 5> kReportKeys{{{"ReportSmtpUrl", &ReportSmtpUrl},
                                            {"ReportSmtpUser", &ReportSmtpUser},
                                            {"ReportMailFrom", &ReportMailFrom},
                                            {"ReportMailTo", &ReportMailTo},
                                            {"ReportCaFile", &ReportCaFile}}};
} // namespace

const char* ReportTimingText(ReportTiming timing) {
    switch (timing) {
    case ReportTiming::Failures:
        return "Failures";
    case ReportTiming::Always:
        return "Always";
    case ReportTiming::Daily:
        return "Daily";
    case ReportTiming::Off:
        break;
    }
    return "";
}

ReportTiming ReportTimingFromText(const std::string& sText) {
    const std::string s = libStrings::Trim(sText);
    for (ReportTiming t : {ReportTiming::Failures, ReportTiming::Always, ReportTiming::Daily})
        if (libStrings::IEquals(s, ReportTimingText(t))) return t;
    return ReportTiming::Off;
}
bool PostponeOnBattery = false;
bool BackgroundRuns = false;
bool PostponeOffsiteMetered = false;

namespace {
const char* const kPrefs = "Preferences";
const char* const kForm = "ScheduleForm";

using libStrings::Trim;

// The names of the values that could not be read and took their defaults.
using Damaged = std::vector<std::string>;

// The classic integer conversion of a line (rounded half to even), or nothing when the text
// is no number or lies outside [dMin, dMax].
bool ConvertNumber(const std::string& sText, double dMin, double dMax, double& dValue) {
    if (!libStrings::IsNumeric(sText)) return false;
    const double d = libStrings::RoundHalfEven(libStrings::NumericValue(sText));
    if (!(d >= dMin && d <= dMax)) return false;
    dValue = d;
    return true;
}

// The classic boolean conversion of a line: True/False words or a number.
bool ConvertBool(const std::string& sText, bool& bValue) {
    const std::string s = Trim(sText);
    if (libStrings::IEquals(s, "True"))
        bValue = true;
    else if (libStrings::IEquals(s, "False"))
        bValue = false;
    else if (libStrings::IsNumeric(s))
        bValue = libStrings::NumericValue(s) != 0;
    else
        return false;
    return true;
}

std::string JoinNames(const Damaged& names) {
    std::string s;
    for (const auto& n : names)
        s += (s.empty() ? "" : ", ") + n;
    return s;
}

void ReadLegacy(const IniFile& ini, Damaged& damaged) {
    SetColumnDefaults();
    const auto& lines = ini.PlainLines();
    auto line = [&](size_t i, bool& bPresent) {
        bPresent = i < lines.size();
        return bPresent ? lines[i] : std::string();
    };
    bool bPresent;
    double d = 0;
    std::string s = line(0, bPresent);
    MaxBackupCopies = 99;
    if (!Trim(s).empty()) {
        if (ConvertNumber(s, -32768, 32767, d))
            MaxBackupCopies = static_cast<int16_t>(d);
        else
            damaged.push_back("MaxBackupCopies");
    }
    // A boolean line: empty or missing gives true, and so does one that cannot be read.
    auto readBool = [&](size_t i, const char* sName) {
        const std::string sLine = line(i, bPresent);
        bool b = true;
        if (bPresent && !Trim(sLine).empty() && !ConvertBool(sLine, b)) {
            damaged.push_back(sName);
            b = true;
        }
        return b;
    };
    StopOnError = readBool(1, "StopOnError");
    UseSystemTray = readBool(2, "UseSystemTray");
    s = line(3, bPresent);
    if (bPresent && !Trim(s).empty()) {
        if (ConvertNumber(s, -2147483648.0, 2147483647.0, d)) {
            LoggingMode = static_cast<int32_t>(d);
        } else {
            LoggingMode = 0;
            damaged.push_back("LoggingMode");
        }
    } else if (!bPresent) {
        LoggingMode = 0;
    }
    s = line(4, bPresent);
    LogViewCommand = (bPresent && !Trim(s).empty()) ? s : DefaultLogViewCommand;
}

// The INI rules read any text (a non-number counts as 0, ranges clamp, a boolean takes the
// leading number), so nothing stops the load; a value that holds no number at all is still
// named as damaged.
void NoteDamagedNumber(const IniFile& ini, const char* sKey, bool bBoolean, Damaged& damaged) {
    const std::string s = Trim(ini.Get(kPrefs, sKey, ""));
    if (s.empty() || libStrings::IsNumeric(s) || (bBoolean && s == "True")) return;
    size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
    if (i < s.size() && s[i] == '.') ++i;
    if (bBoolean && i < s.size() && s[i] >= '0' && s[i] <= '9') return;
    damaged.push_back(sKey);
}

void ReadIni(const IniFile& ini, Damaged& damaged) {
    StopOnError = libStrings::BoolFromIniText(ini.Get(kPrefs, "StopOnError", ""));
    UseSystemTray = libStrings::BoolFromIniText(ini.Get(kPrefs, "UseSystemTray", "True"));
    SaveFormSize = libStrings::BoolFromIniText(ini.Get(kPrefs, "SaveFormSize", ""));
    MaxBackupCopies = libStrings::StrToIntRange(ini.Get(kPrefs, "MaxBackupCopies", ""), 0, 255);
    LoggingMode = libStrings::StrToLongRange(ini.Get(kPrefs, "LoggingMode", ""), 0, 3);
    Commenting = libStrings::StrToLongRange(ini.Get(kPrefs, "Commenting", ""), 0, 2);
    LogViewCommand = ini.Get(kPrefs, "LogViewCommand", "");
    // Keys newer than the file read as their defaults.
    RunMissedBackups = libStrings::BoolFromIniText(ini.Get(kPrefs, "RunMissedBackups", ""));
    StaleDays = libStrings::StrToLongRange(ini.Get(kPrefs, "StaleDays", "7"), 0, 3650);
    MountBackupDrive = libStrings::BoolFromIniText(ini.Get(kPrefs, "MountBackupDrive", ""));
    for (const char* sKey : {"MaxBackupCopies", "LoggingMode", "Commenting", "StaleDays"})
        NoteDamagedNumber(ini, sKey, false, damaged);
    // Absent (a file of an older version) or unreadable: the default, never "unlimited".
    const std::string sMaxLog = Trim(ini.Get(kPrefs, "MaxLogSizeMB", ""));
    MaxLogSizeMB = sMaxLog.empty() ? DefaultMaxLogSizeMB : libStrings::StrToLongRange(sMaxLog, 0, 1 << 20);
    const size_t iDamagedBefore = damaged.size();
    NoteDamagedNumber(ini, "MaxLogSizeMB", false, damaged);
    if (damaged.size() != iDamagedBefore) MaxLogSizeMB = DefaultMaxLogSizeMB;
    for (const char* sKey : {"StopOnError", "UseSystemTray", "SaveFormSize", "RunMissedBackups"})
        NoteDamagedNumber(ini, sKey, true, damaged);
    for (const char* sKey : {"PostponeOnBattery", "BackgroundRuns", "PostponeOffsiteMetered"})
        NoteDamagedNumber(ini, sKey, true, damaged);

    bool bFailed = false;
    for (int i = 0; i < ColumnCount; ++i) {
        if (!ParseColumnSetting(Columns[i], ini.Get(kForm, ColumnKeys[i], ""))) bFailed = true;
        if (i == colJobName) Columns[i].Position = 0;
    }
    if (bFailed || !ValidateColumns()) {
        SetColumnDefaults();
        libLog::LogEvent("Column settings invalid resetting to defaults");
    }
    FormSize = SaveFormSize ? ini.Get(kForm, "FormSize", "") : "";
    OffsiteBandwidth = Trim(ini.Get(kPrefs, "OffsiteBandwidth", ""));
    for (const ReportKey& key : kReportKeys)
        *key.Value = Trim(ini.Get(kPrefs, key.Name, ""));
    ReportWhen = ReportTimingFromText(ini.Get(kPrefs, "ReportWhen", ""));
    PostponeOnBattery = libStrings::BoolFromIniText(ini.Get(kPrefs, "PostponeOnBattery", ""));
    BackgroundRuns = libStrings::BoolFromIniText(ini.Get(kPrefs, "BackgroundRuns", ""));
    PostponeOffsiteMetered = libStrings::BoolFromIniText(ini.Get(kPrefs, "PostponeOffsiteMetered", ""));
}
} // namespace

std::string PreferencesFileName() { return appMisc::AppFolder() + "Stowline.txt"; }

namespace {
// The settings the older plain-line file does not hold, at their defaults.
void NewerSettingsToDefaults() {
    SaveFormSize = false;
    Commenting = 0;
    RunMissedBackups = false;
    StaleDays = 7;
    MountBackupDrive = false;
    FormSize.clear();
    MaxLogSizeMB = DefaultMaxLogSizeMB;
    OffsiteBandwidth.clear();
    for (const ReportKey& key : kReportKeys)
        key.Value->clear();
    ReportWhen = ReportTiming::Off;
    PostponeOnBattery = false;
    BackgroundRuns = false;
    PostponeOffsiteMetered = false;
}
} // namespace

void ResetToDefaults() {
    MaxBackupCopies = 99;
    LoggingMode = 0;
    StopOnError = true;
    UseSystemTray = true;
    LogViewCommand = DefaultLogViewCommand;
    NewerSettingsToDefaults();
    SetColumnDefaults();
}

// A damaged or unreadable preferences file never stops start-up: whatever cannot be read takes
// its default, and one warning line says so.
void LoadPreferences() {
    const std::string sFile = PreferencesFileName();
    Damaged damaged;
    try {
        if (!libFiles::PathExists(sFile)) {
            ResetToDefaults();
            return;
        }
        IniFile ini;
        ini.Parse(libFiles::ReadWholeFile(sFile));
        if (!ini.Get(kPrefs, "LoggingMode", "").empty()) {
            ReadIni(ini, damaged);
        } else {
            NewerSettingsToDefaults();
            ReadLegacy(ini, damaged);
        }
    } catch (const std::exception& e) {
        ResetToDefaults();
        const StowError err = ErrorFromException(e);
        libLog::LogEvent("Preferences file '" + sFile + "' cannot be read (" + err.Reason() + "); defaults used");
        return;
    }
    if (!damaged.empty())
        libLog::LogEvent("Preferences file '" + sFile + "' is damaged; defaults used for: " + JoinNames(damaged));
}

void SavePreferences() {
    try {
        const std::string sFile = PreferencesFileName();
        IniFile ini;
        if (libFiles::FileExists(sFile) && !ini.Load(sFile)) throw ErrorFromErrno(errno, sFile);
        ini.Set(kPrefs, "MaxBackupCopies", std::to_string(MaxBackupCopies));
        ini.Set(kPrefs, "LoggingMode", std::to_string(LoggingMode));
        ini.Set(kPrefs, "StopOnError", libStrings::BoolToIniText(StopOnError));
        ini.Set(kPrefs, "UseSystemTray", libStrings::BoolToIniText(UseSystemTray));
        ini.Set(kPrefs, "LogViewCommand", LogViewCommand);
        ini.Set(kPrefs, "SaveFormSize", libStrings::BoolToIniText(SaveFormSize));
        ini.Set(kPrefs, "Commenting", std::to_string(Commenting));
        ini.Set(kPrefs, "RunMissedBackups", libStrings::BoolToIniText(RunMissedBackups));
        ini.Set(kPrefs, "StaleDays", std::to_string(StaleDays));
        ini.Set(kPrefs, "MaxLogSizeMB", std::to_string(MaxLogSizeMB));
        // Written only when set, so a file without it stays as it was.
        if (MountBackupDrive || ini.Has(kPrefs, "MountBackupDrive"))
            ini.Set(kPrefs, "MountBackupDrive", libStrings::BoolToIniText(MountBackupDrive));
        if (!OffsiteBandwidth.empty() || ini.Has(kPrefs, "OffsiteBandwidth"))
            ini.Set(kPrefs, "OffsiteBandwidth", OffsiteBandwidth);
        for (const ReportKey& key : kReportKeys)
            if (!key.Value->empty() || ini.Has(kPrefs, key.Name)) ini.Set(kPrefs, key.Name, *key.Value);
        if (ReportWhen != ReportTiming::Off || ini.Has(kPrefs, "ReportWhen"))
            ini.Set(kPrefs, "ReportWhen", ReportTimingText(ReportWhen));
        for (const auto& [sKey, bValue] :
             {std::pair{"PostponeOnBattery", PostponeOnBattery}, std::pair{"BackgroundRuns", BackgroundRuns},
              std::pair{"PostponeOffsiteMetered", PostponeOffsiteMetered}})
            if (bValue || ini.Has(kPrefs, sKey)) ini.Set(kPrefs, sKey, libStrings::BoolToIniText(bValue));
        for (int i = 0; i < ColumnCount; ++i)
            ini.Set(kForm, ColumnKeys[i], FormatColumnSetting(Columns[i]));
        ini.Set(kForm, "FormSize", FormSize);
        ini.Save(sFile, 0600); // private, as every file Stowline keeps for itself
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "appPreferences", "SavePreferences()", "");
    }
}

void SetColumnDefaults() {
    Columns = {
        ColumnSetting{0, 2000}, {1, 850}, {-2, 800}, {3, 850}, {4, 800}, {5, 720}, {6, 350}, {-7, 600}, {-8, 650}};
}

bool ValidateColumns() {
    bool bUsed[ColumnCount] = {};
    for (auto& c : Columns) {
        int iPos = std::abs(static_cast<int>(c.Position));
        if (iPos > 8 || bUsed[iPos] || c.Width < 0 || c.Width > 20000) return false;
        bUsed[iPos] = true;
    }
    return true;
}

bool ParseColumnSetting(ColumnSetting& target, const std::string& sText) {
    size_t iComma = sText.find(',');
    if (iComma == std::string::npos) return false;
    std::string a = sText.substr(0, iComma), b = sText.substr(iComma + 1);
    if (!libStrings::IsNumeric(a) || !libStrings::IsNumeric(b)) return false;
    double dPos = libStrings::RoundHalfEven(libStrings::NumericValue(a));
    double dWidth = libStrings::RoundHalfEven(libStrings::NumericValue(b));
    if (!(dPos >= -32768 && dPos <= 32767 && dWidth >= -32768 && dWidth <= 32767)) return false;
    target.Position = static_cast<int16_t>(dPos);
    target.Width = static_cast<int16_t>(dWidth);
    return true;
}

std::string FormatColumnSetting(const ColumnSetting& setting) {
    return std::to_string(setting.Position) + "," + std::to_string(setting.Width);
}

} // namespace appPreferences
