#pragma once
// Reports off the machine: the listener every backup run tells of its start and its end
// (engine/ReportHook), which turns them into monitoring pings (job key PingUrl) and mails (the
// Report* preferences), and the one sending thread the program owns for them, so that no run
// waits for a server: a run only queues, the thread sends with bounded time-outs, and the main
// thread logs what it finished at the next run, tick or end of the program ("  Report not
// sent: <reason>"). A mail is kept in AppFolder()/Reports until it has been sent; one that could
// not be is sent again with the next report (at most MaxUnsent are kept, the newest). Pings are
// not kept: a late ping would tell the monitor of a moment that has passed.
//
// The tray and headless agents call Tick every tick (which also sends the day's digest when
// ReportWhen is Daily); the program calls Drain before it ends, /RUN included.

#include "app/ReportMail.h"
#include "app/ReportSender.h"
#include "engine/ReportHook.h"
#include "engine/WorkerThreads.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

class CBackupJobManager;

struct MailSettings {
    ReportSender::MailServer Server;
    std::string From;
    std::vector<std::string> To;
};

class ReportOutbox : public ReportHook::Listener {
public:
    // The keyring entry that holds the SMTP password (no job name can be it).
    static constexpr const char* PasswordKey = "/SMTP";
    static constexpr size_t MaxUnsent = 20;
    // How long the program waits, at its end, for reports still being sent.
    static constexpr int DrainSeconds = 30;

    ReportOutbox();
    ~ReportOutbox() override;
    ReportOutbox(const ReportOutbox&) = delete;
    ReportOutbox& operator=(const ReportOutbox&) = delete;

    void RunStarted(const CBackupJob& job) override;
    void RunEnded(const CBackupJob& job, const ReportHook::RunEnd& end) override;
    // An agent's tick: logs what was sent or not, and sends the day's digest when it is due.
    void Tick(CBackupJobManager* pManager);
    // Before the program ends: waits at most iSeconds for what is queued, ends the transfers
    // still going, and logs what was not sent (mails stay for the next report).
    void Drain(int iSeconds = DrainSeconds);

    // The one made by the program (nullptr when none lives).
    static ReportOutbox* Current();
    // AppFolder() + "Reports".
    static std::string Folder();

    // The mail settings of the preferences, with the password from the keyring when a user is
    // named. False, with the reason, when mail cannot be sent with them.
    static bool SettingsFromPreferences(MailSettings& settings, std::string& sProblem);
    // The preferences' values checked: "" when mail can go with them, else why not.
    static std::string SettingsProblem(const std::string& sUrl, const std::string& sFrom, const std::string& sTo,
                                       MailSettings& settings);
    // "Send test report": the test mail sent at once on a thread of its own, events let through
    // while it goes.
    static ReportSender::Outcome SendTest(const MailSettings& settings);

private:
    struct Item {
        bool Mail = false;
        std::string What; // for the log
        std::string Url;  // ping
        bool Post = false;
        std::string Body; // ping body, or the whole mail
        std::string File; // the mail's unsent copy
        MailSettings Settings;
    };
    struct Done {
        Item Sent;
        ReportSender::Outcome Outcome;
    };

    void Ping(const CBackupJob& job, const char* sSuffix, const std::string* pBody);
    void Mail(const ReportMail::Message& message);
    // Queues every kept unsent mail not queued yet, oldest first, with the settings.
    void QueueUnsent(const MailSettings& settings);
    void Queue(Item item);
    void Collect();
    void SendQueueHere();
    void Work(std::stop_token stop);
    ReportSender::Outcome Send(const Item& item);
    void DailyDigest(CBackupJobManager& manager);

    bool m_bCurl = false;
    std::string m_sCurlProblem;
    std::set<std::string> m_queuedFiles; // main thread only
    std::mutex m_mutex;                  // guards the three below
    std::condition_variable_any m_cv;
    std::deque<Item> m_queue;
    std::vector<Done> m_done;
    int m_iSending = 0;
    std::atomic<bool> m_bGiveUp = false;
    bool m_bThreadTried = false;
    std::optional<WorkerThreads> m_threads; // last: joined before the rest goes
};
