#pragma once
// The one way the engine starts threads. A pool (the copy workers, the copy look-ahead, the
// deflate pipeline) holds one WorkerThreads as its last member: it is destroyed first, so its
// workers are told to stop and joined before anything they use goes, also when the pool's
// constructor throws after starting them. Workers wait on a std::condition_variable_any with
// Token(), which wakes them when a stop is asked for; no pool keeps a stop flag of its own.
//
// A thread the system will not start (RLIMIT_NPROC, a pids cgroup, no memory) is no error:
// the pool goes on with the workers it has, and with none does the work on the calling thread.
// A worker that ends by an exception stops the pool; the exception is rethrown on the calling
// thread at its next hand-over (RethrowFailure, ThrowStopped), never lost and never the end of
// the program.

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

class WorkerThreads {
public:
    using Work = std::function<void(std::stop_token)>;

    WorkerThreads() = default;
    // Asks the workers to stop and joins them.
    ~WorkerThreads();
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    // Starts workers running work until iTotal run. Once a start fails, the log says how many
    // run and no further start is tried. Returns how many run. Calling thread only.
    // bQuiet: a worker the work can do without (the count beside a run): a failed start is not
    // logged, and a test's StartLimit, which stands for the threads the work needs, leaves it be.
    unsigned StartUpTo(unsigned iTotal, const Work& work, bool bQuiet = false);
    // How many workers were started (any thread may ask).
    unsigned Count() const { return m_iStarted.load(std::memory_order_acquire); }
    // A start failed: the pool runs with Count() workers for good. Calling thread only.
    bool Limited() const { return m_bLimited; }

    // What the workers and the calling thread's waits observe.
    std::stop_token Token() const { return m_stop.get_token(); }
    void RequestStop() { m_stop.request_stop(); }

    // A worker ended with an exception (the pool is stopping).
    bool Failed() const { return m_bFailed.load(std::memory_order_acquire); }
    // Rethrows, on the calling thread, the exception the first failed worker ended with.
    void RethrowFailure();
    // For a wait of the calling thread that the stop ended: rethrows the worker's exception, or
    // says that the workers were stopped, so that the caller never goes on without their work.
    [[noreturn]] void ThrowStopped();

    // For tests: while one lives, the next iStarts thread starts succeed and every later one
    // fails as when the system has no thread left to give (EAGAIN). Quiet starts are left be,
    // unless bQuietToo: then the work they would do is seen done without them.
    class StartLimit {
    public:
        explicit StartLimit(int iStarts, bool bQuietToo = false);
        ~StartLimit();
        StartLimit(const StartLimit&) = delete;
        StartLimit& operator=(const StartLimit&) = delete;
    };

private:
    void Run(const Work& work, std::stop_token stop) noexcept;

    std::stop_source m_stop;
    std::mutex m_mutex; // guards m_failure
    std::exception_ptr m_failure;
    std::atomic<bool> m_bFailed = false;
    std::atomic<unsigned> m_iStarted = 0;
    bool m_bLimited = false;
    std::vector<std::jthread> m_threads; // last: joined before the rest goes
};
