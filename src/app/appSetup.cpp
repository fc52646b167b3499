#include "app/appSetup.h"

#include "app/CommandLineRestore.h"
#include "app/HeadlessAgent.h"
#include "app/KeyringCommand.h"
#include "app/KeyringVault.h"
#include "app/QtHelpers.h"
#include "app/QtSeam.h"
#include "app/ReportOutbox.h"
#include "app/RetentionCommand.h"
#include "app/RunGuard.h"
#include "app/SingleInstance.h"
#include "app/TerminalProgress.h"
#include "app/frmMain.h"
#include "app/frmMainProgress.h"
#include "app/frmPopup.h"
#include "app/libForms.h"
#include "engine/BackupRun.h"
#include "engine/ReportHook.h"
#include "engine/RunState.h"
#include "jobs/CBackupJob.h"
#include "jobs/CBackupJobManager.h"
#include "jobs/JobHealth.h"
#include "support/PasswordVault.h"
#include "support/UserInteraction.h"
#include "support/appMisc.h"
#include "support/appPreferences.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libFiles.h"
#include "support/libLog.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QSocketNotifier>
#include <QTimer>
#include <QTranslator>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <unistd.h>

namespace appSetup {

using QtHelpers::Q;
using QtHelpers::S;
using UserInteraction::Buttons;
using UserInteraction::Icon;

namespace {

std::string g_sCommandLine;
bool g_bFatalExitPending = false;
std::unique_ptr<ScheduleView> g_pView;
std::unique_ptr<frmPopup> g_pPopup;
std::unique_ptr<frmMain> g_pAgent;

bool Contains(const std::string& s, const char* sWhat) { return s.find(sWhat) != std::string::npos; }
bool BeginsWith(const std::string& s, const char* sWhat) { return s.rfind(sWhat, 0) == 0; }

std::string MissingJobText(const std::string& sPath) {
    return QtHelpers::S(
        QCoreApplication::translate("appSetup", "You have attempted to run Stowline with command-line parameters.\r\n"
                                                "Unfortunately, the file as you specified does not exist.\r\n"
                                                "\r\n"
                                                "The missing file as you specified is: %1")
            .arg(QtHelpers::Q(sPath)));
}

// A fatal report inside any event handler ends every running event loop (modal ones included)
// with the fatal status, so that Main returns it once the windows are destroyed.
class StowApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* pReceiver, QEvent* pEvent) override {
        try {
            return QApplication::notify(pReceiver, pEvent);
        } catch (const libErrorHandler::FatalApplicationError&) {
            g_bFatalExitPending = true;
            QCoreApplication::exit(ExitFatal);
            return true;
        }
    }
};

// Frees what start-up took, in the reverse order.
void ReleaseAll() {
    g_pAgent.reset();
    g_pView.reset();
    SetScheduleWindow(nullptr);
    g_pPopup.reset();
    DestroyJobManager();
    SingleInstance::ReleaseLock();
}

// A stop signal in the desktop program: the same shut-down as the tray menu's Exit, once the
// run in progress (asked to abort) has ended.
void StopOnSignal() {
    if (RunGuard::RunInProgress()) {
        RunState::SetAbortRequested(true);
        QTimer::singleShot(250, [] { StopOnSignal(); });
        return;
    }
    if (g_pAgent) {
        ExitStowline();
    } else if (g_pView) {
        g_pView->UnloadSchedule();
        QCoreApplication::quit();
    } else {
        QCoreApplication::quit();
    }
}

