#pragma once
// How far a backup, restore or verify has come and how long it has left, for every display:
// the main window's status bar, the tray's tooltip, the restore window, the terminal line of the
// command line. No Qt here.
//
// The work adds what it has dealt with (AddDone); a count (RunCount, or a total known up front)
// adds what there is to do (AddTotal) and says when it is complete (EndCount). Until then the
// percent and the time left are unknown and displays show an indeterminate bar.
//
// The time left comes from a smoothed rate of "work": bytes plus a fixed cost per file, so a
// tree of many small files is not promised the speed of one long file. The rate is taken over
// the last half of the elapsed time (at least 5 s, at most 10 min): steady enough not to jump
// with each file, recent enough to follow a change of speed. It assumes what is left looks like
// what was done lately (a walk meets small and long files mixed, folder by folder); a tree whose
// long files all come last is estimated too long until they begin.

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

class RunProgress {
public:
    // Seconds on a steady clock; tests give a fake one.
    using Clock = std::function<double()>;
    static double SteadySeconds();

    // What one look at the progress shows.
    struct View {
        std::string Name; // the job's name
        int64_t DoneFiles = 0;
        int64_t DoneBytes = 0;
        int64_t TotalFiles = 0; // as far as counted
        int64_t TotalBytes = 0;
        bool Counted = false;    // the totals are complete
        int Percent = -1;        // of the bytes, 0..100; -1 until counted
        double Rate = 0;         // bytes per second, 0 while unknown
        double SecondsLeft = -1; // -1 while unknown
        double Elapsed = 0;      // seconds since the start
        int64_t LeftOut = 0;     // files (and folders) met but not backed up
    };

    // Where a run's progress is shown (the main window, the terminal). Show is called on the
    // thread that adds what is done (the work's calling thread), at most a few times a second,
    // never twice at once; End once when the work ends.
    class Display {
    public:
        virtual ~Display() = default;
        virtual void Show(const View& view) = 0;
        virtual void End(const View& view) = 0;
    };

    explicit RunProgress(std::string sName, Clock clock = SteadySeconds);
    RunProgress(const RunProgress&) = delete;
    RunProgress& operator=(const RunProgress&) = delete;

    // Any thread.
    void AddTotal(int64_t lFiles, int64_t lBytes);
    // The count is made in one more part (a zip run's walk of its first source entry counts that
    // entry, RunCount the rest): it is complete once every part has called EndCount.
    void AddCountPart();
    void EndCount();
    void AddDone(int64_t lFiles, int64_t lBytes);
    void AddLeftOut(int64_t lCount);
    View Look();

    // Shown on this display instead of the installed one (a window showing its own work).
    void SetDisplay(Display* pDisplay) { m_pOwnDisplay = pDisplay; }
    // Whether a display shows this progress: the count beside a run is made only then, so that a
    // run nobody watches (the headless agent, a script) pays nothing for it.
    bool Shown() const { return DisplayNow() != nullptr; }

    // Shows the progress on the installed display when it last did so long enough ago (bForce:
    // now). Called by AddDone; the caller calls Finish at the end.
    void Refresh(bool bForce = false);
    // The work ended: the display's End.
    void Finish();

    // The display every progress of this process is shown on (none: nothing is shown).
    class DisplayScope {
    public:
        explicit DisplayScope(Display* pDisplay);
        ~DisplayScope();
        DisplayScope(const DisplayScope&) = delete;
        DisplayScope& operator=(const DisplayScope&) = delete;

    private:
        Display* m_pPrevious;
    };
    static Display* InstalledDisplay();

    // The progress of the run in progress, which the engine's walks add to through NoteDone and
    // NoteLeftOut (nothing happens while none is active).
    class ActiveScope {
    public:
        explicit ActiveScope(RunProgress& progress);
        ~ActiveScope();
        ActiveScope(const ActiveScope&) = delete;
        ActiveScope& operator=(const ActiveScope&) = delete;

    private:
        RunProgress* m_pPrevious;
    };
    static void NoteDone(int64_t lFiles, int64_t lBytes);
    static void NoteLeftOut(int64_t lCount);
    // A total known up front (an archive's entries): taken, and the count ended, when the
    // active progress has no count of its own (a verify on its own, not the one after a run).
    static void NoteKnownTotal(int64_t lFiles, int64_t lBytes);
    // A part of the active progress's count (see AddCountPart): its total, and that it ended.
    static void NoteCountPart(int64_t lFiles, int64_t lBytes);
    // Whether the progress counts on its own (a total was added or the count ended).
    bool HasCount();

    // Texts shared by every display.
    // "about 3 min left", "about 40 s left", "about 2 h left"; "" while unknown (negative) or
    // when nothing is left.
    static std::string TimeLeftText(double dSeconds);
    // "2 min 5 s", "1 h 3 min", "12 s", "0.4 s".
    static std::string DurationText(double dSeconds);
    // "3.4 MiB/s".
    static std::string RateText(double dBytesPerSecond);
    // "45 % (120 of 800 files, 3.4 MiB/s, about 3 min left)", or while counting
    // "120 files (3.4 MiB) done, counting...".
    static std::string DetailText(const View& view);
    // "Documents: " + DetailText.
    static std::string LineText(const View& view);

    // What a file costs beside its bytes, for the rate of work.
    static constexpr int64_t FileCostBytes = 32 * 1024;

private:
    struct Sample {
        double At;
        double Work;
    };
    double WorkOf(int64_t lFiles, int64_t lBytes) const;
    void TakeSample(double dNow, double dWork);
    double RateOfWork(double dNow, double dWork) const;

    const std::string m_sName;
    const Clock m_clock;
    const double m_dStart;
    mutable std::mutex m_mutex;
    View m_view;
    int m_iCountParts = 1;        // parts of the count still to end
    std::deque<Sample> m_samples; // at least a quarter second apart, oldest first
    double m_dLastShown = -1;
    bool m_bShowing = false;
    bool m_bFinished = false;
    Display* m_pOwnDisplay = nullptr;
    Display* DisplayNow() const;
};
