// The preferences dialog's "Reports" group: mail about runs through an SMTP server (TLS
// required), to whom, when, and the test mail that shows it works.

#include "app/QtHelpers.h"
#include "app/ReportOutbox.h"
#include "support/PasswordVault.h"
#include "support/appPreferences.h"
#include "support/libErrorHandler.h"
#include "support/libStrings.h"
#include "ui/frmPreferences.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

using namespace QtHelpers;
using appPreferences::ReportTiming;

namespace {
// cmbReportWhen's rows, in order.
constexpr ReportTiming kTimings[] = {ReportTiming::Off, ReportTiming::Failures, ReportTiming::Always,
                                     ReportTiming::Daily};

std::string Trimmed(const QLineEdit* pEdit) { return libStrings::Trim(S(pEdit->text())); }
} // namespace

QGroupBox* frmPreferences::BuildReports() {
    auto makeEdit = [this](const char* sName, const QString& sPlaceholder) {
        auto* e = new QLineEdit(this);
        e->setObjectName(sName);
        e->setPlaceholderText(sPlaceholder);
        return e;
    };
    txtReportSmtpUrl = makeEdit("txtReportSmtpUrl", tr("smtps://mail.example.org:465 (empty: no mail)"));
    txtReportSmtpUrl->setToolTip(tr("smtps:// for TLS from the start, or smtp:// with STARTTLS, which is then "
                                    "required: nothing is ever sent without TLS"));
    txtReportSmtpUser = makeEdit("txtReportSmtpUser", tr("empty: no login"));
    txtReportSmtpPassword = makeEdit("txtReportSmtpPassword", tr("kept in the desktop keyring; empty: unchanged"));
    txtReportSmtpPassword->setEchoMode(QLineEdit::Password);
    txtReportMailFrom = makeEdit("txtReportMailFrom", tr("empty: the first address below"));
    txtReportMailTo = makeEdit("txtReportMailTo", tr("one address or several, separated by commas"));
    txtReportCaFile = makeEdit("txtReportCaFile", tr("empty: the system's certificates"));
    txtReportCaFile->setToolTip(tr("A file of certificates to trust instead of the system's, for a mail server "
                                   "with a private certificate authority"));
    cmbReportWhen = new QComboBox(this);
    cmbReportWhen->setObjectName("cmbReportWhen");
    cmbReportWhen->addItems(
        {tr("Never"), tr("When a backup fails"), tr("After every backup"), tr("Once a day, every job's state")});
    cmdSendTestReport = new QPushButton(tr("Send test report"), this);
    cmdSendTestReport->setObjectName("cmdSendTestReport");

    auto* box = new QGroupBox(tr("Reports"), this);
    box->setObjectName("fraReports");
    auto* form = new QFormLayout(box);
    form->addRow(tr("Mail server"), txtReportSmtpUrl);
    form->addRow(tr("User"), txtReportSmtpUser);
    form->addRow(tr("Password"), txtReportSmtpPassword);
    form->addRow(tr("From"), txtReportMailFrom);
    form->addRow(tr("To"), txtReportMailTo);
    form->addRow(tr("Send mail"), cmbReportWhen);
    form->addRow(tr("Certificates"), txtReportCaFile);
    form->addRow(QString(), cmdSendTestReport);
    return box;
}

void frmPreferences::LoadReports() {
    txtReportSmtpUrl->setText(Q(appPreferences::ReportSmtpUrl));
    txtReportSmtpUser->setText(Q(appPreferences::ReportSmtpUser));
    txtReportMailFrom->setText(Q(appPreferences::ReportMailFrom));
    txtReportMailTo->setText(Q(appPreferences::ReportMailTo));
    txtReportCaFile->setText(Q(appPreferences::ReportCaFile));
    for (int i = 0; i < 4; ++i)
        if (kTimings[i] == appPreferences::ReportWhen) cmbReportWhen->setCurrentIndex(i);
}

