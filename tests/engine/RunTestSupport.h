#pragma once
// Shared pieces of the backup-run, retention and rename tests: source and target folders in the
// temporary application folder, a job built in memory, and zip archives read back with libzip.

#include "ZipFixture.h"
#include "engine/BackupRun.h"
#include "engine/libCopyFixture.h"
#include "engine/libRestore.h"
#include "engine/libRetention.h"
#include "jobs/CBackupJob.h"
#include "support/FileLock.h"

#include <algorithm>
#include <csignal>

namespace runtest {

namespace fs = std::filesystem;
using ziptest::Noise;
using ziptest::Stored;

class RunFixture : public copytest::CopyFixture {
protected:
    std::string Src; // source folder, ending with "/"
    std::string Tgt; // target folder, ending with "/"

    void SetUp() override {
        CopyFixture::SetUp();
        appPreferences::StopOnError = true; // as a run meets it by default
        Src = App + "src/";
        Tgt = App + "bk/";
        fs::create_directories(Src);
        fs::create_directories(Tgt);
        // 2027-03-15 10:00: a fixed "now" for names, cut-offs and recorded dates.
        libDates::SetClock(libDates::DateSerial(2027, 3, 15) + libDates::TimeSerial(10, 0, 0));
    }
    // The source folder without its final "/", as a job names a whole folder.
    std::string SrcFolder() const { return Src.substr(0, Src.size() - 1); }
    // An empty target folder again.
    void ResetTarget() const {
        fs::remove_all(Tgt);
        fs::create_directories(Tgt);
    }
    // Backs the job up (into a target holding no other backup of it) and gives that backup with
    // its contents read back.
    libRestore::BackupInfo BackUpAndRead(CBackupJob& job, std::vector<libRestore::Entry>& entries) {
        EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
        EXPECT_FALSE(job.Failure());
        const auto backups = libRestore::ListBackups(job);
        EXPECT_EQ(backups.size(), 1u);
        if (backups.empty()) return {};
        std::string sError;
        EXPECT_EQ(libRestore::ReadContents(job, backups[0], entries, sError), libRestore::Status::Ok) << sError;
        return backups[0];
    }
    // Runs the job now: it succeeds.
    static void RunOk(CBackupJob& job) {
        EXPECT_FALSE(BackupRun::ExecuteBackupNow(job));
        EXPECT_FALSE(job.Failure());
    }
    // Run tests name files by full path.
    static bool Exists(const std::string& sPath) { return TempAppFolder::Exists(sPath); }

    // A log line with this start and end.
    static bool LogHasPrefixSuffix(const std::string& sPrefix, const std::string& sSuffix) {
        const auto lines = LogLines();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& s) { return s.rfind(sPrefix, 0) == 0 && s.ends_with(sSuffix); });
    }

    // A file below the source folder with the given content; returns its full path.
    std::string Source(const std::string& sRelative, const std::string& sContent) {
        return WriteFile(Src + sRelative, sContent);
    }
    static void Touch(const std::string& sPath, const std::string& sContent = "x") { WriteFile(sPath, sContent); }

    // A zip job (keep by count unless changed) over the given sources.
    CBackupJob MakeJob(const std::string& sName, const std::vector<std::string>& sources, bool bCompress = true) {
        CBackupJob job;
        job.SetJobNameRaw(sName);
        job.SetTargetDirectoryRaw(Tgt);
        job.SetFileNameRaw(CBackupJob::JobFileNameFor(sName));
        std::string sList;
        for (const auto& s : sources)
            sList += s + "\r\n";
        job.SetFilesToZip(sList);
        job.SetCompress(bCompress);
        job.SetSubdirectories(true);
        return job;
    }

    // The entry names of a zip archive (empty when it cannot be opened).
    static std::set<std::string> ZipNames(const std::string& sZip) {
        return ziptest::Names(ziptest::ReadArchive(sZip));
    }
    // The names in a folder (temporary folders included).
    static std::set<std::string> EntryNames(const std::string& sFolder) {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(sFolder))
            names.insert(e.path().filename().string());
        return names;
    }
};

constexpr time_t kOldTime = 1600000000; // an even second: exact in a zip's DOS time too

// Flips one bit of the file at iOffset.
inline void FlipBit(const std::string& sPath, off_t iOffset) {
    const int fd = ::open(sPath.c_str(), O_RDWR);
    ASSERT_GE(fd, 0) << sPath;
    char c = 0;
    ASSERT_EQ(::pread(fd, &c, 1, iOffset), 1);
    c = static_cast<char>(c ^ 0x04);
    ASSERT_EQ(::pwrite(fd, &c, 1, iOffset), 1);
    ::close(fd);
}

// A run fixture with three sources last changed at kOldTime: a.txt, sub/b.dat (300 kB of
// noise) and sub/deep/c.txt.
class TreeRunFixture : public RunFixture {
protected:
    std::string FileA, FileB, FileC;

    void SetUp() override {
        RunFixture::SetUp();
        FileA = Source("a.txt", "alpha");
        FileB = Source("sub/b.dat", Noise(300000, 7));
        FileC = Source("sub/deep/c.txt", "gamma");
        for (const std::string& s : {FileA, FileB, FileC})
            SetFileTime(s, kOldTime);
    }
};

// Another process holding the job's lock (as a run or a restore there would) until killed.
class OtherProcess {
public:
    OtherProcess(const std::string& sLockFile, FileLock::Mode mode) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        m_pid = ::fork();
        if (m_pid == 0) {
            FileLock held;
            if (!held.Open(sLockFile) || held.Try(mode) != FileLock::Result::Held) ::_exit(1);
            if (::write(fds[1], "x", 1) != 1) ::_exit(1);
            for (;;)
                ::pause();
        }
        ::close(fds[1]);
        char c = 0;
        m_bHolding = m_pid > 0 && ::read(fds[0], &c, 1) == 1;
        ::close(fds[0]);
    }
    ~OtherProcess() { Kill(); }
    bool Holding() const { return m_bHolding; }
    // True when the holder ended by the signal (as a killed program does).
    bool Kill() {
        if (m_pid <= 0) return false;
        ::kill(m_pid, SIGKILL);
        int iStatus = 0;
        ::waitpid(m_pid, &iStatus, 0);
        m_pid = -1;
        m_bHolding = false;
        return WIFSIGNALED(iStatus);
    }

private:
    pid_t m_pid = -1;
    bool m_bHolding = false;
};

} // namespace runtest
