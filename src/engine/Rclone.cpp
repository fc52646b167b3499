// Rclone::Run and Rclone::Transfer: spawn rclone with its output and error streams on pipes and
// read both until it ends, so that neither can fill and stall it.

#include "engine/Rclone.h"

#include "engine/RunState.h"
#include "support/UserInteraction.h"
#include "support/appPreferences.h"
#include "support/libStrings.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// A plain log line's reason: rclone's lines begin "yyyy/mm/dd hh:mm:ss " and a level
// ("ERROR : ", "CRITICAL: "); both go, the reason stays ("Failed to copyto: ..." keeps its words,
// they say which step failed).
std::string PlainReason(std::string sLine) {
    if (sLine.size() > 20 && sLine[4] == '/' && sLine[7] == '/' && sLine[13] == ':' && sLine[19] == ' ')
        sLine = sLine.substr(20);
    for (const char* sLevel : {"ERROR : ", "CRITICAL: ", "NOTICE: "})
        if (sLine.rfind(sLevel, 0) == 0) sLine = sLine.substr(std::strlen(sLevel));
    return libStrings::Trim(sLine);
}

// Why rclone failed, from what it wrote to its error stream. Its final word is a plain line even
// with JSON logging; failing that, the last JSON error message.
std::string ReasonOf(const std::string& sErrors) {
    std::string sJsonReason;
    std::vector<std::string> lines = libStrings::Split(sErrors, "\n");
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        const std::string sLine = libStrings::Trim(*it);
        if (sLine.empty()) continue;
        if (sLine[0] != '{') return PlainReason(sLine);
        if (!sJsonReason.empty()) continue;
        const nlohmann::json j = nlohmann::json::parse(sLine, nullptr, false);
        if (j.is_object() && j.value("level", "") == "error" && j.contains("msg") && j["msg"].is_string())
            sJsonReason = libStrings::Trim(j["msg"].get<std::string>());
    }
    return sJsonReason;
}

