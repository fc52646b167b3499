#include "app/HeadlessAgent.h"

#include "app/DesktopNotify.h"
#include "app/DriveWatch.h"
#include "app/PowerWatch.h"
#include "engine/RunState.h"
#include "support/UserInteraction.h"
#include "support/appPreferences.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace StopSignals {

namespace {
int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_bRequested = 0;

void OnSignal(int) {
    g_bRequested = 1;
    // A run in progress sees it at its next check, on whichever thread, whether or not events
    // are let through meanwhile.
    RunState::SetStopRequested(true);
    int saved = errno;
    char c = 1;
    if (g_pipe[1] >= 0) (void)!write(g_pipe[1], &c, 1);
    errno = saved;
}
} // namespace

int Install() {
    if (g_pipe[0] >= 0) return g_pipe[0];
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    return g_pipe[0];
}

bool Requested() { return g_bRequested != 0; }

void Request() { OnSignal(0); }

void Reset() {
    g_bRequested = 0;
    RunState::SetStopRequested(false);
    if (g_pipe[0] >= 0) {
        char buf[64];
        while (read(g_pipe[0], buf, sizeof buf) > 0) {
        }
    }
}

} // namespace StopSignals

namespace HeadlessAgent {

namespace {
// Runs at every event point of a backup run: a stop signal aborts the run promptly.
void CoreEvents() {
    if (StopSignals::Requested() && !RunState::AbortRequested()) RunState::SetAbortRequested(true);
}
} // namespace

void HeadlessHost::ReportFailure(const std::string& sJobName, const std::string& sLogFile, const std::string& sReason,
                                 bool bOffsite) {
    const std::string sText = SchedulerTick::FailureText(sJobName, sLogFile, sReason, bOffsite);
    std::cerr << "Stowline: " << sText << std::endl;
    DesktopNotify::Send("Stowline", sText, true);
}

void HeadlessHost::ReportStale(const std::string& sText) {
    std::cerr << "Stowline: " << sText << std::endl;
    DesktopNotify::Send("Stowline", sText, false);
}

int Run(int iTickMs) {
    using Clock = std::chrono::steady_clock;
    int fd = StopSignals::Install();
    UserInteraction::SetCoreEventHook(&CoreEvents);
    // Removed however the agent ends, a fatal report included.
    struct HookScope {
        ~HookScope() { UserInteraction::SetCoreEventHook(nullptr); }
    } hookScope;
    SchedulerTick::CSchedulerTick tick(iTickMs);
    HeadlessHost host;
    DriveWatch drives;
    tick.StartUp(host);
    drives.UpdateVolumes();
    auto next = Clock::now() + std::chrono::milliseconds(iTickMs);
    while (!StopSignals::Requested()) {
        auto now = Clock::now();
        if (PowerWatch::TakeRelief()) {
            tick.Relieved(); // mains power or an unmetered network: what waited goes now
            next = now;
        }
        if (now >= next) {
            tick.Tick(host);
            drives.UpdateVolumes(); // a job's first good run records its volume
            next = Clock::now() + std::chrono::milliseconds(iTickMs);
            continue;
        }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
        // The stop signal, the mount table (a change is POLLPRI) and drives udisks2 announced;
        // also woken by the power watch's signals when it follows any.
        pollfd p[3] = {{fd, POLLIN, 0}, {drives.MountFd(), POLLPRI, 0}, {drives.AttachFd(), POLLIN, 0}};
        if (!PowerWatch::Wait(p, 3, static_cast<int>(std::min<long long>(wait + 1, 60000)))) break;
        const bool bMounts = (p[1].revents & (POLLPRI | POLLERR)) != 0, bAttached = (p[2].revents & POLLIN) != 0;
        if (bMounts) drives.TakeMountChange();
        if (bAttached) drives.TakeAttached();
        if ((bMounts || bAttached) && !StopSignals::Requested()) tick.DrivesChanged(host);
    }
    PowerWatch::Stop();
    // The orderly shut-down: save the preferences, stop the tick (there is no icon or window).
    appPreferences::SavePreferences();
    return 0;
}

} // namespace HeadlessAgent
