#include "app/ReportOutbox.h"

#include "jobs/CBackupJob.h"
#include "jobs/CBackupJobManager.h"
#include "support/PasswordVault.h"
#include "support/UserInteraction.h"
#include "support/appMisc.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libFiles.h"
#include "support/libIni.h"
#include "support/libLog.h"
#include "support/libStrings.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
ReportOutbox* g_pCurrent = nullptr;

constexpr const char* kUnsentHead = "unsent-";
constexpr const char* kUnsentTail = ".eml";

// The kept unsent mails, oldest first (their names begin with the moment they were made).
std::vector<std::string> UnsentFiles() {
    std::vector<std::string> files;
    const std::string sFolder = libFiles::AddTrailingSlash(ReportOutbox::Folder());
    DIR* pDir = ::opendir(sFolder.c_str());
    if (pDir == nullptr) return files;
    while (const dirent* pEntry = ::readdir(pDir)) {
        const std::string sName = pEntry->d_name;
        if (sName.rfind(kUnsentHead, 0) == 0 && sName.size() > 11 &&
            sName.compare(sName.size() - 4, 4, kUnsentTail) == 0)
            files.push_back(sFolder + sName);
    }
    ::closedir(pDir);
    std::sort(files.begin(), files.end());
    return files;
}

// The mail's subject, as its unsent copy holds it (for the log).
std::string SubjectOf(const std::string& sMessage) {
    const size_t i = sMessage.find("\r\nSubject: ");
    if (i == std::string::npos) return "";
    const size_t iEnd = sMessage.find("\r\n", i + 2);
    return sMessage.substr(i + 11, iEnd == std::string::npos ? std::string::npos : iEnd - i - 11);
}

std::string StateFile() { return libFiles::AddTrailingSlash(ReportOutbox::Folder()) + "state.txt"; }

// The private folder of the reports, made when missing.
bool MakeFolder() {
    const std::string sFolder = ReportOutbox::Folder();
    return ::mkdir(sFolder.c_str(), 0700) == 0 || errno == EEXIST;
}
} // namespace

ReportOutbox::ReportOutbox() {
    m_bCurl = ReportSender::GlobalInit(m_sCurlProblem);
    g_pCurrent = this;
}

ReportOutbox::~ReportOutbox() {
    if (g_pCurrent == this) g_pCurrent = nullptr;
    m_bGiveUp = true; // a transfer going on ends at its next progress call
    m_threads.reset();
}

ReportOutbox* ReportOutbox::Current() { return g_pCurrent; }

std::string ReportOutbox::Folder() { return appMisc::AppFolder() + "Reports"; }

std::string ReportOutbox::SettingsProblem(const std::string& sUrl, const std::string& sFrom, const std::string& sTo,
                                          MailSettings& settings) {
    settings.Server.Url = libStrings::Trim(sUrl);
    if (std::string s = ReportSender::SmtpUrlProblem(settings.Server.Url); !s.empty()) return s;
    if (!ReportMail::Addresses(sTo, settings.To)) return "'" + sTo + "' is no list of mail addresses to send to";
    std::vector<std::string> from;
    if (libStrings::Trim(sFrom).empty())
        from = {settings.To.front()};
    else if (!ReportMail::Addresses(sFrom, from) || from.size() != 1)
        return "'" + sFrom + "' is no mail address to send from";
    settings.From = from.front();
    return "";
}

bool ReportOutbox::SettingsFromPreferences(MailSettings& settings, std::string& sProblem) {
    sProblem = SettingsProblem(appPreferences::ReportSmtpUrl, appPreferences::ReportMailFrom,
                               appPreferences::ReportMailTo, settings);
    if (!sProblem.empty()) return false;
    settings.Server.User = appPreferences::ReportSmtpUser;
    settings.Server.CaFile = appPreferences::ReportCaFile;
    if (settings.Server.User.empty()) return true;
    const PasswordVault::Result read = PasswordVault::Current().Read(PasswordKey);
    if (read.Done()) {
        settings.Server.Password = read.Value;
        return true;
    }
    sProblem = read.State == PasswordVault::Status::NotFound
                   ? "no SMTP password is stored in the desktop keyring (stowline /SETPASSWORD /SMTP stores one)"
                   : "the SMTP password is kept in the desktop keyring, which cannot be reached: " + read.Reason;
    return false;
}

void ReportOutbox::RunStarted(const CBackupJob& job) {
    Collect();
    if (!job.PingUrl().empty()) Ping(job, "/start", nullptr);
}