int RunDesktop(const ScheduleViewFactory& factory) {
    // 5. Place the main window before it is shown.
    g_pView = factory ? factory() : nullptr;
    if (!g_pView) {
        std::cerr << "Stowline: the main window could not be created" << std::endl;
        return ExitFatal;
    }
    SetScheduleWindow(g_pView.get());
    // The progress of every run, restore and verify, in the status bar and the tray's tooltip.
    const GuiProgress progress;
    QWidget* pWindow = g_pView->Window();
    if (!appPreferences::SaveFormSize) {
        libForms::CenterForm(pWindow);
    } else {
        libForms::SetFormPlacement(pWindow, appPreferences::FormSize);
        if (pWindow) pWindow->hide();
    }
    // 6. Load every job and fill the list.
    g_pView->RefreshScheduleForm();

    int fd = StopSignals::Install();
    QSocketNotifier* pNotifier = nullptr;
    if (fd >= 0) {
        pNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, qApp);
        QObject::connect(pNotifier, &QSocketNotifier::activated, qApp, [] {
            StopSignals::Reset();
            StopOnSignal();
        });
    }

    if (appPreferences::UseSystemTray) {
        // 7. Tray mode: the agent window owns the icon and the timer.
        QApplication::setQuitOnLastWindowClosed(false);
        g_pPopup = std::make_unique<frmPopup>();
        g_pAgent = std::make_unique<frmMain>(g_pPopup.get());
        SetAgentWindow(g_pAgent.get());
        g_pPopup->OnSchedule = [] {
            if (g_pView) g_pView->ShowSchedule();
        };
        g_pPopup->OnExit = [] { ExitStowline(); };
        g_pAgent->OnShowSchedule = [] {
            if (g_pView) g_pView->ShowSchedule();
        };
        bool bTray = g_pAgent->SystemTrayAddIcon();
        SetHasNotificationArea(bTray);
        if (!bTray)
            g_pView->AddFileMenuExit(QtHelpers::S(QCoreApplication::translate("appSetup", "Exit Stowline")),
                                     [] { ExitStowline(); });
        g_pAgent->Form_Load(g_sCommandLine);
    } else {
        // 8. Window mode: closing the main window ends the program; nothing runs by schedule.
        SetHasNotificationArea(false);
        QApplication::setQuitOnLastWindowClosed(true);
        g_pView->SetFileCloseCaption(QtHelpers::S(QCoreApplication::translate("appSetup", "Exit")));
        g_pView->SetKillForm(true);
        g_pView->ShowSchedule();
    }
    return QApplication::exec();
}

int RunHeadless() {
    bool bSilent = Contains(g_sCommandLine, "/SILENT");
    if (bSilent && appPreferences::UseSystemTray) {
        // 6. Every job file into the manager (there is no list to fill), then the tick.
        if (CBackupJobManager* pManager = JobManager()) pManager->Reload();
        return HeadlessAgent::Run();
    }
    if (bSilent)
        std::cerr << "Stowline: without a display only the tray agent can run, and the preferences turn it off "
                     "(UseSystemTray in "
                  << appPreferences::PreferencesFileName() << ")." << std::endl;
    else
        std::cerr << "Stowline: a display is needed to show the main window (neither DISPLAY nor WAYLAND_DISPLAY "
                     "is set). Without one, use \"stowline /SILENT\" for the scheduler or \"stowline /RUN <job> "
                     "/EXIT\" to run jobs."
                  << std::endl;
    return ExitUsage;
}

} // namespace

bool FatalExitPending() { return g_bFatalExitPending; }

std::vector<std::string> SplitCommandLine(const std::string& sCommandLine, int iMaxArgs) {
    std::vector<std::string> args(1);
    bool bInArg = false;
    for (char c : sCommandLine) {
        if (c == ' ' || c == '\t') {
            bInArg = false;
            continue;
        }
        if (!bInArg) {
            if (static_cast<int>(args.size()) - 1 >= iMaxArgs) break;
            args.emplace_back();
            bInArg = true;
        }
        args.back() += c;
    }
    return args;
}

