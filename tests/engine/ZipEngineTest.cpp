// The zip engine through real files and real archives, read back with libzip and with
// Info-ZIP's unzip.

#include "engine/BackupRunOwner.h"
#include "engine/RunState.h"
#include "engine/libZip.h"
#include "support/UserInteraction.h"
#include "support/appMisc.h"
#include "support/libDates.h"
#include "support/libLog.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

namespace fs = std::filesystem;
using namespace libZip;

namespace {

// Entry name -> contents (directories map to "/").
std::map<std::string, std::string> ReadArchive(const std::string& sZip, const char* pPassword = nullptr) {
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

std::set<std::string> Names(const std::map<std::string, std::string>& m) {
    std::set<std::string> s;
    for (const auto& [k, v] : m)
        s.insert(k);
    return s;
}

int Shell(const std::string& sCommand) {
    int rc = std::system((sCommand + " >/dev/null 2>&1").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string Stored(const std::string& sPath) { return sPath.substr(1); }

std::string ReadFile(const std::string& sPath) {
    std::ifstream in(sPath, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A throw-away application folder with the scripted seam installed.
class ZipTestFolder {
public:
    ZipTestFolder() {
        char tmpl[] = "/tmp/stowline-zip-XXXXXX";
        if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
        m_sPath = std::string(tmpl) + "/";
        appMisc::SetAppFolder(m_sPath);
        auto seam = std::make_unique<UserInteraction::ScriptedSeam>();
        m_pSeam = seam.get();
        m_pPrevious = UserInteraction::Install(std::move(seam));
    }
    ~ZipTestFolder() {
        UserInteraction::Install(std::move(m_pPrevious));
        appMisc::SetAppFolder("");
        std::error_code ec;
        fs::remove_all(m_sPath, ec);
    }
    const std::string& Path() const { return m_sPath; }
    UserInteraction::ScriptedSeam& Seam() { return *m_pSeam; }
    std::string WriteFile(const std::string& sRelative, const std::string& sBytes) const {
        fs::path p = m_sPath + sRelative;
        fs::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out << sBytes;
        return p.string();
    }

private:
    std::string m_sPath;
    UserInteraction::ScriptedSeam* m_pSeam = nullptr;
    std::unique_ptr<UserInteraction::Seam> m_pPrevious;
};

class RecordingOwner : public BackupRunOwner {
public:
    std::vector<std::string> Texts;
    void SetMessageText(const std::string& sText) override { Texts.push_back(sText); }
    std::string MessageText() const override { return Texts.empty() ? "" : Texts.back(); }
    void SetLight(int, bool) override {}
    void Repaint() override {}
    void SetBusyPointer(bool) override {}
};

class ZipEngine : public ::testing::Test {
protected:
    ZipTestFolder App;
    std::string Data;    // source tree, no final "/"
    std::string Target;  // archive folder, final "/"
    std::string ZipFile; // Target + "Job.zip"

    void SetUp() override {
        Data = App.Path() + "data";
        Target = App.Path() + "target/";
        fs::create_directories(Data);
        fs::create_directories(Target);
        ZipFile = Target + "Job.zip";
        libLog::SetPendingComment("");
        RunState::SetAbortRequested(false);
        SetOpenFunction({});
    }
    void TearDown() override {
        ZpCloseArchive(false);
        SetOpenFunction({});
        RunState::SetAbortRequested(false);
        libLog::SetPendingComment("");
    }

    std::string Put(const std::string& sRelative, const std::string& sBytes) {
        return App.WriteFile("data/" + sRelative, sBytes);
    }
    std::string Log() const { return ReadFile(libLog::LogFileName()); }

    // A run's zip step over several entries, written once at the end.
    std::vector<ZipStepResult> Run(const ZipJobValues& job, const std::vector<std::string>& entries,
                                   ZipStepResult* pFinish = nullptr) {
        std::vector<ZipStepResult> results;
        for (size_t i = 0; i < entries.size(); ++i) {
            results.push_back(ArchiveEntry(job, ZipFile, entries[i], static_cast<int>(i)));
            if (results.back().IsError) break;
        }
        ZipStepResult finish = FinishArchive(job, true);
        if (pFinish) *pFinish = finish;
        return results;
    }
};

} // namespace

TEST(ZipResults, EveryCodeHasItsText) {
    EXPECT_EQ(ZipResultMessage(0), "");
    EXPECT_EQ(ZipResultMessage(2), "Unexpected end of zip file");
    EXPECT_EQ(ZipResultMessage(3), "A generic error in the zipfile format was detected.  Processing may have completed "
                                   "successfully anyway; some broken zipfiles created by other archivers have simple "
                                   "work-arounds.");
    EXPECT_EQ(ZipResultMessage(4),
              "zip was unable to allocate memory for one or more buffers during program initialization");
    EXPECT_EQ(ZipResultMessage(5),
              "A severe error in the zipfile format was detected.  Processing probably failed immediately");
    EXPECT_EQ(ZipResultMessage(6), "Miscellaneous Zip Error (6)");
    EXPECT_EQ(ZipResultMessage(7), "Miscellaneous Zip Error (7)");
    EXPECT_EQ(ZipResultMessage(16), "Miscellaneous Zip Error (16)");
    EXPECT_EQ(ZipResultMessage(8), "Out of memory or Zip -T failed");
    EXPECT_EQ(ZipResultMessage(9), "The user aborted zip prematurely with control-C (or similar)");
    EXPECT_EQ(ZipResultMessage(10), "Zip encountered an error while using a temp file");
    EXPECT_EQ(ZipResultMessage(11), "Read or seek error");
    EXPECT_EQ(ZipResultMessage(12), "Zip has nothing to do");
    EXPECT_EQ(ZipResultMessage(13), "Missing or empty zip file");
    EXPECT_EQ(ZipResultMessage(14), "Error writing to a file");
    EXPECT_EQ(ZipResultMessage(15), "Zip was unable to create a file to write to");
    EXPECT_EQ(ZipResultMessage(18), "One or more source files were unable to be archived from the filespec  This "
                                    "error is typically caused by a file in use.");
    EXPECT_EQ(ZipResultMessage(1), "Unhandled Error#1 has occurred");
    EXPECT_EQ(ZipResultMessage(17), "Unhandled Error#17 has occurred");
    EXPECT_EQ(ZipResultMessage(255), "Unhandled Error#255 has occurred");

    EXPECT_FALSE(ZipResultIsError(0, false));
    EXPECT_FALSE(ZipResultIsError(18, false));
    EXPECT_TRUE(ZipResultIsError(12, false));
    EXPECT_FALSE(ZipResultIsError(12, true));
    for (int code : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14, 15, 16, 17, 255})
        EXPECT_TRUE(ZipResultIsError(code, true)) << code;
}

TEST(ZipNameList, EntriesAndExclusions) {
    std::vector<std::string> names;
    ASSERT_TRUE(BuildNameList("/data/*.*", "", names));
    EXPECT_EQ(names, std::vector<std::string>({"/data/*.*"}));
    ASSERT_TRUE(BuildNameList("/data/report.txt", "", names));
    EXPECT_EQ(names, std::vector<std::string>({"/data/report.txt"}));
    ASSERT_TRUE(BuildNameList("/data/*.txt", "", names));
    EXPECT_EQ(names, std::vector<std::string>({"/data/", "-i", "/*.txt"}));
    // A pattern that is not the whole last component stays whole.
    ASSERT_TRUE(BuildNameList("/data/report*.txt", "", names));
    EXPECT_EQ(names, std::vector<std::string>({"/data/report*.txt"}));
    ASSERT_TRUE(BuildNameList("/data/*.doc", "~*.doc\r\n\r\n*.tmp\r\n", names));
    EXPECT_EQ(names, std::vector<std::string>({"/data/", "-i", "/*.doc", "-x", "~*.doc", "*.tmp"}));

    // No limit of 129 names: every exclusion is passed.
    std::string sSpec;
    for (int i = 0; i < 300; ++i)
        sSpec += "x" + std::to_string(i) + ".tmp\r\n";
    ASSERT_TRUE(BuildNameList("/data", sSpec, names));
    ASSERT_EQ(names.size(), 302u);
    EXPECT_EQ(names.back(), "x299.tmp");
}

TEST(ZipVersionRecord, TextForTheAboutBox) {
    ZpVer v;
    ZpVersion(v);
    EXPECT_EQ(v.Major, 1);
    EXPECT_GE(v.Minor, 7);
    EXPECT_LE(v.Name.size(), 20u);
    EXPECT_LE(v.Zlib.size(), 10u);
    EXPECT_EQ(ZipVersionText(), " Windll v" + std::to_string(v.Major) + "." + std::to_string(v.Minor) + " Patch " +
                                    std::to_string(v.Patch) + " " + v.Name + " " + v.Zlib);
    EXPECT_EQ(v.Name, std::string("libzip ") + zip_libzip_version());
}

TEST_F(ZipEngine, FolderTreeWithFullPathNamesDotFilesAndLinks) {
    std::string sText(20000, 'a');
    Put("a.txt", sText);
    Put(".hidden", "dot file");
    Put("sub/b.txt", "bee");
    Put("sub/.cache/c.txt", "sea");
    fs::create_directories(Data + "/empty");
    fs::create_directory_symlink(Data + "/sub", Data + "/loop");
    fs::create_symlink(Data + "/a.txt", Data + "/link.txt");
    fs::create_symlink(Data + "/missing", Data + "/dangling");
    ASSERT_EQ(::mkfifo((Data + "/fifo").c_str(), 0600), 0);

    ZipJobValues job;
    job.Subdirectories = true;
    ZipStepResult finish;
    auto results = Run(job, {Data}, &finish);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].Code, 0);
    EXPECT_EQ(finish.Code, 0);

    auto entries = ReadArchive(ZipFile);
    std::string d = Stored(Data);
    EXPECT_EQ(Names(entries),
              std::set<std::string>({d + "/", d + "/a.txt", d + "/.hidden", d + "/link.txt", d + "/sub/",
                                     d + "/sub/b.txt", d + "/sub/.cache/", d + "/sub/.cache/c.txt", d + "/empty/"}));
    EXPECT_EQ(entries[d + "/a.txt"], sText);
    EXPECT_EQ(entries[d + "/link.txt"], sText);
    EXPECT_EQ(entries[d + "/sub/.cache/c.txt"], "sea");
    EXPECT_EQ(Shell("unzip -t '" + ZipFile + "'"), 0);

    // Deflated at the maximum level, stored for nothing at all.
    zip_t* za = zip_open(ZipFile.c_str(), ZIP_RDONLY, nullptr);
    ASSERT_NE(za, nullptr);
    zip_stat_t st;
    ASSERT_EQ(zip_stat(za, (d + "/a.txt").c_str(), 0, &st), 0);
    EXPECT_EQ(st.comp_method, ZIP_CM_DEFLATE);
    EXPECT_LT(st.comp_size, 200u);
    zip_discard(za);
    EXPECT_EQ(Log(), "");
}

TEST_F(ZipEngine, FolderWithoutRecursionTakesItsOwnFiles) {
    Put("a.txt", "a");
    Put("sub/b.txt", "b");
    ZipJobValues job;
    auto results = Run(job, {Data});
    EXPECT_EQ(results[0].Code, 0);
    std::string d = Stored(Data);
    EXPECT_EQ(Names(ReadArchive(ZipFile)), std::set<std::string>({d + "/", d + "/a.txt"}));
}

TEST_F(ZipEngine, WildcardWithAndWithoutSubfolders) {
    Put("a.doc", "a");
    Put("B.DOC", "b");
    Put("c.txt", "c");
    Put("sub/d.doc", "d");
    std::string d = Stored(Data);

    ZipJobValues flat;
    auto results = Run(flat, {Data + "/*.doc"});
    EXPECT_EQ(results[0].Code, 0);
    EXPECT_EQ(Names(ReadArchive(ZipFile)), std::set<std::string>({d + "/a.doc", d + "/B.DOC"}));

    fs::remove(ZipFile);
    ZipJobValues deep;
    deep.Subdirectories = true;
    Run(deep, {Data + "/*.doc"});
    EXPECT_EQ(Names(ReadArchive(ZipFile)), std::set<std::string>({d + "/a.doc", d + "/B.DOC", d + "/sub/d.doc"}));

    // A wildcard inside the name, without subfolders.
    fs::remove(ZipFile);
    Put("report1.txt", "r1");
    Put("report.doc", "r");
    Put("README", "no extension");
    Run(flat, {Data + "/report*.txt"});
    EXPECT_EQ(Names(ReadArchive(ZipFile)), std::set<std::string>({d + "/report1.txt"}));
    fs::remove(ZipFile);
    Run(flat, {Data + "/R*.*"});
    EXPECT_EQ(Names(ReadArchive(ZipFile)),
              std::set<std::string>({d + "/README", d + "/report.doc", d + "/report1.txt"}));

    // "*.*" takes everything, as the user means it.
    fs::remove(ZipFile);
    Run(deep, {Data + "/*.*"});
    EXPECT_EQ(Names(ReadArchive(ZipFile)),
              std::set<std::string>({d + "/a.doc", d + "/B.DOC", d + "/c.txt", d + "/README", d + "/report.doc",
                                     d + "/report1.txt", d + "/sub/", d + "/sub/d.doc"}));
    EXPECT_EQ(Log(), "");
}

TEST_F(ZipEngine, NothingToDoIsAnErrorUnlessIncremental) {
    Put("a.txt", "a");
    ZipJobValues job;
    auto results = Run(job, {Data + "/*.doc"});
    EXPECT_EQ(results[0].Code, ZE_NONE);
    EXPECT_TRUE(results[0].IsError);
    EXPECT_NE(Log().find("Zip has nothing to do"), std::string::npos);
    EXPECT_FALSE(fs::exists(ZipFile));

    fs::remove(libLog::LogFileName());
    job.Incremental = true;
    job.DateLastRun = libDates::Now() - 1;
    results = Run(job, {Data + "/*.doc"});
    EXPECT_EQ(results[0].Code, ZE_NONE);
    EXPECT_FALSE(results[0].IsError);
    EXPECT_EQ(Log(), "");
}

TEST_F(ZipEngine, ExclusionsBeyondTheOldLimitAllApply) {
    for (int i = 0; i < 200; ++i)
        Put("f" + std::to_string(i) + ".dat", "x");
    Put("keep.txt", "k");
    Put("sub/skip.tmp", "s");
    Put("sub/keep.tmp2", "k");
    std::string sSpec = "*.TMP\r\n";
    for (int i = 0; i < 200; ++i)
        sSpec += "f" + std::to_string(i) + ".dat\r\n"; // the last ones lie past name 129
    ZipJobValues job;
    job.Subdirectories = true;
    job.ExcludeSpec = sSpec;
    Run(job, {Data});
    std::string d = Stored(Data);
    EXPECT_EQ(Names(ReadArchive(ZipFile)),
              std::set<std::string>({d + "/", d + "/keep.txt", d + "/sub/", d + "/sub/keep.tmp2"}));
}

TEST_F(ZipEngine, IncludeAndExcludeNamesWithWildcardsAndPaths) {
    Put("a1.doc", "1");
    Put("ab.doc", "2");
    Put("~tmp.doc", "3");
    Put("cache/x.doc", "4");
    Put("sub/y.doc", "5");
    ZpInit({});
    ZpOpt opt;
    opt.fRecurse = true;
    opt.fSystem = true;
    opt.fLevel = '9';
    ZpSetOptions(opt);
    EXPECT_EQ(ZpArchive(ZipFile, {Data + "/", "-i", "/*.doc", "-x", "~*", "a#.doc", Data + "/cache/*"}), 0);
    std::string d = Stored(Data);
    EXPECT_EQ(Names(ReadArchive(ZipFile)), std::set<std::string>({d + "/ab.doc", d + "/sub/y.doc"}));
    // Only known switches are taken.
    EXPECT_EQ(ZpArchive(ZipFile, {"-q", Data}), ZE_PARMS);
}

TEST_F(ZipEngine, PasswordArchiveNeedsThePassword) {
    Put("secret.txt", std::string(5000, 's'));
    Put("other.txt", "other");
    ZipJobValues job;
    job.Password = "pa ss";
    auto results = Run(job, {Data + "/secret.txt", Data + "/other.txt"});
    EXPECT_EQ(results[0].Code, 0);
    EXPECT_EQ(results[1].Code, 0);
    EXPECT_TRUE(App.Seam().Calls.empty()); // the job's password is used for both entries, nobody is asked

    EXPECT_EQ(Shell("unzip -t -P 'pa ss' '" + ZipFile + "'"), 0);
    EXPECT_NE(Shell("unzip -t -P wrong '" + ZipFile + "'"), 0);
    auto withPassword = ReadArchive(ZipFile, "pa ss");
    EXPECT_EQ(withPassword[Stored(Data) + "/secret.txt"], std::string(5000, 's'));
    EXPECT_EQ(withPassword[Stored(Data) + "/other.txt"], "other");
    auto without = ReadArchive(ZipFile);
    EXPECT_EQ(without[Stored(Data) + "/secret.txt"], "<unreadable>");

    zip_t* za = zip_open(ZipFile.c_str(), ZIP_RDONLY, nullptr);
    zip_stat_t st;
    ASSERT_EQ(zip_stat_index(za, 0, 0, &st), 0);
    EXPECT_EQ(st.encryption_method, ZIP_EM_TRAD_PKWARE);
    zip_discard(za);
}

TEST_F(ZipEngine, DefaultPasswordRoutineAsksTheUser) {
    Put("a.txt", "a");
    ZpInit({});
    ZpOpt opt;
    opt.fEncrypt = true;
    opt.fLevel = '9';
    ZpSetOptions(opt);
    App.Seam().Inputs.push_back("typed");
    EXPECT_EQ(ZpArchive(ZipFile, {Data + "/a.txt"}), 0);
    ASSERT_EQ(App.Seam().Calls.size(), 1u);
    EXPECT_EQ(App.Seam().Calls[0].Kind, "InputBox");
    EXPECT_EQ(App.Seam().Calls[0].Request.Text, "Please enter password!");
    EXPECT_EQ(Shell("unzip -t -P typed '" + ZipFile + "'"), 0);

    // No answer: never stored in the clear.
    fs::remove(ZipFile);
    EXPECT_EQ(ZpArchive(ZipFile, {Data + "/a.txt"}), ZE_PARMS);
    EXPECT_FALSE(fs::exists(ZipFile));
}

TEST_F(ZipEngine, CommentComesFromThePendingCommentForEntryZeroOnly) {
    Put("a.txt", "a");
    Put("b.txt", "b");
    libLog::SetPendingComment("Before the upgrade");
    ZipJobValues job;
    Run(job, {Data + "/a.txt", Data + "/b.txt"});
    zip_t* za = zip_open(ZipFile.c_str(), ZIP_RDONLY, nullptr);
    ASSERT_NE(za, nullptr);
    int len = 0;
    const char* c = zip_get_archive_comment(za, &len, 0);
    EXPECT_EQ(std::string(c ? c : "", static_cast<size_t>(len)), "Before the upgrade");
    zip_discard(za);
    EXPECT_TRUE(App.Seam().Calls.empty());

    // Without a pending comment nothing is stored and nobody is asked.
    fs::remove(ZipFile);
    libLog::SetPendingComment("");
    Run(job, {Data + "/a.txt"});
    za = zip_open(ZipFile.c_str(), ZIP_RDONLY, nullptr);
    ASSERT_NE(za, nullptr);
    const char* none = zip_get_archive_comment(za, &len, 0);
    EXPECT_TRUE(none == nullptr || len == 0);
    zip_discard(za);
    EXPECT_TRUE(App.Seam().Calls.empty());
}

TEST_F(ZipEngine, IncrementalTakesFilesChangedSinceTheLastRunDay) {
    std::string sOld = Put("old.txt", "old");
    Put("new.txt", "new");
    Put("sub/older.txt", "older");
    std::time_t tenDaysAgo = std::time(nullptr) - 10 * 86400;
    struct timespec times[2] = {{tenDaysAgo, 0}, {tenDaysAgo, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, sOld.c_str(), times, 0), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, (Data + "/sub/older.txt").c_str(), times, 0), 0);

    ZipJobValues job;
    job.Incremental = true;
    job.Subdirectories = true;
    job.DateLastRun = libDates::Now() - 2;
    Run(job, {Data});
    EXPECT_EQ(Names(ReadArchive(ZipFile)), std::set<std::string>({Stored(Data) + "/new.txt"}));

    // Nothing changed since: no archive, no error, nothing logged.
    fs::remove(ZipFile);
    job.DateLastRun = libDates::Now() + 1;
    ZipStepResult finish;
    auto results = Run(job, {Data}, &finish);
    EXPECT_EQ(results[0].Code, ZE_NONE);
    EXPECT_FALSE(results[0].IsError);
    EXPECT_EQ(finish.Code, 0);
    EXPECT_FALSE(fs::exists(ZipFile));
    EXPECT_EQ(Log(), "");
}

TEST_F(ZipEngine, UnreadableFileIsLeftOutWithResult18) {
    Put("a.txt", "a");
    std::string sLocked = Put("locked.txt", "locked");
    Put("z.txt", "z");
    SetOpenFunction([sLocked](const std::string& sPath) {
        if (sPath == sLocked) {
            errno = EACCES;
            return -1;
        }
        return ::open(sPath.c_str(), O_RDONLY | O_CLOEXEC);
    });
    ZipJobValues job;
    ZipStepResult finish;
    auto results = Run(job, {Data}, &finish);
    EXPECT_EQ(results[0].Code, ZE_OPEN);
    EXPECT_FALSE(results[0].IsError);
    EXPECT_EQ(finish.Code, 0); // reported once, by the entry that met it
    std::string d = Stored(Data);
    EXPECT_EQ(Names(ReadArchive(ZipFile)), std::set<std::string>({d + "/", d + "/a.txt", d + "/z.txt"}));
    std::string sLog = Log();
    const std::string sText = "One or more source files were unable to be archived from the filespec";
    ASSERT_NE(sLog.find(sText), std::string::npos);
    EXPECT_EQ(sLog.find(sText, sLog.find(sText) + 1), std::string::npos);

    // Standalone, the call reports it too.
    fs::remove(ZipFile);
    ZpInit({});
    ZpSetOptions(ZpOpt{});
    EXPECT_EQ(ZpArchive(ZipFile, {Data}), ZE_OPEN);
    EXPECT_EQ(Names(ReadArchive(ZipFile)), std::set<std::string>({d + "/", d + "/a.txt", d + "/z.txt"}));
}

TEST_F(ZipEngine, FileVanishingBeforeCompressionIsLeftOut) {
    Put("a.txt", std::string(100000, 'a'));
    std::string sGone = Put("b.txt", "b");
    Put("c.txt", std::string(100000, 'c'));
    ZipJobValues job;
    EXPECT_EQ(ArchiveEntry(job, ZipFile, Data, 0).Code, 0);
    fs::remove(sGone); // between selection and compression
    EXPECT_EQ(FinishArchive(job, true).Code, ZE_OPEN);
    std::string d = Stored(Data);
    auto entries = ReadArchive(ZipFile);
    EXPECT_EQ(Names(entries), std::set<std::string>({d + "/", d + "/a.txt", d + "/c.txt"}));
    EXPECT_EQ(entries[d + "/c.txt"], std::string(100000, 'c'));
    EXPECT_EQ(Shell("unzip -t '" + ZipFile + "'"), 0);
}

TEST_F(ZipEngine, ServiceCallbackOncePerFileAndAbortLeavesNoArchive) {
    for (char c = 'a'; c <= 'e'; ++c)
        Put(std::string(1, c) + ".txt", std::string(1000, c));
    RecordingOwner owner;
    RunState::OwnerScope scope(&owner);
    ZipJobValues job;
    ASSERT_EQ(ArchiveEntry(job, ZipFile, Data, 0).Code, 0);
    EXPECT_TRUE(owner.Texts.empty()); // nothing is compressed before the archive is written
    EXPECT_FALSE(fs::exists(ZipFile));
    ASSERT_EQ(FinishArchive(job, true).Code, 0);
    ASSERT_EQ(owner.Texts.size(), 5u);
    EXPECT_EQ(owner.Texts[0], Data + "/a.txt (1000)");
    EXPECT_EQ(owner.Texts[4], Data + "/e.txt (1000)");

    // Abort: the stop answer comes at the third file; nothing carries the archive's name.
    fs::remove(ZipFile);
    owner.Texts.clear();
    int calls = 0;
    ZipUserFunctions fns;
    fns.Service = [&](const std::string&, int64_t) { return ++calls == 3 ? 1 : 0; };
    ZpInit(fns);
    ZpOpt opt;
    opt.fLevel = '9';
    ZpSetOptions(opt);
    EXPECT_EQ(ZpArchive(ZipFile, {Data}), ZE_ABORT);
    EXPECT_EQ(calls, 3);
    EXPECT_FALSE(fs::exists(ZipFile));
    EXPECT_EQ(std::distance(fs::directory_iterator(Target), fs::directory_iterator()), 0);
}

TEST_F(ZipEngine, PollStopsTheArchiveWithinALongFile) {
    std::string sNoise;
    unsigned x = 7;
    for (size_t i = 0; i < (10u << 20); ++i) {
        x = x * 1103515245u + 12345u;
        sNoise += static_cast<char>(x >> 24);
    }
    Put("a.txt", "a");
    Put("b-long.bin", sNoise);
    Put("c.txt", "c");
    std::vector<std::string> announced;
    int polls = 0;
    ZipUserFunctions fns;
    fns.Service = [&](const std::string& sName, int64_t) {
        announced.push_back(fs::path(sName).filename().string());
        return 0;
    };
    fns.Poll = [&] { return ++polls == 2 ? 1 : 0; };
    ZpInit(fns);
    ZpOpt opt;
    opt.fLevel = '9';
    ZpSetOptions(opt);
    EXPECT_EQ(ZpArchive(ZipFile, {Data}), ZE_ABORT);
    EXPECT_EQ(polls, 2);
    EXPECT_EQ(announced, std::vector<std::string>({"a.txt", "b-long.bin"})); // stopped inside the long file
    EXPECT_FALSE(fs::exists(ZipFile));
    EXPECT_EQ(std::distance(fs::directory_iterator(Target), fs::directory_iterator()), 0);

    // Polls that go on change nothing.
    polls = -100;
    EXPECT_EQ(ZpArchive(ZipFile, {Data}), 0);
    EXPECT_GE(polls, -98);
    EXPECT_TRUE(ReadArchive(ZipFile)[Stored(Data) + "/b-long.bin"] == sNoise);
}

TEST_F(ZipEngine, UserAbortThroughTheRunDiscardsTheNewArchive) {
    Put("a.txt", "a");
    Put("b.txt", "b");
    RecordingOwner owner;
    RunState::OwnerScope scope(&owner);
    ZipJobValues job;
    ASSERT_EQ(ArchiveEntry(job, ZipFile, Data + "/a.txt", 0).Code, 0);
    ASSERT_EQ(ArchiveEntry(job, ZipFile, Data + "/b.txt", 1).Code, 0);
    RunState::SetAbortRequested(true);
    ZipStepResult finish = FinishArchive(job, true);
    EXPECT_EQ(finish.Code, ZE_ABORT);
    EXPECT_TRUE(finish.IsError);
    EXPECT_FALSE(fs::exists(ZipFile));
    EXPECT_EQ(std::distance(fs::directory_iterator(Target), fs::directory_iterator()), 0);
    ASSERT_FALSE(owner.Texts.empty());
    EXPECT_EQ(owner.Texts.back(), "Backup aborted!");
    std::string sLog = Log();
    EXPECT_NE(sLog.find("Backup terminated by user"), std::string::npos);
    EXPECT_NE(sLog.find("The user aborted zip prematurely with control-C (or similar)"), std::string::npos);
}

TEST_F(ZipEngine, LaterEntryErrorKeepsTheEarlierEntries) {
    Put("a.txt", "a");
    ZipJobValues job;
    ZipStepResult finish;
    auto results = Run(job, {Data + "/a.txt", Data + "/*.none", Data + "/a.txt"}, &finish);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[1].Code, ZE_NONE);
    EXPECT_EQ(finish.Code, 0);
    EXPECT_EQ(Names(ReadArchive(ZipFile)), std::set<std::string>({Stored(Data) + "/a.txt"}));
}

