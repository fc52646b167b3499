#include "engine/RunProgress.h"

#include "support/libStrings.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

std::atomic<RunProgress::Display*> s_pDisplay = nullptr;
std::atomic<RunProgress*> s_pActive = nullptr;

// Samples are kept this far back at most; the rate is taken over half the elapsed time, within
// these bounds.
constexpr double MaxWindow = 600;
constexpr double MinWindow = 5;
constexpr double SampleSpacing = 0.25;
constexpr double ShowSpacing = 0.25;

std::string Number(double d, const char* sFormat) {
    char buf[32];
    std::snprintf(buf, sizeof buf, sFormat, d);
    return buf;
}

} // namespace

double RunProgress::SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

RunProgress::RunProgress(std::string sName, Clock clock)
    : m_sName(std::move(sName)), m_clock(std::move(clock)), m_dStart(m_clock()) {
    m_view.Name = m_sName;
    m_samples.push_back({m_dStart, 0});
}

double RunProgress::WorkOf(int64_t lFiles, int64_t lBytes) const {
    return static_cast<double>(lBytes) + static_cast<double>(lFiles) * static_cast<double>(FileCostBytes);
}

void RunProgress::AddTotal(int64_t lFiles, int64_t lBytes) {
    std::lock_guard lock(m_mutex);
    m_view.TotalFiles += lFiles;
    m_view.TotalBytes += lBytes;
}

void RunProgress::AddCountPart() {
    std::lock_guard lock(m_mutex);
    ++m_iCountParts;
}

void RunProgress::EndCount() {
    std::lock_guard lock(m_mutex);
    if (--m_iCountParts <= 0) m_view.Counted = true;
}

void RunProgress::AddLeftOut(int64_t lCount) {
    std::lock_guard lock(m_mutex);
    m_view.LeftOut += lCount;
}

void RunProgress::AddDone(int64_t lFiles, int64_t lBytes) {
    {
        std::lock_guard lock(m_mutex);
        m_view.DoneFiles += lFiles;
        m_view.DoneBytes += lBytes;
        TakeSample(m_clock(), WorkOf(m_view.DoneFiles, m_view.DoneBytes));
    }
    Refresh();
}

void RunProgress::TakeSample(double dNow, double dWork) {
    if (dNow - m_samples.back().At < SampleSpacing) return;
    m_samples.push_back({dNow, dWork});
    // The oldest sample kept is the last one at or before the longest window.
    while (m_samples.size() > 2 && m_samples[1].At <= dNow - MaxWindow)
        m_samples.pop_front();
}

// Work per second over the window that ends now; 0 while too little is known.
double RunProgress::RateOfWork(double dNow, double dWork) const {
    const double dElapsed = dNow - m_dStart;
    if (dElapsed < 1 || dWork <= 0) return 0;
    const double dWindow = std::clamp(dElapsed / 2, MinWindow, MaxWindow);
    const double dFrom = dNow - dWindow;
    // The sample at the window's start, interpolated between the two around it.
    auto it =
        std::lower_bound(m_samples.begin(), m_samples.end(), dFrom, [](const Sample& s, double d) { return s.At < d; });
    double dWorkFrom = m_samples.front().Work;
    double dAt = m_samples.front().At;
    if (it != m_samples.begin() && it != m_samples.end()) {
        const Sample& before = *std::prev(it);
        const Sample& after = *it;
        const double f = after.At > before.At ? (dFrom - before.At) / (after.At - before.At) : 1;
        dWorkFrom = before.Work + f * (after.Work - before.Work);
        dAt = dFrom;
    } else if (it == m_samples.end()) {
        dWorkFrom = m_samples.back().Work;
        dAt = std::max(dFrom, m_samples.back().At);
    }
    const double dSpan = dNow - dAt;
    return dSpan > 0 ? std::max(0.0, dWork - dWorkFrom) / dSpan : 0;
}

RunProgress::View RunProgress::Look() {
    std::lock_guard lock(m_mutex);
    const double dNow = m_clock();
    View view = m_view;
    view.Elapsed = dNow - m_dStart;
    if (view.Elapsed > 0) view.Rate = static_cast<double>(view.DoneBytes) / view.Elapsed;
    if (!view.Counted) return view;
    const int64_t lDoneBytes = std::min(view.DoneBytes, view.TotalBytes);
    const int64_t lDoneFiles = std::min(view.DoneFiles, view.TotalFiles);
    if (view.TotalBytes > 0)
        view.Percent = static_cast<int>(static_cast<double>(lDoneBytes) * 100 / static_cast<double>(view.TotalBytes));
    else
        view.Percent = view.TotalFiles > 0 ? static_cast<int>(lDoneFiles * 100 / view.TotalFiles) : 100;
    const double dWork = WorkOf(view.DoneFiles, view.DoneBytes);
    const double dLeft = WorkOf(view.TotalFiles, view.TotalBytes) - WorkOf(lDoneFiles, lDoneBytes);
    const double dRate = RateOfWork(dNow, dWork);
    if (dLeft <= 0)
        view.SecondsLeft = 0;
    else if (dRate > 0)
        view.SecondsLeft = dLeft / dRate;
    // The rate shown is of bytes over the same window, scaled from the work's.
    if (dRate > 0 && dWork > 0) view.Rate = dRate * static_cast<double>(view.DoneBytes) / dWork;
    return view;
}

