// The files and folders Stowline makes for itself are the user's alone whatever the umask: the
// application folder, the job folder, the logs, the error report and the preferences. Files an
// older version left readable by others are made private; a link or another file is left alone.

#include "common/TempAppFolder.h"
#include "support/StowError.h"
#include "support/libFiles.h"
#include "support/libIni.h"

#include <unistd.h>

namespace {

class PrivateFiles : public TempAppFolder {
protected:
    void SetUp() override {
        m_uOldUmask = ::umask(022); // the common umask, under which 0644 would be the default
        TempAppFolder::SetUp();
    }
    void TearDown() override {
        TempAppFolder::TearDown();
        ::umask(m_uOldUmask);
    }
    static unsigned Mode(const std::string& sPath) {
        struct stat st {};
        if (::lstat(sPath.c_str(), &st) != 0) return 01000000; // missing: matches no mode
        return st.st_mode & 07777;
    }
    static void MakeWithMode(const std::string& sPath, mode_t mode, const std::string& sBytes = "old\r\n") {
        WriteFile(sPath, sBytes);
        ASSERT_EQ(::chmod(sPath.c_str(), mode), 0);
    }

private:
    mode_t m_uOldUmask = 022;
};

TEST_F(PrivateFiles, FoldersStowlineMakesForItselfAre0700AndExistingOnesKeepTheirMode) {
    // The application folder and the missing parents made for it.
    const std::string sApp = Root + "data/stowline/";
    appMisc::SetAppFolder(sApp);
    EXPECT_EQ(Mode(Root + "data"), 0700u);
    EXPECT_EQ(Mode(Root + "data/stowline"), 0700u);
    EXPECT_EQ(appMisc::AppFolder(), sApp);
    EXPECT_FALSE(libFiles::uMkDir(appMisc::JobFolder()));
    EXPECT_EQ(Mode(sApp + "BackupJobs"), 0700u);

    // An existing folder (the program's own folder, say) is not changed.
    std::filesystem::create_directories(Root + "shared");
    ASSERT_EQ(::chmod((Root + "shared").c_str(), 0755), 0);
    appMisc::SetAppFolder(Root + "shared/");
    EXPECT_FALSE(libFiles::uMkDir(Root + "shared"));
    EXPECT_EQ(Mode(Root + "shared"), 0755u);
}

TEST_F(PrivateFiles, LogsErrorReportsAndPreferencesAreMade0600) {
    libLog::LogEvent("first line");
    EXPECT_EQ(Mode(libLog::LogFileName()), 0600u);
    {
        libLog::RunLog run; // the log kept open through a run
        libLog::LogEvent("a run's line");
    }
    EXPECT_EQ(Mode(libLog::LogFileName()), 0600u);
    libErrorHandler::HandleError(false, StowError(5, "a report", 0, "Test"), "Module", "Proc()", "");
    EXPECT_EQ(Mode(libLog::ErrorFileName()), 0600u);

    appPreferences::SavePreferences();
    EXPECT_EQ(Mode(appPreferences::PreferencesFileName()), 0600u);
    EXPECT_NE(ReadFile(appPreferences::PreferencesFileName()).find("LoggingMode="), std::string::npos);

    // The INI module and the whole-file writer default to private files; a given mode is kept.
    IniFile ini;
    ini.Set("S", "K", "V");
    ASSERT_TRUE(ini.Save(Root + "plain.ini"));
    EXPECT_EQ(Mode(Root + "plain.ini"), 0600u);
    libFiles::WriteWholeFileAtomic(Root + "shown.txt", "text", 0644);
    EXPECT_EQ(Mode(Root + "shown.txt"), 0644u);
    libFiles::WriteWholeFileAtomic(Root + "shown.txt", "text again");
    EXPECT_EQ(Mode(Root + "shown.txt"), 0600u);
}

// An older version made them 0644; they list the user's files and folders.
TEST_F(PrivateFiles, OwnFilesLeftReadableByAnOlderVersionAreMadePrivate) {
    const std::string sLog = libLog::LogFileName();
    const std::string sErr = libLog::ErrorFileName();
    MakeWithMode(sLog, 0644);
    MakeWithMode(sLog + ".1", 0644);
    MakeWithMode(sErr, 0664);
    MakeWithMode(sErr + ".1", 0644);
    MakeWithMode(appPreferences::PreferencesFileName(), 0644, "[Preferences]\r\n");
    {
        libLog::RunLog run(0); // a run's start
        EXPECT_EQ(Mode(sLog), 0600u);
        EXPECT_EQ(Mode(sLog + ".1"), 0600u);
        EXPECT_EQ(Mode(sErr), 0600u);
        EXPECT_EQ(Mode(sErr + ".1"), 0600u);
    }
    // Outside a run the log is tightened by the line that opens it.
    MakeWithMode(sLog, 0644);
    libLog::LogEvent("a line");
    EXPECT_EQ(Mode(sLog), 0600u);
    EXPECT_EQ(ReadFile(sLog).rfind("old\r\n", 0), 0u) << "nothing of it is lost";
    // A rotated log keeps its private mode under its older name.
    MakeWithMode(sLog, 0644, std::string(100, 'x'));
    { libLog::RunLog run(10); }
    EXPECT_EQ(Mode(sLog + ".1"), 0600u);
    // The preferences are written whole: the new file is private.
    appPreferences::SavePreferences();
    EXPECT_EQ(Mode(appPreferences::PreferencesFileName()), 0600u);
}

TEST_F(PrivateFiles, MakingPrivateLeavesLinksOtherFilesAndPrivateModesAlone) {
    // The log name is a link the user made to a file of theirs: appended to, its target not changed.
    MakeWithMode(Root + "elsewhere.log", 0644);
    ASSERT_EQ(::symlink((Root + "elsewhere.log").c_str(), libLog::LogFileName().c_str()), 0);
    libLog::LogEvent("through the link");
    EXPECT_EQ(Mode(Root + "elsewhere.log"), 0644u);
    EXPECT_NE(ReadFile(Root + "elsewhere.log").find("through the link"), std::string::npos);
    libFiles::MakePrivate(libLog::LogFileName());
    EXPECT_EQ(Mode(Root + "elsewhere.log"), 0644u);

    // Only the group's and others' bits go; the owner's stay as they were.
    for (const auto& [uBefore, uAfter] : {std::pair{0444u, 0400u}, {0755u, 0700u}, {0600u, 0600u}}) {
        const std::string sFile = Root + "mode" + std::to_string(uBefore);
        MakeWithMode(sFile, uBefore);
        libFiles::MakePrivate(sFile);
        EXPECT_EQ(Mode(sFile), uAfter) << std::oct << uBefore;
    }
    // A folder or a missing name: nothing happens.
    std::filesystem::create_directories(Root + "folder");
    ASSERT_EQ(::chmod((Root + "folder").c_str(), 0755), 0);
    libFiles::MakePrivate(Root + "folder");
    EXPECT_EQ(Mode(Root + "folder"), 0755u);
    libFiles::MakePrivate(Root + "missing");
    EXPECT_FALSE(Exists(Root + "missing"));
    // Another user's file (root can tell): left alone.
    if (::geteuid() == 0) {
        MakeWithMode(Root + "theirs", 0644);
        ASSERT_EQ(::chown((Root + "theirs").c_str(), 65534, 65534), 0);
        libFiles::MakePrivate(Root + "theirs");
        EXPECT_EQ(Mode(Root + "theirs"), 0644u);
    }
}

} // namespace
