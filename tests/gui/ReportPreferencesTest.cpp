// The preferences dialog's "Reports" group: it shows the Report* preferences, refuses settings
// mail cannot go with, keeps a typed password in the keyring (never in the file), and "Send test
// report" says through the seam how it went. The real mail server's part is driven by
// tests/cli/report-tests.sh, which starts one and names it in the environment.

#include "common/MemoryVault.h"
#include "common/TempAppFolder.h"
#include "ui/frmPreferences.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

namespace P = appPreferences;

class ReportPreferences : public TempAppFolder {
protected:
    void TearDown() override {
        P::ResetToDefaults();
        TempAppFolder::TearDown();
    }
    std::string LastMessage(const char* sTitle) {
        const auto messages = Seam->Messages();
        if (messages.empty() || messages.back().Title != sTitle) return "(no '" + std::string(sTitle) + "' message)";
        return messages.back().Text;
    }
    // A port on this machine where nothing listens.
    static int ClosedPort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
        ::close(fd);
        return ntohs(a.sin_port);
    }
};

TEST_F(ReportPreferences, ShowsRefusesAndStoresTheSettings) {
    MemoryVaultScope keyring;
    P::ReportSmtpUrl = "smtps://mail.example.org:465";
    P::ReportMailTo = "me@example.org";
    P::ReportWhen = P::ReportTiming::Daily;
    frmPreferences d;
    EXPECT_EQ(d.txtReportSmtpUrl->text(), "smtps://mail.example.org:465");
    EXPECT_EQ(d.txtReportMailTo->text(), "me@example.org");
    EXPECT_EQ(d.cmbReportWhen->currentIndex(), 3);
    EXPECT_EQ(d.txtReportSmtpPassword->echoMode(), QLineEdit::Password);

    // No mail without TLS, and no address that is none.
    d.txtReportSmtpUrl->setText("http://mail.example.org");
    d.cmdOK_Click();
    EXPECT_EQ(LastMessage("Verification Error"),
              "The report settings cannot be used: 'http://mail.example.org' is no mail server address (smtps:// or "
              "smtp:// only)");
    d.txtReportSmtpUrl->setText("smtp://mail.example.org:587");
    d.txtReportMailTo->setText("me at example.org");
    d.cmdOK_Click();
    EXPECT_EQ(LastMessage("Verification Error"),
              "The report settings cannot be used: 'me at example.org' is no list of mail addresses to send to");
    EXPECT_EQ(P::ReportSmtpUrl, "smtps://mail.example.org:465");

    d.txtReportMailTo->setText("me@example.org; you@example.org");
    d.txtReportSmtpUser->setText("me");
    d.txtReportSmtpPassword->setText("pw in the keyring");
    d.cmbReportWhen->setCurrentIndex(1);
    d.cmdOK_Click();
    EXPECT_EQ(P::ReportSmtpUrl, "smtp://mail.example.org:587");
    EXPECT_EQ(P::ReportSmtpUser, "me");
    EXPECT_EQ(P::ReportMailTo, "me@example.org; you@example.org");
    EXPECT_EQ(P::ReportWhen, P::ReportTiming::Failures);
    EXPECT_EQ(keyring.Vault().Entries["/SMTP"], "pw in the keyring");
    EXPECT_EQ(ReadFile(P::PreferencesFileName()).find("pw in the keyring"), std::string::npos);
    EXPECT_TRUE(d.txtReportSmtpPassword->text().isEmpty());
}

TEST_F(ReportPreferences, TheTestReportSaysWhyItWasNotSent) {
    MemoryVaultScope keyring;
    frmPreferences d;
    d.txtReportSmtpUrl->setText(QString("smtp://127.0.0.1:%1").arg(ClosedPort()));
    d.txtReportMailTo->setText("me@example.org");
    d.txtReportSmtpUser->setText("me");
    d.cmdSendTestReport_Click();
    EXPECT_EQ(LastMessage("Send test report"),
              "The test report was not sent: no password is stored for the mail server: type it in the Password "
              "box");
    d.txtReportSmtpPassword->setText("pw");
    d.cmdSendTestReport_Click();
    EXPECT_EQ(LastMessage("Send test report").rfind("The test report was not sent: Couldn't connect to server", 0), 0u)
        << LastMessage("Send test report");
    EXPECT_TRUE(d.isEnabled());
}

// Only inside report-tests.sh, which starts the server and names it here.
TEST_F(ReportPreferences, SendsTheTestReportThroughARealServer) {
    const char* sUrl = std::getenv("STOWLINE_REPORT_TEST_URL");
    if (sUrl == nullptr) GTEST_SKIP() << "run by tests/cli/report-tests.sh with its mail server";
    MemoryVaultScope keyring;
    frmPreferences d;
    d.txtReportSmtpUrl->setText(sUrl);
    d.txtReportCaFile->setText(std::getenv("STOWLINE_REPORT_TEST_CA"));
    d.txtReportSmtpUser->setText(std::getenv("STOWLINE_REPORT_TEST_USER"));
    d.txtReportSmtpPassword->setText(std::getenv("STOWLINE_REPORT_TEST_PASSWORD"));
    d.txtReportMailTo->setText("admin@example.org");
    d.cmdSendTestReport_Click();
    EXPECT_EQ(LastMessage("Send test report"), "The test report was sent to admin@example.org.");
}

} // namespace