void ReportOutbox::RunEnded(const CBackupJob& job, const ReportHook::RunEnd& end) {
    Collect();
    if (!job.PingUrl().empty()) {
        const std::string sBody = ReportMail::PingBody(end);
        Ping(job, end.Failed ? "/fail" : "", &sBody);
    }
    using appPreferences::ReportTiming;
    if (appPreferences::ReportWhen == ReportTiming::Always ||
        (appPreferences::ReportWhen == ReportTiming::Failures && end.Failed))
        Mail(ReportMail::RunReport(job, end));
    if (!m_threads || m_threads->Count() == 0) SendQueueHere();
}

void ReportOutbox::Tick(CBackupJobManager* pManager) {
    // A report that cannot be made is no error of the agent's tick: it is logged.
    try {
        Collect();
        if (pManager != nullptr) DailyDigest(*pManager);
        if (m_threads && m_threads->Count() == 0) SendQueueHere();
    } catch (const std::exception& e) {
        libLog::LogEvent(std::string("  Report not sent: ") + e.what());
    }
}

void ReportOutbox::DailyDigest(CBackupJobManager& manager) {
    if (appPreferences::ReportWhen != appPreferences::ReportTiming::Daily || appPreferences::ReportSmtpUrl.empty())
        return;
    const std::string sToday = libDates::Format(std::floor(libDates::Now()), "yyyymmdd");
    IniFile state;
    state.Load(StateFile());
    if (state.Get("Reports", "LastDigest") == sToday) return;
    // Noted before it is sent: an unsent digest is kept and sent again like any other mail, and
    // the day never gets two.
    state.Set("Reports", "LastDigest", sToday);
    bool bKept = MakeFolder();
    try {
        if (bKept) state.Save(StateFile(), 0600);
    } catch (const std::exception&) {
        bKept = false;
    }
    if (!bKept)
        libLog::LogEvent("  Report not sent: the daily report's state cannot be kept in '" + StateFile() + "'");
    else
        Mail(ReportMail::Digest(manager, libDates::Now(), appPreferences::StaleDays));
}

void ReportOutbox::Ping(const CBackupJob& job, const char* sSuffix, const std::string* pBody) {
    Item item;
    item.Url = libFiles::RemoveTrailingSlash(job.PingUrl()) + sSuffix;
    item.What = "ping " + item.Url;
    item.Post = pBody != nullptr;
    if (pBody != nullptr) item.Body = *pBody;
    item.Settings.Server.CaFile = appPreferences::ReportCaFile;
    Queue(std::move(item));
}

void ReportOutbox::Mail(const ReportMail::Message& message) {
    if (appPreferences::ReportSmtpUrl.empty()) return; // mail is off
    MailSettings settings;
    std::string sProblem;
    const bool bReady = SettingsFromPreferences(settings, sProblem);
    // Kept before anything is tried, so that a mail that cannot go now goes with the next one.
    static unsigned s_iMade = 0;
    char sStamp[32];
    std::snprintf(sStamp, sizeof sStamp, "%012lld-", static_cast<long long>(std::time(nullptr)));
    const std::string sFile = libFiles::AddTrailingSlash(Folder()) + kUnsentHead + sStamp + std::to_string(::getpid()) +
                              "-" + std::to_string(++s_iMade) + kUnsentTail;
    const std::string sMessage = ReportMail::Compose(
        settings.From.empty() ? std::string("stowline@localhost") : settings.From,
        settings.To.empty() ? std::vector<std::string>{"undisclosed-recipients:;"} : settings.To, message);
    try {
        if (!MakeFolder()) throw std::runtime_error("the folder cannot be made");
        libFiles::WriteWholeFileAtomic(sFile, sMessage, 0600);
    } catch (const std::exception&) {
        libLog::LogEvent("  Report not sent: '" + message.Subject + "' cannot be kept in '" + Folder() + "'");
    }
    // The oldest go beyond the bound, never one queued now.
    std::vector<std::string> files = UnsentFiles();
    for (size_t i = 0; files.size() - i > MaxUnsent; ++i)
        if (!m_queuedFiles.contains(files[i])) ::unlink(files[i].c_str());
    if (!bReady) {
        libLog::LogEvent("  Report not sent: mail '" + message.Subject + "': " + sProblem);
        return;
    }
    QueueUnsent(settings);
}

