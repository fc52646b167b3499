#pragma once
// Shared pieces of the backup-run, retention and rename tests: source and target folders in the
// temporary application folder, a job built in memory, and zip archives read back with libzip.

#include "RecordingOwner.h"
#include "ZipFixture.h"
#include "common/ScriptedSeam.h"
#include "engine/BackupRun.h"
#include "engine/RunState.h"
#include "engine/libCopyFixture.h"
#include "engine/libRetention.h"
#include "jobs/CBackupJob.h"
#include "support/appPreferences.h"
#include "support/libDates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <utime.h>
#include <vector>

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
    static void SetModTime(const std::string& sPath, double dSerial) {
        struct utimbuf t {};
        t.actime = t.modtime = libDates::ToTimeT(dSerial);
        ::utime(sPath.c_str(), &t);
    }
};

constexpr time_t kOldTime = 1600000000; // an even second: exact in a zip's DOS time too

// Sets a file's (or a link's own) access and modification times to t.
inline void SetTime(const std::string& sPath, time_t t) {
    const timespec times[2] = {{t, 0}, {t, 0}};
    ::utimensat(AT_FDCWD, sPath.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// A seam whose event points run a step of the test: what happens while a run waits.
class HookedSeam : public UserInteraction::ScriptedSeam {
public:
    std::function<void()> OnEvents;
    void DoEvents() override {
        ScriptedSeam::DoEvents();
        if (OnEvents) OnEvents();
    }
};

// A run fixture whose seam is a HookedSeam, put back at the end with any abort request cleared.
class HookedRunFixture : public RunFixture {
protected:
    HookedSeam* Hooked = nullptr;

    void SetUp() override {
        RunFixture::SetUp();
        Hooked = new HookedSeam;
        m_pFixtureSeam = UserInteraction::Install(std::unique_ptr<UserInteraction::Seam>(Hooked));
    }
    void TearDown() override {
        RunState::SetAbortRequested(false);
        UserInteraction::Install(std::move(m_pFixtureSeam));
        RunFixture::TearDown();
    }

private:
    std::unique_ptr<UserInteraction::Seam> m_pFixtureSeam;
};

} // namespace runtest
