#pragma once
// What the zip engine tests share: archives read back with libzip, and a fixture with a
// source tree and a target folder for a run's zip step.

#include "RecordingOwner.h"
#include "ScriptedProbe.h"
#include "common/TempAppFolder.h"
#include "engine/libZip.h"

#include <map>
#include <set>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

namespace ziptest {

namespace fs = std::filesystem;
using namespace libZip;

// Entry name -> contents (directories map to "/").
inline std::map<std::string, std::string> ReadArchive(const std::string& sZip, const char* pPassword = nullptr) {
    std::map<std::string, std::string> out;
    int err = 0;
    zip_t* za = zip_open(sZip.c_str(), ZIP_RDONLY, &err);
    if (!za) return out;
    if (pPassword) zip_set_default_password(za, pPassword);
    zip_int64_t n = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        std::string sName = zip_get_name(za, static_cast<zip_uint64_t>(i), 0);
        if (!sName.empty() && sName.back() == '/') {
            out[sName] = "/";
            continue;
        }
        zip_file_t* f = zip_fopen_index(za, static_cast<zip_uint64_t>(i), 0);
        std::string data;
        if (f) {
            char buf[8192];
            zip_int64_t r;
            while ((r = zip_fread(f, buf, sizeof buf)) > 0)
                data.append(buf, static_cast<size_t>(r));
            zip_fclose(f);
        } else {
            data = "<unreadable>";
        }
        out[sName] = data;
    }
    zip_discard(za);
    return out;
}

inline std::set<std::string> Names(const std::map<std::string, std::string>& m) {
    std::set<std::string> s;
    for (const auto& [k, v] : m)
        s.insert(k);
    return s;
}

inline int Shell(const std::string& sCommand) {
    int rc = std::system((sCommand + " >/dev/null 2>&1").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// Runs a zip tool of tests/zipcheck (a reader other than the program's) on the arguments, its
// output into sOut; its exit status.
inline int Tool(const std::string& sName, const std::vector<std::string>& args, const std::string& sOut = "/dev/null") {
    std::string sCommand = "python3 '" STOWLINE_ZIP_TOOLS "/" + sName + ".py'";
    for (const std::string& s : args)
        sCommand += " '" + s + "'";
    const int rc = std::system((sCommand + " >'" + sOut + "' 2>/dev/null").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

inline std::string Stored(const std::string& sPath) { return sPath.substr(1); }

// iBytes bytes that deflate cannot shrink, the same for the same seed.
inline std::string Noise(size_t iBytes, unsigned iSeed) {
    std::string s;
    s.reserve(iBytes);
    unsigned x = iSeed;
    for (size_t i = 0; i < iBytes; ++i) {
        x = x * 1103515245u + 12345u;
        s += static_cast<char>(x >> 24);
    }
    return s;
}

// The number of names in a folder.
inline size_t EntryCount(const std::string& sFolder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(sFolder), fs::directory_iterator()));
}

class ZipEngineTest : public TempAppFolder {
protected:
    std::string Data;    // source tree, no final "/"
    std::string Target;  // archive folder, final "/"
    std::string ZipFile; // Target + "Job.zip"
    ScriptedProbe Probe;
    libZip::ZipEngine Engine{Probe};

    void SetUp() override {
        TempAppFolder::SetUp();
        Data = App + "data";
        Target = App + "target/";
        fs::create_directories(Data);
        fs::create_directories(Target);
        ZipFile = Target + "Job.zip";
        RunState::SetAbortRequested(false);
    }
    void TearDown() override {
        Engine.ZpCloseArchive(false);
        RunState::SetAbortRequested(false);
        TempAppFolder::TearDown();
    }

    std::string Put(const std::string& sRelative, const std::string& sBytes) {
        return WriteFile(Data + "/" + sRelative, sBytes);
    }
    std::string Log() const { return ReadFile(libLog::LogFileName()); }

    // Runs sTool with "%z" standing for the archive and "%o" for a fresh output folder; gives
    // that folder, or "" when the tool failed.
    std::string Extracted(const std::string& sTool, const std::string& sZip) {
        const std::string sOut = App + "out";
        fs::remove_all(sOut);
        fs::create_directories(sOut);
        std::string sCommand = sTool;
        sCommand.replace(sCommand.find("%z"), 2, sZip);
        sCommand.replace(sCommand.find("%o"), 2, sOut);
        return Shell(sCommand) == 0 ? sOut : "";
    }

    // A sparse file of 4 GiB and 12345 bytes, "end" written near its end: its entry needs Zip64.
    static void MakeSparseOver4GiB(const std::string& sPath) {
        const int fd = ::open(sPath.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, (int64_t{1} << 32) + 12345), 0);
        ASSERT_EQ(::pwrite(fd, "end", 3, (int64_t{1} << 32) + 12000), 3);
        ::close(fd);
    }

    // A run's zip step over several entries, written once at the end.
    std::vector<ZipStepResult> Run(const ZipJobValues& job, const std::vector<std::string>& entries,
                                   ZipStepResult* pFinish = nullptr) {
        std::vector<ZipStepResult> results;
        for (size_t i = 0; i < entries.size(); ++i) {
            results.push_back(Engine.ArchiveEntry(job, ZipFile, entries[i], static_cast<int>(i)));
            if (results.back().IsError) break;
        }
        ZipStepResult finish = Engine.FinishArchive(job, true);
        if (pFinish) *pFinish = finish;
        return results;
    }

    // The engine called directly: the call-back table (defaults for empty slots) and the
    // options at the maximum level.
    void UseEngine(const ZipUserFunctions& fns = {}, ZpOpt opt = {}) {
        Engine.ZpInit(fns);
        opt.fLevel = '9';
        Engine.ZpSetOptions(opt);
    }
};

} // namespace ziptest