// The stats of one JSON log line; false when the line holds none.
bool ParseStats(const std::string& sLine, Rclone::Stats& stats) {
    if (sLine.empty() || sLine[0] != '{') return false;
    const nlohmann::json j = nlohmann::json::parse(sLine, nullptr, false);
    if (!j.is_object() || !j.contains("stats") || !j["stats"].is_object()) return false;
    const nlohmann::json& st = j["stats"];
    const auto number = [&](const char* sKey) {
        return st.contains(sKey) && st[sKey].is_number() ? st[sKey].get<double>() : 0.0;
    };
    stats.Bytes = static_cast<long long>(number("bytes"));
    stats.TotalBytes = static_cast<long long>(number("totalBytes"));
    stats.Speed = number("speed");
    stats.Elapsed = number("elapsedTime");
    return true;
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

// Reads both pipes until both are at their end, handing what the error stream brings to onError.
// An abort of the run (or the program asked to end), or stopWanted saying so, stops rclone,
// which closes them; bStopped tells.
void Drain(pid_t pid, Pipe& out, Pipe& err, std::string& sOut, const std::function<void(std::string_view)>& onError,
           const Rclone::StopWanted& stopWanted, bool& bStopped) {
    pollfd fds[2] = {{out.Fd[0], POLLIN, 0}, {err.Fd[0], POLLIN, 0}};
    int iOpen = 2;
    std::chrono::steady_clock::time_point stoppedAt;
    bool bKilled = false;
    while (iOpen > 0) {
        const int n = ::poll(fds, 2, 50);
        if (n < 0 && errno != EINTR) break;
        UserInteraction::DoEvents();
        if (!bStopped && (RunState::AbortRequested() || (stopWanted && stopWanted()))) {
            bStopped = true;
            stoppedAt = std::chrono::steady_clock::now();
            ::kill(pid, SIGTERM);
        }
        // One that does not end within 5 s of being asked is made to.
        if (bStopped && !bKilled && std::chrono::steady_clock::now() - stoppedAt > std::chrono::seconds(5)) {
            bKilled = true;
            ::kill(pid, SIGKILL);
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            char buf[65536];
            const ssize_t r = ::read(fds[i].fd, buf, sizeof buf);
            if (r > 0) {
                if (i == 0)
                    sOut.append(buf, static_cast<size_t>(r));
                else
                    onError(std::string_view(buf, static_cast<size_t>(r)));
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

namespace {

// Starts "rclone --ask-password=false <args>" with no input and its output and error streams on
// iOut and iErr; false with the reason when it cannot start.
bool Spawn(const std::vector<std::string>& args, int iOut, int iErr, pid_t& pid, std::string& sReason) {
    std::vector<std::string> all{"rclone", "--ask-password=false"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : all)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, iOut, 1);
    posix_spawn_file_actions_adddup2(&actions, iErr, 2);
    const int iSpawn = ::posix_spawnp(&pid, "rclone", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (iSpawn == 0) return true;
    sReason = iSpawn == ENOENT ? "rclone is not installed (not found in PATH)"
                               : std::string("cannot start rclone: ") + std::strerror(iSpawn);
    return false;
}

// Runs "rclone --ask-password=false <args>"; onError gets the error stream as it comes.
Rclone::Result Execute(const std::vector<std::string>& args, const std::function<void(std::string_view)>& onError,
                       const Rclone::StopWanted& stopWanted = {}) {
    Rclone::Result result;
    Pipe out, err;
    if (!out.Open() || !err.Open()) {
        result.Reason = std::string("cannot start rclone: ") + std::strerror(errno);
        return result;
    }
    pid_t pid = 0;
    if (!Spawn(args, out.Fd[1], err.Fd[1], pid, result.Reason)) return result;
    out.CloseWrite();
    err.CloseWrite();
    bool bStopped = false;
    Drain(pid, out, err, result.Output, onError, stopWanted, bStopped);
    result.Status = Wait(pid);
    if (bStopped) {
        result.Status = -1;
        result.Reason = RunState::AbortRequested() ? "stopped: the run was aborted" : "stopped";
    }
    return result;
}

void Explain(Rclone::Result& result, const std::string& sErrors) {
    if (result.Ok() || !result.Reason.empty()) return;
    result.Reason = ReasonOf(sErrors);
    if (result.Reason.empty()) result.Reason = "rclone ended with status " + std::to_string(result.Status);
}

} // namespace

namespace Rclone {

Result Run(const std::vector<std::string>& args) {
    std::string sErrors;
    Result result = Execute(args, [&](std::string_view chunk) { sErrors.append(chunk); });
    Explain(result, sErrors);
    return result;
}

Result Transfer(const std::vector<std::string>& args, const StatsSink& onStats, const StopWanted& stopWanted) {
    // The command first, as with Run; the options of a transfer after it.
    std::vector<std::string> all(args.begin(), args.begin() + (args.empty() ? 0 : 1));
    for (const char* sOption : {"--use-json-log", "--stats", "1s", "--stats-log-level", "NOTICE"})
        all.push_back(sOption);
    if (!appPreferences::OffsiteBandwidth.empty()) all.push_back("--bwlimit=" + appPreferences::OffsiteBandwidth);
    all.insert(all.end(), args.begin() + (args.empty() ? 0 : 1), args.end());
    // Stats lines are read and dropped as they come (a long upload writes one a second); the
    // rest is kept for the reason of a failure.
    std::string sErrors, sPending;
    Stats last;
    Result result = Execute(
        all,
        [&](std::string_view chunk) {
            sPending.append(chunk);
            size_t iEnd;
            while ((iEnd = sPending.find('\n')) != std::string::npos) {
                const std::string sLine = sPending.substr(0, iEnd);
                sPending.erase(0, iEnd + 1);
                if (ParseStats(sLine, last)) {
                    if (onStats) onStats(last);
                } else {
                    sErrors += sLine + "\n";
                }
            }
        },
        stopWanted);
    sErrors += sPending;
    result.Moved = last;
    result.Log = sErrors;
    Explain(result, sErrors);
    return result;
}

Background::Background(const std::vector<std::string>& args) {
    // Memory files rather than pipes: nobody reads them while the command runs.
    m_iOut = ::memfd_create("rclone-out", MFD_CLOEXEC);
    m_iErr = ::memfd_create("rclone-err", MFD_CLOEXEC);
    if (m_iOut < 0 || m_iErr < 0) {
        m_done.Reason = std::string("cannot start rclone: ") + std::strerror(errno);
        return;
    }
    if (Spawn(args, m_iOut, m_iErr, m_pid, m_done.Reason)) m_bRunning = true;
}

Background::~Background() {
    if (m_bRunning) {
        ::kill(m_pid, SIGTERM);
        ::Wait(m_pid);
    }
    for (int fd : {m_iOut, m_iErr})
        if (fd >= 0) ::close(fd);
}

Result Background::Wait() {
    if (!m_bRunning) return m_done;
    m_bRunning = false;
    int iStatus = 0;
    pid_t r = 0;
    while ((r = ::waitpid(m_pid, &iStatus, WNOHANG)) == 0 || (r < 0 && errno == EINTR)) {
        UserInteraction::DoEvents();
        if (RunState::AbortRequested()) {
            ::kill(m_pid, SIGTERM);
            ::Wait(m_pid);
            m_done.Reason = "stopped: the run was aborted";
            return m_done;
        }
        ::usleep(20000);
    }
    m_done.Status = r > 0 && WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
    const auto read = [](int fd) {
        std::string s;
        char buf[65536];
        ssize_t n;
        for (off_t at = 0; (n = ::pread(fd, buf, sizeof buf, at)) > 0; at += n)
            s.append(buf, static_cast<size_t>(n));
        return s;
    };
    m_done.Output = read(m_iOut);
    Explain(m_done, read(m_iErr));
    return m_done;
}

using libStrings::SizeText;

std::string Summary(const Stats& stats) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f s", stats.Elapsed);
    return SizeText(static_cast<double>(stats.Bytes)) + " in " + buf + " (" + SizeText(stats.Speed) + "/s)";
}

std::string Progress(const Stats& stats) {
    const std::string sDone = SizeText(static_cast<double>(stats.Bytes));
    if (stats.TotalBytes <= 0) return sDone;
    const long long lPercent = std::min<long long>(stats.Bytes * 100 / stats.TotalBytes, 100);
    return sDone + " of " + SizeText(static_cast<double>(stats.TotalBytes)) + " (" + std::to_string(lPercent) + "%)";
}

} // namespace Rclone
