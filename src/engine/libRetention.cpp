#include "engine/libRetention.h"

#include "jobs/CBackupJob.h"
#include "support/StowError.h"
#include "support/UserInteraction.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libFiles.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

namespace {

const std::string CRLF = "\r\n";

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (unsigned char c : s)
        if (!std::isdigit(c)) return false;
    return true;
}

// Deletes one file by its exact name (no pattern: a job name may hold "?" or "[", which must
// never widen a deletion to other files). False when it is still there. A missing medium goes on to the run's
// error trap, which asks for the disk.
bool DeleteExact(const std::string& sPath) {
    try {
        libFiles::DeleteFile(sPath);
        return !libFiles::PathExists(sPath);
    } catch (const StowError& e) {
        if (e.Number == StowErrors::NoMedium) throw;
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

// Renames; false when the system refuses (a missing medium goes on as above).
bool RenameExact(const std::string& sFrom, const std::string& sTo) {
    try {
        libFiles::RenameFile(sFrom, sTo);
        return true;
    } catch (const StowError& e) {
        if (e.Number == StowErrors::NoMedium) throw;
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

std::string Numbered(const std::string& sBase, int n) { return sBase + "_" + std::to_string(n) + ".zip"; }

// The names of the files in a folder, in enumeration order. Read from the folder itself and
// compared by the caller: a job or target name holding "*", "?" or "[" is never a pattern.
std::vector<std::string> FileNamesIn(const std::string& sFolder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(sFolder.empty() ? "." : sFolder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* e = ::readdir(dir)) {
        const std::string sName = e->d_name;
        if (sName == "." || sName == "..") continue;
        struct stat st {};
        if (::stat((sFolder + sName).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(sName);
    }
    ::closedir(dir);
    return names;
}

bool ReadDatePart(const std::string& sPart, double& dDate) {
    if (!AllDigits(sPart)) return false;
    int iYear, iMonth, iDay;
    if (sPart.size() == 8) {
        iYear = std::stoi(sPart.substr(0, 4));
        iMonth = std::stoi(sPart.substr(4, 2));
        iDay = std::stoi(sPart.substr(6, 2));
    } else if (sPart.size() == 6) {
        iYear = std::stoi(sPart.substr(0, 2));
        iYear += iYear < 30 ? 2000 : 1900;
        iMonth = std::stoi(sPart.substr(2, 2));
        iDay = std::stoi(sPart.substr(4, 2));
    } else {
        return false;
    }
    if (iYear < 100 || iMonth < 1 || iMonth > 12 || iDay < 1 || iDay > 31) return false;
    double d = libDates::DateSerial(iYear, iMonth, iDay);
    // A day beyond the month's end would roll over; such a text is no date.
    if (libDates::Month(d) != iMonth || libDates::Day(d) != iDay) return false;
    dDate = d;
    return true;
}

} // namespace

namespace libRetention {

std::string ZipBase(const std::string& sTargetDirectory, const std::string& sJobName) {
    return libFiles::AddTrailingSlash(sTargetDirectory) + libStrings::StripFileNameChars(sJobName);
}

std::string DatedZipBase(const std::string& sBase, double dToday) {
    std::string sDated = sBase + "_" + libDates::Format(dToday, "yyyymmdd");
    if (!libFiles::FileExists(sDated + ".zip")) return sDated;
    for (int k = 1;; ++k) {
        std::string sName = sDated + "(" + std::to_string(k) + ")";
        if (!libFiles::FileExists(sName + ".zip")) return sName;
    }
}

bool ParseDatedZipName(const std::string& sName, const std::string& sBaseName, DatedZipName& result) {
    const std::string sPrefix = sBaseName + "_";
    if (sName.size() < sPrefix.size() + 4 || sName.compare(0, sPrefix.size(), sPrefix) != 0) return false;
    if (!libStrings::IEndsWith(sName, ".zip")) return false;
    std::string sRest = sName.substr(sPrefix.size(), sName.size() - sPrefix.size() - 4);
    DatedZipName r;
    if (!sRest.empty() && (sRest[0] == 'P' || sRest[0] == 'p')) {
        r.KeepMark = true;
        sRest.erase(0, 1);
    }
    std::string sDate = sRest;
    const size_t iOpen = sRest.find('(');
    if (iOpen != std::string::npos) {
        if (sRest.back() != ')') return false;
        std::string sCopy = sRest.substr(iOpen + 1, sRest.size() - iOpen - 2);
        if (!AllDigits(sCopy) || sCopy.size() > 5) return false;
        int iCopy = std::stoi(sCopy);
        if (iCopy > 32767) return false;
        r.CopyNumber = static_cast<int16_t>(iCopy);
        sDate = sRest.substr(0, iOpen);
    }
    if (!ReadDatePart(sDate, r.Date)) return false;
    result = r;
    return true;
}

bool ParseCountedZipName(const std::string& sName, const std::string& sBaseName, int& iCopyNumber) {
    if (sName == sBaseName + ".zip") {
        iCopyNumber = 0;
        return true;
    }
    const std::string sPrefix = sBaseName + "_";
    if (sName.size() <= sPrefix.size() + 4 || sName.compare(0, sPrefix.size(), sPrefix) != 0) return false;
    if (sName.compare(sName.size() - 4, 4, ".zip") != 0) return false;
    std::string sNumber = sName.substr(sPrefix.size(), sName.size() - sPrefix.size() - 4);
    if (!AllDigits(sNumber) || sNumber.size() > 5 || sNumber[0] == '0') return false;
    iCopyNumber = std::stoi(sNumber);
    return true;
}

bool IsOwnZipName(const std::string& sName, const std::string& sBaseName) {
    DatedZipName dated;
    int n = 0;
    return ParseCountedZipName(sName, sBaseName, n) || ParseDatedZipName(sName, sBaseName, dated);
}

Rotation RotateCountedZips(const std::string& sBase, const std::string& sNewArchive, int iNumberCopies,
                           int iMaxBackupCopies, const std::function<bool()>& beforeStep) {
    // Before each change the rotation makes: false stops the rotation there.
    const auto Step = [&beforeStep] { return !beforeStep || beforeStep(); };
    const std::string sNewest = sBase + ".zip";
    // A negative count rotates as 1 would; copies above MaxBackupCopies are never touched.
    const int iKeep = std::min(iNumberCopies < 0 ? 1 : iNumberCopies, iMaxBackupCopies);
    if (iKeep <= 0) {
        // No older copies: the new archive replaces the newest in one step, then the copies go.
        if (!Step()) return Rotation::Stopped;
        if (!RenameExact(sNewArchive, sNewest)) {
            libLog::LogEvent("Error removing previous zip file for this backup job.");
            return Rotation::Failed;
        }
        for (int n = iMaxBackupCopies; n >= 1; --n) {
            if (!libFiles::PathExists(Numbered(sBase, n))) continue;
            if (!Step()) return Rotation::Stopped;
            if (!DeleteExact(Numbered(sBase, n))) {
                libLog::LogEvent("Error deleting old copies (n) of zip file.");
                return Rotation::Failed;
            }
        }
        return Rotation::Done;
    }
    // The copy at the top of the kept range is the one to go. It is parked under a free number
    // above the range (deleted with the others at the end) rather than deleted now.
    const std::string sTop = Numbered(sBase, iKeep);
    bool bTopMoved = !libFiles::PathExists(sTop);
    for (int n = iKeep + 1; !bTopMoved && n <= iMaxBackupCopies; ++n) {
        if (libFiles::PathExists(Numbered(sBase, n))) continue;
        if (!Step()) return Rotation::Stopped;
        try {
            if (libFiles::RenameNoReplace(sTop, Numbered(sBase, n))) bTopMoved = true;
        } catch (const StowError& e) {
            if (e.Number == StowErrors::NoMedium) throw;
            break; // the shift below replaces it instead
        }
    }
    // Shift top down, so that every target is free when its turn comes (or is the unparked top,
    // replaced in one step).
    for (int k = iKeep - 1; k >= 0; --k) {
        const std::string sFrom = k == 0 ? sNewest : Numbered(sBase, k);
        if (!libFiles::FileExists(sFrom)) continue;
        if (!Step()) return Rotation::Stopped;
        if (k + 1 == iKeep) bTopMoved = true;
        if (!RenameExact(sFrom, Numbered(sBase, k + 1))) {
            if (k > 0) {
                libLog::LogEvent("Error making copy of old zip file backup.");
                return Rotation::Failed;
            }
            UserInteraction::MsgBox("Fatal Error intercepted by Stowline when renaming " + CRLF +
                                        " your previous zip file '" + sBase + ".zip." + CRLF + CRLF +
                                        "This is due most likely to the zip file being locked " + CRLF +
                                        "because you were just viewing the zip file.  " + CRLF + CRLF +
                                        "The fix is to close all open zip files you are " + CRLF + "viewing." + CRLF,
                                    UserInteraction::Buttons::OK, UserInteraction::Icon::Exclamation, "Fatal Error");
            return Rotation::Failed;
        }
    }
    if (!Step()) return Rotation::Stopped;
    if (!RenameExact(sNewArchive, sNewest)) {
        libLog::LogEvent("Error removing previous zip file for this backup job.");
        return Rotation::Failed;
    }
    // The new archive has its name: only now does anything go.
    for (int n = iMaxBackupCopies; n >= iKeep; --n) {
        if (n == iKeep && bTopMoved) break; // it holds the previous copy iKeep - 1
        if (!libFiles::PathExists(Numbered(sBase, n))) continue;
        if (!Step()) return Rotation::Stopped;
        if (!DeleteExact(Numbered(sBase, n))) {
            libLog::LogEvent("Error deleting old copy of zip file.");
            return Rotation::Failed;
        }
    }
    return Rotation::Done;
}

std::string GiveDatedName(const std::string& sBase, const std::string& sNewArchive, double dToday) {
    const std::string sDated = sBase + "_" + libDates::Format(dToday, "yyyymmdd");
    for (int k = 0; k <= 32767; ++k) {
        const std::string sName = (k == 0 ? sDated : sDated + "(" + std::to_string(k) + ")") + ".zip";
        if (libFiles::RenameNoReplace(sNewArchive, sName)) return sName;
    }
    throw ErrorFromErrno(EEXIST, sDated + ".zip");
}

void PurgeDatedZips(const std::string& sBase, int32_t lKeepPeriod, int iNumberCopies, double dToday) {
    const double dDay = libDates::DateValue(dToday);
    double dCutoff;
    switch (lKeepPeriod) {
    case 1:
        dCutoff = dDay - iNumberCopies;
        break;
    case 2:
        dCutoff = dDay - 7.0 * iNumberCopies;
        break;
    case 3:
        dCutoff = libDates::DateValue(libDates::AddMonths(dDay, -iNumberCopies));
        break;
    default:
        UserInteraction::MsgBox("Keep period " + std::to_string(lKeepPeriod) + " is invalid",
                                UserInteraction::Buttons::OK, UserInteraction::Icon::Exclamation, "Internal Error");
        return;
    }
    const std::string sFolder = libFiles::FilePathStripFileName(sBase);
    const std::string sBaseName = sBase.substr(sFolder.size());
    for (const std::string& sName : FileNamesIn(sFolder)) {
        DatedZipName dated;
        if (ParseDatedZipName(sName, sBaseName, dated) && !dated.KeepMark && dated.Date < dCutoff)
            DeleteExact(sFolder + sName); // a failure leaves the archive; the run goes on
    }
}

std::string LatestCountedZip(const std::string& sBase, int iMaxBackupCopies) {
    if (libFiles::FileExists(sBase + ".zip")) return sBase + ".zip";
    for (int n = 1; n <= iMaxBackupCopies; ++n)
        if (libFiles::FileExists(Numbered(sBase, n))) return Numbered(sBase, n);
    return "";
}

std::string LatestDatedZip(const std::string& sBase) {
    const std::string sFolder = libFiles::FilePathStripFileName(sBase);
    const std::string sBaseName = sBase.substr(sFolder.size());
    std::string sBest;
    DatedZipName best;
    for (const std::string& sName : FileNamesIn(sFolder)) {
        DatedZipName dated;
        if (!ParseDatedZipName(sName, sBaseName, dated) || dated.Date <= libDates::NotComputed) continue;
        if (sBest.empty() || dated.Date > best.Date ||
            (dated.Date == best.Date && dated.CopyNumber > best.CopyNumber)) {
            sBest = sName;
            best = dated;
        }
    }
    return sBest.empty() ? "" : sFolder + sBest;
}

} // namespace libRetention

// ---- the job's own look-ups ----

namespace libRetention {

std::string LatestZip(const CBackupJob& job) {
    // Its base would name another folder's files, or every zip of the target.
    if (CBackupJob::CleanJobName(job.JobName()).empty()) return "";
    const std::string sBase = ZipBase(job.TargetDirectory(), job.JobName());
    if (job.KeepPeriod() != CBackupJob::KeepCopies) return LatestDatedZip(sBase);
    return LatestCountedZip(sBase, appPreferences::MaxBackupCopies);
}

double CurrentBackupSize(CBackupJob& job) {
    if (job.SizeLastRun() < 0 && job.Compress()) {
        const std::string sZip = LatestZip(job);
        if (!sZip.empty()) job.SetSizeLastRun(static_cast<double>(libFiles::FileLen(sZip)));
    }
    return job.SizeLastRun();
}

} // namespace libRetention