TEST_F(ZipEngine, ArchiveIsWrittenOnceForAllEntries) {
    Put("one/a.txt", "a");
    Put("two/b.txt", "b");
    ZipJobValues job;
    job.Subdirectories = true;
    EXPECT_EQ(ArchiveEntry(job, ZipFile, Data + "/one", 0).Code, 0);
    EXPECT_EQ(ArchiveEntry(job, ZipFile, Data + "/two", 1).Code, 0);
    EXPECT_FALSE(fs::exists(ZipFile)); // not rewritten per entry
    EXPECT_EQ(FinishArchive(job, true).Code, 0);
    std::string d = Stored(Data);
    EXPECT_EQ(Names(ReadArchive(ZipFile)),
              std::set<std::string>({d + "/one/", d + "/one/a.txt", d + "/two/", d + "/two/b.txt"}));

    // An abandoned run drops what it queued.
    fs::remove(ZipFile);
    EXPECT_EQ(ArchiveEntry(job, ZipFile, Data + "/one", 0).Code, 0);
    EXPECT_EQ(FinishArchive(job, false).Code, 0);
    EXPECT_FALSE(fs::exists(ZipFile));
}

TEST_F(ZipEngine, ArchiveFailuresMapToResultCodes) {
    Put("a.txt", "a");
    ZipJobValues job;
    // A folder that does not exist: the archive cannot be created.
    std::string sMissing = App.Path() + "nowhere/Job.zip";
    EXPECT_EQ(ArchiveEntry(job, sMissing, Data, 0).Code, 0);
    ZipStepResult finish = FinishArchive(job, true);
    EXPECT_EQ(finish.Code, ZE_CREAT);
    EXPECT_TRUE(finish.IsError);
    EXPECT_NE(Log().find("Zip was unable to create a file to write to"), std::string::npos);

    // Something that is not a zip archive under the archive's name is left alone.
    App.WriteFile("target/Job.zip", "this is not a zip archive");
    ZipStepResult r = ArchiveEntry(job, ZipFile, Data, 0);
    EXPECT_EQ(r.Code, ZE_FORM);
    EXPECT_TRUE(r.IsError);
    FinishArchive(job, true);
    EXPECT_EQ(ReadFile(ZipFile), "this is not a zip archive");

    // A name list that names nothing.
    ZpInit({});
    EXPECT_EQ(ZpArchive(ZipFile + "2", {}), ZE_NONE);
    EXPECT_EQ(ZpArchive("", {Data}), ZE_NAME);
}

