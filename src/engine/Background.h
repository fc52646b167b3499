#pragma once
// Background runs: a scheduled backup that gives way to the user's own work. While a Scope
// lives, the thread that made it does its I/O at the idle class and runs at nice 10, and so do
// the workers the engine's pools start, at most half the cores of them (at least one) per pool.
// A pool's further workers run only on cores nothing else wants (SCHED_IDLE): on an idle machine
// the run goes nearly as fast as a normal one, beside the user's work it takes no more than its
// share. Runs started by hand never make one. Linux only (ioprio_set, per-thread nice).

namespace Background {

// The nice value of a background run's threads.
constexpr int Nice = 10;

class Scope {
public:
    // bMayStayLowered: the calling thread may keep nice 10 after the scope when the system will
    // not let it go back (an unprivileged process cannot lower its nice value again); only a
    // process that never runs a backup by hand (the headless agent) says so. Otherwise such a
    // thread keeps its nice value and only its I/O class changes.
    explicit Scope(bool bMayStayLowered);
    // Puts the calling thread's nice value and I/O priority back.
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    int m_iOldNice = 0;
    int m_iOldIoPrio = -1; // -1: not changed
    bool m_bReniced = false;
};

// A Scope lives (any thread may ask).
bool Active();
// How many workers of a pool compete for the cores during a background run: half the cores,
// at least one. The pool's workers beyond these only take idle cores.
unsigned Share();
// Lowers the calling thread (a worker of a background run): nice 10, idle I/O class, and with
// bIdleOnly the SCHED_IDLE policy. Nothing is put back: the thread ends with its pool.
void LowerThisThread(bool bIdleOnly);
// The SCHED_IDLE policy for a worker just started, set by the thread that started it, so that the
// worker never competes for a core before it lowers itself.
void IdleOnly(unsigned long lThread);

} // namespace Background