std::string CommandLineHelpText() {
    return QtHelpers::S(QCoreApplication::translate("appSetup",
                                                    "Stowline command-line parameters are as follows:\r\n"
                                                    "/SILENT -\t\tNo dialog at startup, tray only\r\n"
                                                    "/RUN <jobname.slj> -\tNotice: no path, no spaces\r\n"
                                                    "/EXIT -\t\t\tExit Stowline upon completion\r\n"
                                                    "/? -\t\t\tThis help dialog\r\n"
                                                    "/STATUS -\t\tEach job's state; exit 1 if any failed or stale\r\n"
                                                    "/RESTORE <job> [/FROM <archive or folder>] [/TO <folder>] "
                                                    "[/ONLY <wildcard>]... [/OVERWRITE] -\tRestore files\r\n"
                                                    "/VERIFY <job>... -\tRead the newest backups back\r\n"
                                                    "/RETENTION <job> -\tWhich snapshots the calendar keeps or "
                                                    "removes (nothing is changed)\r\n"
                                                    "/SETPASSWORD <job> -\tKeep the job's password (read from "
                                                    "standard input) in the desktop keyring\r\n"
                                                    "/SETPASSWORD /SMTP -\tKeep the mail server's password for "
                                                    "reports (read from standard input) in the desktop keyring"));
}

void ShowCommandLineHelp() {
    UserInteraction::Ui().ShowCommandLineHelp(
        QtHelpers::S(QCoreApplication::translate("appSetup", "Command-Line Help")), CommandLineHelpText());
}

bool DirectExecute(const std::string& sCommandLine, int& iExitStatus) {
    return libErrorHandler::Trap("appSetup", "DirectExecute()", [&]() -> bool {
        iExitStatus = ExitOk;
        libLog::SetPendingComment("");
        if (Contains(sCommandLine, "/?")) {
            ShowCommandLineHelp();
            return true;
        }
        // Runs, restores and verifies show their progress on a terminal.
        const TerminalProgress terminal;
        if (Contains(sCommandLine, "/SETPASSWORD")) {
            iExitStatus = KeyringCommand::SetPassword(SplitCommandLine(sCommandLine, 32));
            return true;
        }
        // Reading backups back: its own command, which ends the program when done.
        if (Contains(sCommandLine, "/RESTORE")) {
            iExitStatus = CommandLineRestore::Restore(SplitCommandLine(sCommandLine, 32));
            return true;
        }
        if (Contains(sCommandLine, "/RETENTION")) {
            iExitStatus = RetentionCommand::Print(SplitCommandLine(sCommandLine, 32));
            return true;
        }
        if (Contains(sCommandLine, "/VERIFY")) {
            iExitStatus = CommandLineRestore::Verify(SplitCommandLine(sCommandLine, 32));
            return true;
        }
        if (Contains(sCommandLine, "/RUN")) {
            // A stop signal ends a run in order (its partial copy discarded, the stop logged)
            // and runs no further job.
            StopSignals::Install();
            CBackupJob job;
            std::vector<std::string> args = SplitCommandLine(sCommandLine, 32);
            bool bRunMode = false;
            for (size_t i = 1; i < args.size(); ++i) {
                const std::string& sArg = args[i];
                if (BeginsWith(sArg, "/RUN")) {
                    bRunMode = true;
                } else if (Contains(sArg, "/EXIT") || Contains(sArg, "SILENT") || sArg == "/STATUS") {
                    continue;
                } else if (BeginsWith(sArg, "/")) {
                    ShowCommandLineHelp();
                    iExitStatus = ExitUsage;
                    return true;
                } else if (bRunMode && !sArg.empty()) {
                    if (StopSignals::Requested()) {
                        iExitStatus = ExitJobFailed;
                        break;
                    }
                    std::string sPath = appMisc::JobFolder() + sArg;
                    if (sPath.size() < 4 || sPath.compare(sPath.size() - 4, 4, ".slj") != 0) sPath += ".slj";
                    // Job names carry no folder part: a name reaching outside the job folder
                    // ("../x", "sub/x") is treated as the missing file it is meant not to be.
                    if (sArg.find('/') != std::string::npos || !libFiles::FileExists(sPath)) {
                        UserInteraction::MsgBox(MissingJobText(sPath), Buttons::OK, Icon::Critical,
                                                S(QCoreApplication::translate("appSetup", "Verification Error")));
                        iExitStatus = ExitJobFailed;
                        break;
                    }
                    if (job.Open(sPath) != CBackupJob::FileResult::Done) {
                        iExitStatus = ExitJobFailed;
                        continue;
                    }
                    RunGuard guard;
                    const uint64_t lUnwritten = libLog::UnwrittenLines();
                    if (BackupRun::RunNow(job, nullptr) != BackupRun::RunResult::Completed || job.Failure() ||
                        job.OffsiteFailed())
                        iExitStatus = ExitJobFailed;
                    // A run whose record or log lines were not kept is no success to report.
                    if (!job.SaveError().empty()) {
                        std::cerr << "Stowline: " << job.SaveError() << std::endl;
                        iExitStatus = ExitJobFailed;
                    }
                    if (libLog::UnwrittenLines() != lUnwritten) {
                        std::cerr << "Stowline: the transaction log '" << libLog::LogFileName()
                                  << "' could not be written during the run of " << sArg << std::endl;
                        iExitStatus = ExitJobFailed;
                    }
                }
            }
            if (StopSignals::Requested()) {
                std::cerr << "Stowline: stopped by a signal; the run in progress was not completed." << std::endl;
                iExitStatus = ExitJobFailed;
                return true;
            }
        }
        if (Contains(sCommandLine, "/STATUS")) {
            PrintStatus(iExitStatus);
            return true;
        }
        return Contains(sCommandLine, "/EXIT");
    });
}

