#include "app/QtSeam.h"

#include "app/QtHelpers.h"
#include "app/appSetup.h"
#include "support/appMisc.h"
#include "support/libErrorHandler.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>
#include <iostream>

namespace appSetup {

using namespace QtHelpers;

namespace {

QWidget* DialogParent() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w) w = QApplication::activeWindow();
    return w;
}

// A nested loop (a box, pending events) ends early when a fatal report ended every event loop:
// the code that ran it unwinds too instead of carrying on.
void ThrowIfFatalPending() {
    if (FatalExitPending()) throw libErrorHandler::FatalApplicationError{};
}

constexpr const char* HelpFileName = "stowline-help.html";
constexpr const char* HelpResource = ":/help/stowline-help.html";

} // namespace

QString QtSeam::ToQt(const std::string& sText) {
    std::string s;
    s.reserve(sText.size());
    for (size_t i = 0; i < sText.size(); ++i) {
        if (sText[i] == '\r') {
            if (i + 1 < sText.size() && sText[i + 1] == '\n') ++i;
            s += '\n';
        } else {
            s += sText[i];
        }
    }
    return Q(s);
}

std::vector<QMessageBox::StandardButton> QtSeam::ButtonsOf(Buttons buttons) {
    switch (buttons) {
    case Buttons::OK:
        return {QMessageBox::Ok};
    case Buttons::OKCancel:
        return {QMessageBox::Ok, QMessageBox::Cancel};
    case Buttons::AbortRetryIgnore:
        return {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore};
    case Buttons::YesNoCancel:
        return {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
    case Buttons::YesNo:
        return {QMessageBox::Yes, QMessageBox::No};
    case Buttons::RetryCancel:
        return {QMessageBox::Retry, QMessageBox::Cancel};
    }
    return {QMessageBox::Ok};
}

Answer QtSeam::AnswerOf(QMessageBox::StandardButton button) {
    switch (button) {
    case QMessageBox::Ok:
        return Answer::OK;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    case QMessageBox::Abort:
        return Answer::Abort;
    case QMessageBox::Retry:
        return Answer::Retry;
    case QMessageBox::Ignore:
        return Answer::Ignore;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

QMessageBox::Icon QtSeam::IconOf(Icon icon) {
    switch (icon) {
    case Icon::Critical:
        return QMessageBox::Critical;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::Exclamation:
        return QMessageBox::Warning;
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

Answer QtSeam::MessageBox(const UserInteraction::MessageRequest& request) {
    QMessageBox box(DialogParent());
    box.setWindowTitle(ToQt(request.Title));
    box.setText(ToQt(request.Text));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(IconOf(request.IconKind));
    auto set = ButtonsOf(request.ButtonSet);
    QMessageBox::StandardButtons flags;
    for (auto b : set)
        flags |= b;
    box.setStandardButtons(flags);
    int iDefault = request.DefaultButton;
    if (iDefault < 0 || iDefault >= static_cast<int>(set.size())) iDefault = 0;
    box.setDefaultButton(set[static_cast<size_t>(iDefault)]);
    // Closing the box without a button gives the answer the set allows for that.
    Answer fallback = UserInteraction::HeadlessAnswer(request.ButtonSet);
    for (auto b : set)
        if (AnswerOf(b) == fallback) box.setEscapeButton(b);
    box.exec();
    ThrowIfFatalPending();
    QAbstractButton* clicked = box.clickedButton();
    if (!clicked) return fallback;
    auto sb = box.standardButton(clicked);
    for (auto b : set)
        if (b == sb) return AnswerOf(b);
    return fallback;
}

bool QtSeam::InputBox(const std::string& sPrompt, const std::string& sTitle, const std::string& sDefault,
                      std::string& sAnswer) {
    bool bOk = false;
    QString text =
        QInputDialog::getText(DialogParent(), ToQt(sTitle), ToQt(sPrompt), QLineEdit::Normal, ToQt(sDefault), &bOk);
    ThrowIfFatalPending();
    if (!bOk) {
        sAnswer.clear();
        return false;
    }
    sAnswer = S(text);
    return true;
}

void QtSeam::DoEvents() {
    QCoreApplication::processEvents();
    ThrowIfFatalPending();
}

bool QtSeam::StartProgram(const std::string& sCommandLine) {
    return QProcess::startDetached("/bin/sh", {"-c", Q(sCommandLine)});
}

bool QtSeam::OpenDocument(const std::string& sPathOrUrl) {
    QString s = Q(sPathOrUrl);
    QUrl url;
    if (s.startsWith('/') || QFileInfo::exists(s))
        url = QUrl::fromLocalFile(QFileInfo(s).absoluteFilePath());
    else
        url = QUrl::fromUserInput(s);
    if (!url.isValid()) return false;
    return QDesktopServices::openUrl(url);
}

QString QtSeam::HelpPagePath() {
    // Installed beside the program's share folder (<prefix>/bin/stowline -> <prefix>/share/stowline).
    QString exeDir = QFileInfo(Q(appMisc::ExePath())).absolutePath();
    QStringList candidates = {exeDir + "/../share/stowline/" + HelpFileName, exeDir + "/" + HelpFileName};
    QString located = QStandardPaths::locate(QStandardPaths::GenericDataLocation, QString("stowline/") + HelpFileName);
    if (!located.isEmpty()) candidates.append(located);
    for (const QString& c : candidates)
        if (QFileInfo(c).isFile()) return QFileInfo(c).canonicalFilePath();
    // Otherwise a copy of the built-in page in the user's cache folder, rewritten when it differs.
    QFile resource(HelpResource);
    if (!resource.open(QIODevice::ReadOnly)) return "";
    QByteArray page = resource.readAll();
    QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    // No shared fallback such as /tmp: another user could have put a link there to be written through.
    if (cache.isEmpty()) return "";
    QDir dir(cache + "/stowline");
    if (!dir.mkpath(".")) return "";
    QString path = dir.filePath(HelpFileName);
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == page) return path;
    existing.close();
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return "";
    if (out.write(page) != page.size()) return "";
    return path;
}

void QtSeam::ShowHelp(const std::string& sAnchor) {
    QString path = HelpPagePath();
    if (path.isEmpty()) {
        std::cerr << "Stowline: the help page " << HelpFileName << " cannot be found" << std::endl;
        return;
    }
    QUrl url = QUrl::fromLocalFile(path);
    if (!sAnchor.empty()) url.setFragment(Q(sAnchor));
    QDesktopServices::openUrl(url);
}

void QtSeam::ShowCommandLineHelp(const std::string& sTitle, const std::string& sText) {
    MessageBox({sTitle, sText, Buttons::OK, Icon::Information, 0});
}

} // namespace appSetup
