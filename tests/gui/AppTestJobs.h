#pragma once
// Real job files for the app-layer tests: copy-style jobs written in the job-file layout, with
// a source folder holding one file, so that a run leaves a visible copy behind.

#include "common/TempAppFolder.h"
#include "jobs/CBackupJobManager.h"
#include "support/libDates.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace AppTestJobs {

inline void WriteBytes(const std::string& sPath, const std::string& sBytes) {
    std::filesystem::create_directories(std::filesystem::path(sPath).parent_path());
    std::ofstream out(sPath, std::ios::binary | std::ios::trunc);
    out << sBytes;
}

// Writes App/BackupJobs/<name>.slj: a daily copy job (Rebuild) of Root/src-<name>/ into
// Root/target-<name>/ at 12:05, last run two days before dNow.
// bMissingSource points the job at a folder that does not exist (the run fails).
inline std::string WriteCopyJob(const std::string& sRoot, const std::string& sApp, const std::string& sName,
                                double dNow, bool bSuspended = false, bool bMissingSource = false) {
    std::string sSource = sRoot + "src-" + sName + "/";
    if (!bMissingSource) WriteBytes(sSource + "data.txt", "payload of " + sName + "\n");
    std::string sTarget = sRoot + "target-" + sName + "/";
    std::filesystem::create_directories(sTarget);
    double dLast = libDates::DateValue(dNow) - 2 + libDates::TimeSerial(8, 0, 0);
    std::string sIni = "[Config]\r\n"
                       "JobName=" +
                       sName +
                       "\r\n"
                       "DateLastRun=" +
                       libDates::Format(dLast, "mmm-dd-yyyy hh:mm") +
                       "\r\n"
                       "SizeLastRun=-1\r\n"
                       "RunCount=0\r\n"
                       "StartTime=12:05\r\n"
                       "Frequency=1\r\n"
                       "DayOfWeek=254\r\n"
                       "DayOfMonth=1\r\n"
                       "Compress=0\r\n"
                       "CopyStyle=0\r\n"
                       "KeepCount=0\r\n"
                       "KeepPeriod=Copies\r\n"
                       "Password=\r\n"
                       "ParseSubDir=-1\r\n"
                       "Incremental=0\r\n"
                       "Suspended=" +
                       std::string(bSuspended ? "-1" : "0") +
                       "\r\n"
                       "PreBackupCommand=\r\n"
                       "PostBackupCommand=\r\n"
                       "TargetDir=" +
                       sTarget +
                       "\r\n"
                       "[Source]\r\n"
                       "File_0=" +
                       (bMissingSource ? sRoot + "no-such-folder-" + sName + "/" : sSource) +
                       "\r\n"
                       "[Exclude]\r\n"
                       "[OneShot]\r\n";
    std::string sFile = sApp + "BackupJobs/" + sName + ".slj";
    WriteBytes(sFile, sIni);
    return sFile;
}

// The run count recorded in a job file (-1 when it cannot be loaded).
inline int RunCountOf(const std::string& sFile) {
    CBackupJob job;
    if (job.OpenBackupJob(sFile)) return -1;
    return job.RunCount();
}

} // namespace AppTestJobs
