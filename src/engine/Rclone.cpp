// Rclone::Run: spawns rclone with its output and error streams on pipes and reads both until it
// ends, so that neither can fill and stall it.

#include "engine/Rclone.h"

#include "engine/RunState.h"
#include "support/UserInteraction.h"
#include "support/libStrings.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The last line of sText that is not blank, trimmed.
std::string LastLine(const std::string& sText) {
    size_t iEnd = sText.size();
    while (iEnd > 0) {
        const size_t iStart = sText.rfind('\n', iEnd - 1);
        const size_t iFrom = iStart == std::string::npos ? 0 : iStart + 1;
        std::string sLine = libStrings::Trim(std::string_view(sText).substr(iFrom, iEnd - iFrom));
        if (!sLine.empty()) return sLine;
        if (iStart == std::string::npos) break;
        iEnd = iStart;
    }
    return "";
}

// rclone's log lines begin "yyyy/mm/dd hh:mm:ss " and a level ("ERROR : ", "CRITICAL: "); both
// go, the reason stays ("Failed to copyto: ..." keeps its words, they say which step failed).
std::string ReasonOf(const std::string& sErrors) {
    std::string sLine = LastLine(sErrors);
    if (sLine.size() > 20 && sLine[4] == '/' && sLine[7] == '/' && sLine[13] == ':' && sLine[19] == ' ')
        sLine = sLine.substr(20);
    for (const char* sLevel : {"ERROR : ", "CRITICAL: ", "NOTICE: "})
        if (sLine.rfind(sLevel, 0) == 0) sLine = sLine.substr(std::strlen(sLevel));
    return libStrings::Trim(sLine);
}

struct Pipe {
    int Fd[2] = {-1, -1};
    ~Pipe() {
        for (int fd : Fd)
            if (fd >= 0) ::close(fd);
    }
    bool Open() { return ::pipe2(Fd, O_CLOEXEC) == 0; }
    void CloseWrite() {
        ::close(Fd[1]);
        Fd[1] = -1;
    }
};

// Reads both pipes until both are at their end. An abort of the run (or the program asked to
// end) stops rclone, which closes them; bStopped tells.
void Drain(pid_t pid, Pipe& out, Pipe& err, std::string& sOut, std::string& sErr, bool& bStopped) {
    pollfd fds[2] = {{out.Fd[0], POLLIN, 0}, {err.Fd[0], POLLIN, 0}};
    std::string* sinks[2] = {&sOut, &sErr};
    int iOpen = 2;
    while (iOpen > 0) {
        const int n = ::poll(fds, 2, 50);
        if (n < 0 && errno != EINTR) break;
        UserInteraction::DoEvents();
        if (!bStopped && RunState::AbortRequested()) {
            bStopped = true;
            ::kill(pid, SIGTERM);
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            char buf[65536];
            const ssize_t r = ::read(fds[i].fd, buf, sizeof buf);
            if (r > 0) {
                sinks[i]->append(buf, static_cast<size_t>(r));
            } else if (r == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --iOpen;
            }
        }
    }
}

int Wait(pid_t pid) {
    int iStatus = 0;
    while (::waitpid(pid, &iStatus, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
}

} // namespace

namespace Rclone {

Result Run(const std::vector<std::string>& args) {
    Result result;
    Pipe out, err;
    if (!out.Open() || !err.Open()) {
        result.Reason = std::string("cannot start rclone: ") + std::strerror(errno);
        return result;
    }
    std::vector<std::string> all{"rclone", "--ask-password=false"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : all)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.Fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err.Fd[1], 2);
    pid_t pid = 0;
    const int iErr = ::posix_spawnp(&pid, "rclone", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (iErr != 0) {
        result.Reason = iErr == ENOENT ? "rclone is not installed (not found in PATH)"
                                       : std::string("cannot start rclone: ") + std::strerror(iErr);
        return result;
    }
    out.CloseWrite();
    err.CloseWrite();
    std::string sErrors;
    bool bStopped = false;
    Drain(pid, out, err, result.Output, sErrors, bStopped);
    result.Status = Wait(pid);
    if (bStopped) {
        result.Status = -1;
        result.Reason = "stopped: the run was aborted";
    } else if (!result.Ok()) {
        result.Reason = ReasonOf(sErrors);
        if (result.Reason.empty()) result.Reason = "rclone ended with status " + std::to_string(result.Status);
    }
    return result;
}

} // namespace Rclone
