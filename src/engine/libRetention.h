#pragma once
// Retention of a zip job's older archives, and the look-up of its newest one.
//
// Archive names are formed from the job's base (TargetDirectory + the job name without the
// characters StripFileNameChars removes):
//   keep by count:  base.zip (newest), base_1.zip .. base_<MaxBackupCopies>.zip (older copies)
//   keep by period: base_yyyymmdd.zip, then base_yyyymmdd(1).zip, (2) ... on the same day;
//                   a "P" or "p" right after the "_" marks an archive the purge never deletes.
// Only names of exactly these forms belong to the job: the archives of a job whose name merely
// begins with this job's name (Mail2 beside Mail) are never selected, renamed or deleted.

#include "jobs/CBackupJob.h"

#include <cstdint>
#include <functional>
#include <string>

namespace libRetention {

// TargetDirectory + StripFileNameChars(JobName): the path of the archives without suffix.
std::string ZipBase(const std::string& sTargetDirectory, const std::string& sJobName);
// The zip base name of a keep-by-period run on dToday: base + "_" + yyyymmdd, followed by
// "(k)" with the first k from 1 whose ".zip" does not exist when the plain name is taken.
std::string DatedZipBase(const std::string& sBase, double dToday);

struct DatedZipName {
    double Date = 0;        // the archive's day (no time)
    int16_t CopyNumber = 0; // k of "(k)", 0 without
    bool KeepMark = false;  // "P"/"p" right after the "_"
};
// Reads a file name (no folder) of the form sBaseName + "_" [P|p] date ["(" digits ")"] ".zip"
// (".zip" in any case). The date is 8 digits yyyymmdd (as the run writes it) or 6 digits yymmdd
// (00..29 -> 20yy, 30..99 -> 19yy) and must be a valid calendar date. False for anything else.
bool ParseDatedZipName(const std::string& sName, const std::string& sBaseName, DatedZipName& result);
// Reads sBaseName + ".zip" (copy 0) or sBaseName + "_" + n + ".zip" (n of 1 to 5 digits, no
// leading zero). False for anything else.
bool ParseCountedZipName(const std::string& sName, const std::string& sBaseName, int& iCopyNumber);
// One of the two forms above: a name that belongs to the job with this base name.
bool IsOwnZipName(const std::string& sName, const std::string& sBaseName);

// After a keep-by-count zip run whose new archive sNewArchive is complete and on disk: the
// older archives move up one number, sNewArchive becomes base.zip, and only then is what the
// job keeps no more deleted. Every earlier archive stands under one of the job's names at every
// instant, so a kill anywhere loses none. beforeStep, when given, is asked before every
// rename or deletion; when it answers false the rotation stops right there, as a killed
// process would.
enum class Rotation {
    Done,    // the new archive has its name and the copies the job keeps no more are gone
    Stopped, // beforeStep said no: the rotation stopped there
    Failed,  // a rename or deletion failed (the message has been logged or shown): the run is abandoned
};
[[nodiscard]] Rotation RotateCountedZips(const std::string& sBase, const std::string& sNewArchive, int iNumberCopies,
                                         int iMaxBackupCopies, const std::function<bool()>& beforeStep = {});
// After a keep-by-period zip run: gives sNewArchive the first dated name of dToday that is free
// at that moment (base_yyyymmdd.zip, then base_yyyymmdd(1).zip ...), never replacing a file.
// Returns the name given (full path). Throws a StowError when the rename fails.
std::string GiveDatedName(const std::string& sBase, const std::string& sNewArchive, double dToday);
// After the new dated archive has its name: deletes the job's dated archives older than
// iNumberCopies periods before dToday (keep-marked ones never). An invalid period shows the
// "Internal Error" box and purges nothing.
void PurgeDatedZips(const std::string& sBase, int32_t lKeepPeriod, int iNumberCopies, double dToday);
// The newest archive (full path) or "".
std::string LatestCountedZip(const std::string& sBase, int iMaxBackupCopies);
std::string LatestDatedZip(const std::string& sBase);

// The newest archive of the job ("" when none).
std::string LatestZip(const CBackupJob& job);
// The job's SizeLastRun, filled from the newest archive when not recorded (zip jobs).
double CurrentBackupSize(CBackupJob& job);

} // namespace libRetention
