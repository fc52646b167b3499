#pragma once
// Reports leave the machine through libcurl: mail over SMTP with TLS (implicit on smtps://,
// STARTTLS required on smtp://, never plain text), monitoring pings over HTTP(S). Certificates
// are always verified (against ReportCaFile when one is named, else the system's store). Every
// transfer is bounded (TimeoutSeconds, ConnectTimeoutSeconds) and may be cut short by the
// caller's stop check. Safe to call from any thread once GlobalInit ran on the main thread.

#include <functional>
#include <string>
#include <vector>

namespace ReportSender {

constexpr long TimeoutSeconds = 20;
constexpr long ConnectTimeoutSeconds = 10;

struct MailServer {
    std::string Url;      // smtps://host[:port] or smtp://host[:port]
    std::string User;     // "" : no login
    std::string Password; // with User
    std::string CaFile;   // "" : the system's certificates
};

struct Outcome {
    bool Sent = false;
    std::string Reason; // why it was not sent
};

// True when the transfer should end now (the program is ending).
using StopCheck = std::function<bool()>;

// Once per process, on the main thread, before any transfer. False (with the reason) when
// libcurl cannot start.
bool GlobalInit(std::string& sReason);

// "" when the address is an smtps:// or smtp:// URL with a host; else why it cannot be used.
std::string SmtpUrlProblem(const std::string& sUrl);
// "" when the address is an http:// or https:// URL with a host; else why it cannot be used.
std::string PingUrlProblem(const std::string& sUrl);

// Sends a complete message (headers and body, CR LF line ends) from sFrom to the recipients.
Outcome SendMail(const MailServer& server, const std::string& sFrom, const std::vector<std::string>& recipients,
                 const std::string& sMessage, const StopCheck& stop);
// A GET of sUrl (pBody null) or a POST of the body as plain text. An HTTP status of 400 or more
// is a failure.
Outcome Ping(const std::string& sUrl, const std::string* pBody, const std::string& sCaFile, const StopCheck& stop);

} // namespace ReportSender