bool NeedsInstanceLock(const std::string& sCommandLine) {
    // Help goes first whatever else is asked, and is refused beside an agent as before.
    if (Contains(sCommandLine, "/?")) return true;
    // These only read (a restore writes only the files asked for), each job's backups guarded
    // by the job's own lock; they end the program before any /RUN is looked at.
    if (Contains(sCommandLine, "/RESTORE") || Contains(sCommandLine, "/VERIFY")) return false;
    // Reads the names of a job's snapshots and nothing else.
    if (Contains(sCommandLine, "/RETENTION")) return false;
    // Changes one job file, under the job's own lock, like a save from an agent's editor.
    if (Contains(sCommandLine, "/SETPASSWORD")) return false;
    // A /RUN needs the instance to itself, also when /STATUS follows it.
    return !Contains(sCommandLine, "/STATUS") || Contains(sCommandLine, "/RUN");
}

void PrintStatus(int& iExitStatus) {
    CBackupJobManager& manager = JobManager() ? *JobManager() : CreateJobManager();
    manager.Reload();
    bool bAlarm = false;
    std::cout << JobHealth::StatusReport(manager, libDates::Now(), appPreferences::StaleDays, bAlarm) << std::flush;
    if (bAlarm) iExitStatus = ExitJobFailed;
}

bool DisplayAvailable() {
    const char* sPlatform = std::getenv("QT_QPA_PLATFORM");
    if (sPlatform) {
        std::string p = sPlatform;
        if (BeginsWith(p, "offscreen") || BeginsWith(p, "minimal")) return false;
    }
    const char* sDisplay = std::getenv("DISPLAY");
    const char* sWayland = std::getenv("WAYLAND_DISPLAY");
    return (sDisplay && *sDisplay) || (sWayland && *sWayland);
}

void ExitStowline() {
    libErrorHandler::Trap("appSetup", "ExitStowline()", [&] {
        if (RunGuard::RunInProgress()) return;
        appPreferences::SavePreferences();
        if (g_pAgent) {
            g_pAgent->tmrCheckForBackupJob->stop();
            g_pAgent->SystemTrayRemoveIcon();
        }
        if (g_pView) g_pView->UnloadSchedule();
        g_pAgent.reset();
        QCoreApplication::processEvents();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible()) w->close();
        QCoreApplication::quit();
    });
}

