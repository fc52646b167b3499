#include "support/UserInteraction.h"

#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace UserInteraction {

namespace {
std::unique_ptr<Seam>& Installed() {
    static std::unique_ptr<Seam> seam = std::make_unique<HeadlessSeam>();
    return seam;
}
void (*g_coreEventHook)() = nullptr;

std::string WithNewlines(const std::string& sText) {
    std::string sOut;
    for (size_t i = 0; i < sText.size(); ++i) {
        if (sText[i] == '\r') {
            if (i + 1 < sText.size() && sText[i + 1] == '\n') ++i;
            sOut += '\n';
        } else {
            sOut += sText[i];
        }
    }
    return sOut;
}

// Starts argv detached: a double fork so no zombie is left and nothing waits.
bool SpawnDetached(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        close(fds[0]);
        setsid();
        pid_t inner = fork();
        if (inner == 0) {
            execvp(argv[0], argv.data());
            int iErr = 1;
            (void)!write(fds[1], &iErr, sizeof iErr);
            _exit(127);
        }
        _exit(inner < 0 ? 1 : 0);
    }
    close(fds[1]);
    int iStatus = 0;
    waitpid(pid, &iStatus, 0);
    int iErr = 0;
    ssize_t n = read(fds[0], &iErr, sizeof iErr);
    close(fds[0]);
    return WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0 && n <= 0;
}
} // namespace

Seam& Ui() { return *Installed(); }

std::unique_ptr<Seam> Install(std::unique_ptr<Seam> seam) {
    auto previous = std::move(Installed());
    Installed() = seam ? std::move(seam) : std::make_unique<HeadlessSeam>();
    return previous;
}

Answer MsgBox(const std::string& sText, Buttons buttons, Icon icon, const std::string& sTitle, int iDefaultButton) {
    MessageRequest request{sTitle, sText, buttons, icon, iDefaultButton};
    return Ui().MessageBox(request);
}

void DoEvents() { Ui().DoEvents(); }

void SetCoreEventHook(void (*hook)()) { g_coreEventHook = hook; }

Answer HeadlessAnswer(Buttons buttons) {
    switch (buttons) {
    case Buttons::OKCancel:
    case Buttons::YesNoCancel:
    case Buttons::RetryCancel:
        return Answer::Cancel;
    case Buttons::YesNo:
        return Answer::No;
    case Buttons::AbortRetryIgnore:
        return Answer::Abort;
    case Buttons::OK:
        break;
    }
    return Answer::OK;
}

Answer HeadlessSeam::MessageBox(const MessageRequest& request) {
    std::cerr << request.Title << ": " << WithNewlines(request.Text) << std::endl;
    return HeadlessAnswer(request.ButtonSet);
}

bool HeadlessSeam::InputBox(const std::string&, const std::string&, const std::string&, std::string& sAnswer) {
    sAnswer.clear();
    return false;
}

void HeadlessSeam::DoEvents() {
    if (g_coreEventHook) g_coreEventHook();
}

bool HeadlessSeam::StartProgram(const std::string& sCommandLine) {
    return SpawnDetached({"/bin/sh", "-c", sCommandLine});
}

bool HeadlessSeam::OpenDocument(const std::string& sPathOrUrl) { return SpawnDetached({"xdg-open", sPathOrUrl}); }

void HeadlessSeam::ShowHelp(const std::string& sAnchor) {
    std::cerr << "Help: " << (sAnchor.empty() ? "contents" : sAnchor) << std::endl;
}

void HeadlessSeam::ShowCommandLineHelp(const std::string& sTitle, const std::string& sText) {
    (void)sTitle;
    std::cout << WithNewlines(sText) << std::endl;
}

} // namespace UserInteraction
