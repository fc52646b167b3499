#include "ui/frmAbout.h"

#include "app/QtHelpers.h"
#include "engine/libZip.h"
#include "support/UserInteraction.h"
#include "support/appMisc.h"
#include "support/libErrorHandler.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <QFont>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace QtHelpers;

namespace {

QLabel* MakeLink(QWidget* parent, const char* sName, const QString& sText) {
    auto* l = new QLabel(QString("<a href=\"#\">%1</a>").arg(sText.toHtmlEscaped()), parent);
    l->setObjectName(sName);
    l->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    l->setCursor(Qt::PointingHandCursor);
    return l;
}
} // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName("frmAbout");
    setWindowTitle(tr("About Stowline"));
    setWindowIcon(QIcon(":/icons/stowline.svg"));
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setObjectName("imgIcon");
    icon->setPixmap(QIcon(":/icons/stowline.svg").pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);

    lblTitle = new QLabel(this);
    lblTitle->setObjectName("lblTitle");
    lblTitle->setTextFormat(Qt::PlainText);
    QFont titleFont = lblTitle->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);
    lblFor = new QLabel(tr("Zip Backup Job Scheduling Agent"), this);
    lblFor->setObjectName("lblFor");
    lblZipVer = new QLabel(tr("ZIP dll version: "), this);
    lblZipVer->setObjectName("lblZipVer");
    lblZipVer->setTextFormat(Qt::PlainText);

    const QString penalties[] = {
        tr("Stowline is free: you may use it at home or at work, and give copies to anyone, at no cost."),
        tr("It keeps your backups as plain zip archives and plain folder copies, so any tool can read them back."),
        tr("Ideas and bug reports are welcome: please write to the support address below."),
    };
    for (size_t i = 0; i < std::size(penalties); ++i) {
        auto* l = new QLabel(penalties[i], this);
        l->setObjectName(QString("lblPenalty%1").arg(i));
        l->setWordWrap(true);
        lblPenalty.push_back(l);
    }
    lblMailTo = MakeLink(this, "lblMailTo", "support@stowline.org");
    lblWebsite = MakeLink(this, "lblWebsite", "stowline.org");

    cmdErrorLog = new QPushButton(tr("Error &Log"), this);
    cmdErrorLog->setObjectName("cmdErrorLog");
    cmdErrorLog->setToolTip(tr("Display Error Log File"));
    cmdTechSupport = new QPushButton(tr("&Download Source"), this);
    cmdTechSupport->setObjectName("cmdTechSupport");
    cmdThankYou = new QPushButton(tr("Thank You"), this);
    cmdThankYou->setObjectName("cmdThankYou");
    cmdClose = new QPushButton(tr("Close"), this);
    cmdClose->setObjectName("cmdClose");
    cmdClose->setDefault(true);

    auto* text = new QVBoxLayout;
    text->addWidget(lblTitle);
    text->addWidget(lblFor);
    text->addWidget(lblZipVer);
    text->addSpacing(8);
    for (QLabel* l : lblPenalty)
        text->addWidget(l);
    text->addSpacing(8);
    auto* links = new QHBoxLayout;
    links->addWidget(lblMailTo);
    links->addSpacing(16);
    links->addWidget(lblWebsite);
    links->addStretch();
    text->addLayout(links);

    auto* head = new QHBoxLayout;
    head->addWidget(icon);
    head->addSpacing(8);
    head->addLayout(text, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdErrorLog);
    buttons->addWidget(cmdTechSupport);
    buttons->addWidget(cmdThankYou);
    buttons->addStretch();
    buttons->addWidget(cmdClose);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    setMinimumWidth(520);

    connect(cmdErrorLog, &QPushButton::clicked, this, &frmAbout::cmdErrorLog_Click);
    connect(cmdTechSupport, &QPushButton::clicked, this, &frmAbout::cmdTechSupport_Click);
    connect(cmdThankYou, &QPushButton::clicked, this, &frmAbout::cmdThankYou_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmAbout::cmdClose_Click);
    connect(lblMailTo, &QLabel::linkActivated, this, [this] { lblMailTo_Click(); });
    connect(lblWebsite, &QLabel::linkActivated, this, [this] { lblWebsite_Click(); });

    Form_Load();
}

std::string frmAbout::TitleText() {
    std::string sTitle = S(tr("Stowline <Ver> (Bld <Bld>)"));
    sTitle = libStrings::ReplaceAll(
        sTitle, "<Ver>", std::to_string(STOWLINE_VERSION_MAJOR) + "." + std::to_string(STOWLINE_VERSION_MINOR));
    return libStrings::ReplaceAll(sTitle, "<Bld>", std::to_string(STOWLINE_VERSION_PATCH));
}

std::string frmAbout::ZipVersionText() {
    return S(tr("ZIP dll version: ")) + libStrings::MakePrintable(libZip::ZipVersionText());
}

void frmAbout::Form_Load() {
    libErrorHandler::Trap("frmAbout", "Form_Load()", [&] {
        lblTitle->setText(Q(TitleText()));
        lblZipVer->setText(Q(ZipVersionText()));
    });
}

void frmAbout::cmdErrorLog_Click() { libLog::ViewErrorLog(); }

void frmAbout::cmdTechSupport_Click() { appMisc::OpenWebPage(SourceDownloadUrl); }

void frmAbout::lblMailTo_Click() { appMisc::OpenWebPage(SupportMailUrl); }

void frmAbout::lblWebsite_Click() { appMisc::OpenWebPage(HomePageUrl); }

void frmAbout::cmdThankYou_Click() {
    UserInteraction::MsgBox(S(tr("Many thanks to everyone who helped rewrite Stowline and who tested it on their own "
                                 "machines, with their own data, and told us what went wrong.\r\n\r\n"
                                 "And last, thanks to the Info-ZIP group, whose zip code forms the core of "
                                 "Stowline's compression, and to the libzip authors who carry that format on.")),
                            UserInteraction::Buttons::OK, UserInteraction::Icon::None, S(tr("Thank You")));
}

void frmAbout::cmdClose_Click() {
    libErrorHandler::Trap("frmAbout", "cmdClose_Click()", [&] { accept(); });
}

void frmAbout::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        appMisc::ShowHelpContents();
        event->accept();
        return;
    }
    QDialog::keyReleaseEvent(event);
}
