#pragma once
// The temporary application folder with its job folder, the clock at a fixed "now" and, when
// asked for, the job manager; real job files written and read back.

#include "common/TempAppFolder.h"
#include "jobs/CBackupJobManager.h"

class TempJobFolder : public TempAppFolder {
protected:
    double Now = 0;

    // Sets the clock to dNow, makes the job folder and, with bManager, creates the job manager.
    void StartJobs(double dNow, bool bManager) {
        SetNow(dNow);
        std::filesystem::create_directories(App + "BackupJobs");
        if (bManager) CreateJobManager();
    }
    // Moves the test's "now" and the clock together.
    void SetNow(double dNow) {
        Now = dNow;
        libDates::SetClock(Now);
    }
    // The one job manager goes with the test, whoever created it.
    void TearDown() override {
        DestroyJobManager();
        TempAppFolder::TearDown();
    }

    // Writes App/BackupJobs/<name>.slj: a daily copy job (Rebuild) of Root/src-<name>/ into
    // Root/target-<name>/ at 12:05, last run two days before Now.
    // bMissingSource points the job at a folder that does not exist (the run fails).
    std::string WriteCopyJob(const std::string& sName, bool bSuspended = false, bool bMissingSource = false) {
        const std::string sSource = Root + "src-" + sName + "/";
        if (!bMissingSource) WriteFile(sSource + "data.txt", "payload of " + sName + "\n");
        const std::string sTarget = Root + "target-" + sName + "/";
        std::filesystem::create_directories(sTarget);
        const double dLast = libDates::DateValue(Now) - 2 + libDates::TimeSerial(8, 0, 0);
        return WriteFile(
            App + "BackupJobs/" + sName + ".slj",
            "[Config]\r\nJobName=" + sName + "\r\nDateLastRun=" + libDates::Format(dLast, "mmm-dd-yyyy hh:mm") +
                "\r\nSizeLastRun=-1\r\nRunCount=0\r\nStartTime=12:05\r\nFrequency=1\r\n"
                "DayOfWeek=254\r\nDayOfMonth=1\r\nCompress=0\r\nCopyStyle=0\r\nKeepCount=0\r\n"
                "KeepPeriod=Copies\r\nPassword=\r\nParseSubDir=-1\r\nIncremental=0\r\nSuspended=" +
                (bSuspended ? "-1" : "0") + "\r\nPreBackupCommand=\r\nPostBackupCommand=\r\nTargetDir=" + sTarget +
                "\r\n[Source]\r\nFile_0=" + (bMissingSource ? Root + "no-such-folder-" + sName + "/" : sSource) +
                "\r\n[Exclude]\r\n[OneShot]\r\n");
    }

    static CBackupJob LoadJob(const std::string& sFile) {
        CBackupJob job;
        job.OpenBackupJob(sFile);
        return job;
    }
    // The run count recorded in a job file (-1 when it cannot be loaded).
    static int RunCountOf(const std::string& sFile) {
        CBackupJob job;
        if (job.OpenBackupJob(sFile)) return -1;
        return job.RunCount();
    }
};
