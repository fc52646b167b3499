// The editor's "Monitoring" group on the Compression page: the address a run pings (PingUrl), in
// the convention of the common cron monitors: "<url>/start" when a run starts, "<url>" after a
// success, "<url>/fail" after a failure.

#include "ui/frmJobOptions.h"

#include "app/QtHelpers.h"
#include "app/ReportSender.h"
#include "support/libStrings.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

using namespace QtHelpers;

QGroupBox* frmJobOptions::BuildPingGroup(QWidget* pParent) {
    auto* pBox = new QGroupBox(tr("Monitoring"), pParent);
    pBox->setObjectName("fraPing");
    auto* pLabel = new QLabel(tr("Ping address"), pBox);
    txtPingUrl = new QLineEdit(pBox);
    txtPingUrl->setObjectName("txtPingUrl");
    txtPingUrl->setPlaceholderText(tr("empty: no ping"));
    txtPingUrl->setToolTip(tr("An http or https address of a monitoring service: \"/start\" is added when a run "
                              "starts, nothing after a success, \"/fail\" after a failure"));
    pLabel->setBuddy(txtPingUrl);
    auto* pRow = new QHBoxLayout(pBox);
    pRow->addWidget(pLabel);
    pRow->addWidget(txtPingUrl, 1);
    return pBox;
}

bool frmJobOptions::VerifyPingStep() {
    const std::string sUrl = libStrings::Trim(S(txtPingUrl->text()));
    if (sUrl.empty()) return true;
    const std::string sProblem = ReportSender::PingUrlProblem(sUrl);
    if (sProblem.empty()) return true;
    MsgBox(S(tr("The ping address cannot be used: %1.  Please correct it now.").arg(Q(sProblem))), Buttons::OK,
           Icon::Information, S(tr(kVerify)));
    RequestFocus(txtPingUrl);
    return false;
}