RunProgress::Display* RunProgress::DisplayNow() const {
    return m_pOwnDisplay != nullptr ? m_pOwnDisplay : s_pDisplay.load();
}

void RunProgress::Refresh(bool bForce) {
    Display* pDisplay = DisplayNow();
    if (pDisplay == nullptr) return;
    {
        std::lock_guard lock(m_mutex);
        const double dNow = m_clock();
        if (m_bShowing || m_bFinished || (!bForce && m_dLastShown >= 0 && dNow - m_dLastShown < ShowSpacing)) return;
        m_bShowing = true;
        m_dLastShown = dNow;
    }
    pDisplay->Show(Look());
    std::lock_guard lock(m_mutex);
    m_bShowing = false;
}

void RunProgress::Finish() {
    {
        std::lock_guard lock(m_mutex);
        if (m_bFinished) return;
        m_bFinished = true;
    }
    if (Display* pDisplay = DisplayNow()) pDisplay->End(Look());
}

RunProgress::DisplayScope::DisplayScope(Display* pDisplay) : m_pPrevious(s_pDisplay.exchange(pDisplay)) {}
RunProgress::DisplayScope::~DisplayScope() { s_pDisplay.store(m_pPrevious); }
RunProgress::Display* RunProgress::InstalledDisplay() { return s_pDisplay.load(); }

RunProgress::ActiveScope::ActiveScope(RunProgress& progress) : m_pPrevious(s_pActive.exchange(&progress)) {}
RunProgress::ActiveScope::~ActiveScope() { s_pActive.store(m_pPrevious); }

void RunProgress::NoteDone(int64_t lFiles, int64_t lBytes) {
    if (RunProgress* p = s_pActive.load()) p->AddDone(lFiles, lBytes);
}

void RunProgress::NoteKnownTotal(int64_t lFiles, int64_t lBytes) {
    RunProgress* p = s_pActive.load();
    if (p == nullptr || p->HasCount()) return;
    p->AddTotal(lFiles, lBytes);
    p->EndCount();
}

void RunProgress::NoteCountPart(int64_t lFiles, int64_t lBytes) {
    RunProgress* p = s_pActive.load();
    if (p == nullptr) return;
    p->AddTotal(lFiles, lBytes);
    p->EndCount();
}

bool RunProgress::HasCount() {
    std::lock_guard lock(m_mutex);
    return m_view.Counted || m_view.TotalFiles > 0;
}

void RunProgress::NoteLeftOut(int64_t lCount) {
    if (RunProgress* p = s_pActive.load()) p->AddLeftOut(lCount);
}

std::string RunProgress::TimeLeftText(double dSeconds) {
    if (dSeconds <= 0) return ""; // nothing left to say (the work is done, or its end unknown)
    if (dSeconds < 10) return "about " + Number(std::max(1.0, std::ceil(dSeconds)), "%.0f") + " s left";
    if (dSeconds < 60) return "about " + Number(std::round(dSeconds / 5) * 5, "%.0f") + " s left";
    if (dSeconds < 3600) return "about " + Number(std::max(1.0, std::round(dSeconds / 60)), "%.0f") + " min left";
    return "about " + Number(std::round(dSeconds / 3600), "%.0f") + " h left";
}

std::string RunProgress::DurationText(double dSeconds) { return libStrings::DurationText(dSeconds); }

std::string RunProgress::RateText(double dBytesPerSecond) { return libStrings::SizeText(dBytesPerSecond) + "/s"; }

std::string RunProgress::DetailText(const View& view) {
    if (view.Percent < 0)
        return std::to_string(view.DoneFiles) + " files (" + libStrings::SizeText(static_cast<double>(view.DoneBytes)) +
               ") done, counting...";
    std::string s = std::to_string(view.Percent) + " % (" + std::to_string(view.DoneFiles) + " of " +
                    std::to_string(std::max(view.TotalFiles, view.DoneFiles)) + " files";
    if (view.Rate > 0) s += ", " + RateText(view.Rate);
    if (view.SecondsLeft > 0) s += ", " + TimeLeftText(view.SecondsLeft);
    return s + ")";
}

std::string RunProgress::LineText(const View& view) { return view.Name + ": " + DetailText(view); }
