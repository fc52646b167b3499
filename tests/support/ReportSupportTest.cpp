// What reports need from the support layer: the Report* preferences (each written only once
// set, read back as written, an unknown ReportWhen read as off) and the log's capture of a
// run's lines (bounded: the first and the last lines, with the count left out between).

#include "common/TempAppFolder.h"

namespace {

namespace P = appPreferences;

class ReportSupport : public TempAppFolder {};

TEST_F(ReportSupport, ReportKeysAreWrittenOnlyOnceSetAndReadBack) {
    P::ResetToDefaults();
    P::SavePreferences();
    EXPECT_EQ(ReadFile(P::PreferencesFileName()).find("Report"), std::string::npos);

    P::ReportSmtpUrl = "smtps://mail.example.org:465";
    P::ReportSmtpUser = "me";
    P::ReportMailFrom = "backup@example.org";
    P::ReportMailTo = "me@example.org, you@example.org";
    P::ReportWhen = P::ReportTiming::Daily;
    P::ReportCaFile = "/etc/my-ca.pem";
    P::SavePreferences();
    P::ResetToDefaults();
    EXPECT_EQ(P::ReportWhen, P::ReportTiming::Off);
    P::LoadPreferences();
    EXPECT_EQ(P::ReportSmtpUrl, "smtps://mail.example.org:465");
    EXPECT_EQ(P::ReportSmtpUser, "me");
    EXPECT_EQ(P::ReportMailFrom, "backup@example.org");
    EXPECT_EQ(P::ReportMailTo, "me@example.org, you@example.org");
    EXPECT_EQ(P::ReportCaFile, "/etc/my-ca.pem");
    EXPECT_EQ(P::ReportWhen, P::ReportTiming::Daily);
    EXPECT_NE(ReadFile(P::PreferencesFileName()).find("\r\nReportWhen=Daily\r\n"), std::string::npos);

    EXPECT_EQ(P::ReportTimingFromText(" failures "), P::ReportTiming::Failures);
    EXPECT_EQ(P::ReportTimingFromText("Weekly"), P::ReportTiming::Off);
    P::ResetToDefaults();
}

TEST_F(ReportSupport, ACaptureKeepsTheFirstAndLastLinesOfWhatIsLogged) {
    P::LoggingMode = 1;
    libLog::LogEvent("before the capture");
    libLog::LineCapture outer(2, 3);
    libLog::LogEvent("one");
    {
        libLog::LineCapture inner;
        libLog::LogEventLevel(0, "not logged at this mode");
        libLog::LogEventLevel(1, "levelled");
        EXPECT_EQ(inner.Lines().size(), 1u);
        EXPECT_EQ(inner.LastUnconditional(), "");
    }
    for (int i = 2; i <= 8; ++i)
        libLog::LogEvent("line " + std::to_string(i));
    const std::vector<std::string> lines = outer.Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0].substr(21), "one");
    EXPECT_EQ(lines[1].substr(21), "levelled");
    EXPECT_EQ(lines[2], "... 4 lines left out ...");
    EXPECT_EQ(lines[3].substr(21), "line 6");
    EXPECT_EQ(lines[5].substr(21), "line 8");
    EXPECT_EQ(outer.LastUnconditional(), "line 8");
    P::ResetToDefaults();
}

} // namespace