std::string frmPreferences::ReportSettings(MailSettings& settings, bool bPassword) const {
    const std::string sProblem = ReportOutbox::SettingsProblem(Trimmed(txtReportSmtpUrl), Trimmed(txtReportMailFrom),
                                                               Trimmed(txtReportMailTo), settings);
    if (!sProblem.empty()) return sProblem;
    settings.Server.User = Trimmed(txtReportSmtpUser);
    settings.Server.CaFile = Trimmed(txtReportCaFile);
    if (!bPassword || settings.Server.User.empty()) return "";
    settings.Server.Password = S(txtReportSmtpPassword->text());
    if (!settings.Server.Password.empty()) return "";
    const PasswordVault::Result read = PasswordVault::Current().Read(ReportOutbox::PasswordKey);
    if (read.Done()) {
        settings.Server.Password = read.Value;
        return "";
    }
    if (read.State == PasswordVault::Status::NotFound)
        return S(tr("no password is stored for the mail server: type it in the Password box"));
    return S(tr("the desktop keyring cannot be reached: %1").arg(Q(read.Reason)));
}

bool frmPreferences::StoreReports() {
    const std::string sUrl = Trimmed(txtReportSmtpUrl);
    MailSettings settings;
    // A server named must be usable; without one, mail is off whatever else is filled in.
    if (!sUrl.empty()) {
        if (const std::string sProblem = ReportSettings(settings, false); !sProblem.empty()) {
            MsgBox(S(tr("The report settings cannot be used: %1").arg(Q(sProblem))), Buttons::OK, Icon::None,
                   S(tr("Verification Error")));
            txtReportSmtpUrl->setFocus();
            return false;
        }
    }
    const std::string sPassword = S(txtReportSmtpPassword->text());
    if (!sPassword.empty()) {
        const PasswordVault::Result written = PasswordVault::Current().Write(ReportOutbox::PasswordKey, sPassword);
        if (!written.Done()) {
            MsgBox(S(tr("The mail server's password cannot be kept: the desktop keyring cannot be reached: %1")
                         .arg(Q(written.Reason))),
                   Buttons::OK, Icon::Exclamation, S(tr("Reports")));
            return false;
        }
        txtReportSmtpPassword->clear();
    }
    appPreferences::ReportSmtpUrl = sUrl;
    appPreferences::ReportSmtpUser = Trimmed(txtReportSmtpUser);
    appPreferences::ReportMailFrom = Trimmed(txtReportMailFrom);
    appPreferences::ReportMailTo = Trimmed(txtReportMailTo);
    appPreferences::ReportCaFile = Trimmed(txtReportCaFile);
    const int iWhen = cmbReportWhen->currentIndex();
    appPreferences::ReportWhen = iWhen >= 0 && iWhen < 4 ? kTimings[iWhen] : ReportTiming::Off;
    return true;
}

void frmPreferences::cmdSendTestReport_Click() {
    libErrorHandler::Trap("frmPreferences", "cmdSendTestReport_Click()", [&] {
        MailSettings settings;
        const std::string sProblem = ReportSettings(settings, true);
        if (!sProblem.empty()) {
            MsgBox(S(tr("The test report was not sent: %1").arg(Q(sProblem))), Buttons::OK, Icon::Exclamation,
                   S(tr("Send test report")));
            return;
        }
        setEnabled(false); // no second test, and no OK, while this one goes
        const ReportSender::Outcome outcome = ReportOutbox::SendTest(settings);
        setEnabled(true);
        std::string sTo;
        for (const std::string& s : settings.To)
            sTo += (sTo.empty() ? "" : ", ") + s;
        if (outcome.Sent)
            MsgBox(S(tr("The test report was sent to %1.").arg(Q(sTo))), Buttons::OK, Icon::Information,
                   S(tr("Send test report")));
        else
            MsgBox(S(tr("The test report was not sent: %1").arg(Q(outcome.Reason))), Buttons::OK, Icon::Exclamation,
                   S(tr("Send test report")));
    });
}