void ReportOutbox::QueueUnsent(const MailSettings& settings) {
    for (const std::string& sFile : UnsentFiles()) {
        if (m_queuedFiles.contains(sFile)) continue;
        Item item;
        item.Mail = true;
        try {
            item.Body = libFiles::ReadWholeFile(sFile);
        } catch (const std::exception&) {
            continue;
        }
        item.File = sFile;
        item.Settings = settings;
        item.What = "mail '" + SubjectOf(item.Body) + "' to " + settings.Server.Url;
        m_queuedFiles.insert(sFile);
        Queue(std::move(item));
    }
}

void ReportOutbox::Queue(Item item) {
    if (!m_bThreadTried) {
        m_bThreadTried = true;
        m_threads.emplace();
        m_threads->StartUpTo(1, [this](std::stop_token stop) { Work(stop); });
    }
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(item));
    }
    m_cv.notify_all();
}

ReportSender::Outcome ReportOutbox::Send(const Item& item) {
    if (!m_bCurl) return ReportSender::Outcome{false, "libcurl cannot start: " + m_sCurlProblem};
    const ReportSender::StopCheck stop = [this] { return m_bGiveUp.load(); };
    if (!item.Mail)
        return ReportSender::Ping(item.Url, item.Post ? &item.Body : nullptr, item.Settings.Server.CaFile, stop);
    ReportSender::Outcome outcome =
        ReportSender::SendMail(item.Settings.Server, item.Settings.From, item.Settings.To, item.Body, stop);
    if (outcome.Sent) ::unlink(item.File.c_str()); // sent: never sent again
    return outcome;
}

void ReportOutbox::Work(std::stop_token stop) {
    for (;;) {
        Item item;
        {
            std::unique_lock lock(m_mutex);
            if (!m_cv.wait(lock, stop, [&] { return !m_queue.empty(); })) return;
            item = std::move(m_queue.front());
            m_queue.pop_front();
            ++m_iSending;
        }
        ReportSender::Outcome outcome = Send(item);
        {
            std::lock_guard lock(m_mutex);
            m_done.push_back(Done{std::move(item), std::move(outcome)});
            --m_iSending;
        }
        m_cv.notify_all();
    }
}

// Without a thread of its own (the system would start none), the calling thread sends, after the
// run's result is recorded.
void ReportOutbox::SendQueueHere() {
    for (;;) {
        Item item;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty()) break;
            item = std::move(m_queue.front());
            m_queue.pop_front();
        }
        ReportSender::Outcome outcome = Send(item);
        std::lock_guard lock(m_mutex);
        m_done.push_back(Done{std::move(item), std::move(outcome)});
    }
    Collect();
}

void ReportOutbox::Collect() {
    std::vector<Done> done;
    {
        std::lock_guard lock(m_mutex);
        done.swap(m_done);
    }
    for (const Done& d : done) {
        if (!d.Sent.File.empty()) m_queuedFiles.erase(d.Sent.File);
        if (d.Outcome.Sent)
            libLog::LogEventLevel(0, "  Report sent: " + d.Sent.What);
        else
            libLog::LogEvent("  Report not sent: " + d.Sent.What + ": " + d.Outcome.Reason);
    }
}

void ReportOutbox::Drain(int iSeconds) {
    if (m_threads && m_threads->Count() > 0) {
        std::unique_lock lock(m_mutex);
        const bool bDone =
            m_cv.wait_for(lock, std::chrono::seconds(iSeconds), [&] { return m_queue.empty() && m_iSending == 0; });
        if (!bDone) {
            m_bGiveUp = true;
            for (Item& item : m_queue)
                m_done.push_back(
                    Done{std::move(item), ReportSender::Outcome{false, "the program ended before it could be sent"}});
            m_queue.clear();
            // A transfer going on ends at its next progress call, within about a second.
            m_cv.wait(lock, [&] { return m_iSending == 0; });
        }
    } else {
        SendQueueHere();
    }
    Collect();
}

ReportSender::Outcome ReportOutbox::SendTest(const MailSettings& settings) {
    const std::string sMessage = ReportMail::Compose(settings.From, settings.To, ReportMail::TestReport());
    std::atomic<bool> bDone = false;
    ReportSender::Outcome outcome;
    auto send = [&] {
        outcome = ReportSender::SendMail(settings.Server, settings.From, settings.To, sMessage, {});
        bDone = true;
    };
    WorkerThreads thread;
    if (thread.StartUpTo(1, [&](std::stop_token) { send(); }) == 0) {
        send();
        return outcome;
    }
    while (!bDone) {
        UserInteraction::DoEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return outcome;
}
