// What a run makes for itself is the user's alone under the common umask 022: archives under every
// name retention gives them (and one added to), the job's temporary folder and what is written in
// it, the archive-flag store with its write-ahead files. A copy-style backup gives each file its
// source's own mode.

#include "RunTestSupport.h"
#include "engine/JobTemp.h"
#include "engine/libCopy.h"

namespace {

using namespace runtest;

unsigned ModeOf(const std::string& sPath) {
    struct stat st {};
    if (::lstat(sPath.c_str(), &st) != 0) return 01000000; // missing: matches no mode
    return st.st_mode & 07777;
}

// Sets the umask 022 for the test and puts the one before back.
struct Umask022 {
    mode_t Old = ::umask(022);
    ~Umask022() { ::umask(Old); }
};

class PrivateRun : public RunFixture {
protected:
    Umask022 Mask;
    // The modes of the job's temporary folder and of each file in it, as seen while a run waits.
    std::map<std::string, unsigned> SeenInTemp;

    void WatchTemp(const std::string& sJob) {
        const std::string sTemp = libFiles::RemoveTrailingSlash(JobTemp::FolderOf(Tgt, sJob));
        Seam->OnEvents = [this, sTemp](int) {
            if (!libFiles::DirExists(sTemp)) return;
            SeenInTemp[sTemp] = ModeOf(sTemp);
            for (const auto& e : fs::recursive_directory_iterator(sTemp))
                if (e.is_regular_file()) SeenInTemp[e.path().string()] = ModeOf(e.path().string());
        };
    }
};

TEST_F(PrivateRun, ArchivesAre0600UnderEveryNameAndTheTemporaryFolder0700) {
    Source("d/key", std::string(5000, 'k'));
    ASSERT_EQ(::chmod((Src + "d/key").c_str(), 0600), 0);
    Source("d/shown.txt", "shown");
    WatchTemp("Docs");
    CBackupJob job = MakeJob("Docs", {Src + "d/*.*"});
    job.SetPassword("Sesame-4417");
    job.SetNumberCopies(3);
    for (int i = 0; i < 3; ++i) {
        libDates::SetClock(libDates::DateSerial(2027, 3, 15) + libDates::TimeSerial(10, i, 0));
        RunOk(job);
    }
    // The newest and the renamed older generations.
    for (const char* s : {"Docs.zip", "Docs_1.zip", "Docs_2.zip"})
        EXPECT_EQ(ModeOf(Tgt + s), 0600u) << s;
    EXPECT_EQ(ZipNames(Tgt + "Docs.zip").size(), 2u);

    // Dated names too.
    CBackupJob dated = MakeJob("Mail", {Src + "d/*.*"});
    dated.SetKeepPeriod(CBackupJob::KeepDays);
    dated.SetNumberCopies(2);
    EXPECT_FALSE(BackupRun::ExecuteBackupNow(dated));
    EXPECT_EQ(ModeOf(Tgt + "Mail_20270315.zip"), 0600u);

    // The temporary folder was seen while the runs went on, and whatever was in it.
    const std::string sTemp = libFiles::RemoveTrailingSlash(JobTemp::FolderOf(Tgt, "Docs"));
    ASSERT_EQ(SeenInTemp.count(sTemp), 1u) << "the temporary folder was never seen during a run";
    EXPECT_GE(SeenInTemp.size(), 2u) << "nothing was seen written in it";
    for (const auto& [sPath, uMode] : SeenInTemp)
        EXPECT_EQ(uMode, sPath == sTemp ? 0700u : 0600u) << sPath;
}

TEST_F(PrivateRun, CopiesKeepEachSourcesModeInEveryStyle) {
    const std::map<std::string, mode_t> modes = {{"shown.txt", 0644}, {"key", 0600}, {"tool", 0755}, {"ro", 0444}};
    for (const auto& [sName, uMode] : modes) {
        Source("d/" + sName, "content of " + sName);
        ASSERT_EQ(::chmod((Src + "d/" + sName).c_str(), uMode), 0);
    }
    for (const int32_t lStyle : {libCopy::CopyUpdate, libCopy::CopyRebuild}) {
        const std::string sName = lStyle == libCopy::CopyUpdate ? "Update" : "Rebuild";
        CBackupJob job = MakeJob(sName, {Src + "d/*.*"}, false);
        job.SetTargetDirectoryRaw(Tgt + sName + "/");
        fs::create_directories(Tgt + sName);
        job.SetCopyStyle(lStyle);
        RunOk(job);
        for (const auto& [sFile, uMode] : modes)
            EXPECT_EQ(ModeOf(Tgt + sName + "/d/" + sFile), uMode) << sName << " " << sFile;
    }
}

using PrivateStore = copytest::CopyFixture;

TEST_F(PrivateStore, TheArchiveFlagStoreAndItsWriteAheadFilesAre0600) {
    Umask022 mask;
    Write("src/a.txt", "abc");
    ArchiveFlags::Instance().Clear(P("src/a.txt"), Stat("src/a.txt"));
    const std::string sDb = ArchiveFlags::DatabaseFileName();
    ASSERT_TRUE(TempAppFolder::Exists(sDb + "-wal")) << "the store writes ahead: its log is checked too";
    for (const char* s : {"", "-wal", "-shm"})
        EXPECT_EQ(ModeOf(sDb + s), 0600u) << sDb + s;
    ArchiveFlags::Close();

    // A store an older version made readable by others is made private before it is opened.
    for (const char* s : {"", "-wal", "-shm"})
        ASSERT_EQ(::chmod((sDb + s).c_str(), 0644), 0);
    EXPECT_FALSE(ArchiveFlags::Instance().IsArchiveSet(P("src/a.txt"), Stat("src/a.txt"))) << "its rows are kept";
    for (const char* s : {"", "-wal", "-shm"}) {
        if (TempAppFolder::Exists(sDb + s)) {
            EXPECT_EQ(ModeOf(sDb + s), 0600u) << sDb + s;
        }
    }
}

class PrivateZip : public ziptest::ZipEngineTest {
protected:
    Umask022 Mask;
};

// The archive added to is written anew (under a temporary name, then renamed): private each time.
TEST_F(PrivateZip, AnArchiveAddedToStays0600) {
    Put("a.txt", "a");
    Put("b.txt", "b");
    UseEngine();
    ASSERT_EQ(Engine.ZpArchive(ZipFile, {Data + "/a.txt"}), 0);
    EXPECT_EQ(ModeOf(ZipFile), 0600u);
    ASSERT_EQ(Engine.ZpArchive(ZipFile, {Data + "/b.txt"}), 0);
    EXPECT_EQ(ModeOf(ZipFile), 0600u);
    EXPECT_EQ(ziptest::Names(ziptest::ReadArchive(ZipFile)).size(), 2u);
}

} // namespace