// A full disk while writing: result 14 and nothing left behind. Needs a small file system;
// skipped where this process may not mount one.
TEST_F(ZipEngine, FullDiskGivesAWriteErrorAndLeavesNothing) {
    std::string sSmall = App.Path() + "small";
    fs::create_directories(sSmall);
    if (std::system(("mount -t tmpfs -o size=128k tmpfs '" + sSmall + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    std::string sNoise;
    unsigned x = 3;
    for (size_t i = 0; i < (1u << 20); ++i) {
        x = x * 1103515245u + 12345u;
        sNoise += static_cast<char>(x >> 24);
    }
    Put("noise.bin", sNoise);
    ZipJobValues job;
    std::string sZip = sSmall + "/Job.zip";
    EXPECT_EQ(ArchiveEntry(job, sZip, Data, 0).Code, 0);
    ZipStepResult finish = FinishArchive(job, true);
    size_t left = static_cast<size_t>(std::distance(fs::directory_iterator(sSmall), fs::directory_iterator()));
    std::system(("umount '" + sSmall + "'").c_str());
    EXPECT_EQ(finish.Code, ZE_WRITE);
    EXPECT_TRUE(finish.IsError);
    EXPECT_EQ(left, 0u);
    EXPECT_NE(Log().find("Error writing to a file"), std::string::npos);
}

TEST_F(ZipEngine, AddsToAnExistingArchive) {
    Put("a.txt", "a");
    Put("b.txt", "b");
    ZpInit({});
    ZpOpt opt;
    opt.fLevel = '9';
    ZpSetOptions(opt);
    EXPECT_EQ(ZpArchive(ZipFile, {Data + "/a.txt"}), 0);
    EXPECT_EQ(ZpArchive(ZipFile, {Data + "/b.txt"}), 0);
    EXPECT_EQ(Names(ReadArchive(ZipFile)), std::set<std::string>({Stored(Data) + "/a.txt", Stored(Data) + "/b.txt"}));
}

// Replacing an entry of an existing archive puts it out of the order the files were queued
// in; such a file is deflated on the calling thread, in pieces too.
TEST_F(ZipEngine, ReplacedEntryOutOfQueueOrderIsWrittenCorrectly) {
    Put("a.txt", "old a");
    Put("b.txt", "b");
    ZpInit({});
    ZpOpt opt;
    opt.fLevel = '9';
    ZpSetOptions(opt);
    ASSERT_EQ(ZpArchive(ZipFile, {Data + "/a.txt", Data + "/b.txt"}), 0);
    std::string sNew;
    for (int i = 0; sNew.size() < (3u << 20); ++i)
        sNew += "line " + std::to_string(i) + "\n";
    Put("a.txt", sNew);
    Put("c.txt", "c");
    ASSERT_EQ(ZpArchive(ZipFile, {Data + "/c.txt", Data + "/a.txt"}), 0);
    auto entries = ReadArchive(ZipFile);
    std::string d = Stored(Data);
    EXPECT_EQ(Names(entries), std::set<std::string>({d + "/a.txt", d + "/b.txt", d + "/c.txt"}));
    EXPECT_TRUE(entries[d + "/a.txt"] == sNew);
    EXPECT_EQ(entries[d + "/c.txt"], "c");
    EXPECT_EQ(Shell("unzip -tq '" + ZipFile + "'"), 0);
}

// Long files are deflated in pieces by several threads; the pieces must form one valid
// deflate stream with the same content and within 1 % of a single-stream deflate.
TEST_F(ZipEngine, LongFilesSpanningManyChunksReadBackExactly) {
    std::string sText;
    unsigned x = 12345;
    while (sText.size() < (7u << 20) / 2) {
        x = x * 1103515245u + 12345u;
        sText += "record " + std::to_string((x >> 8) % 5000) + " status " + std::to_string((x >> 4) % 7) + "\n";
    }
    std::string sBinary;
    for (size_t i = 0; i < (5u << 20) / 2; ++i) {
        x = x * 1103515245u + 12345u;
        sBinary += static_cast<char>(x >> 24);
    }
    Put("text.log", sText);
    Put("noise.bin", sBinary);
    for (int i = 0; i < 50; ++i)
        Put("small/" + std::to_string(i) + ".txt", sText.substr(static_cast<size_t>(i) * 1000, 3000));

    for (const char* pPassword : {"", "pw"}) {
        fs::remove(ZipFile);
        ZipJobValues job;
        job.Subdirectories = true;
        job.Password = pPassword;
        ZipStepResult finish;
        auto results = Run(job, {Data}, &finish);
        ASSERT_EQ(results[0].Code, 0);
        ASSERT_EQ(finish.Code, 0);
        auto entries = ReadArchive(ZipFile, *pPassword ? pPassword : nullptr);
        std::string d = Stored(Data);
        EXPECT_TRUE(entries[d + "/text.log"] == sText);
        EXPECT_TRUE(entries[d + "/noise.bin"] == sBinary);
        EXPECT_EQ(entries[d + "/small/49.txt"], sText.substr(49000, 3000));
        EXPECT_EQ(Shell("unzip -tq -P '" + std::string(pPassword) + "' '" + ZipFile + "'"), 0);
    }

    // Within 1 % of one zlib stream at level 9.
    zip_t* za = zip_open(ZipFile.c_str(), ZIP_RDONLY, nullptr);
    ASSERT_NE(za, nullptr);
    zip_stat_t st;
    ASSERT_EQ(zip_stat(za, (Stored(Data) + "/text.log").c_str(), 0, &st), 0);
    zip_discard(za);
    uLongf single = compressBound(static_cast<uLong>(sText.size()));
    std::string out(single, '\0');
    ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &single, reinterpret_cast<const Bytef*>(sText.data()),
                        static_cast<uLong>(sText.size()), 9),
              Z_OK);
    EXPECT_LT(st.comp_size, single + single / 100); // pieces cost a little at each start
}

// Zip64 by entry count: more entries than the classic end record can count.
TEST_F(ZipEngine, Zip64ForMoreThan65535Entries) {
    const int iCount = 65600;
    fs::create_directories(Data + "/many");
    for (int i = 0; i < iCount; ++i) {
        int fd = ::open((Data + "/many/" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    ZipJobValues job;
    auto results = Run(job, {Data + "/many"});
    EXPECT_EQ(results[0].Code, 0);
    zip_t* za = zip_open(ZipFile.c_str(), ZIP_RDONLY, nullptr);
    ASSERT_NE(za, nullptr);
    EXPECT_EQ(zip_get_num_entries(za, 0), iCount + 1);
    zip_discard(za);
    std::string sBytes = ReadFile(ZipFile);
    EXPECT_NE(sBytes.find(std::string("PK\x06\x06", 4)), std::string::npos); // Zip64 end record
    EXPECT_EQ(Shell("unzip -tq '" + ZipFile + "'"), 0);
}

// Zip64 by size: a sparse file over 4 GiB. Deflating 4 GiB takes a minute or more,
// so this runs only when STOWLINE_SLOW_TESTS is set (the entry-count test above covers
// the Zip64 records otherwise).
TEST_F(ZipEngine, Zip64ForAFileOver4GiB) {
    if (!std::getenv("STOWLINE_SLOW_TESTS")) GTEST_SKIP() << "set STOWLINE_SLOW_TESTS=1 to run";
    std::string sBig = Data + "/big.bin";
    {
        int fd = ::open(sBig.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, (int64_t{1} << 32) + 12345), 0);
        ASSERT_EQ(::pwrite(fd, "end", 3, (int64_t{1} << 32) + 12000), 3);
        ::close(fd);
    }
    ZipJobValues job;
    auto results = Run(job, {sBig});
    EXPECT_EQ(results[0].Code, 0);
    zip_t* za = zip_open(ZipFile.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, nullptr);
    ASSERT_NE(za, nullptr);
    zip_stat_t st;
    ASSERT_EQ(zip_stat_index(za, 0, 0, &st), 0);
    EXPECT_EQ(st.size, (uint64_t{1} << 32) + 12345);
    zip_discard(za);
    EXPECT_EQ(Shell("unzip -tq '" + ZipFile + "'"), 0);
}
