#include "app/ReportMail.h"

#include "jobs/CBackupJob.h"
#include "support/libStrings.h"

#include <QByteArray>
#include <QCoreApplication>
#include <ctime>
#include <random>
#include <unistd.h>

namespace ReportMail {

namespace {

std::string HostName() {
    char s[256] = {};
    if (::gethostname(s, sizeof s - 1) != 0 || s[0] == '\0') return "localhost";
    return s;
}

bool PlainAddress(const std::string& s) {
    const size_t iAt = s.find('@');
    if (iAt == 0 || iAt == std::string::npos || iAt + 1 >= s.size() || s.find('@', iAt + 1) != std::string::npos)
        return false;
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 32 || b == 127 || c == '<' || c == '>' || c == '(' || c == ')' || c == ',' || c == ';' || c == '"' ||
            c == '\\')
            return false;
    }
    return true;
}

// A header value of printable ASCII stays as it is; anything else becomes one encoded word.
std::string HeaderText(const std::string& s) {
    bool bPlain = true;
    for (const char c : s)
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) bPlain = false;
    if (bPlain) return s;
    const QByteArray base64 = QByteArray::fromStdString(s).toBase64();
    return "=?UTF-8?B?" + base64.toStdString() + "?=";
}

// Quoted-printable (RFC 2045): any byte and any line length reach the reader unharmed.
std::string QuotedPrintable(const std::string& sBody) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string sOut;
    for (const std::string& sLine : libStrings::Split(sBody, "\n")) {
        std::string sCur;
        auto put = [&](const std::string& sPiece) {
            if (sCur.size() + sPiece.size() > 75) {
                sOut += sCur + "=\r\n";
                sCur.clear();
            }
            sCur += sPiece;
        };
        for (size_t i = 0; i < sLine.size(); ++i) {
            const auto b = static_cast<unsigned char>(sLine[i]);
            const bool bLast = i + 1 == sLine.size();
            const bool bLiteral = (b >= 33 && b <= 126 && b != '=') || ((b == ' ' || b == '\t') && !bLast);
            // A line's leading "." is encoded too, so that no server mistakes it for the end.
            if (bLiteral && !(b == '.' && sCur.empty()))
                put(std::string(1, static_cast<char>(b)));
            else
                put(std::string{'=', kHex[b >> 4], kHex[b & 15]});
        }
        sOut += sCur + "\r\n";
    }
    return sOut;
}

std::string DateHeader() {
    const std::time_t t = std::time(nullptr);
    std::tm tmLocal{};
    ::localtime_r(&t, &tmLocal);
    char s[64];
    // RFC 5322 wants English day and month names whatever the locale.
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char sZone[16];
    std::strftime(sZone, sizeof sZone, "%z", &tmLocal);
    std::snprintf(s, sizeof s, "%s, %02d %s %04d %02d:%02d:%02d %s", kDays[tmLocal.tm_wday], tmLocal.tm_mday,
                  kMonths[tmLocal.tm_mon], tmLocal.tm_year + 1900, tmLocal.tm_hour, tmLocal.tm_min, tmLocal.tm_sec,
                  sZone);
    return s;
}

std::string MessageId() {
    std::random_device random;
    const std::string sHost = HostName();
    return "<" + std::to_string(std::time(nullptr)) + "." + std::to_string(::getpid()) + "." +
           std::to_string(random()) + "@" + (PlainAddress("x@" + sHost) ? sHost : "localhost") + ">";
}

std::string S(const QString& s) { return s.toLocal8Bit().toStdString(); }
QString Q(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }

} // namespace

bool Addresses(const std::string& sList, std::vector<std::string>& addresses) {
    addresses.clear();
    std::string sAll = sList;
    for (char& c : sAll)
        if (c == ';') c = ',';
    for (const std::string& sPart : libStrings::Split(sAll, ",")) {
        const std::string s = libStrings::Trim(sPart);
        if (s.empty()) continue;
        if (!PlainAddress(s)) return false;
        addresses.push_back(s);
    }
    return !addresses.empty();
}

Message RunReport(const CBackupJob& job, const ReportHook::RunEnd& end) {
    Message m;
    m.Subject =
        end.Failed
            ? S(QCoreApplication::translate("ReportMail", "Stowline: backup of '%1' failed").arg(Q(job.JobName())))
            : S(QCoreApplication::translate("ReportMail", "Stowline: backup of '%1' succeeded").arg(Q(job.JobName())));
    std::string& b = m.Body;
    b += S(QCoreApplication::translate("ReportMail", "Backup job: %1").arg(Q(job.JobName()))) + "\n";
    b += S(QCoreApplication::translate("ReportMail", "Computer: %1").arg(Q(HostName()))) + "\n";
    b += S(end.Failed ? QCoreApplication::translate("ReportMail", "Result: failed")
                      : QCoreApplication::translate("ReportMail", "Result: succeeded")) +
         "\n";
    if (end.Failed)
        b += S(QCoreApplication::translate("ReportMail", "Reason: %1")
                   .arg(end.Reason.empty() ? QCoreApplication::translate("ReportMail", "the run did not complete")
                                           : Q(end.Reason))) +
             "\n";
    b += S(QCoreApplication::translate("ReportMail", "Summary: %1")
               .arg(end.Summary.empty() ? QCoreApplication::translate("ReportMail", "none") : Q(end.Summary))) +
         "\n\n";
    b += S(QCoreApplication::translate("ReportMail", "The log's lines of this run:")) + "\n";
    for (const std::string& sLine : end.Lines)
        b += sLine + "\n";
    return m;
}

std::string PingBody(const ReportHook::RunEnd& end) {
    std::string s;
    if (end.Failed) s += (end.Reason.empty() ? "the run did not complete" : end.Reason) + "\n";
    if (!end.Summary.empty()) s += end.Summary + "\n";
    return s;
}

Message TestReport() {
    Message m;
    m.Subject = S(QCoreApplication::translate("ReportMail", "Stowline: test report"));
    m.Body = S(QCoreApplication::translate("ReportMail",
                                           "This test report from Stowline on %1 shows that its reports reach you.")
                   .arg(Q(HostName()))) +
             "\n";
    return m;
}

std::string Compose(const std::string& sFrom, const std::vector<std::string>& to, const Message& message) {
    std::string sTo;
    for (const std::string& s : to)
        sTo += (sTo.empty() ? "" : ", ") + s;
    std::string s;
    s += "From: Stowline <" + sFrom + ">\r\n";
    s += "To: " + sTo + "\r\n";
    s += "Subject: " + HeaderText(message.Subject) + "\r\n";
    s += "Date: " + DateHeader() + "\r\n";
    s += "Message-ID: " + MessageId() + "\r\n";
    s += "MIME-Version: 1.0\r\n";
    s += "Content-Type: text/plain; charset=UTF-8\r\n";
    s += "Content-Transfer-Encoding: quoted-printable\r\n";
    s += "Auto-Submitted: auto-generated\r\n";
    s += "\r\n";
    s += QuotedPrintable(message.Body);
    return s;
}

} // namespace ReportMail
