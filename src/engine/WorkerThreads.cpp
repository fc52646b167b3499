#include "engine/WorkerThreads.h"

#include "engine/Background.h"
#include "support/libLog.h"

#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>

namespace {

// Thread starts left before a test's StartLimit makes them fail; negative: no limit.
std::atomic<int> s_iStartsLeft = -1;
std::atomic<bool> s_bQuietToo = false; // quiet starts are limited too

std::jthread StartThread(std::function<void()> body, bool bLimited) {
    if (!bLimited) return std::jthread(std::move(body));
    int iLeft = s_iStartsLeft.load();
    while (iLeft > 0 && !s_iStartsLeft.compare_exchange_weak(iLeft, iLeft - 1)) {
    }
    if (iLeft == 0) throw std::system_error(EAGAIN, std::generic_category(), "thread start");
    return std::jthread(std::move(body));
}

} // namespace

WorkerThreads::~WorkerThreads() {
    m_stop.request_stop();
    // m_threads, destroyed next, joins each worker.
}

unsigned WorkerThreads::StartUpTo(unsigned iTotal, const Work& work, bool bQuiet) {
    if (m_bLimited || m_threads.size() >= iTotal) return Count();
    std::string sReason;
    try {
        m_threads.reserve(iTotal);
        // A background run's workers give way like the thread that started them; beyond its
        // share of the cores they only take idle ones.
        const bool bLower = Background::Active();
        while (m_threads.size() < iTotal) {
            const bool bIdleOnly = bLower && m_threads.size() >= Background::Share();
            m_threads.push_back(StartThread(
                [this, work, bLower, bIdleOnly, stop = m_stop.get_token()] {
                    if (bLower) Background::LowerThisThread(bIdleOnly);
                    Run(work, stop);
                },
                !bQuiet || s_bQuietToo.load()));
            if (bIdleOnly) Background::IdleOnly(m_threads.back().native_handle());
            m_iStarted.store(static_cast<unsigned>(m_threads.size()), std::memory_order_release);
        }
        return Count();
    } catch (const std::system_error& e) {
        sReason = e.code().message();
    } catch (const std::exception& e) {
        sReason = e.what(); // no memory for the thread's state
    }
    m_bLimited = true;
    const unsigned iCount = Count();
    if (bQuiet) return iCount;
    libLog::LogEvent("  Could not start all worker threads (" + sReason + "); going on with " +
                     (iCount == 0 ? std::string("none") : std::to_string(iCount)) + ".");
    return iCount;
}

void WorkerThreads::Run(const Work& work, std::stop_token stop) noexcept {
    try {
        work(stop);
    } catch (...) {
        {
            std::lock_guard lock(m_mutex);
            if (!m_failure) m_failure = std::current_exception();
        }
        m_bFailed.store(true, std::memory_order_release);
        m_stop.request_stop(); // wakes the other workers and a waiting calling thread
    }
}

void WorkerThreads::RethrowFailure() {
    if (!Failed()) return;
    std::exception_ptr failure;
    {
        std::lock_guard lock(m_mutex);
        failure = m_failure;
    }
    std::rethrow_exception(failure);
}

void WorkerThreads::ThrowStopped() {
    RethrowFailure();
    throw std::runtime_error("The worker threads were stopped");
}

WorkerThreads::StartLimit::StartLimit(int iStarts, bool bQuietToo) {
    s_iStartsLeft = iStarts;
    s_bQuietToo = bQuietToo;
}

WorkerThreads::StartLimit::~StartLimit() {
    s_iStartsLeft = -1;
    s_bQuietToo = false;
}
