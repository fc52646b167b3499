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
std::array<ColumnSetting, ColumnCount> Columns = {
    ColumnSetting{0, 2000}, {1, 850}, {-2, 800}, {3, 850}, {4, 800}, {5, 720}, {6, 350}, {-7, 600}, {-8, 650}};
std::string FormSize;

namespace {
const char* const kPrefs = "Preferences";
const char* const kForm = "ScheduleForm";

using libStrings::Trim;

// The classic integer conversion of a text: rounded half to even; a non-number is a type
// mismatch and a value outside the 16- or 32-bit range an overflow.
double ConvertNumber(const std::string& sText, double dMin, double dMax) {
    if (!libStrings::IsNumeric(sText)) throw StowError(StowErrors::TypeMismatch, "Type mismatch");
    double d = libStrings::RoundHalfEven(libStrings::NumericValue(sText));
    if (!(d >= dMin && d <= dMax)) throw StowError(StowErrors::Overflow, "Overflow");
    return d;
}

// The classic boolean conversion of a line: True/False words or a number.
bool ConvertBool(const std::string& sText) {
    std::string s = Trim(sText);
    if (libStrings::IEquals(s, "True")) return true;
    if (libStrings::IEquals(s, "False")) return false;
    if (!libStrings::IsNumeric(s)) throw StowError(StowErrors::TypeMismatch, "Type mismatch");
    return libStrings::NumericValue(s) != 0;
}

void ReadLegacy(const IniFile& ini) {
    SetColumnDefaults();
    const auto& lines = ini.PlainLines();
    auto line = [&](size_t i, bool& bPresent) {
        bPresent = i < lines.size();
        return bPresent ? lines[i] : std::string();
    };
    bool bPresent;
    std::string s = line(0, bPresent);
    MaxBackupCopies = Trim(s).empty() ? 99 : static_cast<int16_t>(ConvertNumber(s, -32768, 32767));
    s = line(1, bPresent);
    StopOnError = Trim(s).empty() ? true : ConvertBool(s);
    s = line(2, bPresent);
    UseSystemTray = (!bPresent || Trim(s).empty()) ? true : ConvertBool(s);
    s = line(3, bPresent);
    if (bPresent && !Trim(s).empty())
        LoggingMode = static_cast<int32_t>(ConvertNumber(s, -2147483648.0, 2147483647.0));
    else if (!bPresent)
        LoggingMode = 0;
    s = line(4, bPresent);
    LogViewCommand = (bPresent && !Trim(s).empty()) ? s : DefaultLogViewCommand;
}

void ReadIni(const IniFile& ini) {
    StopOnError = libStrings::BoolFromIniText(ini.Get(kPrefs, "StopOnError", ""));
    UseSystemTray = libStrings::BoolFromIniText(ini.Get(kPrefs, "UseSystemTray", "True"));
    SaveFormSize = libStrings::BoolFromIniText(ini.Get(kPrefs, "SaveFormSize", ""));
    MaxBackupCopies = libStrings::StrToIntRange(ini.Get(kPrefs, "MaxBackupCopies", ""), 0, 255);
    LoggingMode = libStrings::StrToLongRange(ini.Get(kPrefs, "LoggingMode", ""), 0, 3);
    Commenting = libStrings::StrToLongRange(ini.Get(kPrefs, "Commenting", ""), 0, 2);
    LogViewCommand = ini.Get(kPrefs, "LogViewCommand", "");

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
}
} // namespace

std::string PreferencesFileName() { return appMisc::AppFolder() + "Stowline.txt"; }

void ResetToDefaults() {
    MaxBackupCopies = 99;
    LoggingMode = 0;
    StopOnError = true;
    UseSystemTray = true;
    LogViewCommand = DefaultLogViewCommand;
    SaveFormSize = false;
    Commenting = 0;
    FormSize.clear();
    SetColumnDefaults();
}

void LoadPreferences() {
    try {
        const std::string sFile = PreferencesFileName();
        if (!libFiles::FileExists(sFile)) {
            ResetToDefaults();
            return;
        }
        IniFile ini;
        if (!ini.Load(sFile)) throw ErrorFromErrno(errno, sFile);
        if (!ini.Get(kPrefs, "LoggingMode", "").empty()) {
            ReadIni(ini);
        } else {
            SaveFormSize = false;
            Commenting = 0;
            FormSize.clear();
            ReadLegacy(ini);
        }
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "AppPreferences", "LoadPreferences()", "");
    }
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
        for (int i = 0; i < ColumnCount; ++i)
            ini.Set(kForm, ColumnKeys[i], FormatColumnSetting(Columns[i]));
        ini.Set(kForm, "FormSize", FormSize);
        ini.Save(sFile, 0644);
    } catch (const std::exception& e) {
        libErrorHandler::HandleError(true, ErrorFromException(e), "AppPreferences", "SavePreferences()", "");
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
