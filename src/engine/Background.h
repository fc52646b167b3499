#pragma once
// Background runs: a scheduled backup that gives way to the user's own work. While a Scope
// lives, the thread that made it does its I/O at the idle class and runs at nice 10, and every
// worker the engine's pools start does the same and comes out of a share of half the cores (at
// least one). Runs started by hand never make one. Linux only (ioprio_set, per-thread nice).

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
// How many workers a pool that would start iWanted may start: all of them, or during a
// background run at most half the cores (at least one).
unsigned Workers(unsigned iWanted);
// Lowers the calling thread (a worker of a background run): nice 10, idle I/O class. Nothing is
// put back: the thread ends with its pool.
void LowerThisThread();

} // namespace Background
