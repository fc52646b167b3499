#pragma once
// A temporary program folder with job files written by hand, as an older (or newer) version of
// the program left them, to check what a load and a save make of keys they may lack.

#include "common/TempAppFolder.h"
#include "jobs/CBackupJob.h"

class HandJobFolder : public TempAppFolder {
protected:
    std::string JobPath(const std::string& sName) { return App + "BackupJobs/" + sName + ".slj"; }
    // A zip job's file; sAfterKeep stands after KeepPeriod (the password lines), sAfterSuspended
    // after Suspended.
    std::string HandJob(const std::string& sName, const std::string& sAfterKeep,
                        const std::string& sAfterSuspended = "") {
        return WriteFile(JobPath(sName), "[Config]\r\nJobName=" + sName +
                                             "\r\nDateLastRun=Jan-01-1900 00:00\r\nSizeLastRun=-1\r\nRunCount=0\r\n"
                                             "StartTime=12:00\r\nFrequency=1\r\nDayOfWeek=254\r\nDayOfMonth=1\r\n"
                                             "Compress=-1\r\nCopyStyle=0\r\nKeepCount=3\r\nKeepPeriod=Copies\r\n" +
                                             sAfterKeep + "ParseSubDir=-1\r\nIncremental=0\r\nSuspended=0\r\n" +
                                             sAfterSuspended +
                                             "PreBackupCommand=\r\nPostBackupCommand=\r\nTargetDir=/backups/\r\n"
                                             "[Source]\r\nFile_0=/home/u/docs\r\n[Exclude]\r\n[OneShot]\r\n");
    }
    CBackupJob Load(const std::string& sPath) {
        CBackupJob job;
        EXPECT_FALSE(job.OpenBackupJob(sPath)) << sPath;
        return job;
    }
};
