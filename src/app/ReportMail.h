#pragma once
// What reports say: the mail of one run (the job, the reason, the run's summary line and its
// log lines), the daily digest (every job's state, failed and stale first), the test mail, and
// the bodies of monitoring pings; and the mail itself as sent (RFC 5322, quoted-printable
// UTF-8 text, CR LF line ends).

#include "engine/ReportHook.h"

#include <string>
#include <vector>

class CBackupJob;
class CBackupJobManager;

namespace ReportMail {

struct Message {
    std::string Subject;
    std::string Body; // lines separated by "\n"
};

// The addresses of a list separated by commas or semicolons, blanks trimmed. False when one of
// them is no plain address (local@domain, no blanks, brackets or line ends) or none is given.
bool Addresses(const std::string& sList, std::vector<std::string>& addresses);

// The mail of one run.
Message RunReport(const CBackupJob& job, const ReportHook::RunEnd& end);
// The body of a run's ping: its summary line, after the reason of a failure.
std::string PingBody(const ReportHook::RunEnd& end);
// The mail "Send test report" sends.
Message TestReport();
// One line per job of the manager (as /STATUS has it), failed and stale jobs first.
Message Digest(CBackupJobManager& manager, double dNow, int iStaleDays);

// The whole message: headers (From, To, Subject, Date, Message-ID, MIME) and the body.
std::string Compose(const std::string& sFrom, const std::vector<std::string>& to, const Message& message);

} // namespace ReportMail
