#include "jobs/CBackupJob.h"

#include "jobs/CBackupJobManager.h"
#include "support/appMisc.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libStrings.h"

#include <cmath>
#include <sys/stat.h>

using libErrorHandler::Trap;

namespace {
constexpr const char* kModule = "CBackupJob";

// Schedule values are whole seconds; comparing them as seconds keeps float noise out of the
// "earlier than or equal" rules (a start time read from "10:00" and one built from fields can
// differ in the last bit).
int64_t Seconds(double d) { return std::llround(d * 86400.0); }
// The clock may carry a fraction of a second: it counts as the second it is in.
int64_t SecondsOfNow(double d) { return static_cast<int64_t>(std::floor(d * 86400.0 + 1e-3)); }

// Both paths name one existing file.
bool SameFile(const std::string& sA, const std::string& sB) {
    struct stat a {
    }, b{};
    return ::stat(sA.c_str(), &a) == 0 && ::stat(sB.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
} // namespace

CBackupJob::CBackupJob() { Clear(); }

// ---------------------------------------------------------------- properties

void CBackupJob::SetRunCount(int32_t lValue) {
    if (lValue < 0 || lValue == m_RunCount) return;
    m_RunCount = lValue;
    m_Changed = true;
}

void CBackupJob::SetCopyStyle(int32_t lValue) {
    if (lValue == m_CopyStyle) return;
    m_CopyStyle = lValue;
    m_Changed = true;
}

std::string CBackupJob::StatusAsStr() const {
    if (Valid() && !m_Suspended) {
        switch (m_Frequency) {
        case Daily:
            return "D";
        case Weekly:
            return "W";
        case Monthly:
            return "M";
        case OneShot:
            return "O";
        default:
            return "?";
        }
    }
    if (!Valid()) return "#";
    return "S";
}

void CBackupJob::SetExcludeSpec(const std::string& sValue) {
    if (sValue == m_ExcludeSpec) return;
    m_ExcludeSpec = sValue;
    m_Changed = true;
}

void CBackupJob::SetOneShotDates(const std::string& sValue) {
    if (sValue == m_OneShotDates) return;
    m_OneShotDates = sValue;
    m_CachedNextRun = NotComputed;
    m_Changed = true;
}

void CBackupJob::SetPreBackupCommand(const std::string& sValue) {
    if (sValue == m_PreBackupCommand) return;
    m_PreBackupCommand = sValue;
    m_Changed = true;
}

void CBackupJob::SetPostBackupCommand(const std::string& sValue) {
    if (sValue == m_PostBackupCommand) return;
    m_PostBackupCommand = sValue;
    m_Changed = true;
}

void CBackupJob::SetSuspended(bool bValue) {
    if (bValue == m_Suspended) return;
    m_Suspended = bValue;
    m_Changed = true;
}

void CBackupJob::SetKeepPeriod(int32_t lValue) {
    if (lValue == m_KeepPeriod) return;
    m_KeepPeriod = lValue;
    m_Changed = true;
}

void CBackupJob::SetDateLastRun(double dValue) {
    if (dValue == m_DateLastRun) return;
    m_DateLastRun = dValue;
    m_Changed = true;
}

void CBackupJob::SetDateLastSuccess(double dValue) {
    if (dValue == m_DateLastSuccess) return;
    m_DateLastSuccess = dValue;
    m_Changed = true;
}

void CBackupJob::SetDateLastFailure(double dValue) {
    if (dValue == m_DateLastFailure) return;
    m_DateLastFailure = dValue;
    m_Changed = true;
}

void CBackupJob::SetLastRunStartNs(int64_t lValue) {
    if (lValue == m_LastRunStartNs) return;
    m_LastRunStartNs = lValue;
    m_Changed = true;
}

void CBackupJob::SetStartTime(double dValue) {
    if (dValue == m_StartTime) return;
    m_StartTime = dValue;
    m_CachedNextRun = NotComputed;
    m_Changed = true;
}

double CBackupJob::CurrentStartTime() {
    if (m_Changed || m_CachedNextRun == NotComputed) DateTimeNextRun();
    return m_CachedNextRun - std::floor(m_CachedNextRun);
}

void CBackupJob::SetFrequency(int32_t lValue) {
    if (lValue == m_Frequency) return;
    m_Frequency = lValue;
    m_CachedNextRun = NotComputed;
    m_Changed = true;
}

void CBackupJob::SetDayOfWeek(int16_t iValue) {
    if (iValue == m_DayOfWeek) return;
    m_DayOfWeek = iValue;
    m_CachedNextRun = NotComputed;
    m_Changed = true;
}

void CBackupJob::SetDayOfMonth(int16_t iValue) {
    if (iValue == m_DayOfMonth) return;
    m_DayOfMonth = iValue;
    m_CachedNextRun = NotComputed;
    m_Changed = true;
}

void CBackupJob::SetNumberCopies(int16_t iValue) {
    if (iValue == m_NumberCopies) return;
    m_NumberCopies = iValue;
    m_Changed = true;
}

void CBackupJob::SetPasswordInKeyring(bool bValue) {
    if (bValue == m_PasswordInKeyring) return;
    m_PasswordInKeyring = bValue;
    m_Changed = true;
}

void CBackupJob::SetPassword(const std::string& sValue) {
    if (sValue == m_Password) return;
    m_Password = sValue;
    m_Changed = true;
}

void CBackupJob::SetIncremental(bool bValue) {
    if (bValue == m_Incremental) return;
    m_Incremental = bValue;
    m_Changed = true;
}

void CBackupJob::SetFilesToZip(const std::string& sValue) {
    if (sValue == m_FilesToZip) return;
    m_FilesToZip = sValue;
    m_Changed = false;
}

void CBackupJob::SetSubdirectories(bool bValue) {
    if (bValue == m_Subdirectories) return;
    m_Subdirectories = bValue;
    m_Changed = true;
}

void CBackupJob::SetEncryption(EncryptionKind value) {
    if (value == m_Encryption) return;
    m_Encryption = value;
    m_Changed = true;
}

void CBackupJob::SetOffsiteRemote(const std::string& sValue) {
    if (sValue == m_OffsiteRemote) return;
    m_OffsiteRemote = sValue;
    // Another remote starts afresh: the old one's failures say nothing of it, and it lacks the
    // newest backup, if there is one.
    m_OffsiteFailures = 0;
    m_OffsitePending = !sValue.empty() && m_DateLastSuccess > NotComputed ? libDates::Now() : NotComputed;
    m_Changed = true;
}

void CBackupJob::SetOffsitePending(double dValue) {
    if (dValue == m_OffsitePending) return;
    m_OffsitePending = dValue;
    m_Changed = true;
}

void CBackupJob::SetOffsiteFailures(int32_t lValue) {
    if (lValue == m_OffsiteFailures) return;
    m_OffsiteFailures = lValue;
    m_Changed = true;
}

void CBackupJob::SetOffsiteKeepDays(int32_t lValue) {
    if (lValue == m_OffsiteKeepDays) return;
    m_OffsiteKeepDays = lValue;
    m_Changed = true;
}

void CBackupJob::SetOffsiteLastSuccess(double dValue) {
    if (dValue == m_OffsiteLastSuccess) return;
    m_OffsiteLastSuccess = dValue;
    m_Changed = true;
}

void CBackupJob::SetVerify(bool bValue) {
    if (bValue == m_Verify) return;
    m_Verify = bValue;
    m_Changed = true;
}

// ---------------------------------------------------------------- record operations

void CBackupJob::Clear() {
    m_Changed = true;
    m_Tag = -1;
    m_Status = 0;
    m_FileName.clear();
    m_SaveError.clear();
    m_JobName.clear();
    m_DateLastRun = NotComputed;
    m_DateLastSuccess = NotComputed;
    m_DateLastFailure = NotComputed;
    m_LastRunStartNs = 0;
    m_SizeLastRun = -1;
    m_LastRun = {};
    m_RunCount = -1;
    m_CachedNextRun = NotComputed;
    m_StartTime = 0.5;
    m_Compress = true;
    m_CopyStyle = 0;
    m_Frequency = Daily;
    m_DayOfWeek = 2;
    m_DayOfMonth = 1;
    m_NumberCopies = 0;
    m_KeepPeriod = KeepCopies;
    m_Password.clear();
    m_Encryption = EncryptionKind::Traditional;
    m_PasswordInKeyring = false;
    m_TargetDirectory.clear();
    m_FilesToZip.clear();
    m_ExcludeSpec.clear();
    m_Subdirectories = false;
    m_Verify = false;
    m_OffsiteRemote.clear();
    m_OffsiteKeepDays = DefaultOffsiteKeepDays;
    m_OffsiteLastSuccess = NotComputed;
    m_OffsitePending = NotComputed;
    m_OffsiteFailures = 0;
    m_OffsiteFailed = false;
    m_PingUrl.clear();
    m_Snapshots = false;
    m_SnapshotKeep = SnapshotKeep{};
    m_ExcludeCaches = false;
    m_TargetVolume.clear();
    m_RunOnConnect = false;
    m_Failure = false;
    m_Incremental = false;
    m_Suspended = false;
    m_PreBackupCommand.clear();
    m_PostBackupCommand.clear();
    m_OneShotDates.clear();
}

void CBackupJob::CopyJob(const CBackupJob& source, const std::string& sNewName) {
    const CBackupJob src = source; // the source may be this very object
    m_Changed = true;
    m_JobName = sNewName;
    m_FileName = JobFileNameFor(sNewName);
    m_CopyStyle = src.m_CopyStyle;
    m_StartTime = src.m_StartTime;
    m_Frequency = src.m_Frequency;
    m_DayOfWeek = src.m_DayOfWeek;
    m_DayOfMonth = src.m_DayOfMonth;
    m_Compress = src.m_Compress;
    m_NumberCopies = src.m_NumberCopies;
    m_KeepPeriod = src.m_KeepPeriod;
    m_Password = src.m_Password;
    m_Encryption = src.m_Encryption;
    m_PasswordInKeyring = src.m_PasswordInKeyring;
    m_TargetDirectory = src.m_TargetDirectory;
    m_FilesToZip = src.m_FilesToZip;
    m_ExcludeSpec = src.m_ExcludeSpec;
    m_Subdirectories = src.m_Subdirectories;
    m_Verify = src.m_Verify;
    m_OffsiteRemote = src.m_OffsiteRemote;
    m_OffsiteKeepDays = src.m_OffsiteKeepDays;
    m_OffsiteLastSuccess = NotComputed;
    m_OffsitePending = NotComputed; // the copy has no backup of its own yet
    m_OffsiteFailures = 0;
    m_Snapshots = src.m_Snapshots;
    m_SnapshotKeep = src.m_SnapshotKeep;
    m_ExcludeCaches = src.m_ExcludeCaches;
    m_TargetVolume = src.m_TargetVolume; // same target folder, same drive
    m_RunOnConnect = src.m_RunOnConnect;
    m_Failure = src.m_Failure;
    m_Incremental = src.m_Incremental;
    m_Suspended = src.m_Suspended;
    m_PreBackupCommand = src.m_PreBackupCommand;
    m_PostBackupCommand = src.m_PostBackupCommand;
    m_DateLastRun = NotComputed;
    m_DateLastSuccess = NotComputed;
    m_DateLastFailure = NotComputed;
    m_LastRunStartNs = 0;
    m_CachedNextRun = NotComputed;
    m_SizeLastRun = -1;
    m_LastRun = {};
    m_RunCount = -1;
    m_Tag = -1;
    m_Status = 0;
}

bool CBackupJob::RenameJobFile(const std::string& sNewTargetDirectory, const std::string& sNewJobName) {
    // A name that cannot form a file inside the job folder is refused before anything changes.
    if (!IsSafeJobName(sNewJobName)) return false;
    const std::string sNewFile = JobFileNameFor(sNewJobName);
    // Never put this job's file over another job's file.
    if (sNewFile != m_FileName && libFiles::PathExists(sNewFile) && !SameFile(sNewFile, m_FileName)) return false;
    const std::string sTarget = libFiles::AddTrailingSlash(sNewTargetDirectory);
    // Another target may be on another drive: the next good run tells which.
    if (sTarget != m_TargetDirectory) m_TargetVolume.clear();
    m_TargetDirectory = sTarget;
    m_JobName = sNewJobName;
    // File names on this system are case-sensitive: a change of case is a new name.
    if (m_FileName != sNewFile) {
        if (!m_FileName.empty() && libFiles::FileExists(m_FileName)) libFiles::MoveFile(m_FileName, sNewFile);
        m_FileName = sNewFile;
    }
    return true;
}

// ---------------------------------------------------------------- shared helpers

std::string CBackupJob::CleanJobName(const std::string& sJobName) {
    if (sJobName.size() > MaxJobNameBytes || sJobName.find('/') != std::string::npos ||
        sJobName.find('\0') != std::string::npos)
        return "";
    std::string sClean = libStrings::StripFileNameChars(sJobName);
    // "." and ".." name folders that exist already; a name of more dots is refused with them.
    if (sClean.find_first_not_of('.') == std::string::npos) return "";
    return sClean;
}

bool CBackupJob::IsSafeJobName(const std::string& sJobName) { return !CleanJobName(sJobName).empty(); }

std::string CBackupJob::JobFileNameFor(const std::string& sJobName) {
    if (!IsSafeJobName(sJobName)) return "";
    return appMisc::JobFolder() + sJobName + ".slj";
}

int32_t CBackupJob::KeepPeriodFromText(const std::string& sText) {
    std::string s = libStrings::UCase(sText);
    if (s == "COPIES") return KeepCopies;
    if (s == "DAYS") return KeepDays;
    if (s == "WEEKS") return KeepWeeks;
    if (s == "MONTHS") return KeepMonths;
    return KeepCopies;
}

std::string CBackupJob::KeepPeriodToText(int32_t lPeriod) {
    switch (lPeriod) {
    case KeepCopies:
        return "Copies";
    case KeepDays:
        return "Days";
    case KeepWeeks:
        return "Weeks";
    case KeepMonths:
        return "Months";
    default:
        return "";
    }
}

std::string CBackupJob::ScramblePassword(const std::string& sText) {
    std::string s = sText;
    for (char& c : s)
        c = static_cast<char>(static_cast<unsigned char>(c) ^ PasswordScrambleKey);
    return s;
}

// The password value in a job file.
//
// The scrambled form is written as it is whenever an INI line can carry it unchanged: no NUL,
// CR or LF, no blank at either end, not wrapped in a pair of matching quotes. Every existing
// file holds such a value (any other password never read back correctly), so those files read
// as before.
//
// Any other scrambled form is written escaped: a blank, then the scrambled bytes as upper-case
// hexadecimal, the whole value in quotes so that the blank survives. Reading trims the blanks
// around a value, so a value that reads back with a leading blank can never come from a plain
// scrambled password; that blank is the escape's mark.
namespace {
bool IsIniBlank(char c) { return c == ' ' || c == '\t'; }

bool LineCanCarry(const std::string& s) {
    if (s.find_first_of(std::string("\0\r\n", 3)) != std::string::npos) return false;
    if (!s.empty() && (IsIniBlank(s.front()) || IsIniBlank(s.back()))) return false;
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) return false;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
} // namespace

std::string CBackupJob::PasswordToFileValue(const std::string& sPassword) {
    std::string sScrambled = ScramblePassword(sPassword);
    if (LineCanCarry(sScrambled)) return sScrambled;
    static const char* kHex = "0123456789ABCDEF";
    std::string s = " ";
    for (unsigned char c : sScrambled) {
        s += kHex[c >> 4];
        s += kHex[c & 15];
    }
    return s; // the INI writer wraps it in quotes because of the leading blank
}

std::string CBackupJob::PasswordFromFileValue(const std::string& sValue) {
    if (!sValue.empty() && sValue[0] == ' ' && sValue.size() % 2 == 1) {
        std::string sScrambled;
        bool bHex = true;
        for (size_t i = 1; i + 1 < sValue.size(); i += 2) {
            int hi = HexDigit(sValue[i]), lo = HexDigit(sValue[i + 1]);
            if (hi < 0 || lo < 0) {
                bHex = false;
                break;
            }
            sScrambled += static_cast<char>(hi * 16 + lo);
        }
        if (bHex) return ScramblePassword(sScrambled);
    }
    return ScramblePassword(sValue);
}

// ---------------------------------------------------------------- schedule

double CBackupJob::ComputeNextRun() const {
    using namespace libDates;
    const double dNow = Now();
    const double dToday = std::floor(dNow);
    double dCandidate = FarFuture;

    switch (m_Frequency) {
    case Daily:
    case Weekly: {
        double dDay = dToday;
        if (Seconds(dToday) + Seconds(m_StartTime) <= SecondsOfNow(dNow)) dDay += 1;
        // A mask without any weekday bit would search for ever: seven days cover every weekday.
        bool bFound = false;
        for (int i = 0; i < 7; ++i) {
            if (m_DayOfWeek & (1 << Weekday(dDay))) {
                bFound = true;
                break;
            }
            dDay += 1;
        }
        dCandidate = bFound ? dDay + m_StartTime : FarFuture;
        break;
    }
    case Monthly: {
        int iYear = Year(dNow), iMonth = Month(dNow), iDay = Day(dNow);
        bool bAdvance;
        if (m_DayOfMonth > iDay)
            bAdvance = false;
        else if (m_DayOfMonth == iDay)
            bAdvance = !(Seconds(TimeSerial(Hour(dNow), Minute(dNow), 0)) < Seconds(m_StartTime));
        else
            bAdvance = true;
        if (bAdvance && ++iMonth == 13) {
            iMonth = 1;
            ++iYear;
        }
        dCandidate = DateSerial(iYear, iMonth, m_DayOfMonth) + m_StartTime;
        break;
    }
    case OneShot:
    default:
        // Any other frequency has no regular run either.
        dCandidate = FarFuture;
        break;
    }

    std::vector<std::string> lines;
    if (!libStrings::GetFileList(m_OneShotDates, lines)) {
        for (const auto& sLine : lines) {
            double d;
            if (ParseDateTime(sLine, d) && d < dCandidate && d > dNow) dCandidate = d;
        }
    }
    return dCandidate;
}

double CBackupJob::ComputePreviousRun() const {
    using namespace libDates;
    const double dNow = Now();
    const double dToday = std::floor(dNow);
    double dCandidate = NotComputed;

    switch (m_Frequency) {
    case Daily:
    case Weekly: {
        // Today's start counts once it is not later than now (the next run calls it passed).
        double dDay = dToday;
        if (Seconds(dToday) + Seconds(m_StartTime) > SecondsOfNow(dNow)) dDay -= 1;
        for (int i = 0; i < 7; ++i) {
            if (m_DayOfWeek & (1 << Weekday(dDay))) {
                dCandidate = dDay + m_StartTime;
                break;
            }
            dDay -= 1;
        }
        break;
    }
    case Monthly: {
        int iYear = Year(dNow), iMonth = Month(dNow);
        // This month's moment, or an earlier month's; a day past a month's end rolls into the
        // next month, which can put it after now, so step back until it is not.
        for (int i = 0; i < 4; ++i) {
            double d = DateSerial(iYear, iMonth, m_DayOfMonth) + m_StartTime;
            if (Seconds(d) <= SecondsOfNow(dNow) &&
                !(Seconds(DateValue(d)) == Seconds(dToday) &&
                  Seconds(TimeSerial(Hour(dNow), Minute(dNow), 0)) < Seconds(m_StartTime))) {
                dCandidate = d;
                break;
            }
            if (--iMonth == 0) {
                iMonth = 12;
                --iYear;
            }
        }
        break;
    }
    case OneShot:
    default:
        break;
    }

    std::vector<std::string> lines;
    if (!libStrings::GetFileList(m_OneShotDates, lines)) {
        for (const auto& sLine : lines) {
            double d;
            if (ParseDateTime(sLine, d) && d > dCandidate && Seconds(d) <= SecondsOfNow(dNow)) dCandidate = d;
        }
    }
    return dCandidate;
}

double CBackupJob::DateTimePreviousRun() const {
    return Trap(kModule, "DatePreviousRun()", [&] { return ComputePreviousRun(); });
}

double CBackupJob::DateTimeNextRun() {
    return Trap(kModule, "DateNextRun()", [&] {
        if (!m_Changed && m_CachedNextRun > NotComputed) return m_CachedNextRun;
        m_CachedNextRun = ComputeNextRun();
        return m_CachedNextRun;
    });
}

void CBackupJob::SetDayOfWeek(bool bMonday, bool bTuesday, bool bWednesday, bool bThursday, bool bFriday,
                              bool bSaturday, bool bSunday) {
    Trap(kModule, "SetDayOfWeek()", [&] {
        int iMask = 0;
        if (bMonday) iMask |= 4;
        if (bTuesday) iMask |= 8;
        if (bWednesday) iMask |= 16;
        if (bThursday) iMask |= 32;
        if (bFriday) iMask |= 64;
        if (bSaturday) iMask |= 128;
        if (bSunday) iMask |= 2;
        m_DayOfWeek = static_cast<int16_t>(iMask);
    });
}

void CBackupJob::PurgeOneShotJobs() {
    Trap(kModule, "PurgeOneShotJobs()", [&] {
        std::vector<std::string> lines;
        if (libStrings::GetFileList(m_OneShotDates, lines)) return;
        m_Changed = true;
        std::string sKept;
        for (const auto& sLine : lines) {
            double d;
            if (libDates::ParseDateTime(sLine, d) && Seconds(d) > Seconds(m_DateLastRun)) sKept += sLine + "\r\n";
        }
        m_OneShotDates = sKept;
    });
}