bool InstallTranslation(const std::string& sFolder, const std::string& sLocale) {
    static std::unique_ptr<QTranslator> s_pTranslator;
    if (s_pTranslator) QCoreApplication::removeTranslator(s_pTranslator.get());
    s_pTranslator.reset();
    auto pTranslator = std::make_unique<QTranslator>();
    const QLocale locale(Q(sLocale));
    for (const QString& sDir : {Q(sFolder), Q(sFolder) + "/translations"}) {
        if (pTranslator->load(locale, "stowline", "_", sDir, ".qm")) {
            QCoreApplication::installTranslator(pTranslator.get());
            s_pTranslator = std::move(pTranslator);
            return true;
        }
    }
    return false;
}

int Main(int argc, char** argv, const ScheduleViewFactory& factory) {

    std::string sCommandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) sCommandLine += ' ';
        sCommandLine += argv[i];
    }
    g_sCommandLine = sCommandLine;
    bool bDisplay = DisplayAvailable();
    std::unique_ptr<QApplication> pApp;
    if (bDisplay) {
        pApp = std::make_unique<StowApplication>(argc, argv);
        QApplication::setApplicationName("stowline");
        QApplication::setApplicationDisplayName("Stowline");
        // The installed desktop entry, named by the AppStream id: the desktop finds the icon by it.
        QApplication::setDesktopFileName("io.github.stowline.Stowline");
        QApplication::setWindowIcon(QIcon(":/icons/stowline.svg"));
        InstallTranslation(libFiles::FilePathStripFileName(appMisc::ExePath()), S(QLocale().name()));
        UserInteraction::Install(std::make_unique<QtSeam>());
    } else {
        UserInteraction::Install(std::make_unique<UserInteraction::HeadlessSeam>());
    }

    // Passwords kept in the desktop keyring, for runs, restores and the editor alike.
    PasswordVault::Install(std::make_unique<KeyringVault>());

    // Every run's pings and mails go through this one outbox; none waits for a server.
    ReportOutbox reports;
    ReportHook::Install(&reports);

    int iStatus = ExitOk;
    try {
        libErrorHandler::Trap("appSetup", "Main()", [&] {
            // 1. One instance per user and installation; a command that only reads answers
            // beside it.
            if (NeedsInstanceLock(g_sCommandLine) &&
                SingleInstance::AcquireLock(appMisc::ExePath()) == SingleInstance::LockResult::Refused) {
                UserInteraction::MsgBox(
                    S(QCoreApplication::translate("appSetup", "An instance of Stowline is already running.")),
                    Buttons::OK, Icon::None, S(QCoreApplication::translate("appSetup", "Verification Error")));
                iStatus = ExitUsage;
                return;
            }
            // 2. The one job manager. 3. The preferences.
            CreateJobManager();
            appPreferences::LoadPreferences();
            // 4. The command line.
            int iRunStatus = ExitOk;
            if (DirectExecute(g_sCommandLine, iRunStatus)) {
                iStatus = iRunStatus;
                return;
            }
            int iEnd = bDisplay ? RunDesktop(factory) : RunHeadless();
            iStatus = iEnd != ExitOk ? iEnd : iRunStatus;
        });
    } catch (const libErrorHandler::FatalApplicationError&) {
        // The report and its box are done; what start-up took is released below, as on any end.
        iStatus = ExitFatal;
    }
    // What is still being sent gets a bounded while; a mail not sent by then is kept for the next.
    reports.Drain();
    ReportHook::Install(nullptr);
    ReleaseAll();
    UserInteraction::Install(nullptr);
    PasswordVault::Install(nullptr); // before the application it may have made for itself
    pApp.reset();
    return iStatus;
}

} // namespace appSetup
