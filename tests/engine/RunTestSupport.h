#pragma once
// Shared pieces of the backup-run, retention and rename tests: a temporary application folder
// with source and target folders, a job built in memory, the transaction log read back as
// texts, and zip archives read back with libzip.

#include "engine/ArchiveFlags.h"
#include "engine/BackupRunOwner.h"
#include "engine/RunState.h"
#include "engine/libZip.h"
#include "jobs/CBackupJob.h"
#include "support/UserInteraction.h"
#include "support/appMisc.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libLog.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <utime.h>
#include <vector>

namespace runtest {

namespace fs = std::filesystem;

// Thrown by the fatal-exit hook; not a std::exception, so no trap reports it again.
struct FatalRaised {};

// The temporary application folder of one test, with the scripted seam installed.
class TempApp {
public:
    TempApp() {
        char tmpl[] = "/tmp/stowline-run-XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
        m_sPath = std::string(tmpl) + "/";
        appMisc::SetAppFolder(m_sPath);
        auto seam = std::make_unique<UserInteraction::ScriptedSeam>();
        m_pSeam = seam.get();
        m_pPrevious = UserInteraction::Install(std::move(seam));
        libErrorHandler::SetFatalExitHook([] { throw FatalRaised{}; });
    }
    ~TempApp() {
        libErrorHandler::SetFatalExitHook({});
        UserInteraction::Install(std::move(m_pPrevious));
        libDates::ResetClock();
        appMisc::SetAppFolder("");
        appPreferences::ResetToDefaults();
        std::error_code ec;
        fs::remove_all(m_sPath, ec);
    }
    TempApp(const TempApp&) = delete;
    TempApp& operator=(const TempApp&) = delete;

    const std::string& Path() const { return m_sPath; }
    UserInteraction::ScriptedSeam& Seam() { return *m_pSeam; }
    // Writes bytes to a file below the folder (creating its folders); returns the full path.
    std::string WriteFile(const std::string& sRelative, const std::string& sBytes) const {
        const fs::path p = m_sPath + sRelative;
        fs::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out << sBytes;
        return p.string();
    }
    static std::string ReadFile(const std::string& sPath) {
        std::ifstream in(sPath, std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

private:
    std::string m_sPath;
    UserInteraction::ScriptedSeam* m_pSeam = nullptr;
    std::unique_ptr<UserInteraction::Seam> m_pPrevious;
};

class RunFixture : public ::testing::Test {
protected:
    std::unique_ptr<TempApp> App;
    std::string Src; // source folder, ending with "/"
    std::string Tgt; // target folder, ending with "/"

    void SetUp() override {
        App = std::make_unique<TempApp>();
        appPreferences::ResetToDefaults();
        appPreferences::LoggingMode = 0;
        libLog::SetPendingComment("");
        RunState::SetAbortRequested(false);
        RunState::SetOwner(nullptr);
        ArchiveFlags::Close();
        Src = App->Path() + "src/";
        Tgt = App->Path() + "bk/";
        fs::create_directories(Src);
        fs::create_directories(Tgt);
        // 2027-03-15 10:00: a fixed "now" for names, cut-offs and recorded dates.
        libDates::SetClock(libDates::DateSerial(2027, 3, 15) + libDates::TimeSerial(10, 0, 0));
    }
    void TearDown() override {
        ArchiveFlags::Close();
        RunState::SetAbortRequested(false);
        App.reset();
    }

    // A file below the source folder with the given content; returns its full path.
    std::string Source(const std::string& sRelative, const std::string& sContent) {
        return App->WriteFile("src/" + sRelative, sContent);
    }
    void Touch(const std::string& sPath, const std::string& sContent = "x") { App->WriteFile(Rel(sPath), sContent); }
    std::string Rel(const std::string& sPath) const { return sPath.substr(App->Path().size()); }
    static bool Exists(const std::string& sPath) { return fs::exists(sPath); }
    static std::string Read(const std::string& sPath) { return TempApp::ReadFile(sPath); }

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

    // The texts of the transaction log's lines, without their time stamps.
    static std::vector<std::string> LogLines() {
        std::vector<std::string> lines;
        const std::string sLog = TempApp::ReadFile(libLog::LogFileName());
        size_t iStart = 0;
        while (iStart < sLog.size()) {
            size_t iEnd = sLog.find("\r\n", iStart);
            if (iEnd == std::string::npos) iEnd = sLog.size();
            const std::string sLine = sLog.substr(iStart, iEnd - iStart);
            lines.push_back(sLine.size() >= 21 ? sLine.substr(21) : sLine);
            iStart = iEnd + 2;
        }
        return lines;
    }
    static bool LogHas(const std::string& sText) {
        for (const auto& s : LogLines())
            if (s == sText) return true;
        return false;
    }
    static void ClearLog() { fs::remove(libLog::LogFileName()); }

    // The entry names of a zip archive (empty when it cannot be opened).
    static std::set<std::string> ZipNames(const std::string& sZip) {
        std::set<std::string> names;
        int iErr = 0;
        zip_t* za = zip_open(sZip.c_str(), ZIP_RDONLY, &iErr);
        if (za == nullptr) return names;
        const zip_int64_t n = zip_get_num_entries(za, 0);
        for (zip_int64_t i = 0; i < n; ++i)
            names.insert(zip_get_name(za, static_cast<zip_uint64_t>(i), 0));
        zip_discard(za);
        return names;
    }
    // The stored name of a file: its full path without the leading "/".
    static std::string Stored(const std::string& sPath) { return sPath.substr(1); }

    static void SetModTime(const std::string& sPath, double dSerial) {
        struct utimbuf t {};
        t.actime = t.modtime = libDates::ToTimeT(dSerial);
        ::utime(sPath.c_str(), &t);
    }
};

// A window standing in for the main window: records what the run shows.
class RecordingOwner : public BackupRunOwner {
public:
    std::vector<std::string> Messages;
    std::string Current;
    bool Lights[4] = {true, false, false, true};
    std::vector<std::string> LightStates; // "idle"/"busy"/"mixed" after each repaint
    std::vector<bool> Pointer;

    void SetMessageText(const std::string& sText) override {
        Current = sText;
        Messages.push_back(sText);
    }
    std::string MessageText() const override { return Current; }
    void SetLight(int iIndex, bool bVisible) override { Lights[iIndex] = bVisible; }
    void Repaint() override {
        if (Lights[0] && !Lights[1] && !Lights[2] && Lights[3])
            LightStates.push_back("idle");
        else if (!Lights[0] && Lights[1] && Lights[2] && !Lights[3])
            LightStates.push_back("busy");
        else
            LightStates.push_back("mixed");
    }
    void SetBusyPointer(bool bBusy) override { Pointer.push_back(bBusy); }
};

} // namespace runtest
