// The command line: splitting, the help box, "/RUN" jobs and their outcome, unknown
// switches, "/EXIT"; the display check and the single-instance lock.

#include "ScopedEnv.h"
#include "app/SingleInstance.h"
#include "app/appSetup.h"
#include "common/TempJobFolder.h"

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

class AppCommandLineTest : public TempJobFolder {
protected:
    void SetUp() override {
        TempJobFolder::SetUp();
        StartJobs(libDates::DateSerial(2027, 3, 10) + libDates::TimeSerial(12, 0, 0), false);
    }
    // The command line ends start-up (or lets it go on) with this status.
    static void ExpectDirect(const std::string& sLine, bool bEnds, int iExpected) {
        int iStatus = -1;
        EXPECT_EQ(appSetup::DirectExecute(sLine, iStatus), bEnds) << sLine;
        EXPECT_EQ(iStatus, iExpected) << sLine;
    }
    std::string Job(const std::string& sName) { return WriteCopyJob(sName); }
};

TEST_F(AppCommandLineTest, HelpUnknownSwitchesNamedJobsSilentAndAMissingJob) {
    std::string sA = Job("a");
    ExpectDirect("/RUN a /EXIT /?", true, 0);
    ASSERT_EQ(Seam->Calls.size(), 1u);
    EXPECT_EQ(Seam->Calls[0].Kind, "CommandLineHelp");
    EXPECT_EQ(Seam->Calls[0].Request.Title, "Command-Line Help");
    EXPECT_EQ(RunCountOf(sA), 0);

    // Switches are case-sensitive: "/run" is no "/RUN", so nothing runs and start-up goes on.
    Seam->Clear();
    ExpectDirect("/run a", false, 0);
    EXPECT_EQ(RunCountOf(sA), 0);
    EXPECT_TRUE(Seam->Calls.empty());
    // With "/RUN a /run": a runs, then "/run" is an unknown switch: help, and status 2.
    ExpectDirect("/RUN a /run", true, 2);
    EXPECT_EQ(RunCountOf(sA), 1);
    ASSERT_EQ(Seam->Calls.size(), 1u);
    EXPECT_EQ(Seam->Calls[0].Kind, "CommandLineHelp");
    Seam->Clear();

    std::string sB = Job("b"), sNightly = Job("nightly");
    libLog::SetPendingComment("left over");
    ExpectDirect("/RUN a b", false, 0);
    EXPECT_EQ(libLog::PendingComment(), "");
    EXPECT_EQ(RunCountOf(sA), 2);
    EXPECT_EQ(RunCountOf(sB), 1);
    // "a /RUN b": only b; "nightly.slj" gets no second extension.
    ExpectDirect("a /RUN b nightly.slj /EXIT", true, 0);
    EXPECT_EQ(RunCountOf(sA), 2);
    EXPECT_EQ(RunCountOf(sB), 2);
    EXPECT_EQ(RunCountOf(sNightly), 1);
    // "SILENT" arguments are skipped; "/RUN" alone runs nothing.
    ExpectDirect("/RUN SILENT /SILENT a", false, 0);
    EXPECT_EQ(RunCountOf(sA), 3);
    ExpectDirect("/RUN", false, 0);
    ExpectDirect("/EXIT", true, 0);
    EXPECT_TRUE(Seam->Calls.empty());

    // A missing job stops the loop: later names are not run.
    ExpectDirect("/RUN missing a /EXIT", true, 1);
    EXPECT_EQ(RunCountOf(sA), 3);
    auto msgs = Seam->Messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].Title, "Verification Error");
    EXPECT_EQ(msgs[0].IconKind, Icon::Critical);
    EXPECT_EQ(msgs[0].ButtonSet, UserInteraction::Buttons::OK);
    EXPECT_NE(msgs[0].Text.find(App + "BackupJobs/missing.slj"), std::string::npos);
    // Without "/EXIT" start-up goes on; the status still tells of the missing job.
    Seam->Clear();
    ExpectDirect("/RUN missing", false, 1);
}

TEST(AppEnvironmentTest, DisplayNeedsAVariableAndARealPlatformAndTheLockIsPerInstallation) {
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

    // The single-instance lock is per installation.
    char tmpl[] = "/tmp/stowline-rt-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    env.Set("XDG_RUNTIME_DIR", tmpl);

    std::string sLock = SingleInstance::LockFileName("/opt/a/stowline");
    EXPECT_EQ(sLock.rfind(std::string(tmpl) + "/stowline-", 0), 0u);
    EXPECT_NE(sLock, SingleInstance::LockFileName("/opt/b/stowline"));
    EXPECT_EQ(sLock, SingleInstance::LockFileName("/opt/a/stowline"));

    ASSERT_EQ(SingleInstance::AcquireLock("/opt/a/stowline"), SingleInstance::LockResult::Acquired);
    // Programs started later do not inherit the lock: its descriptor is close-on-exec.
    int iFdFlags = 0;
    for (int i = 3; i < 256; ++i) {
        std::error_code ec;
        auto target = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(i), ec);
        if (!ec && target == sLock) iFdFlags = fcntl(i, F_GETFD);
    }
    EXPECT_TRUE(iFdFlags & FD_CLOEXEC);
    SingleInstance::ReleaseLock();

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
