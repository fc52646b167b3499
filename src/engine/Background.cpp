#include "engine/Background.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <linux/capability.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace Background {

namespace {

std::atomic<int> s_iScopes = 0;

// The kernel's I/O priority encoding (linux/ioprio.h is not in every libc's headers).
constexpr int kWhoThread = 1; // IOPRIO_WHO_PROCESS: with 0, the calling thread
constexpr int kClassShift = 13;
constexpr int kClassIdle = 3;

int ThreadId() { return static_cast<int>(::syscall(SYS_gettid)); }

int GetIoPrio() { return static_cast<int>(::syscall(SYS_ioprio_get, kWhoThread, 0)); }

bool SetIoPrio(int iValue) { return ::syscall(SYS_ioprio_set, kWhoThread, 0, iValue) == 0; }

// The calling thread's nice value, or false when it cannot be read.
bool GetNice(int& iNice) {
    errno = 0;
    const int iValue = ::getpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()));
    if (iValue == -1 && errno != 0) return false;
    iNice = iValue;
    return true;
}

bool SetNice(int iNice) { return ::setpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()), iNice) == 0; }

bool HasSysNice() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    return (data[CAP_SYS_NICE / 32].effective & (1U << (CAP_SYS_NICE % 32))) != 0;
}

// Whether a thread at nice 10 may go back to iOld: RLIMIT_NICE allows nice values down to
// 20 - its value, CAP_SYS_NICE any.
bool CanGoBackTo(int iOld) {
    if (iOld >= Nice) return true;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NICE, &limit) == 0 &&
        (limit.rlim_cur == RLIM_INFINITY || static_cast<rlim_t>(20 - iOld) <= limit.rlim_cur))
        return true;
    return HasSysNice();
}

} // namespace

Scope::Scope(bool bMayStayLowered) {
    const int iIo = GetIoPrio();
    if (iIo >= 0 && SetIoPrio(kClassIdle << kClassShift)) m_iOldIoPrio = iIo;
    if (GetNice(m_iOldNice) && m_iOldNice < Nice && (bMayStayLowered || CanGoBackTo(m_iOldNice)))
        m_bReniced = SetNice(Nice);
    s_iScopes.fetch_add(1, std::memory_order_acq_rel);
}

Scope::~Scope() {
    s_iScopes.fetch_sub(1, std::memory_order_acq_rel);
    if (m_bReniced) (void)SetNice(m_iOldNice); // refused without the privilege: stays lower
    if (m_iOldIoPrio >= 0) (void)SetIoPrio(m_iOldIoPrio);
}

bool Active() { return s_iScopes.load(std::memory_order_acquire) > 0; }

unsigned Share() { return std::max(1U, std::thread::hardware_concurrency() / 2); }

void LowerThisThread(bool bIdleOnly) {
    int iNice = 0;
    if (GetNice(iNice) && iNice < Nice) (void)SetNice(Nice);
    (void)SetIoPrio(kClassIdle << kClassShift);
    if (bIdleOnly) {
        sched_param param{};
        (void)::sched_setscheduler(ThreadId(), SCHED_IDLE, &param); // any thread may lower itself so
    }
}

void IdleOnly(unsigned long lThread) {
    sched_param param{};
    (void)::pthread_setschedparam(static_cast<pthread_t>(lThread), SCHED_IDLE, &param);
}

} // namespace Background
