#include "app/KeyringCommand.h"

#include "app/ReportOutbox.h"
#include "app/appSetup.h"
#include "engine/JobLock.h"
#include "jobs/CBackupJob.h"
#include "support/PasswordVault.h"
#include "support/libFiles.h"

#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace KeyringCommand {

namespace {

// One line of standard input, without its line end. On a terminal the typing is not echoed
// (the terminal's settings are put back whatever happens) and a prompt goes to standard error.
bool ReadPassword(const std::string& sPrompt, std::string& sPassword) {
    termios saved{};
    const bool bTerminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (bTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::cerr << sPrompt << std::flush; // one write
    }
    const bool bRead = static_cast<bool>(std::getline(std::cin, sPassword));
    if (bTerminal) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!sPassword.empty() && sPassword.back() == '\r') sPassword.pop_back();
    return bRead || !sPassword.empty();
}

// The job file a name after /SETPASSWORD means (as after /RUN: no folder, ".slj" optional).
std::string JobFileOf(std::string sName) {
    if (sName.size() > 4 && sName.compare(sName.size() - 4, 4, ".slj") == 0) sName.resize(sName.size() - 4);
    if (sName.find('/') != std::string::npos) return "";
    return CBackupJob::JobFileNameFor(sName);
}

// The mail server's password for reports: no job and no job file, only the keyring entry.
int SetSmtpPassword() {
    std::string sPassword;
    if (!ReadPassword("Password for the mail server: ", sPassword) || sPassword.empty()) {
        std::cerr << "Stowline: no password was given for the mail server; nothing was changed." << std::endl;
        return appSetup::ExitJobFailed;
    }
    const PasswordVault::Result written = PasswordVault::Current().Write(ReportOutbox::PasswordKey, sPassword);
    if (!written.Done()) {
        std::cerr << "Stowline: the desktop keyring cannot be reached: " << written.Reason << std::endl;
        return appSetup::ExitJobFailed;
    }
    std::cout << "The mail server's password is now kept in the desktop keyring." << std::endl;
    return appSetup::ExitOk;
}

} // namespace

int SetPassword(const std::vector<std::string>& args) {
    std::string sName;
    bool bSmtp = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "/SETPASSWORD") continue;
        if (args[i] == "/SMTP" && !bSmtp && sName.empty()) {
            bSmtp = true;
            continue;
        }
        if (bSmtp) {
            appSetup::ShowCommandLineHelp();
            return appSetup::ExitUsage;
        }
        if (!sName.empty() || args[i].empty() || args[i][0] == '/') {
            appSetup::ShowCommandLineHelp();
            return appSetup::ExitUsage;
        }
        sName = args[i];
    }
    if (bSmtp) return SetSmtpPassword();
    if (sName.empty()) {
        appSetup::ShowCommandLineHelp();
        return appSetup::ExitUsage;
    }
    const std::string sPath = JobFileOf(sName);
    if (sPath.empty() || !libFiles::FileExists(sPath)) {
        std::cerr << "Stowline: no job file for '" << sName << "'." << std::endl;
        return appSetup::ExitJobFailed;
    }
    // A run of the job ends before its file is changed here (and one started meanwhile waits),
    // so that no run's record puts the old password store back.
    const FileLock jobLock = JobLock::ForReading(sPath, [&] {
        std::cerr << "Stowline: waiting for the running backup of " << sName << " to end..." << std::endl;
    });
    CBackupJob job;
    if (job.Open(sPath) != CBackupJob::FileResult::Done) {
        std::cerr << "Stowline: the job file '" << sPath << "' cannot be read." << std::endl;
        return appSetup::ExitJobFailed;
    }
    std::string sPassword;
    if (!ReadPassword("Password for job '" + job.JobName() + "': ", sPassword) || sPassword.empty()) {
        std::cerr << "Stowline: no password was given for job '" << job.JobName() << "'; nothing was changed."
                  << std::endl;
        return appSetup::ExitJobFailed;
    }
    const PasswordVault::Result written = PasswordVault::Current().Write(job.JobName(), sPassword);
    if (!written.Done()) {
        std::cerr << "Stowline: " << PasswordVault::UnreachableText(job.JobName(), written) << std::endl;
        return appSetup::ExitJobFailed;
    }
    job.SetPasswordInKeyring(true);
    if (job.Save() != CBackupJob::FileResult::Done) {
        std::cerr << "Stowline: "
                  << (job.SaveError().empty() ? "the job file '" + sPath + "' could not be saved." : job.SaveError())
                  << std::endl;
        return appSetup::ExitJobFailed;
    }
    std::cout << "The password of job '" << job.JobName() << "' is now kept in the desktop keyring." << std::endl;
    return appSetup::ExitOk;
}

} // namespace KeyringCommand
