// The command line: splitting, the help box, "/RUN" jobs and their outcome, unknown
// switches, "/EXIT"; the display check and the single-instance lock.

#include "ScopedEnv.h"
#include "app/SingleInstance.h"
#include "app/appSetup.h"
#include "common/TempJobFolder.h"
#include "support/libLog.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using UserInteraction::Icon;

TEST(AppCommandLineSplitTest, BlanksAndTabsSeparateWithoutQuotingUpToMaxArguments) {
    EXPECT_EQ(appSetup::SplitCommandLine("  /RUN\tnightly   \"my job\"\t\t/EXIT "),
              (std::vector<std::string>{"", "/RUN", "nightly", "\"my", "job\"", "/EXIT"}));
    EXPECT_EQ(appSetup::SplitCommandLine("").size(), 1u);
    EXPECT_EQ(appSetup::SplitCommandLine(" \t ").size(), 1u);
    std::string s;
    for (int i = 1; i <= 40; ++i)
        s += "w" + std::to_string(i) + " ";
    auto args = appSetup::SplitCommandLine(s);
    ASSERT_EQ(args.size(), 33u);
    EXPECT_EQ(args[32], "w32");
    auto three = appSetup::SplitCommandLine("a b c d", 3);
    ASSERT_EQ(three.size(), 4u);
    EXPECT_EQ(three[3], "c");
}

TEST(AppCommandLineSplitTest, HelpTextHasTheFiveLinesThenTheLaterSwitches) {
    const std::string sHelp = appSetup::CommandLineHelpText();
    EXPECT_TRUE(sHelp.starts_with("Stowline command-line parameters are as follows:\r\n"
                                  "/SILENT -\t\tNo dialog at startup, tray only\r\n"
                                  "/RUN <jobname.slj> -\tNotice: no path, no spaces\r\n"
                                  "/EXIT -\t\t\tExit Stowline upon completion\r\n"
                                  "/? -\t\t\tThis help dialog\r\n"))
        << sHelp;
    const size_t iRestore = sHelp.find("\r\n/RESTORE <job> [/FROM <archive or folder>] [/TO <folder>]");
    ASSERT_NE(iRestore, std::string::npos);
    EXPECT_TRUE(sHelp.ends_with("\r\n/VERIFY <job>... -\tRead the newest backups back"));
}

class AppCommandLineTest : public TempJobFolder {
protected:
    void SetUp() override {
        TempJobFolder::SetUp();
        StartJobs(libDates::DateSerial(2027, 3, 10) + libDates::TimeSerial(12, 0, 0), false);
    }
    bool Direct(const std::string& sLine, int& iStatus) { return appSetup::DirectExecute(sLine, iStatus); }
    std::string Job(const std::string& sName) { return WriteCopyJob(sName); }
};

TEST_F(AppCommandLineTest, HelpWinsOverEverythingAndAnUnknownSwitchShowsIt) {
    std::string sA = Job("a");
    int iStatus = -1;
    EXPECT_TRUE(Direct("/RUN a /EXIT /?", iStatus));
    EXPECT_EQ(iStatus, 0);
    ASSERT_EQ(Seam->Calls.size(), 1u);
    EXPECT_EQ(Seam->Calls[0].Kind, "CommandLineHelp");
    EXPECT_EQ(Seam->Calls[0].Request.Title, "Command-Line Help");
    EXPECT_EQ(Seam->Calls[0].Request.Text, appSetup::CommandLineHelpText());
    EXPECT_EQ(RunCountOf(sA), 0);

    // Switches are case-sensitive: "/run" is no "/RUN", so nothing runs and start-up goes on.
    Seam->Clear();
    EXPECT_FALSE(Direct("/run a", iStatus));
    EXPECT_EQ(iStatus, 0);
    EXPECT_EQ(RunCountOf(sA), 0);
    EXPECT_TRUE(Seam->Calls.empty());
    // With "/RUN a /run": a runs, then "/run" is an unknown switch: help, and status 2.
    EXPECT_TRUE(Direct("/RUN a /run", iStatus));
    EXPECT_EQ(iStatus, 2);
    EXPECT_EQ(RunCountOf(sA), 1);
    ASSERT_EQ(Seam->Calls.size(), 1u);
    EXPECT_EQ(Seam->Calls[0].Kind, "CommandLineHelp");
}

TEST_F(AppCommandLineTest, RunsNamedJobsInOrderWithOrWithoutExtensionSkippingSilentAndFailures) {
    std::string sA = Job("a"), sB = Job("b"), sNightly = Job("nightly");
    libLog::SetPendingComment("left over");
    int iStatus = -1;
    EXPECT_FALSE(Direct("/RUN a b", iStatus));
    EXPECT_EQ(iStatus, 0);
    EXPECT_EQ(libLog::PendingComment(), "");
    EXPECT_EQ(RunCountOf(sA), 1);
    EXPECT_EQ(RunCountOf(sB), 1);
    // "a /RUN b": only b; "nightly.slj" gets no second extension.
    EXPECT_TRUE(Direct("a /RUN b nightly.slj /EXIT", iStatus));
    EXPECT_EQ(iStatus, 0);
    EXPECT_EQ(RunCountOf(sA), 1);
    EXPECT_EQ(RunCountOf(sB), 2);
    EXPECT_EQ(RunCountOf(sNightly), 1);
    // "SILENT" arguments are skipped; "/RUN" alone runs nothing.
    EXPECT_FALSE(Direct("/RUN SILENT /SILENT a", iStatus));
    EXPECT_EQ(RunCountOf(sA), 2);
    EXPECT_FALSE(Direct("/RUN", iStatus));
    EXPECT_EQ(iStatus, 0);
    EXPECT_TRUE(Direct("/EXIT", iStatus));
    EXPECT_EQ(iStatus, 0);
    EXPECT_TRUE(Seam->Calls.empty());
    // A failed job gives status 1 and the rest still run.
    WriteCopyJob("broken", false, /*bMissingSource=*/true);
    EXPECT_TRUE(Direct("/RUN broken a /EXIT", iStatus));
    EXPECT_EQ(iStatus, 1);
    EXPECT_EQ(RunCountOf(sA), 3);
}

TEST_F(AppCommandLineTest, MissingJobStopsTheLoopWithVerificationError) {
    std::string sA = Job("a");
    int iStatus = -1;
    EXPECT_TRUE(Direct("/RUN missing a /EXIT", iStatus));
    EXPECT_EQ(iStatus, 1);
    EXPECT_EQ(RunCountOf(sA), 0); // later names are not run
    auto msgs = Seam->Messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].Title, "Verification Error");
    EXPECT_EQ(msgs[0].IconKind, Icon::Critical);
    EXPECT_EQ(msgs[0].ButtonSet, UserInteraction::Buttons::OK);
    EXPECT_EQ(msgs[0].Text, "You have attempted to run Stowline with command-line parameters.\r\n"
                            "Unfortunately, the file as you specified does not exist.\r\n"
                            "\r\n"
                            "The missing file as you specified is: " +
                                App + "BackupJobs/missing.slj");
    // Without "/EXIT" start-up goes on; the status still tells of the missing job.
    Seam->Clear();
    EXPECT_FALSE(Direct("/RUN missing", iStatus));
    EXPECT_EQ(iStatus, 1);
}

TEST(AppDisplayTest, DisplayNeedsAVariableAndARealPlatform) {
    ScopedEnv env;
    env.Set("WAYLAND_DISPLAY", nullptr);
    const std::vector<std::tuple<const char*, const char*, bool>> cases = {
        {nullptr, nullptr, false}, {":0", nullptr, true}, {":0", "offscreen", false},
        {":0", "minimal", false},  {":0", "xcb", true},   {nullptr, "xcb", false}};
    for (const auto& [sDisplay, sPlatform, bExpected] : cases) {
        env.Set("DISPLAY", sDisplay);
        env.Set("QT_QPA_PLATFORM", sPlatform);
        EXPECT_EQ(appSetup::DisplayAvailable(), bExpected)
            << (sDisplay ? sDisplay : "-") << " " << (sPlatform ? sPlatform : "-");
    }
    env.Set("WAYLAND_DISPLAY", "wayland-0");
    EXPECT_TRUE(appSetup::DisplayAvailable());
}

TEST(AppSingleInstanceTest, LockIsPerInstallationAndRefusesASecondHolder) {
    char tmpl[] = "/tmp/stowline-rt-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    ScopedEnv env;
    env.Set("XDG_RUNTIME_DIR", tmpl);

    std::string sLock = SingleInstance::LockFileName("/opt/a/stowline");
    EXPECT_EQ(sLock.rfind(std::string(tmpl) + "/stowline-", 0), 0u);
    EXPECT_NE(sLock, SingleInstance::LockFileName("/opt/b/stowline"));
    EXPECT_EQ(sLock, SingleInstance::LockFileName("/opt/a/stowline"));

    ASSERT_EQ(SingleInstance::AcquireLock("/opt/a/stowline"), SingleInstance::LockResult::Acquired);
    // Another process (here: another open file description) cannot take it.
    int fd = open(sLock.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_NE(flock(fd, LOCK_EX | LOCK_NB), 0);
    // Programs started later do not inherit the lock.
    // The lock's own descriptor is close-on-exec: find it among the open descriptors.
    int iFdFlags = 0;
    for (int i = 3; i < 256; ++i) {
        std::error_code ec;
        auto target = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(i), ec);
        if (i != fd && !ec && target == sLock) iFdFlags = fcntl(i, F_GETFD);
    }
    EXPECT_TRUE(iFdFlags & FD_CLOEXEC);
    SingleInstance::ReleaseLock();
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);

    // Without a runtime folder: a private folder in /tmp.
    env.Set("XDG_RUNTIME_DIR", nullptr);
    std::string sFallback = SingleInstance::RuntimeFolder();
    EXPECT_EQ(sFallback, "/tmp/stowline-" + std::to_string(getuid()) + "/");
    struct stat st {};
    ASSERT_EQ(stat(sFallback.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::filesystem::remove_all(tmpl);
}

} // namespace
